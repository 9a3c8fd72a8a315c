// Test image: executes an instruction the M4K does not have; the reserved-instruction
// exception must end in a software reset, so "boot" comes again and again.
#include "drivers/uart.h"
#include "platform/config_words.h"

PIC32_CONFIG_WORDS(0xFFF879D9, 0xFF6F0AFB, 0x7FFFFFFF)

int main(int, char**) {
    SYSTEMConfigPerformance(79999999);
    INTEnableSystemMultiVectoredInt();
    initUART();
    writeString(UART1, "boot\r\n");
    __asm__ volatile(".word 0xFC000000");  // opcode 63: a 64-bit store on MIPS64, reserved here
    writeString(UART1, "not reset\r\n");
    for (;;) {
    }
}
