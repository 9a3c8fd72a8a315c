// The bit-banged bus in virtual time: the call durations that the half-bit delays add up
// to, the settle before the START, the millisecond after setTimeDate's STOP, and the SCL
// clock as it shows on the wire.
#include <cmath>
#include <cstdio>
#include <map>

#include "tests/bitclock/bitclock_fixture.h"

namespace bitclock_test {
namespace {

constexpr double kHalfBitUs = 500, kSettleUs = 20;
// Each delay ends on the first poll of Count at or past its end, and the pin changes
// between delays are read-modify-writes of TRISD (two accesses each, 4 cycles apiece on
// the host backend): together well under 0.5 us at 80 MHz per half bit, against 500 us.
constexpr double kSlackPerHalfBitUs = 0.5;
// Before the START: the set-up's four pin changes, the settle and the first change of
// SDA, about 0.55 us beyond the 20 us on the host.
constexpr double kSetUpSlackUs = 1.0;

class BitclockTiming : public BitclockTest {
protected:
    struct Call {
        double us;                   // from the call to its return
        double startUs, stopUs;      // of the first START and the last STOP, from the call
    };
    Call timed(bool set) {
        sim::Cycles begin = 0, end = 0;
        clearRecords();
        run([&] {
            unsigned char v[7];
            begin = board.now();
            if (set) setTimeDate(5, 10, 2, 3, 3, 1, 14);
            else getTimeDate(&v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6]);
            end = board.now();
        });
        auto us = [&](sim::Cycles c) { return board.seconds(c - begin) * 1e6; };
        const auto& ev = analyser.events();
        EXPECT_FALSE(ev.empty());
        if (ev.empty()) return {};
        return {us(end), us(ev.front().time), us(ev.back().time)};
    }

    // SCL high times and rise-to-rise periods, each in half-bit delays; every one of them
    // must be a whole number of delays within the slack.
    struct Clock {
        std::map<unsigned, unsigned> highs, periods;  // half bits -> how many
        double worstUs = 0;                            // furthest from a whole number of delays
    };
    Clock clock() const {
        Clock c;
        bool seenRise = false;
        sim::Cycles lastRise = 0;
        auto put = [&](std::map<unsigned, unsigned>& m, sim::Cycles d) {
            double us = board.seconds(d) * 1e6;
            unsigned halves = unsigned(us / kHalfBitUs);
            double over = us - halves * kHalfBitUs;
            c.worstUs = std::max(c.worstUs, std::max(over, 0.0));
            EXPECT_LE(over, halves * kSlackPerHalfBitUs) << us << " us";
            ++m[halves];
        };
        for (const auto& ch : board.nets.changesOf("RD10")) {
            if (ch.level) {
                if (seenRise) put(c.periods, ch.time - lastRise);
                lastRise = ch.time;
                seenRise = true;
            } else if (seenRise) {
                put(c.highs, ch.time - lastRise);
            }
        }
        return c;
    }
};

TEST_F(BitclockTiming, SetTimeDateLasts176HalfBitsPlusSettleAndOneMillisecond) {
    const Call c = timed(true);
    const double expected = 176 * kHalfBitUs + kSettleUs + 1000;
    std::printf("setTimeDate: %.3f us (delays alone %.0f us)\n", c.us, expected);
    EXPECT_GE(c.us, expected);
    EXPECT_LE(c.us, expected + 176 * kSlackPerHalfBitUs);
    // The lines settle before the START; after the STOP come its last delay and the 1 ms.
    EXPECT_GE(c.startUs, kSettleUs);
    EXPECT_LE(c.startUs, kSettleUs + kSetUpSlackUs);
    EXPECT_GE(c.us - c.stopUs, kHalfBitUs + 1000);
    EXPECT_LE(c.us - c.stopUs, kHalfBitUs + 1000 + kSlackPerHalfBitUs);
}

TEST_F(BitclockTiming, GetTimeDateLasts207HalfBitsPlusSettle) {
    const Call c = timed(false);
    const double expected = 207 * kHalfBitUs + kSettleUs;
    std::printf("getTimeDate: %.3f us (delays alone %.0f us)\n", c.us, expected);
    EXPECT_GE(c.us, expected);
    EXPECT_LE(c.us, expected + 207 * kSlackPerHalfBitUs);
    EXPECT_GE(c.startUs, kSettleUs);
    EXPECT_LE(c.startUs, kSettleUs + kSetUpSlackUs);
    // Nothing follows the STOP but its own last delay.
    EXPECT_GE(c.us - c.stopUs, kHalfBitUs);
    EXPECT_LE(c.us - c.stopUs, kHalfBitUs + kSlackPerHalfBitUs);
}

TEST_F(BitclockTiming, SclRunsAtOneMillisecondPerBit) {
    struct Case {
        bool set;
        std::map<unsigned, unsigned> periods, highs;
    };
    // Within a byte a clock follows the one before after two delays, 1 ms; between bytes,
    // and from the eighth bit of a read to its acknowledge, after three; getTimeDate's STOP
    // to its next START's first clock, five. Every clock is high for one delay, 500 us; the
    // bus between getTimeDate's two transactions for three.
    const Case cases[] = {
        {true, {{2, 72}, {3, 9}}, {{1, 81}}},
        {false, {{2, 73}, {3, 17}, {5, 1}}, {{1, 90}, {3, 1}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.set ? "setTimeDate" : "getTimeDate");
        timed(c.set);
        const Clock k = clock();
        std::printf("worst lateness of an SCL edge: %.3f us\n", k.worstUs);

        EXPECT_EQ(k.periods, c.periods);
        EXPECT_EQ(k.highs, c.highs);
    }
}

}  // namespace
}  // namespace bitclock_test
