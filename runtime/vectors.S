/* Exception and interrupt entries. Each of the 64 interrupt vectors jumps to
   __vector_target_N: a handler bound with PLATFORM_ISR defines it, every other vector falls
   back to _DefaultInterrupt through the weak labels in handlers.S. */
#include "runtime/mips_regs.h"

    .set noreorder
    .set noat

    .macro vector n
    .section .vector_\n, "ax", @progbits
    .globl __vector_\n
__vector_\n:
    j       __vector_target_\n
    nop
    .endm

    .irp n, 0,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19,20,21,22,23,24,25,26,27,28,29,30,31
    vector \n
    .endr
    .irp n, 32,33,34,35,36,37,38,39,40,41,42,43,44,45,46,47,48,49,50,51,52,53,54,55,56,57,58,59,60,61,62,63
    vector \n
    .endr

    /* General exception (EBase + 0x180): save the scratch registers, then hand Cause and
       Status to the handler. */
    .section .gen_handler, "ax", @progbits
    .globl _gen_exception
    .ent _gen_exception
_gen_exception:
    addiu   sp, sp, -88
    sw      $1, 16(sp)
    sw      v0, 20(sp)
    sw      v1, 24(sp)
    sw      a0, 28(sp)
    sw      a1, 32(sp)
    sw      a2, 36(sp)
    sw      a3, 40(sp)
    sw      t0, 44(sp)
    sw      t1, 48(sp)
    sw      t2, 52(sp)
    sw      t3, 56(sp)
    sw      t4, 60(sp)
    sw      t5, 64(sp)
    sw      t6, 68(sp)
    sw      t7, 72(sp)
    sw      t8, 76(sp)
    sw      t9, 80(sp)
    sw      ra, 84(sp)
    mfc0    a0, CP0_CAUSE
    mfc0    a1, CP0_STATUS
    jal     _general_exception_handler
    nop
    .end _gen_exception

    /* Bootstrap exception (BEV = 1): 0xBFC00380. */
    .section .bev_excpt, "ax", @progbits
    .globl _bev_exception
_bev_exception:
    la      k0, _bootstrap_exception_handler
    jr      k0
    nop

    /* Debug exception: 0xBFC00480. The debugger's return address becomes the reset path. */
    .section .dbg_excpt, "ax", @progbits
    .globl _dbg_exception
_dbg_exception:
    la      k0, _software_reset
    mtc0    k0, CP0_DEPC
    ehb
    deret
