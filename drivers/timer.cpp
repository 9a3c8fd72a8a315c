#include "drivers/timer.h"

#include "drivers/profile.h"
#include "drivers/uart.h"
#include "platform/isr.h"
#include "platform/pic32mx.h"

extern "C" {
volatile uint32_t _millis;
}

extern "C" void initTimer(void) {
    T2CON = 0x0070;  // off, 1:256 from PBCLK, 16-bit
    TMR2 = 0;
    PR2 = 312;       // 313 counts of 3.2 us: 1001.6 us per tick at 80 MHz
    T2CONSET = 0x8000;
    IFS0CLR = 0x0100;
    IPC2CLR = 0x001C;
    IPC2SET = 0x000C;  // priority 3, the level Timer2Handler is bound at
    IPC2CLR = 0x0003;
    IPC2SET = 0x0001;  // sub-priority 1
    IEC0CLR = 0x0100;
    IEC0SET = 0x0100;
    _millis = 0;       // before the first tick, which comes one period after ON
    if constexpr (kCardDemoProfile) writeString(UART1, "init timer\r\n");
}

extern "C" unsigned int millis(void) { return _millis; }

PLATFORM_ISR(8, 3, Timer2Handler) {
    _millis = _millis + 1;
    IFS0CLR = 0x0100;
}
