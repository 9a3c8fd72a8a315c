/* Reset vector and start-up: from 0xBFC00000 to main(0, NULL). */
#include "runtime/mips_regs.h"
#include "runtime/startup_cp0.h"

#if STARTUP_COUNT != 0
#error "the start-up sets Count from the zero register"
#endif

    .set noreorder
    .set noat

    .section .reset, "ax", @progbits
    .globl _reset
    .ent _reset
_reset:
    la      k0, _startup            /* the rest of the start-up lies beyond the exception vectors */
    jr      k0
    nop
    .end _reset

    .section .startup, "ax", @progbits
    .globl _startup
    .ent _startup
_startup:
    /* 1. Entered by a non-maskable interrupt: resume the interrupted code instead. */
    mfc0    k0, CP0_STATUS
    ext     k0, k0, 19, 1           /* Status.NMI */
    beqz    k0, 1f
    nop
    la      k0, _nmi_handler
    jr      k0
    nop
1:
    /* 2. Stack and global pointer; the global pointer also in the previous shadow set. */
    la      sp, _stack
    la      gp, _gp
    mfc0    t1, CP0_SRSCTL
    move    t3, t1
    ext     t2, t1, 26, 4           /* HSS: highest shadow set */
    ins     t1, t2, 6, 4            /* PSS = HSS */
    mtc0    t1, CP0_SRSCTL
    ehb
    wrpgpr  gp, gp
    mtc0    t3, CP0_SRSCTL
    ehb

    /* 3. */
    la      t9, _on_reset            /* KSEG1 boot code: jal cannot reach program flash */
    jalr    t9
    nop

    /* 4. Zero .bss and .sbss. */
    la      t0, _bss_begin
    la      t1, _bss_end
    b       3f
    nop
2:  sw      zero, 0(t0)
    addiu   t0, t0, 4
3:  sltu    t2, t0, t1
    bnez    t2, 2b
    nop

    /* 5. Data initialisation table: {destination, bytes, source or 0 to zero-fill}, ended by
       a zero destination. */
    la      t0, _dinit_table
4:  lw      t1, 0(t0)               /* destination */
    beqz    t1, 7f
    lw      t2, 4(t0)               /* bytes, a multiple of 4 */
    lw      t3, 8(t0)               /* source */
    addiu   t0, t0, 12
    addu    t2, t1, t2              /* end */
5:  sltu    t4, t1, t2
    beqz    t4, 4b
    move    t5, zero
    beqz    t3, 6f
    nop
    lw      t5, 0(t3)
    addiu   t3, t3, 4
6:  sw      t5, 0(t1)
    b       5b
    addiu   t1, t1, 4
7:
    /* 6. Core timer: Count from 0, Compare at its far end. */
    mtc0    zero, CP0_COUNT             /* STARTUP_COUNT */
    li      t0, STARTUP_COMPARE
    mtc0    t0, CP0_COMPARE

    /* 7. Exception base, 32-byte vector spacing, special interrupt vectors. */
    lui     t0, %hi(STARTUP_EBASE)
    addiu   t0, t0, %lo(STARTUP_EBASE)
    mtc0    t0, CP0_EBASE
    li      t0, STARTUP_INTCTL
    mtc0    t0, CP0_INTCTL
    li      t0, STARTUP_CAUSE
    mtc0    t0, CP0_CAUSE

    /* 8. Keep SR, NMI and BEV: interrupts off at level 0. */
    mfc0    t0, CP0_STATUS
    li      t1, STARTUP_STATUS_KEEP
    and     t0, t0, t1
    mtc0    t0, CP0_STATUS
    ehb

    /* 9. */
    la      t9, _on_bootstrap            /* KSEG1 boot code: jal cannot reach program flash */
    jalr    t9
    nop
    mfc0    t0, CP0_STATUS
    ins     t0, zero, STARTUP_BEV_BIT, 1  /* BEV = 0: exceptions go through EBase */
    mtc0    t0, CP0_STATUS
    ehb

    /* 10. */
    move    a0, zero
    move    a1, zero
    la      t9, main            /* KSEG1 boot code: jal cannot reach program flash */
    jalr    t9
    nop
8:  b       8b                      /* main does not return; should it, idle here */
    nop
    .end _startup

    /* A non-maskable interrupt: clear BEV and return to the interrupted code. */
    .globl _nmi_handler
    .ent _nmi_handler
_nmi_handler:
    mfc0    k0, CP0_STATUS
    ins     k0, zero, 22, 1
    mtc0    k0, CP0_STATUS
    ehb
    eret
    .end _nmi_handler

    /* Empty hooks an application may replace. */
    .text
    .weak _on_reset
    .ent _on_reset
_on_reset:
    jr      ra
    nop
    .end _on_reset

    .weak _on_bootstrap
    .ent _on_bootstrap
_on_bootstrap:
    jr      ra
    nop
    .end _on_bootstrap
