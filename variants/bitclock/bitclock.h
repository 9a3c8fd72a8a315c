// The real-time clock chip over a software I2C on RD9 (SDA) and RD10 (SCL) of the
// PIC32MX795F512L board, at about 1 kHz. The calls are the I2C1 driver's, declared in its
// header; an image links one of the two modules.
//
// Differences: no set-up (every transfer first brings the lines to their idle state);
// all nine bytes of setTimeDate are sent and all seven of getTimeDate read whatever the
// acknowledges, and the result is TRUE when the chip acknowledged every byte written;
// nothing is written on the console.
#pragma once
#include "drivers/rtc.h"
