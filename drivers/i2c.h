#pragma once
#include "platform/plib.h"

#ifdef __cplusplus
extern "C" {
#endif

// I2C1 as the single master of the bus: 100 kHz in the clock demo profile, 400 kHz in the
// card demo profile. Each step blocks until it is over on the bus, reports a bus fault
// with one console line and returns FALSE; a step that waits longer than 10 ms gives up.
void initI2C(I2C_MODULE id);
BOOL startTransferI2C(I2C_MODULE id, BOOL restart);
void stopTransferI2C(I2C_MODULE id);
BOOL transmitOneByteI2C(I2C_MODULE id, UINT8 data);
// START, then the address byte (FALSE = write, TRUE = read). A START refused by the
// peripheral stops the foreground for good.
BOOL startTransmitSlaveAddressWRI2C(I2C_MODULE id, UINT8 slaveAddress7bit, BOOL I2C_WR);
BOOL transmitDataToWriteI2C(I2C_MODULE id, UINT8 i2cData);
// One byte in; `ack` TRUE asks for more, FALSE ends the read.
BOOL readDataByteI2C(I2C_MODULE id, UINT8* i2cByte, BOOL ack);

#ifdef __cplusplus
}
#endif
