// The clock chip's seven time registers (2..8, BCD) as both RTC drivers write and read
// them: the I2C1 driver (rtc) and the bit-banged one (bitclock). Internal to each module
// that includes it, so that neither exports or needs a name beyond its own three.
#pragma once
#include "platform/types.h"

extern "C" unsigned char char_to_bcd(unsigned char a);

namespace rtc_registers {

constexpr UINT8 kChipAddress = 0x51;      // 0xA2 to write, 0xA3 to read
constexpr UINT8 kFirstTimeRegister = 2;   // seconds; minutes .. years follow

// Register values of a time and date, in register order. Out-of-range values become 0
// (day and month 1); a day the chip cannot hold would reach it as an invalid BCD byte.
static inline void encode(unsigned int sec, unsigned int mint, unsigned int hr, unsigned int day, unsigned int wd,
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

// Bits that hold the tens and the units digit of each register, seconds to years: bit 7
// of seconds (VL), the century flag of months and the unused bits are not part of the value.
constexpr UINT8 kTensBits[7] = {0x70, 0x70, 0x30, 0x30, 0x00, 0x10, 0xF0};
constexpr UINT8 kUnitsBits[7] = {0x0F, 0x0F, 0x0F, 0x0F, 0x07, 0x0F, 0x0F};

// Raw register bytes to plain numbers, in place, seconds to years; nibbles are taken as
// they are, decimal digit or not.
static inline void decode(unsigned char* const fields[7]) {
    for (int i = 0; i < 7; ++i) {
        const unsigned char v = *fields[i];
        *fields[i] = (unsigned char)(((v & kTensBits[i]) >> 4) * 10 + (v & kUnitsBits[i]));
    }
}

}  // namespace rtc_registers
