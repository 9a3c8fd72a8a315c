/* What the run-time's start-up (crt0.S) leaves in coprocessor 0 before main. The host
   backend's start-up sets the same values from here. Plain macros: crt0.S includes this
   as preprocessed assembly. */
#pragma once

#define STARTUP_COUNT 0                /* Count from 0 */
#define STARTUP_COMPARE 0xFFFFFFFF     /* Compare at Count's far end: no early core-timer request */
#define STARTUP_EBASE 0x9FC01000       /* exception base in boot flash, where the linker script puts the vectors */
#define STARTUP_INTCTL (1 << 5)        /* IntCtl.VS = 1: vectors 32 bytes apart */
#define STARTUP_CAUSE 0x00800000       /* Cause.IV: interrupts through their own vectors */
#define STARTUP_STATUS_KEEP 0x00580000 /* Status keeps SR, NMI and BEV: interrupts off at level 0 */
#define STARTUP_BEV_BIT 22             /* Status.BEV, cleared last: exceptions go through EBase */
