/* Default handlers: an interrupt without a handler, a general exception and a bootstrap
   exception all end in a software reset of the device. */
#include "runtime/mips_regs.h"

    .set noreorder
    .set noat
    .text

    /* Linked in only with debugger support; without it the break is skipped. */
    .weak _debug_break_hook

    .macro break_if_debugging
    la      k0, _debug_break_hook
    beqz    k0, 1f
    nop
    sdbbp   0
1:
    .endm

    /* Every vector without a bound handler lands here. */
    .irp n, 0,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19,20,21,22,23,24,25,26,27,28,29,30,31
    .weak __vector_target_\n
__vector_target_\n:
    .endr
    .irp n, 32,33,34,35,36,37,38,39,40,41,42,43,44,45,46,47,48,49,50,51,52,53,54,55,56,57,58,59,60,61,62,63
    .weak __vector_target_\n
__vector_target_\n:
    .endr
    .globl _DefaultInterrupt
    .ent _DefaultInterrupt
_DefaultInterrupt:
    break_if_debugging
    b       _software_reset
    nop
    .end _DefaultInterrupt

    .globl _general_exception_handler
    .ent _general_exception_handler
_general_exception_handler:     /* a0 = Cause, a1 = Status */
    break_if_debugging
    b       _software_reset
    nop
    .end _general_exception_handler

    .globl _bootstrap_exception_handler
    .ent _bootstrap_exception_handler
_bootstrap_exception_handler:
    break_if_debugging
    b       _software_reset
    nop
    .end _bootstrap_exception_handler

    /* Interrupts off, system unlock, SWRST armed, and the read of RSWRST that resets the
       device; repeated until it takes. */
    .globl _software_reset
    .ent _software_reset
_software_reset:
    di
    ehb
    lui     t0, 0xBF81
    li      t1, 0xAA996655
    li      t2, 0x556699AA
    li      t3, 1
1:  sw      zero, -0x0DD0(t0)       /* SYSKEY 0xBF80F230 */
    sw      t1, -0x0DD0(t0)
    sw      t2, -0x0DD0(t0)
    sw      t3, -0x09E8(t0)         /* RSWRSTSET 0xBF80F618 */
    lw      t4, -0x09F0(t0)         /* RSWRST 0xBF80F610 */
    b       1b
    nop
    .end _software_reset
