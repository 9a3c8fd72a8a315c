// Test image: the millisecond tick running, and nothing else. The Timer2 handler writes
// _millis once a millisecond: a RAM variable for a debugger's watchpoint.
#include "drivers/timer.h"
#include "platform/config_words.h"
#include "platform/plib.h"

PIC32_CONFIG_WORDS(0xFFF879D9, 0xFF6F0AFB, 0x7FFFFFFF)

int main(int, char**) {
    SYSTEMConfigPerformance(79999999);
    INTEnableSystemMultiVectoredInt();
    initTimer();
    for (;;) {
    }
}
