// Busy-wait delays on the core timer and the Timer2 millisecond tick.
#include "drivers/system.h"
#include "drivers/timer.h"
#include "tests/common/board_fixture.h"

namespace {

using Timing = BoardTest;

// Count ticks a call takes, measured on the board's own Count.
template <class F>
uint32_t countTicks(sim::Board& b, F&& f) {
    uint32_t start = b.cp0.count();
    f();
    return b.cp0.count() - start;
}

TEST_F(Timing, DelaysLastAtLeastTheirTicksAndNotMuchMore) {
    struct Case {
        const char* name;
        uint32_t startCount;  // Count when the delay begins
        uint16_t us;
    };
    const Case cases[] = {
        {"zero", 1000, 0},
        {"one microsecond", 1000, 1},
        {"longest", 1000, 65535},
        {"end point beyond the wrap", 0xFFFFFFFFu - 100, 100},
        {"longest across the wrap", 0xFFFFFFFFu - 1000, 65535},
        {"start right at the top", 0xFFFFFFFFu, 10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        board.cp0.write(sim::cp0reg::Count, 0, c.startCount);
        uint32_t ticks = 0;
        ASSERT_TRUE(runFor(0.1, [&] { ticks = countTicks(board, [&] { delayus(c.us); }); }));
        EXPECT_GE(ticks, uint32_t(c.us) * 40);
        EXPECT_LE(ticks, uint32_t(c.us) * 40 + 12);  // a poll or two of slack, no extra wrap
    }
}

TEST_F(Timing, DelaymsIsThatManyMillisecondWaits) {
    uint32_t zero = 1, thousand = 0;
    ASSERT_TRUE(runFor(2, [&] {
        zero = countTicks(board, [] { delayms(0); });
        thousand = countTicks(board, [] { delayms(1000); });
    }));
    EXPECT_LE(zero, 4u);
    EXPECT_GE(thousand, 40000000u);
    EXPECT_LT(thousand, 40000000u + 1000 * 16);  // each pass adds its own call overhead only
}

TEST_F(Timing, MicrosCountsFromCount) {
    board.cp0.write(sim::cp0reg::Count, 0, 40 * 1234);
    int us = 0;
    runFor(0.01, [&] { us = micros(); });
    EXPECT_EQ(us, 1234);
}

class Tick : public BoardTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(runFor(0.01, [] { bootSequence(); }));
    }
};

TEST_F(Tick, CountsNineHundredNinetyEightInTheFirstSecond) {
    EXPECT_EQ(millis(), 0u);  // before initTimer
    sim::Cycles started = 0;
    runFor(0.01, [&] {
        initTimer();
        started = board.now();
    });
    idle(1.0 - elapsedSince(started));
    EXPECT_EQ(_millis, 998u);
    // One tick every 313 counts of 256 PBCLK cycles: 1001.6 us.
    EXPECT_EQ(board.timer2.tickCycles() * 313, board.cycles(0.0010016));
    EXPECT_EQ(console(), "");  // silent in this profile
}

TEST_F(Tick, SecondInitRestartsFromZero) {
    runFor(0.01, [] { initTimer(); });
    idle(0.05);
    EXPECT_GT(_millis, 40u);
    runFor(0.01, [] { initTimer(); });
    EXPECT_EQ(_millis, 0u);
    idle(0.0010016 * 3 + 0.0001);
    EXPECT_EQ(_millis, 3u);
}

TEST_F(Tick, WrapsToZero) {
    runFor(0.01, [] { initTimer(); });
    _millis = 0xFFFFFFFEu;
    idle(0.0010016 * 2 + 0.0001);
    EXPECT_EQ(_millis, 0u);
    EXPECT_EQ(millis(), 0u);
}

}  // namespace
