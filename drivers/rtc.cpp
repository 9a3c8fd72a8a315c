#include "drivers/rtc.h"

#include "drivers/i2c.h"

namespace {
constexpr UINT8 kChipAddress = 0x51;
constexpr UINT8 kFirstTimeRegister = 2;  // seconds; minutes .. years follow
constexpr unsigned kDataSize = 8;        // the register pointer and seven time registers

inline unsigned char local_tensUnits(unsigned char v, unsigned char tensMask) {
    return (unsigned char)(((v & tensMask) >> 4) * 10 + (v & 0x0F));
}
}  // namespace

extern "C" unsigned char char_to_bcd(unsigned char a) { return (unsigned char)(((a / 10) << 4) | (a % 10)); }

extern "C" BOOL setTimeDate(unsigned int sec, unsigned int mint, unsigned int hr, unsigned int day, unsigned int wd,
                            unsigned int month, unsigned int year) {
    if (sec >= 60) sec = 0;
    if (mint >= 60) mint = 0;
    if (hr >= 24) hr = 0;
    if (wd >= 7) wd = 0;
    if (month < 1 || month > 12) month = 1;
    if (year >= 100) year = 0;
    // A day the chip cannot hold would reach it as an invalid BCD byte.
    if (day < 1 || day > 31) day = 1;

    UINT8 i2cData[kDataSize] = {
        kFirstTimeRegister,
        char_to_bcd((unsigned char)sec),
        char_to_bcd((unsigned char)mint),
        char_to_bcd((unsigned char)hr),
        char_to_bcd((unsigned char)day),
        char_to_bcd((unsigned char)wd),
        char_to_bcd((unsigned char)month),
        char_to_bcd((unsigned char)year),
    };
    const unsigned dataSz = kDataSize;

    BOOL success = startTransmitSlaveAddressWRI2C(I2C1, kChipAddress, FALSE);
    for (unsigned index = 0; success && index < dataSz; ++index) success = transmitDataToWriteI2C(I2C1, i2cData[index]);
    stopTransferI2C(I2C1);
    return success;
}

extern "C" BOOL getTimeDate(unsigned char* sec, unsigned char* mint, unsigned char* hr, unsigned char* day,
                            unsigned char* wd, unsigned char* month, unsigned char* year) {
    // The register pointer is set by a complete write; the read starts with a fresh START.
    BOOL success = startTransmitSlaveAddressWRI2C(I2C1, kChipAddress, FALSE);
    if (success) {
        success = transmitDataToWriteI2C(I2C1, kFirstTimeRegister);
        stopTransferI2C(I2C1);
    }
    if (success) success = startTransmitSlaveAddressWRI2C(I2C1, kChipAddress, TRUE);

    // The raw register bytes land in the caller's variables, the last one not acknowledged.
    unsigned char* const fields[7] = {sec, mint, hr, day, wd, month, year};
    for (unsigned i = 0; i < 7 && success; ++i) success = readDataByteI2C(I2C1, fields[i], i < 6 ? TRUE : FALSE);
    stopTransferI2C(I2C1);

    *sec = local_tensUnits(*sec, 0x70);
    *mint = local_tensUnits(*mint, 0x70);
    *hr = local_tensUnits(*hr, 0x30);
    *day = local_tensUnits(*day, 0x30);
    *wd = (unsigned char)(*wd & 0x07);
    *month = local_tensUnits(*month, 0x10);
    *year = local_tensUnits(*year, 0xF0);
    return success;
}
