#include "variants/bitclock/bitclock.h"

#include "drivers/rtc_registers.h"
#include "drivers/system.h"
#include "platform/pic32mx.h"

// Open drain from the direction bits: LATD9 and LATD10 stay 0, so a pin made an output
// pulls its line low and a pin made an input lets the board's pull-up take it high.
// SDA is RD9, SCL is RD10; SCL is never read back, so a slave cannot stretch the clock.

namespace {
constexpr BYTE kAddressWrite = BYTE(rtc_registers::kChipAddress << 1);
constexpr BYTE kAddressRead = BYTE(rtc_registers::kChipAddress << 1 | 1);
using rtc_registers::kFirstTimeRegister;

// 1 releases the line, 0 pulls it low.
inline void local_sda(unsigned level) { TRISDbits.TRISD9 = level; }
inline void local_scl(unsigned level) { TRISDbits.TRISD10 = level; }

// Half a bit: one SCL period is two of these, 1 ms.
void local_I2C_Delay(void) { delayus(500); }

// Both lines released with their latches at 0, and time for the pull-ups to bring them up.
void local_I2C_BusSetUp(void) {
    local_sda(1);
    local_scl(1);
    LATDbits.LATD9 = 0;
    LATDbits.LATD10 = 0;
    delayus(20);
}

// Lines released on entry; SDA falls while SCL is high.
void local_I2C_Start(void) {
    local_sda(0);
    local_I2C_Delay();
    local_scl(0);
    local_I2C_Delay();
}

// SCL low on entry; SDA rises while SCL is high, and both lines are left released.
void local_I2C_Stop(void) {
    local_sda(0);
    local_I2C_Delay();
    local_scl(1);
    local_I2C_Delay();
    local_sda(1);
    local_I2C_Delay();
}

// Most significant bit first; returns the level of SDA on the ninth clock (0 = acknowledged).
char local_I2C_WriteByte(BYTE data) {
    for (unsigned i = 0; i < 8; ++i) {
        local_sda((data >> 7) & 1u);
        data = BYTE(data << 1);
        local_I2C_Delay();
        local_scl(1);
        local_I2C_Delay();
        local_scl(0);
    }
    local_sda(1);
    local_I2C_Delay();
    local_scl(1);
    local_I2C_Delay();
    char ack = char(PORTDbits.RD9);
    local_scl(0);
    local_I2C_Delay();
    return ack;
}

// Most significant bit first; `ack` is the level driven on the ninth clock (0 = acknowledge,
// 1 = not-acknowledge). SDA is left as driven: the next primitive sets it.
BYTE local_I2C_ReadByte(char ack) {
    BYTE data = 0;
    local_sda(1);
    for (unsigned i = 0; i < 8; ++i) {
        local_I2C_Delay();
        local_scl(1);
        local_I2C_Delay();
        data = BYTE(data | PORTDbits.RD9);
        if (i < 7) data = BYTE(data << 1);
        local_scl(0);
    }
    local_I2C_Delay();
    local_sda(unsigned(ack) & 1u);
    local_I2C_Delay();
    local_scl(1);
    local_I2C_Delay();
    local_scl(0);
    local_I2C_Delay();
    return data;
}
}  // namespace

extern "C" unsigned char char_to_bcd(unsigned char a) { return (unsigned char)(((a / 10) << 4) | (a % 10)); }

extern "C" BOOL setTimeDate(unsigned int sec, unsigned int mint, unsigned int hr, unsigned int day, unsigned int wd,
                            unsigned int month, unsigned int year) {
    BYTE values[7];
    rtc_registers::encode(sec, mint, hr, day, wd, month, year, values);

    local_I2C_BusSetUp();
    local_I2C_Start();
    // A refused byte only marks the result: the transfer always runs to its end.
    char aflag = local_I2C_WriteByte(kAddressWrite);
    aflag |= local_I2C_WriteByte(kFirstTimeRegister);
    for (unsigned i = 0; i < 7; ++i) aflag |= local_I2C_WriteByte(values[i]);
    local_I2C_Stop();
    delayms(1);
    return aflag == 0 ? TRUE : FALSE;
}

extern "C" BOOL getTimeDate(unsigned char* sec, unsigned char* mint, unsigned char* hr, unsigned char* day,
                            unsigned char* wd, unsigned char* month, unsigned char* year) {
    local_I2C_BusSetUp();
    // The register pointer is set by a complete write; the read starts with a fresh START.
    local_I2C_Start();
    char aflag = local_I2C_WriteByte(kAddressWrite);
    aflag |= local_I2C_WriteByte(kFirstTimeRegister);
    local_I2C_Stop();
    local_I2C_Start();
    aflag |= local_I2C_WriteByte(kAddressRead);

    // All seven are read whatever the acknowledges; the last one is not acknowledged.
    unsigned char* const fields[7] = {sec, mint, hr, day, wd, month, year};
    for (unsigned i = 0; i < 7; ++i) *fields[i] = local_I2C_ReadByte(i < 6 ? 0 : 1);
    local_I2C_Stop();

    rtc_registers::decode(fields);
    return aflag == 0 ? TRUE : FALSE;
}
