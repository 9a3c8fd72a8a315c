// The bit-banged clock driver on the wires: the same transactions as the I2C1 driver,
// every byte clocked whatever the acknowledges, a result that covers the acknowledges of
// the bytes written, the pins left released, and the bits of a read put together.
#include "tests/bitclock/bitclock_fixture.h"

#include "drivers/i2c.h"
#include "platform/pic32mx.h"

// The I2C1 driver of the clock demo, built under other names beside this one.
extern "C" {
BOOL i2c1_setTimeDate(unsigned int sec, unsigned int mint, unsigned int hr, unsigned int day, unsigned int wd,
                      unsigned int month, unsigned int year);
BOOL i2c1_getTimeDate(unsigned char* sec, unsigned char* mint, unsigned char* hr, unsigned char* day,
                      unsigned char* wd, unsigned char* month, unsigned char* year);
}

namespace bitclock_test {
namespace {

using SetFn = BOOL (*)(unsigned, unsigned, unsigned, unsigned, unsigned, unsigned, unsigned);
using GetFn = BOOL (*)(unsigned char*, unsigned char*, unsigned char*, unsigned char*, unsigned char*,
                       unsigned char*, unsigned char*);

struct Outcome {
    Lines trace;
    std::vector<int> results;
    std::vector<Time> times;
};

// Sets the clock twice (once with every argument out of range) and reads it back after
// each, on a board of its own with the clock chip; returns what crossed the wires.
Outcome exerciseClock(sim::Chip part, bool overI2c1, SetFn set, GetFn get) {
    sim::BoardConfig cfg;
    cfg.chip = part;
    sim::Board board(cfg);
    sim::RtcChip::attach(board);
    auto& analyser = board.add<sim::I2cAnalyser>(board.sched, sim::RtcChip::busOf(board), board.sysclkHz());
    platform::host::attach(&board);
    platform::host::runtimeStartup();
    Outcome o;
    bool done = platform::host::runFor(
        [&] {
            if (overI2c1) {
                bootSequence();
                initI2C(I2C1);
            }
            const Time args[] = {{5, 10, 2, 3, 3, 1, 14}, {60, 60, 24, 32, 7, 13, 100}};
            for (const Time& a : args) {
                o.results.push_back(set(a[0], a[1], a[2], a[3], a[4], a[5], a[6]));
                unsigned char v[7] = {};
                o.results.push_back(get(&v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6]));
                o.times.push_back({v[0], v[1], v[2], v[3], v[4], v[5], v[6]});
            }
        },
        board.cycles(0.9));  // within the chip's first second
    platform::host::attach(nullptr);
    EXPECT_TRUE(done);
    o.trace = analyser.lines();
    return o;
}

TEST(BitclockVersusI2c1, SameCallsPutTheSameTransactionsOnTheWires) {
    const Outcome i2c1 = exerciseClock(sim::Chip::MX440F256H, true, i2c1_setTimeDate, i2c1_getTimeDate);
    const Outcome soft = exerciseClock(sim::Chip::MX795F512L, false, setTimeDate, getTimeDate);
    EXPECT_EQ(soft.trace, i2c1.trace);
    EXPECT_EQ(soft.results, i2c1.results);
    EXPECT_EQ(soft.times, i2c1.times);

    // And what that is: the write, then the pointer and the read in two transactions.
    const Lines once = {
        "START", "0xA2 (0x51 W) ACK", "0x02 ACK", "0x05 ACK", "0x10 ACK", "0x02 ACK", "0x03 ACK", "0x03 ACK",
        "0x01 ACK", "0x14 ACK", "STOP", "START", "0xA2 (0x51 W) ACK", "0x02 ACK", "STOP", "START",
        "0xA3 (0x51 R) ACK", "0x05 ACK", "0x10 ACK", "0x02 ACK", "0x03 ACK", "0x03 ACK", "0x01 ACK", "0x14 NACK",
        "STOP",
    };
    ASSERT_EQ(soft.trace.size(), 2 * once.size());
    EXPECT_EQ(Lines(soft.trace.begin(), soft.trace.begin() + long(once.size())), once);
    EXPECT_EQ(soft.results, (std::vector<int>{TRUE, TRUE, TRUE, TRUE}));
    EXPECT_EQ(soft.times, (std::vector<Time>{{5, 10, 2, 3, 3, 1, 14}, {0, 0, 0, 1, 0, 1, 0}}));
}

TEST(BitclockCharToBcd, PacksTensAndUnitsModulo256) {
    const std::pair<unsigned char, unsigned char> cases[] = {
        {0, 0x00}, {9, 0x09}, {10, 0x10}, {59, 0x59}, {99, 0x99}, {100, 0xA0}, {255, 0x95},
    };
    for (auto [in, out] : cases) EXPECT_EQ(char_to_bcd(in), out) << int(in);
}

using Bitclock = BitclockTest;

TEST_F(Bitclock, SetTimeDateReplacesOutOfRangeArguments) {
    struct Case {
        Time args;
        Time registers;  // as the chip holds them afterwards, BCD
    };
    const Case cases[] = {
        {{59, 59, 23, 31, 6, 12, 99}, {0x59, 0x59, 0x23, 0x31, 0x06, 0x12, 0x99}},
        {{60, 60, 24, 3, 7, 13, 100}, {0x00, 0x00, 0x00, 0x03, 0x00, 0x01, 0x00}},
        {{0, 0, 0, 1, 0, 0, 0}, {0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00}},  // month 0
        // A day outside 1..31 becomes 1 rather than an invalid BCD byte (0x00, 0x32, 0xA0).
        {{0, 0, 0, 0, 0, 1, 0}, {0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00}},
        {{0, 0, 0, 32, 0, 1, 0}, {0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00}},
        {{0, 0, 0, 100, 0, 1, 0}, {0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00}},
        // Checked before they are truncated to 8 bits.
        {{256 + 5, 0x10A, 0x102, 0x103, 0x103, 0x101, 0x10E}, {0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00}},
    };
    for (const Case& c : cases) {
        EXPECT_TRUE(write(c.args));
        Time regs{};
        for (unsigned i = 0; i < 7; ++i) regs[i] = chip->reg(2 + i);
        EXPECT_EQ(regs, c.registers) << "day " << c.args[3] << " month " << c.args[5];
    }
}

TEST_F(Bitclock, GetTimeDateDecodesRawRegisterBytes) {
    const std::pair<Time, Time> cases[] = {
        {{0xD9, 0xD9, 0xE3, 0xF1, 0xFE, 0x92, 0x99}, {59, 59, 23, 31, 6, 12, 99}},  // VL, century, junk bits
        {{0x45, 0x30, 0x12, 0x28, 0x02, 0x10, 0x07}, {45, 30, 12, 28, 2, 10, 7}},
        {{0x0F, 0x7F, 0x3F, 0x3F, 0x07, 0x1F, 0xFF}, {15, 85, 45, 45, 7, 25, 165}},  // nibbles taken as they are
    };
    for (const auto& [raw, decoded] : cases) {
        for (unsigned i = 0; i < 7; ++i) chip->poke(2 + i, uint8_t(raw[i]));
        BOOL ok = FALSE;
        EXPECT_EQ(read(&ok), decoded) << "seconds register 0x" << std::hex << raw[0];
        EXPECT_TRUE(ok);
    }
}

TEST_F(Bitclock, EveryByteIsClockedWhateverTheAcknowledges) {
    struct Case {
        const char* what;
        int nackAtByte;  // of each transaction; 0 is the address
        bool set;        // setTimeDate, else getTimeDate
        Lines trace;
    };
    const Case cases[] = {
        // Once a byte is refused the chip ignores the rest of the transaction.
        {"setTimeDate, hours refused", 4, true,
         {"START", "0xA2 (0x51 W) ACK", "0x02 ACK", "0x05 ACK", "0x10 ACK", "0x02 NACK", "0x03 NACK", "0x03 NACK",
          "0x01 NACK", "0x14 NACK", "STOP"}},
        // The pointer stays where the set left it, past the time registers: register 9 on.
        {"getTimeDate, pointer refused", 1, false,
         {"START", "0xA2 (0x51 W) ACK", "0x02 NACK", "STOP", "START", "0xA3 (0x51 R) ACK", "0x80 ACK", "0x80 ACK",
          "0x80 ACK", "0x80 ACK", "0x80 ACK", "0x03 ACK", "0x00 NACK", "STOP"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        write({5, 10, 2, 3, 3, 1, 14});
        chip->faults.nackAtByte = c.nackAtByte;
        clearRecords();
        BOOL ok = TRUE;
        if (c.set) ok = write({5, 10, 2, 3, 3, 1, 14});
        else read(&ok);
        EXPECT_FALSE(ok);
        EXPECT_EQ(trace(), c.trace);
        EXPECT_EQ(console(), "");
        chip->faults = {};
    }
}

using BitclockNoChip = BitclockNoChipTest;

TEST_F(BitclockNoChip, NothingAnswersSoAllBytesGoUnacknowledgedAndReadAsOnes) {
    EXPECT_FALSE(write({5, 10, 2, 3, 3, 1, 14}));
    EXPECT_EQ(trace(), (Lines{"START", "0xA2 (0x51 W) NACK", "0x02 NACK", "0x05 NACK", "0x10 NACK", "0x02 NACK",
                              "0x03 NACK", "0x03 NACK", "0x01 NACK", "0x14 NACK", "STOP"}));
    clearRecords();
    BOOL ok = TRUE;
    EXPECT_EQ(read(&ok, {1, 2, 3, 4, 5, 6, 7}), (Time{85, 85, 45, 45, 7, 25, 165}));
    EXPECT_FALSE(ok);
    EXPECT_EQ(trace(), (Lines{"START", "0xA2 (0x51 W) NACK", "0x02 NACK", "STOP", "START", "0xA3 (0x51 R) NACK",
                              "0xFF ACK", "0xFF ACK", "0xFF ACK", "0xFF ACK", "0xFF ACK", "0xFF ACK", "0xFF NACK",
                              "STOP"}));
    EXPECT_EQ(console(), "");
}

TEST_F(BitclockNoChip, ResultCoversTheAcknowledgeOfEveryByteWrittenAndNothingElse) {
    auto& device = board.add<ScriptedDevice>(lines);
    struct Case {
        bool set;
        int refused;  // byte number over the whole call (0xA2 is 0); -1: all acknowledged
        BOOL result;
    };
    std::vector<Case> cases;
    for (int b = -1; b < 9; ++b) cases.push_back({true, b, b < 0 ? TRUE : FALSE});  // 0xA2, 0x02, 7 values
    for (int b = -1; b < 3; ++b) cases.push_back({false, b, b < 0 ? TRUE : FALSE});  // 0xA2, 0x02, 0xA3
    for (const Case& c : cases) {
        device.rewind();
        // Bytes numbered over the whole call: getTimeDate's read address is the third.
        device.acknowledge = [&](unsigned transaction, unsigned byte) {
            return int(transaction == 0 ? byte : 2 + byte) != c.refused;
        };
        // What comes back in the read does not count, nor the master's final not-acknowledge.
        device.reads.assign(7, Levels{});
        BOOL ok = TRUE;
        if (c.set) ok = write({5, 10, 2, 3, 3, 1, 14});
        else read(&ok);
        EXPECT_EQ(ok, c.result) << (c.set ? "setTimeDate" : "getTimeDate") << ", byte " << c.refused << " refused";
    }
}

TEST_F(BitclockNoChip, ReadPutsTheBitsTogetherMostSignificantFirst) {
    auto& device = board.add<ScriptedDevice>(lines);
    struct Case {
        Levels levels;
        const char* onTheWire;
        unsigned year;  // the byte as the year decodes it
    };
    const Case cases[] = {
        {{1, 0, 1, 0, 0, 1, 0, 1}, "0xA5", 105},
        {{0, 0, 0, 1, 0, 0, 1, 0}, "0x12", 12},  // read least significant first it would be 0x48
    };
    for (const Case& c : cases) {
        device.rewind();
        device.reads.assign(7, c.levels);
        clearRecords();
        EXPECT_EQ(read()[6], c.year) << c.onTheWire;
        const Lines t = trace();
        ASSERT_EQ(t.size(), 14u);
        EXPECT_EQ(t[11], std::string(c.onTheWire) + " ACK");
        EXPECT_EQ(t[12], std::string(c.onTheWire) + " NACK");
    }
}

TEST_F(Bitclock, LinesAreLeftReleasedWithTheirLatchesLow) {
    // Other port D pins (the LED on RD1) keep what they had: every change is to one bit.
    constexpr uint32_t kBus = 1u << 9 | 1u << 10, kLed = 1u << 1;
    struct Case {
        const char* what;
        bool absent;
        bool set;
    };
    const Case cases[] = {
        {"setTimeDate", false, true},
        {"getTimeDate", false, false},
        {"setTimeDate, no chip", true, true},
        {"getTimeDate, no chip", true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        chip->faults.absent = c.absent;
        uint32_t tris = 0, lat = 0;
        run([&] {
            // Both bus pins outputs with their latches at 1, driving the lines high.
            TRISD = 0xFFFF & ~(kBus | kLed);
            LATD = kBus | kLed;
            unsigned char v[7];
            if (c.set) setTimeDate(5, 10, 2, 3, 3, 1, 14);
            else getTimeDate(&v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6]);
            tris = TRISD;
            lat = LATD;
        });
        EXPECT_EQ(tris, 0xFFFF & ~kLed);
        EXPECT_EQ(lat, kLed);
        EXPECT_TRUE(board.nets.get("RD9").level());
        EXPECT_TRUE(board.nets.get("RD10").level());
        EXPECT_FALSE(board.nets.get("RD9").driven());
        EXPECT_FALSE(board.nets.get("RD10").driven());
    }
}

}  // namespace
}  // namespace bitclock_test
