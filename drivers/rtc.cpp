#include "drivers/rtc.h"

#include "drivers/i2c.h"
#include "drivers/rtc_registers.h"

namespace {
using rtc_registers::kChipAddress;
using rtc_registers::kFirstTimeRegister;
constexpr unsigned kDataSize = 8;  // the register pointer and seven time registers
}  // namespace

extern "C" unsigned char char_to_bcd(unsigned char a) { return (unsigned char)(((a / 10) << 4) | (a % 10)); }

extern "C" BOOL setTimeDate(unsigned int sec, unsigned int mint, unsigned int hr, unsigned int day, unsigned int wd,
                            unsigned int month, unsigned int year) {
    UINT8 i2cData[kDataSize] = {kFirstTimeRegister};
    rtc_registers::encode(sec, mint, hr, day, wd, month, year, &i2cData[1]);
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

    rtc_registers::decode(fields);
    return success;
}
