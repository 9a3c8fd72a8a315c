/* The engine benchmark's image: the same words run on the M4K core simulator, on Unicorn
   and on QEMU's Malta board. Both boards start at 0xBFC00000 with boot memory there and
   RAM at physical 0, so code and constants live in boot flash and data in RAM. */
#include "runtime/mips_regs.h"

    .set noreorder
    .set noat

    /* Four words: Malta's boot memory carries its board ID at 0xBFC00010. */
    .section .reset, "ax", @progbits
    .globl _reset
    .ent _reset
_reset:
    la      k0, bench_start
    jr      k0
    nop
    .end _reset

    .section .text.bench_start, "ax", @progbits
    .globl bench_start
    .ent bench_start
bench_start:
    la      sp, _stack
    la      t0, _bss_begin
    la      t1, _bss_end
1:  beq     t0, t1, 2f
    nop
    sw      zero, 0(t0)
    b       1b
    addiu   t0, t0, 4
2:  la      t9, bench_main
    jalr    t9
    nop
    .end bench_start

    /* Straight on from bench_start: the end, checksum in v0. With a probe attached (our
       core) the run stops here, an engine told to stop here does; without a probe it is
       a debug exception. */
    .globl bench_exit
    .type bench_exit, @function
    .ent bench_exit
bench_exit:
    sdbbp
    b       bench_exit
    nop
    .end bench_exit

    /* Debug exception, reached only on Malta (no probe): v0 as 8 hex digits and a newline
       on the FPGA's UART (registers 8 bytes apart from 0xBF000900), then the software
       reset register (0xBF000500 = 0x42) ends QEMU under -no-reboot. */
    .section .dbg_excpt, "ax", @progbits
    .ent bench_debug_exception
bench_debug_exception:
    lui     t0, 0xBF00
    li      t1, 8
1:  srl     t2, v0, 28
    sltiu   t3, t2, 10
    bnez    t3, 2f
    addiu   t2, t2, 0x30            /* '0' */
    addiu   t2, t2, 7               /* 'A' - '0' - 10 */
2:  jal     3f
    sll     v0, v0, 4
    addiu   t1, t1, -1
    bnez    t1, 1b
    nop
    jal     3f
    li      t2, 0x0A
    li      t1, 0x42
    sw      t1, 0x500(t0)
4:  b       4b
    nop
3:  lw      t3, 0x928(t0)           /* LSR: THRE, bit 5 */
    andi    t3, t3, 0x20
    beqz    t3, 3b
    nop
    jr      ra
    sw      t2, 0x900(t0)
    .end bench_debug_exception
