/* The integer loops of the engine benchmark, C-callable: uint32_t loop(uint32_t n, uint32_t* table).
   Each runs n >= 1 passes and returns its running value. */
#include "runtime/mips_regs.h"

    .set noreorder
    .set noat

    /* core_bench's work loop: an LCG, shifts and a rotate, a read-modify-write of a 1 KiB
       table. 15 instructions a pass. */
    .section .text.bench_cb, "ax", @progbits
    .globl bench_cb
    .ent bench_cb
bench_cb:
    li      t2, 1103515245
    li      t0, 1
    move    t4, zero
1:  mul     t1, t0, t2
    addiu   t0, t1, 12345
    srl     t3, t0, 7
    xor     t4, t4, t3
    andi    t5, t0, 0x3FC
    addu    t5, t5, a1
    lw      t6, 0(t5)
    addu    t6, t6, t4
    sw      t6, 0(t5)
    sll     t7, t4, 3
    subu    t4, t7, t4
    rotr    t4, t4, 5
    addiu   a0, a0, -1
    bne     a0, zero, 1b
    sltu    v0, t4, t0
    jr      ra
    move    v0, t4
    .end bench_cb

    /* The same loop without its store: 14 instructions a pass. */
    .section .text.bench_cb_nostore, "ax", @progbits
    .globl bench_cb_nostore
    .ent bench_cb_nostore
bench_cb_nostore:
    li      t2, 1103515245
    li      t0, 1
    move    t4, zero
1:  mul     t1, t0, t2
    addiu   t0, t1, 12345
    srl     t3, t0, 7
    xor     t4, t4, t3
    andi    t5, t0, 0x3FC
    addu    t5, t5, a1
    lw      t6, 0(t5)
    addu    t6, t6, t4
    sll     t7, t4, 3
    subu    t4, t7, t4
    rotr    t4, t4, 5
    addiu   a0, a0, -1
    bne     a0, zero, 1b
    sltu    v0, t4, t0
    jr      ra
    move    v0, t4
    .end bench_cb_nostore

    /* Register-only arithmetic and a branch: 10 instructions a pass. */
    .section .text.bench_int, "ax", @progbits
    .globl bench_int
    .ent bench_int
bench_int:
    li      t0, 0x12345678
    li      t1, 0x9E3779B9
    move    t2, zero
1:  addu    t2, t2, t0
    xor     t0, t0, t1
    sll     t3, t2, 5
    srl     t4, t0, 3
    subu    t5, t3, t4
    or      t6, t5, t2
    nor     t0, t6, t0
    addiu   a0, a0, -1
    bne     a0, zero, 1b
    addu    t1, t1, t5
    jr      ra
    addu    v0, t2, t0
    .end bench_int
