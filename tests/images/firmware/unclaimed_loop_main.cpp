// Test image: writes PR1 and reads TMR1 for ever; the board has no Timer1, so every access
// is one that no model claims, for as long as the run lasts.
#include "platform/config_words.h"
#include "platform/pic32mx.h"

PIC32_CONFIG_WORDS(0xFFF879D9, 0xFF6F0AFB, 0x7FFFFFFF)

int main(int, char**) {
    for (uint32_t n = 0;; ++n) {
        PR1 = n;
        (void)static_cast<uint32_t>(TMR1);
    }
}
