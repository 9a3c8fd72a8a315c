// Test image: calcIrms from the relocatable irmsmeter module on the chip's soft-float,
// over a fixed set of sample counts; each result goes to the console as 8 hex digits.
#include <stdio.h>
#include <string.h>

#include "drivers/adc.h"
#include "drivers/uart.h"
#include "measure/irmsmeter/irmsmeter.h"
#include "platform/config_words.h"

PIC32_CONFIG_WORDS(0xFFF879D9, 0xFF6F0AFB, 0x7FFFFFFF)

namespace {
void printBits(float f) {
    uint32_t bits;
    memcpy(&bits, &f, sizeof bits);
    char line[16];
    sprintf(line, "%x\r\n", bits);
    writeString(UART1, line);
}
}  // namespace

int main(int, char**) {
    SYSTEMConfigPerformance(79999999);
    INTEnableSystemMultiVectoredInt();
    initUART();
    initADC();
    // The board feeds AN0 from a script; each call takes its share in this order.
    const int counts[] = {1, 2, 3, 0, -3};
    for (int count : counts) printBits(calcIrms(0, count));
    writeString(UART1, "done\r\n");
    for (;;) {
    }
}
