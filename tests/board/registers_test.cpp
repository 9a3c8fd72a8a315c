// Register behaviour every model relies on: companions, ports, unclaimed accesses, Timer2.
#include "tests/common/board_fixture.h"

namespace {

using Registers = BoardTest;

// The last 256 bytes of the SFR window: no register there.
constexpr uint32_t kNobodysAddress = PIC32MX_SFR_WINDOW + PIC32MX_SFR_WINDOW_BYTES - 0x100;

TEST_F(Registers, CompanionsClearSetAndInvertOnlyTheBitsWritten) {
    ASSERT_TRUE(runFor(0.001, [] {
        TRISD = 0x00F0;
        TRISDSET = 0x0003;
        TRISDCLR = 0x0010;
        TRISDINV = 0x0101;
    }));
    EXPECT_EQ(board.bus.at("TRISD").value(), 0x01E2u);
    uint32_t readBack = 1;
    runFor(0.001, [&] { readBack = TRISDSET; });
    EXPECT_EQ(readBack, 0u);
}

TEST_F(Registers, PortWritesGoToTheLatchAndReadsSeeThePins) {
    board.nets.record("RD1");
    uint32_t portb = 0xFFFF;
    ASSERT_TRUE(runFor(0.001, [&] {
        TRISDCLR = 2;
        PORTDSET = 2;          // lands in LATD
        ODCDSET = 4;
        TRISDCLR = 4;
        LATDSET = 4;           // open drain, released: floats low with no pull-up
        portb = PORTB;         // every port B pin is analog at reset
    }));
    EXPECT_TRUE(board.bus.at("LATD").bit(1));
    EXPECT_TRUE(board.ports.pin('D', 1).level());
    EXPECT_FALSE(board.ports.pin('D', 2).driven());
    EXPECT_EQ(portb, 0u);
    ASSERT_EQ(board.nets.changesOf("RD1").size(), 1u);
    EXPECT_TRUE(board.nets.changesOf("RD1")[0].level);
}

TEST_F(Registers, UnclaimedAccessesAreReported) {
    ASSERT_TRUE(runFor(0.001, [] {
        platform::sfrWrite(kNobodysAddress, 1);
        (void)platform::sfrRead(kNobodysAddress + 0x10);
    }));
    ASSERT_EQ(board.bus.unclaimed().count(), 2u);
    const auto& seen = board.bus.unclaimed().byAddress();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_TRUE(seen[0].first.write);
    EXPECT_EQ(seen[1].first.address, kNobodysAddress + 0x10);
}

// A firmware polling an address nobody claims does so for ever: the bus counts, and lists
// only the first few addresses.
TEST_F(Registers, UnclaimedAccessesAreCountedInConstantMemory) {
    constexpr uint32_t kListed = sim::UnclaimedLog::kAddresses;
    ASSERT_TRUE(runFor(0.01, [] {
        for (int i = 0; i < 1000; ++i) (void)platform::sfrRead(kNobodysAddress);
        platform::sfrWrite(kNobodysAddress + 2, 7);  // a byte lane of the same register
        for (uint32_t i = 1; i < 2 * kListed; ++i) platform::sfrWrite(kNobodysAddress + 4 * i, i);
    }));
    const sim::UnclaimedLog& log = board.bus.unclaimed();
    EXPECT_EQ(log.count(), 1000u + 1 + (2 * kListed - 1));
    ASSERT_EQ(log.byAddress().size(), kListed);
    EXPECT_EQ(log.byAddress()[0].reads, 1000u);
    EXPECT_EQ(log.byAddress()[0].writes, 1u);
    EXPECT_FALSE(log.byAddress()[0].first.write);
    EXPECT_EQ(log.byAddress()[1].first.address, kNobodysAddress + 4);
    EXPECT_EQ(log.byAddress()[1].first.value, 1u);
    EXPECT_EQ(log.byAddress().back().first.address, kNobodysAddress + 4 * (kListed - 1));
    EXPECT_EQ(log.elsewhere(), uint64_t(kListed));
}

TEST_F(Registers, Timer2FlagsOncePerPeriodFromThePrescaledBusClock) {
    ASSERT_TRUE(runFor(0.001, [] {
        PR2 = 99;
        T2CON = 0x8010;  // on, 1:2
    }));
    sim::Cycles start = board.now();
    while (!board.intc.flag(sim::irq::T2)) board.sched.advance(1);
    EXPECT_EQ(board.now() - start, 200u);  // 100 counts of 2 PBCLK cycles
    board.intc.lower(sim::irq::T2);
    board.sched.advance(100);
    EXPECT_EQ(board.bus.read(TMR2.address), 50u);
    EXPECT_FALSE(board.intc.flag(sim::irq::T2));
}

}  // namespace

// The fast-forward re-reads a polled register only where the models declare that a read
// changes nothing and that the value moves only at events.
TEST_F(Registers, ReadsThatPopOrMoveWithTimeAreDeclared) {
    struct Case {
        const char* name;
        bool sideEffects, timeVarying;
    };
    const Case cases[] = {
        {"U1RXREG", true, false}, {"U2RXREG", true, false}, {"I2C1RCV", true, false}, {"SPI2BUF", true, false},
        {"RSWRST", true, false},  {"TMR2", false, true},    {"U1STA", false, false},  {"PORTD", false, false},
        {"ADC1BUF0", false, false}, {"INTSTAT", false, false},
        {"PORTG", false, true},  // SPI2's pins move in wire steps, between events
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const sim::Register& r = board.bus.at(c.name);
        EXPECT_EQ(r.hasReadSideEffects(), c.sideEffects);
        EXPECT_EQ(r.isTimeVarying(), c.timeVarying);
    }
}
