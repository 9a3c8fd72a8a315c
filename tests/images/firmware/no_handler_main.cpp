// Test image: enables the ADC interrupt, which has no handler, and raises its flag; the
// run-time's default handler must reset the device, so "boot" comes again and again.
#include "drivers/uart.h"
#include "platform/config_words.h"

PIC32_CONFIG_WORDS(0xFFF879D9, 0xFF6F0AFB, 0x7FFFFFFF)

int main(int, char**) {
    SYSTEMConfigPerformance(79999999);
    INTEnableSystemMultiVectoredInt();
    initUART();
    writeString(UART1, "boot\r\n");
    INTSetVectorPriority(INT_ADC_VECTOR, INT_PRIORITY_LEVEL_4);
    INTEnable(INT_AD1, INT_ENABLED);
    IFS1SET = 1u << 1;  // AD1IF
    writeString(UART1, "not reset\r\n");
    for (;;) {
    }
}
