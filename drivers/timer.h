#pragma once
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// Millisecond tick: advanced by the Timer2 period interrupt every 1001.6 us.
extern volatile uint32_t _millis;

void initTimer(void);
unsigned int millis(void);
void Timer2Handler(void);

#ifdef __cplusplus
}
#endif
