#include "drivers/i2c.h"

#include "drivers/profile.h"
#include "drivers/system.h"
#include "drivers/uart.h"

namespace {

#if defined(FIRMWARE_PROFILE_CARDDEMO)
constexpr UINT32 kBusClock = 400000, kTolerance = 40000;
constexpr const char* kInitDone = "init i2c\r\n";
constexpr const char* kInitOff = "error : init i2c\r\n";
#else
constexpr UINT32 kBusClock = 100000, kTolerance = 10000;
constexpr const char* kInitDone = "init i2c true\r\n";
constexpr const char* kInitOff = "init i2c false\r\n";
#endif

// 10 ms of the core timer, which counts 40 times per microsecond. A bus step takes well
// under a millisecond, so a wait this long means a device is holding the bus.
constexpr uint32_t kTimeoutTicks = 400000;

void local_reportTimeout() { writeString(UART1, "Error: I2C bus timeout\r\n"); }

// Polls until `ready` holds; after 10 ms reports the time-out and gives up. One copy for
// every wait of the module, with the condition passed in: flash is scarce.
bool local_waitFor(BOOL (*ready)(I2C_MODULE), I2C_MODULE id) {
    const uint32_t start = getCP0Count();
    while (!ready(id)) {
        if (getCP0Count() - start >= kTimeoutTicks) {
            local_reportTimeout();
            return false;
        }
    }
    return true;
}

// I2C_START and I2C_STOP show only once their sequence is over on the bus.
BOOL local_startSeen(I2C_MODULE id) { return (I2CGetStatus(id) & I2C_START) ? TRUE : FALSE; }
BOOL local_stopSeen(I2C_MODULE id) { return (I2CGetStatus(id) & I2C_STOP) ? TRUE : FALSE; }

enum local_StartResult { local_StartDone, local_StartRefused, local_StartTimedOut };

local_StartResult local_I2C_Start(I2C_MODULE id, BOOL restart) {
    if (restart) {
        (void)I2CRepeatStart(id);
    } else {
        const uint32_t start = getCP0Count();
        while (!I2CBusIsIdle(id)) {
            writeString(UART1, "here\r\n");
            if (getCP0Count() - start >= kTimeoutTicks) {
                local_reportTimeout();
                // Off and on again: the module forgets the START it saw and lets the lines go.
                I2CEnable(id, FALSE);
                I2CEnable(id, TRUE);
                break;
            }
        }
        if (I2CStart(id) != I2C_SUCCESS) {
            writeString(UART1, "Error: Bus collision during transfer Start\r\n");
            I2CClearStatus(id, I2C_ARBITRATION_LOSS);
            return local_StartRefused;
        }
    }
    if (!local_waitFor(local_startSeen, id)) return local_StartTimedOut;
    return local_StartDone;
}

// The foreground stops here for good; interrupts keep being served. Reading the core
// timer keeps the loop a well-defined wait.
[[noreturn]] void local_halt() {
    for (;;) (void)getCP0Count();
}

BOOL local_acknowledgedByte(I2C_MODULE id, UINT8 byte) {
    BOOL success = TRUE;
    if (transmitOneByteI2C(id, byte)) {
        if (!I2CByteWasAcknowledged(id)) {
            writeString(UART1, "Error: Sent byte was not acknowledged\r\n");
            success = FALSE;
        }
    } else {
        success = FALSE;  // the step has reported it
    }
    return success;
}

}  // namespace

extern "C" void initI2C(I2C_MODULE id) {
    const UINT32 actualClock = I2CSetFrequency(id, peripheralBusClock(), kBusClock);
    int32_t difference = int32_t(actualClock - kBusClock);
    if (difference < 0) difference = -difference;
    writeString(UART1, uint32_t(difference) > kTolerance ? kInitOff : kInitDone);
    I2CEnable(id, TRUE);
}

extern "C" BOOL startTransferI2C(I2C_MODULE id, BOOL restart) {
    return local_I2C_Start(id, restart) == local_StartDone ? TRUE : FALSE;
}

extern "C" void stopTransferI2C(I2C_MODULE id) {
    I2CStop(id);
    (void)local_waitFor(local_stopSeen, id);
}

extern "C" BOOL transmitOneByteI2C(I2C_MODULE id, UINT8 data) {
    if (!local_waitFor(I2CTransmitterIsReady, id)) return FALSE;
    if (I2CSendByte(id, data) == I2C_MASTER_BUS_COLLISION) {
        writeString(UART1, "Error: I2C Master Bus Collision\n");
        I2CClearStatus(id, I2C_ARBITRATION_LOSS | I2C_TRANSMITTER_OVERFLOW);
        return FALSE;
    }
    // Eight bits and the acknowledge clock: the acknowledge is valid from here on.
    if (!local_waitFor(I2CTransmissionHasCompleted, id)) return FALSE;
    return TRUE;
}

extern "C" BOOL startTransmitSlaveAddressWRI2C(I2C_MODULE id, UINT8 slaveAddress7bit, BOOL I2C_WR) {
    I2C_7_BIT_ADDRESS slaveAddress;
    slaveAddress.address = slaveAddress7bit & 0x7F;
    slaveAddress.rw = I2C_WR & 1;
    switch (local_I2C_Start(id, FALSE)) {
        case local_StartRefused: local_halt();
        case local_StartTimedOut: return FALSE;
        case local_StartDone: break;
    }
    return local_acknowledgedByte(id, slaveAddress.byte);
}

extern "C" BOOL transmitDataToWriteI2C(I2C_MODULE id, UINT8 i2cData) { return local_acknowledgedByte(id, i2cData); }

extern "C" BOOL readDataByteI2C(I2C_MODULE id, UINT8* i2cByte, BOOL ack) {
    if (I2CReceiverEnable(id, TRUE) == I2C_RECEIVE_OVERFLOW) {
        writeString(UART1, "Error : I2C Receive Overflow\r\n");
        I2CClearStatus(id, I2C_RECEIVER_OVERFLOW);
        return FALSE;
    }
    if (!local_waitFor(I2CReceivedDataIsAvailable, id)) return FALSE;
    // The acknowledge sequence starts before the byte is taken from the receive register.
    I2CAcknowledgeByte(id, ack);
    *i2cByte = I2CGetByte(id);
    if (!local_waitFor(I2CAcknowledgeHasCompleted, id)) return FALSE;
    return TRUE;
}
