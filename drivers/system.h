#pragma once
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// Core timer (CP0 Count): 40 ticks per microsecond at the 80 MHz system clock.
uint32_t getCP0Count(void);
void delayus(uint16_t us);
void delayms(uint16_t ms);
// Microseconds since reset as counted by Count (wraps with it).
int micros(void);

#ifdef __cplusplus
}
#endif
