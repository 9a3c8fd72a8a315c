#include "drivers/system.h"

#include "platform/cp0.h"

extern "C" uint32_t getCP0Count(void) { return platform::cp0::Count; }

extern "C" void delayus(uint16_t us) {
    const uint8_t Fcp0 = 40;  // Count ticks per microsecond
    uint32_t start = getCP0Count();
    uint32_t stop = start + uint32_t(us) * Fcp0;
    if (stop >= start) {
        while (getCP0Count() < stop) {
        }
    } else {
        // The end point lies beyond the counter's wrap: first wait for the wrap, then for it.
        while (getCP0Count() > start || getCP0Count() < stop) {
        }
    }
}

extern "C" void delayms(uint16_t ms) {
    while (ms) {
        delayus(1000);
        --ms;
    }
}

extern "C" int micros(void) {
    const uint8_t Fcp0 = 40;
    return int(getCP0Count() / Fcp0);
}
