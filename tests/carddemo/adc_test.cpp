// The adc driver in the card demo profile: initADC announces itself, each time it runs.
#include "drivers/adc.h"
#include "drivers/uart.h"
#include "sim/devices/analog.h"
#include "tests/common/board_fixture.h"

namespace {

using Adc = BoardTest;

TEST_F(Adc, InitAnnouncesItselfAndLeavesTheConverterRunning) {
    board.adc1.attach(3, sim::analog::Constant(sim::analog::voltsOf(321)));
    int first = -1, second = -1;
    ASSERT_TRUE(runFor(0.1, [&] {
        bootSequence();
        initUART();
        initADC();
        first = readADC(3);
        initADC();  // off, the same configuration, on again
        second = readADC(3);
    }));
    EXPECT_EQ(console(), "init UART\r\ninit ADC\r\ninit ADC\r\n");
    EXPECT_EQ(first, 321);
    EXPECT_EQ(second, 321);
}

}  // namespace
