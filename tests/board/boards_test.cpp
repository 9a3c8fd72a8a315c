// The board descriptions: every place a peripheral or a device takes is a net the board
// declares, and a net that was never declared cannot be reached by a typo. What the board
// keeps of its resets.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "sim/boards/board.h"

namespace {

TEST(Boards, EveryPlaceIsADeclaredNetAndAnUndeclaredNetIsAnError) {
    for (sim::Chip chip : {sim::Chip::MX440F256H, sim::Chip::MX795F512L}) {
        sim::BoardConfig cfg;
        cfg.chip = chip;
        sim::Board board(cfg);
        const sim::BoardDescription& d = board.description();
        SCOPED_TRACE(d.name);
        EXPECT_EQ(&d, &sim::boardFor(chip));
        for (const std::string& net :
             {d.uart1Tx, d.uart1Rx, d.uart2Tx, d.uart2Rx, d.i2c1Sda.name(), d.i2c1Scl.name(), d.spi2Sck.name(),
              d.spi2Sdi.name(), d.spi2Sdo.name(), d.clockChipSda.name(), d.clockChipScl.name(), d.cardSlot.select,
              d.cardSlot.sck, d.cardSlot.mosi, d.cardSlot.miso, d.led.name()})
            EXPECT_NE(board.nets.find(net), nullptr) << net;
        // Idle levels from the board's resistors: the console lines and both I2C lines high.
        EXPECT_TRUE(board.nets.get(d.uart1Tx).level());
        EXPECT_TRUE(board.nets.get(d.i2c1Sda.name()).level());
        EXPECT_TRUE(board.nets.get(d.cardSlot.miso).level());

        EXPECT_THROW(board.nets.get("RD1O"), std::out_of_range);
        EXPECT_THROW(board.nets.declare(d.led.name()), std::logic_error) << "one declaration per net";
    }
    EXPECT_TRUE(sim::demoBoard().clockChipFitted);
    EXPECT_EQ(sim::bitclockBoard().ramBytes, 128u * 1024);
}

// A firmware may reset in a loop for ever: the board counts by cause and keeps the first few.
TEST(Boards, ResetsAreCountedByCauseInConstantMemory) {
    sim::Board board;
    constexpr size_t kCauses = sim::ResetLog::kCauses;
    for (int i = 0; i < 1000; ++i) {
        board.sched.advance(10);
        board.reset(i % 4 ? "software reset" : "debugger");
    }
    for (size_t i = 0; i < kCauses; ++i) board.reset("cause " + std::to_string(i));
    const sim::ResetLog& log = board.resets();
    EXPECT_EQ(log.count(), 1000u + kCauses);
    EXPECT_EQ(log.of("software reset"), 750u);
    EXPECT_EQ(log.of("debugger"), 250u);
    ASSERT_EQ(log.byCause().size(), kCauses);
    EXPECT_EQ(log.byCause().back().first, "cause " + std::to_string(kCauses - 3));
    EXPECT_EQ(log.of("cause " + std::to_string(kCauses - 1)), 0u) << "past the causes counted by name";
    ASSERT_EQ(log.first().size(), sim::ResetLog::kKept);
    EXPECT_EQ(log.first()[0].cause, "debugger");
    EXPECT_EQ(log.first()[1].cause, "software reset");
    EXPECT_EQ(log.first()[1].time - log.first()[0].time, 10u);
}

}  // namespace
