#pragma once
#include "platform/types.h"

#ifdef __cplusplus
extern "C" {
#endif

// The real-time clock chip at I2C address 0x51 (PCF8563 register map), time registers
// 2..8 in BCD, over a software I2C on RD9 (SDA) and RD10 (SCL) of the PIC32MX795F512L
// board at about 1 kHz. Same calls as the I2C1 driver; an image links one of the two.
// Needs no set-up: every transfer brings the lines to their idle state first.
unsigned char char_to_bcd(unsigned char a);
// Out-of-range values are replaced: seconds, minutes, hours, weekday and year by 0,
// day and month by 1. All nine bytes are sent whatever the acknowledges; TRUE if the chip
// acknowledged every one.
BOOL setTimeDate(unsigned int sec, unsigned int mint, unsigned int hr, unsigned int day, unsigned int wd,
                 unsigned int month, unsigned int year);
// Fills the seven variables with plain numbers. Every byte is written and all seven are
// read whatever the acknowledges; TRUE if the chip acknowledged every byte written.
BOOL getTimeDate(unsigned char* sec, unsigned char* mint, unsigned char* hr, unsigned char* day, unsigned char* wd,
                 unsigned char* month, unsigned char* year);

#ifdef __cplusplus
}
#endif
