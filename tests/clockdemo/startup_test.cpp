// What every main does first, and what happens to interrupts nobody handles.
#include "drivers/digitalIO.h"
#include "drivers/uart.h"
#include "tests/common/board_fixture.h"

namespace {

using Startup = BoardTest;

TEST_F(Startup, PerformanceSetUpFollowsTheRequestedClock) {
    struct Case {
        unsigned sysClock;
        unsigned pbdiv;
        unsigned waitStates;
        unsigned returned;
    };
    const Case cases[] = {
        {79999999, 0, 2, 79999999}, {80000000, 0, 2, 80000000}, {80000001, 1, 2, 40000000},
        {60000000, 0, 1, 60000000}, {60000001, 0, 2, 60000001}, {30000000, 0, 0, 30000000},
        {30000001, 0, 1, 30000001},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sysClock);
        unsigned returned = 0;
        ASSERT_TRUE(runFor(0.01, [&] { returned = SYSTEMConfigPerformance(c.sysClock); }));
        EXPECT_EQ(returned, c.returned);
        EXPECT_EQ(board.system.pbdiv(), c.pbdiv);
        uint32_t checon = board.bus.at("CHECON").value();
        EXPECT_EQ(checon & 7u, c.waitStates);
        EXPECT_EQ(checon & 0x30u, 0x30u);  // prefetch for all regions
        EXPECT_FALSE(board.bus.at("BMXCON").bit(6));  // no RAM wait state
        EXPECT_EQ(board.cp0.read(16, 0) & 7u, 3u);    // KSEG0 cacheable
        EXPECT_FALSE(board.system.unlocked());        // locked again afterwards
    }
}

TEST_F(Startup, LeavesDmaAndInterruptsAsItFoundThem) {
    for (bool suspended : {false, true})
        for (bool interrupts : {false, true}) {
            SCOPED_TRACE(::testing::Message() << "dma suspended " << suspended << ", interrupts " << interrupts);
            board.bus.at("DMACON").hwPut(1u << 12, suspended);
            uint32_t s = board.cp0.status();
            board.cp0.setStatus(interrupts ? (s | 1u) : (s & ~1u));
            ASSERT_TRUE(runFor(0.01, [] { SYSTEMConfigPerformance(79999999); }));
            EXPECT_EQ(board.system.dmaSuspended(), suspended);
            EXPECT_EQ(board.cp0.status() & 1u, interrupts ? 1u : 0u);
            EXPECT_EQ(board.pbdiv(), 0u);
        }
}

TEST_F(Startup, OscillatorIgnoresWritesWhileLocked) {
    ASSERT_TRUE(runFor(0.01, [] {
        OSCCONbits.PBDIV = 3;
        SYSKEY = 0;
        SYSKEY = 0xAA996655u;
        SYSKEY = 0x12345678u;  // wrong second key
        OSCCONbits.PBDIV = 3;
    }));
    EXPECT_EQ(board.pbdiv(), 0u);
}

TEST_F(Startup, MultiVectorModeWithInterruptsOn) {
    ASSERT_TRUE(runFor(0.01, [] { bootSequence(); }));
    EXPECT_TRUE(board.intc.multiVector());
    EXPECT_TRUE(board.cp0.cause() & (1u << 23));
    EXPECT_TRUE(board.cp0.status() & 1u);
    EXPECT_EQ(board.cp0.ipl(), 0u);
}

TEST_F(Startup, EnabledSourceWithoutHandlerResetsTheDevice) {
    ASSERT_TRUE(runFor(0.01, [] {
        bootSequence();
        INTEnable(INT_AD1, INT_ENABLED);
        INTSetVectorPriority(INT_ADC_VECTOR, INT_PRIORITY_LEVEL_4);
    }));
    EXPECT_TRUE(board.resets().empty());  // enabled, but no flag yet
    board.intc.raise(sim::irq::AD1);
    bool completed = runFor(0.01, [] { (void)static_cast<uint32_t>(PORTD); });
    EXPECT_FALSE(completed);
    ASSERT_EQ(board.resets().count(), 1u);
    EXPECT_EQ(board.bus.at("IEC1").value(), 0u);  // the reset put the controller back
    EXPECT_FALSE(board.intc.multiVector());
}

TEST_F(Startup, PrioritySourceWithoutEnableDoesNothing) {
    ASSERT_TRUE(runFor(0.01, [] {
        bootSequence();
        INTSetVectorPriority(INT_ADC_VECTOR, INT_PRIORITY_LEVEL_4);
    }));
    board.intc.raise(sim::irq::AD1);
    EXPECT_TRUE(runFor(0.01, [] { (void)static_cast<uint32_t>(PORTD); }));
    EXPECT_TRUE(board.resets().empty());
}

TEST_F(Startup, DigitalOutputsDrivenLowHoweverOftenSetUp) {
    board.nets.record("RD1");
    ASSERT_TRUE(runFor(0.01, [] {
        bootSequence();
        LATDSET = 1u << 1;  // a latch left high before the set-up
        initDigitalIO();
        initDigitalIO();
    }));
    for (auto [port, bit] : {std::pair{'D', 1u}, std::pair{'G', 6u}}) {
        SCOPED_TRACE(port);
        EXPECT_EQ(board.bus.at(std::string("TRIS") + port).bit(bit), false);
        EXPECT_EQ(board.bus.at(std::string("LAT") + port).bit(bit), false);
        EXPECT_FALSE(board.ports.pin(port, bit).level());
    }
    EXPECT_EQ(console(), "");  // silent in this profile
}

}  // namespace
