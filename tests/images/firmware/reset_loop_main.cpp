// Test image: resets the device through RSWRST as soon as main runs, so the device resets
// for as long as the run lasts.
#include "platform/config_words.h"
#include "platform/plib.h"

PIC32_CONFIG_WORDS(0xFFF879D9, 0xFF6F0AFB, 0x7FFFFFFF)

int main(int, char**) {
    SYSTEMUnlock();
    RSWRSTSET = 1;
    (void)static_cast<uint32_t>(RSWRST);
    for (;;) {
    }
}
