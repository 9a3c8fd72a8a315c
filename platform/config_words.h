// The processor configuration words an image carries at the top of boot flash.
//
//   PIC32_CONFIG_WORDS(0xFFF879D9, 0xFF6F0AFB, 0x7FFFFFFF)  // DEVCFG2, DEVCFG1, DEVCFG0
//
// DEVCFG3 (user ID) is left erased. On the host the words are kept for the virtual board,
// which derives its clocks from them as the chip does.
#pragma once
#include <stdint.h>

#include "platform/sfr.h"

#if defined(PLATFORM_TARGET)
// Local to the module: the linker places them by section, nothing refers to them by name.
#define PIC32_CONFIG_WORDS(devcfg2, devcfg1, devcfg0)                                                 \
    [[gnu::section(".config_BFC02FF4"), gnu::used]] static const uint32_t pic32_devcfg2 = devcfg2; \
    [[gnu::section(".config_BFC02FF8"), gnu::used]] static const uint32_t pic32_devcfg1 = devcfg1; \
    [[gnu::section(".config_BFC02FFC"), gnu::used]] static const uint32_t pic32_devcfg0 = devcfg0;
#else
#define PIC32_CONFIG_WORDS(devcfg2, devcfg1, devcfg0) \
    extern "C" const uint32_t firmware_config_words[3] = {devcfg2, devcfg1, devcfg0};
#endif
