#include "drivers/digitalIO.h"

#include "drivers/profile.h"
#include "drivers/uart.h"
#include "platform/pic32mx.h"

extern "C" void initDigitalIO(void) {
    TRISDbits.TRISD1 = 0;
    TRISGbits.TRISG6 = 0;
    PORTDbits.RD1 = 0;  // a write to PORT lands in the latch
    PORTGbits.RG6 = 0;
    if constexpr (kCardDemoProfile) writeString(UART1, "init digitalIO\r\n");
}
