#include "drivers/timer.h"

#include "drivers/profile.h"
#include "drivers/uart.h"
#include "platform/isr.h"
#include "platform/pic32mx.h"
#include "platform/plib.h"

extern "C" {
volatile uint32_t _millis;
}

extern "C" void initTimer(void) {
    T2CON = T2CON_TCKPS(7);  // off, 1:256 from PBCLK, 16-bit
    TMR2 = 0;
    PR2 = 312;       // 313 counts of 3.2 us: 1001.6 us per tick at 80 MHz
    T2CONSET = T2CON_ON;
    INTClearFlag(INT_T2);
    INTSetVectorPriority(INT_TIMER_2_VECTOR, INT_PRIORITY_LEVEL_3);  // the level Timer2Handler is bound at
    INTSetVectorSubPriority(INT_TIMER_2_VECTOR, INT_SUB_PRIORITY_LEVEL_1);
    INTEnable(INT_T2, INT_DISABLED);
    INTEnable(INT_T2, INT_ENABLED);
    _millis = 0;       // before the first tick, which comes one period after ON
    if constexpr (kCardDemoProfile) writeString(UART1, "init timer\r\n");
}

extern "C" unsigned int millis(void) { return _millis; }

PLATFORM_ISR(TIMER_2, 3, Timer2Handler) {
    _millis = _millis + 1;
    INTClearFlag(INT_T2);
}
