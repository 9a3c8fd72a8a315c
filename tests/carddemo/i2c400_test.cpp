// The I2C steps and the clock-chip driver in the card demo profile: the same transactions
// as in the clock demo, at 400 kHz.
#include <vector>

#include "drivers/rtc.h"
#include "tests/common/i2c_fixture.h"

namespace {

using Lines = std::vector<std::string>;

class I2c400 : public I2cBoardTest {};

TEST_F(I2c400, InitAnnouncesAndRunsTheBusAt400kHz) {
    EXPECT_EQ(bringUp(), "init UART\r\ninit i2c\r\n");
    EXPECT_EQ(board.bus.at("I2C1BRG").value(), 98u);
}

TEST_F(I2c400, SetAndReadTheClockOnTheWiresWith400kHzTiming) {
    bringUp();
    BOOL set = FALSE, got = FALSE;
    unsigned char v[7] = {};
    run([&] {
        set = setTimeDate(5, 10, 2, 3, 3, 1, 14);
        got = getTimeDate(&v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6]);
    });
    EXPECT_TRUE(set);
    EXPECT_TRUE(got);
    EXPECT_EQ(std::vector<unsigned>(v, v + 7), (std::vector<unsigned>{5, 10, 2, 3, 3, 1, 14}));
    EXPECT_EQ(trace(), (Lines{
                           "START", "0xA2 (0x51 W) ACK", "0x02 ACK", "0x05 ACK", "0x10 ACK", "0x02 ACK", "0x03 ACK",
                           "0x03 ACK", "0x01 ACK", "0x14 ACK", "STOP",
                           "START", "0xA2 (0x51 W) ACK", "0x02 ACK", "STOP",
                           "START", "0xA3 (0x51 R) ACK", "0x05 ACK", "0x10 ACK", "0x02 ACK", "0x03 ACK", "0x03 ACK",
                           "0x01 ACK", "0x14 NACK", "STOP",
                       }));
    EXPECT_EQ(console(), "");

    // TBRG = (98 + 2) / 80 MHz = 1.25 us: 2.5 us per clock within a byte.
    I2cWireTiming t = measureI2cTiming(board);
    EXPECT_NEAR(I2cWireTiming::min(t.sclHigh), 1.25, 0.001);
    EXPECT_NEAR(I2cWireTiming::max(t.sclHigh), 1.25, 0.001);
    EXPECT_NEAR(I2cWireTiming::min(t.sclLow), 1.25, 0.001);
    EXPECT_NEAR(I2cWireTiming::min(t.risePeriods), 2.5, 0.001);
    EXPECT_GE(I2cWireTiming::countNear(t.risePeriods, 2.5), 19u * 8u - 7u);
    EXPECT_NEAR(I2cWireTiming::min(t.startHold), 1.25, 0.001);
    EXPECT_NEAR(I2cWireTiming::min(t.stopSetup), 1.25, 0.001);
}

}  // namespace
