// The clock chip's seven time registers (2..8, BCD) as both RTC drivers write and read
// them: the I2C1 driver (rtc) and the bit-banged one (bitclock). Inline, so that each
// module stays self-contained.
#pragma once
#include "platform/types.h"

extern "C" unsigned char char_to_bcd(unsigned char a);

namespace rtc_registers {

constexpr UINT8 kChipAddress = 0x51;      // 0xA2 to write, 0xA3 to read
constexpr UINT8 kFirstTimeRegister = 2;   // seconds; minutes .. years follow

// Register values of a time and date, in register order. Out-of-range values become 0
// (day and month 1); a day the chip cannot hold would reach it as an invalid BCD byte.
inline void encode(unsigned int sec, unsigned int mint, unsigned int hr, unsigned int day, unsigned int wd,
                   unsigned int month, unsigned int year, UINT8 out[7]) {
    if (sec >= 60) sec = 0;
    if (mint >= 60) mint = 0;
    if (hr >= 24) hr = 0;
    if (wd >= 7) wd = 0;
    if (month < 1 || month > 12) month = 1;
    if (year >= 100) year = 0;
    if (day < 1 || day > 31) day = 1;
    const unsigned int values[7] = {sec, mint, hr, day, wd, month, year};
    for (int i = 0; i < 7; ++i) out[i] = char_to_bcd((unsigned char)values[i]);
}

inline unsigned char tensUnits(unsigned char v, unsigned char tensMask) {
    return (unsigned char)(((v & tensMask) >> 4) * 10 + (v & 0x0F));
}

// Raw register bytes to plain numbers, in place; nibbles are taken as they are.
inline void decode(unsigned char* sec, unsigned char* mint, unsigned char* hr, unsigned char* day, unsigned char* wd,
                   unsigned char* month, unsigned char* year) {
    *sec = tensUnits(*sec, 0x70);
    *mint = tensUnits(*mint, 0x70);
    *hr = tensUnits(*hr, 0x30);
    *day = tensUnits(*day, 0x30);
    *wd = (unsigned char)(*wd & 0x07);
    *month = tensUnits(*month, 0x10);
    *year = tensUnits(*year, 0xF0);
}

}  // namespace rtc_registers
