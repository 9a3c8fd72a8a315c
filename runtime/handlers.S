/* Default handlers: an interrupt without a handler, a general exception and a bootstrap
   exception all end in a software reset of the device. */
#include "platform/pic32mx_registers.h"
#include "runtime/mips_regs.h"

/* name_ADDRESS for every register of the table. */
#define RT_REGISTER_ADDRESS(name, addr, kind, fields) .equ name##_ADDRESS, addr;
    PIC32MX_REGISTERS(RT_REGISTER_ADDRESS)
/* SYSKEY and RSWRST are reached from one base register. */
.if ((SYSKEY_ADDRESS + 0x8000) >> 16) - ((RSWRST_ADDRESS + 0x8000) >> 16)
    .error "SYSKEY and RSWRST need one base"
.endif

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
    lui     t0, %hi(SYSKEY_ADDRESS)
    li      t1, 0xAA996655
    li      t2, 0x556699AA
    li      t3, 1                   /* SWRST */
1:  sw      zero, %lo(SYSKEY_ADDRESS)(t0)
    sw      t1, %lo(SYSKEY_ADDRESS)(t0)
    sw      t2, %lo(SYSKEY_ADDRESS)(t0)
    sw      t3, %lo(RSWRST_ADDRESS + 8)(t0)     /* RSWRSTSET */
    lw      t4, %lo(RSWRST_ADDRESS)(t0)
    b       1b
    nop
    .end _software_reset
