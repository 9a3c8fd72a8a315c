// In the card demo profile each init announces itself as its last action.
#include "drivers/digitalIO.h"
#include "drivers/timer.h"
#include "drivers/uart.h"
#include "tests/common/board_fixture.h"

namespace {

using Announcements = BoardTest;

TEST_F(Announcements, EachInitWritesItsLineLast) {
    sim::Cycles uartDone = 0;
    ASSERT_TRUE(runFor(0.1, [&] {
        bootSequence();
        initUART();
        uartDone = board.now();
        initDigitalIO();
        initTimer();
        initDigitalIO();
    }));
    EXPECT_EQ(console(), "init UART\r\ninit digitalIO\r\ninit timer\r\ninit digitalIO\r\n");
    // initUART's line is complete when it returns: it is the last thing it does.
    EXPECT_LE(terminal.received()[10].end, uartDone + 1);
    EXPECT_EQ(board.bus.at("U1BRG").value(), 86u);
    EXPECT_EQ(board.bus.at("PR2").value(), 312u);
}

}  // namespace
