// The clock-chip driver on the wires: what setTimeDate and getTimeDate put on the bus, the
// range and decoding tables, not-acknowledged bytes, and the chip's own time keeping as
// the firmware reads it back.
#include <array>
#include <vector>

#include "drivers/rtc.h"
#include "drivers/system.h"
#include "tests/common/i2c_fixture.h"

namespace {

using Lines = std::vector<std::string>;
using Time = std::array<unsigned, 7>;  // sec, min, hour, day, weekday, month, year

const Lines kSetTimeDateTrace = {
    "START", "0xA2 (0x51 W) ACK", "0x02 ACK", "0x05 ACK", "0x10 ACK", "0x02 ACK",
    "0x03 ACK", "0x03 ACK", "0x01 ACK", "0x14 ACK", "STOP",
};
const Lines kGetTimeDateTrace = {
    "START", "0xA2 (0x51 W) ACK", "0x02 ACK", "STOP",     "START",    "0xA3 (0x51 R) ACK", "0x05 ACK",
    "0x10 ACK", "0x02 ACK",         "0x03 ACK", "0x03 ACK", "0x01 ACK", "0x14 NACK",         "STOP",
};

class Rtc : public I2cBoardTest {
protected:
    void SetUp() override { ASSERT_EQ(bringUp(), "init i2c true\r\n"); }

    // The seven registers as getTimeDate decodes them (run inside firmware code).
    Time read(BOOL* ok = nullptr) {
        unsigned char v[7] = {};
        BOOL r = getTimeDate(&v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6]);
        if (ok) *ok = r;
        return {v[0], v[1], v[2], v[3], v[4], v[5], v[6]};
    }
    Time readNow() {
        Time t{};
        run([&] { t = read(); });
        return t;
    }
    void poke(const Time& t) {  // BCD, straight into registers 2..8
        for (unsigned i = 0; i < 7; ++i) chip.poke(2 + i, uint8_t(t[i]));
    }

    // Register access over the bus with the I2C steps, for what getTimeDate does not show.
    static void rawWrite(uint8_t reg, const std::vector<uint8_t>& bytes) {
        startTransmitSlaveAddressWRI2C(I2C1, 0x51, FALSE);
        transmitDataToWriteI2C(I2C1, reg);
        for (uint8_t b : bytes) transmitDataToWriteI2C(I2C1, b);
        stopTransferI2C(I2C1);
    }
    static std::vector<uint8_t> rawRead(uint8_t reg, unsigned n) {
        startTransmitSlaveAddressWRI2C(I2C1, 0x51, FALSE);
        transmitDataToWriteI2C(I2C1, reg);
        stopTransferI2C(I2C1);
        startTransmitSlaveAddressWRI2C(I2C1, 0x51, TRUE);
        std::vector<uint8_t> out(n);
        for (unsigned i = 0; i < n; ++i) readDataByteI2C(I2C1, &out[i], i + 1 < n ? TRUE : FALSE);
        stopTransferI2C(I2C1);
        return out;
    }
    // The data bytes of the first write transaction in the trace.
    std::vector<uint8_t> writtenBytes() const {
        std::vector<uint8_t> out;
        for (const auto& e : analyser.events()) {
            if (e.kind == sim::I2cEvent::Kind::Stop) break;
            if (e.kind == sim::I2cEvent::Kind::Byte && !e.address) out.push_back(e.value);
        }
        return out;
    }
};

TEST(CharToBcd, PacksTensAndUnitsModulo256) {
    const std::pair<unsigned char, unsigned char> cases[] = {
        {0, 0x00}, {9, 0x09}, {10, 0x10}, {59, 0x59}, {99, 0x99}, {100, 0xA0}, {255, 0x95},
    };
    for (auto [in, out] : cases) EXPECT_EQ(char_to_bcd(in), out) << int(in);
}

TEST_F(Rtc, SetTimeDateWritesPointerAndSevenBcdRegisters) {
    BOOL ok = FALSE;
    run([&] { ok = setTimeDate(5, 10, 2, 3, 3, 1, 14); });
    EXPECT_TRUE(ok);
    EXPECT_EQ(trace(), kSetTimeDateTrace);
    EXPECT_EQ(console(), "");
    // A write of the seconds register clears the power-on VL bit.
    EXPECT_EQ(chip.reg(2), 0x05);
}

TEST_F(Rtc, SetTimeDateReplacesOutOfRangeArguments) {
    struct Case {
        std::array<unsigned, 7> args;  // sec, min, hr, day, wd, month, year
        std::vector<uint8_t> sent;     // pointer, then registers 2..8
    };
    const Case cases[] = {
        {{5, 10, 2, 3, 3, 1, 14}, {0x02, 0x05, 0x10, 0x02, 0x03, 0x03, 0x01, 0x14}},
        {{59, 59, 23, 31, 6, 12, 99}, {0x02, 0x59, 0x59, 0x23, 0x31, 0x06, 0x12, 0x99}},
        {{60, 60, 24, 3, 7, 13, 100}, {0x02, 0x00, 0x00, 0x00, 0x03, 0x00, 0x01, 0x00}},
        {{0, 0, 0, 1, 0, 0, 0}, {0x02, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00}},  // month 0
        // A day outside 1..31 becomes 1 rather than an invalid BCD byte (0x32, 0xA0).
        {{0, 0, 0, 0, 0, 1, 0}, {0x02, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00}},
        {{0, 0, 0, 32, 0, 1, 0}, {0x02, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00}},
        {{0, 0, 0, 100, 0, 1, 0}, {0x02, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00}},
        // Values beyond 8 bits are checked before they are truncated.
        {{256 + 5, 0x10A, 0x102, 0x103, 0x103, 0x101, 0x10E}, {0x02, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00}},
    };
    for (const Case& c : cases) {
        clearRecords();
        const auto& a = c.args;
        run([&] { setTimeDate(a[0], a[1], a[2], a[3], a[4], a[5], a[6]); });
        EXPECT_EQ(writtenBytes(), c.sent) << "setTimeDate(" << a[0] << ", " << a[1] << ", " << a[2] << ", " << a[3]
                                          << ", " << a[4] << ", " << a[5] << ", " << a[6] << ")";
    }
}

TEST_F(Rtc, GetTimeDateSetsThePointerThenReadsSevenRegisters) {
    run([] { setTimeDate(5, 10, 2, 3, 3, 1, 14); });
    clearRecords();
    BOOL ok = FALSE;
    Time t{};
    run([&] { t = read(&ok); });
    EXPECT_TRUE(ok);
    EXPECT_EQ(trace(), kGetTimeDateTrace);
    EXPECT_EQ(t, (Time{5, 10, 2, 3, 3, 1, 14}));
    EXPECT_EQ(console(), "");
}

TEST_F(Rtc, GetTimeDateDecodesRawRegisterBytes) {
    // Register bytes as a chip may hold them: VL, century and unused bits set, nibbles
    // that are not decimal digits (taken as they are).
    const std::pair<Time, Time> cases[] = {
        {{0xD9, 0xD9, 0xE3, 0xF1, 0xFE, 0x92, 0x99}, {59, 59, 23, 31, 6, 12, 99}},
        {{0x80, 0x00, 0x00, 0x01, 0x00, 0x81, 0x00}, {0, 0, 0, 1, 0, 1, 0}},
        {{0x0F, 0x7F, 0x3F, 0x3F, 0x07, 0x1F, 0xFF}, {15, 85, 45, 45, 7, 25, 165}},
        {{0x45, 0x30, 0x12, 0x28, 0x02, 0x10, 0x07}, {45, 30, 12, 28, 2, 10, 7}},
    };
    for (const auto& [raw, decoded] : cases) {
        poke(raw);
        EXPECT_EQ(readNow(), decoded) << "seconds register 0x" << std::hex << raw[0];
    }
}

TEST_F(Rtc, NotAcknowledgedBytesEndTheTransferWithOneMessage) {
    struct Case {
        const char* what;
        bool absent;
        int nackAtByte;
        bool set;  // setTimeDate, else getTimeDate
        Lines trace;
    };
    const Case cases[] = {
        {"getTimeDate, chip absent", true, -1, false, {"START", "0xA2 (0x51 W) NACK", "STOP"}},
        // The STOP after the pointer is followed by the final one, on an idle bus: the
        // master pulls SDA low before it lets it rise, which the wires show as START, STOP.
        {"getTimeDate, pointer", false, 1, false,
         {"START", "0xA2 (0x51 W) ACK", "0x02 NACK", "STOP", "START", "STOP"}},
        {"setTimeDate, chip absent", true, -1, true, {"START", "0xA2 (0x51 W) NACK", "STOP"}},
        {"setTimeDate, hours", false, 4, true,
         {"START", "0xA2 (0x51 W) ACK", "0x02 ACK", "0x05 ACK", "0x10 ACK", "0x02 NACK", "STOP"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        chip.faults.absent = c.absent;
        chip.faults.nackAtByte = c.nackAtByte;
        clearRecords();
        BOOL ok = TRUE;
        unsigned char v[7] = {0x59, 0x59, 0x23, 0x31, 0x06, 0x12, 0x99};  // previous contents
        run([&] {
            ok = c.set ? setTimeDate(5, 10, 2, 3, 3, 1, 14) : getTimeDate(&v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6]);
        });
        EXPECT_FALSE(ok);
        EXPECT_EQ(console(), "Error: Sent byte was not acknowledged\r\n");
        EXPECT_EQ(trace(), c.trace);
        if (!c.set) {  // nothing was read: the old contents are decoded all the same
            EXPECT_EQ((Time{v[0], v[1], v[2], v[3], v[4], v[5], v[6]}), (Time{59, 59, 23, 31, 6, 12, 99}));
        }
        chip.faults = {};
    }
    // The bytes acknowledged before the refused hours reached the chip: seconds and minutes
    // are new, the hours are still the power-on value.
    Time t = readNow();
    EXPECT_EQ(t[1], 10u);
    EXPECT_EQ(t[2], 0u);
    EXPECT_LE(t[0], 6u);
}

// ---------------------------------------------------------------- the chip, read back over the bus

TEST_F(Rtc, ChipCarriesSecondsIntoTheCalendar) {
    struct Case {
        Time before;  // BCD registers
        Time after;   // one second later, decoded
    };
    const Case cases[] = {
        {{0x59, 0x00, 0x00, 0x01, 0x00, 0x01, 0x14}, {0, 1, 0, 1, 0, 1, 14}},
        {{0x59, 0x59, 0x09, 0x01, 0x00, 0x01, 0x14}, {0, 0, 10, 1, 0, 1, 14}},
        {{0x59, 0x59, 0x23, 0x03, 0x03, 0x01, 0x14}, {0, 0, 0, 4, 4, 1, 14}},
        {{0x59, 0x59, 0x23, 0x31, 0x06, 0x01, 0x14}, {0, 0, 0, 1, 0, 2, 14}},   // weekday 6 wraps to 0
        {{0x59, 0x59, 0x23, 0x30, 0x02, 0x04, 0x14}, {0, 0, 0, 1, 3, 5, 14}},   // 30 days in April
        {{0x59, 0x59, 0x23, 0x30, 0x02, 0x05, 0x14}, {0, 0, 0, 31, 3, 5, 14}},
        {{0x59, 0x59, 0x23, 0x28, 0x02, 0x02, 0x23}, {0, 0, 0, 1, 3, 3, 23}},   // not a leap year
        {{0x59, 0x59, 0x23, 0x28, 0x02, 0x02, 0x24}, {0, 0, 0, 29, 3, 2, 24}},  // leap year
        {{0x59, 0x59, 0x23, 0x29, 0x02, 0x02, 0x24}, {0, 0, 0, 1, 3, 3, 24}},
        {{0x59, 0x59, 0x23, 0x28, 0x02, 0x02, 0x00}, {0, 0, 0, 29, 3, 2, 0}},   // year 00 leaps too
        {{0x59, 0x59, 0x23, 0x31, 0x05, 0x12, 0x99}, {0, 0, 0, 1, 6, 1, 0}},
    };
    for (const Case& c : cases) {
        poke(c.before);
        idle(1.0);  // exactly one second boundary passes
        EXPECT_EQ(readNow(), c.after) << "day 0x" << std::hex << c.before[3] << " month 0x" << c.before[5]
                                      << " year 0x" << c.before[6];
    }
}

TEST_F(Rtc, ChipTogglesTheCenturyFlagWhenTheYearsRollOver) {
    std::vector<uint8_t> month;
    poke({0x59, 0x59, 0x23, 0x31, 0x05, 0x12, 0x99});
    idle(1.0);
    run([&] { month = rawRead(7, 1); });
    EXPECT_EQ(month, std::vector<uint8_t>{0x81});
    poke({0x59, 0x59, 0x23, 0x31, 0x05, 0x92, 0x99});
    idle(1.0);
    run([&] { month = rawRead(7, 1); });
    EXPECT_EQ(month, std::vector<uint8_t>{0x01});
}

TEST_F(Rtc, ChipHoldsTheTimeDuringAnAccessAndKeepsOnePendingSecond) {
    // Set at about 10 ms; the chip's seconds roll over at 1 s, 2 s, 3 s... An access that
    // spans two of them gets one second back after its STOP and loses the other.
    unsigned char during = 0, after = 0, later = 0;
    run(
        [&] {
            setTimeDate(5, 10, 2, 3, 3, 1, 14);
            startTransmitSlaveAddressWRI2C(I2C1, 0x51, FALSE);
            transmitDataToWriteI2C(I2C1, 2);
            stopTransferI2C(I2C1);
            startTransmitSlaveAddressWRI2C(I2C1, 0x51, TRUE);
            readDataByteI2C(I2C1, &during, TRUE);
            delayms(2500);  // the read stays open over two second boundaries
            unsigned char minutes = 0;
            readDataByteI2C(I2C1, &minutes, FALSE);
            stopTransferI2C(I2C1);
            after = rawRead(2, 1)[0];
            delayms(1000);
            later = rawRead(2, 1)[0];
        },
        4.0);
    EXPECT_EQ(during, 0x05);
    EXPECT_EQ(after, 0x06);  // one pending second applied, the other lost
    EXPECT_EQ(later, 0x07);
    EXPECT_EQ(console(), "");
}

TEST_F(Rtc, ChipReportsLowVoltageUntilTheSecondsAreWritten) {
    std::vector<uint8_t> sec;
    run([&] { sec = rawRead(2, 1); });
    EXPECT_EQ(sec[0] & 0x80, 0x80) << "VL is set at power-on";
    EXPECT_EQ(readNow()[0], unsigned(sec[0] & 0x7F)) << "getTimeDate ignores VL";
    run([&] {
        setTimeDate(5, 10, 2, 3, 3, 1, 14);
        sec = rawRead(2, 1);
    });
    EXPECT_EQ(sec[0], 0x05);
    chip.lowVoltage();
    run([&] { sec = rawRead(2, 1); });
    EXPECT_EQ(sec[0], 0x85);
}

TEST_F(Rtc, ChipRegisterPointerWrapsFrom0x0FTo0x00) {
    std::vector<uint8_t> regs;
    run([&] {
        rawWrite(0x0F, {0x34, 0x08});  // timer register, then control/status 1
        regs = rawRead(0x0E, 4);
    });
    EXPECT_EQ(regs, (std::vector<uint8_t>{0x03, 0x34, 0x08, 0x00}));
    EXPECT_EQ(console(), "");
}

}  // namespace
