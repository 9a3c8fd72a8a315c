#pragma once
#include "platform/types.h"

#ifdef __cplusplus
extern "C" {
#endif

// The real-time clock chip at I2C address 0x51 (PCF8563 register map), time registers
// 2..8 in BCD. This module reaches it through I2C1: initI2C(I2C1) must have run first.
// The bit-banged variant (variants/bitclock) offers the same three calls.
unsigned char char_to_bcd(unsigned char a);
// Out-of-range values are replaced: seconds, minutes, hours, weekday and year by 0,
// day and month by 1.
BOOL setTimeDate(unsigned int sec, unsigned int mint, unsigned int hr, unsigned int day, unsigned int wd,
                 unsigned int month, unsigned int year);
// Fills the seven variables with plain numbers; TRUE if every step went through.
BOOL getTimeDate(unsigned char* sec, unsigned char* mint, unsigned char* hr, unsigned char* day, unsigned char* wd,
                 unsigned char* month, unsigned char* year);

#ifdef __cplusplus
}
#endif
