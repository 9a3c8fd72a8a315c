// The UART1 console: baud, blocking output, the echoing receive handler, overrun recovery.
#include <algorithm>

#include "drivers/uart.h"
#include "tests/common/board_fixture.h"

namespace {

class Console : public BoardTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(runFor(0.01, [] {
            bootSequence();
            initUART();
        }));
    }
    // Lets the firmware idle for `seconds` inside a busy foreground loop.
    void spin(double seconds) {
        runFor(seconds, [] {
            for (;;) (void)static_cast<uint32_t>(U1MODE);
        });
    }
};

TEST_F(Console, RunsAt57471BaudFromDivider86) {
    EXPECT_EQ(board.bus.at("U1BRG").value(), 86u);
    EXPECT_EQ(console(), "");  // silent in this profile
    runFor(0.01, [] { writeString(UART1, "U"); });  // 0x55: an edge at every bit boundary
    ASSERT_EQ(terminal.received().size(), 1u);
    double baud = double(board.sysclkHz()) / terminal.received()[0].bitCycles;
    EXPECT_NEAR(baud, 57471.26, 0.01);
    EXPECT_FALSE(terminal.received()[0].framingError);
}

TEST_F(Console, WriteStringReturnsAfterTheLastStopBit) {
    sim::Cycles returned = 0;
    runFor(0.1, [&] {
        writeString(UART1, "hello");
        returned = board.now();
    });
    ASSERT_EQ(console(), "hello");
    const auto& last = terminal.received().back();
    EXPECT_GE(returned, last.end - 1);
    // One character at a time: each starts only after the previous one has drained.
    for (size_t i = 1; i < terminal.received().size(); ++i)
        EXPECT_GE(terminal.received()[i].start, terminal.received()[i - 1].end - 1);
}

TEST_F(Console, BadArgumentsWriteNothingAndReturn) {
    EXPECT_TRUE(runFor(0.01, [] {
        writeString(UART1, "");
        writeString(UART1, nullptr);
        writeString(2, "x");     // beyond the UART table
        writeString(-1, "x");
        writeString(UART2, "x");  // UART2 is not set up
        putCharacter(7, 'x');
    }));
    EXPECT_EQ(console(), "");
    EXPECT_TRUE(board.bus.unclaimed().empty());
}

TEST_F(Console, EveryByteValueIsEchoedExactlyOnce) {
    std::string all;
    for (int v = 0; v < 256; ++v) all.push_back(char(v));
    terminal.send(all, 2.0);  // two idle bits between frames: the echo keeps up
    spin(0.1);
    EXPECT_EQ(console(), all);
}

TEST_F(Console, EchoLandsBetweenCharactersOfAString) {
    std::string text = "0123456789abcdefghij";
    terminal.sendAt(board.now() + board.cycles(0.0015), "#");
    runFor(0.1, [&] { writeString(UART1, text.c_str()); });
    spin(0.01);
    std::string out = console();
    ASSERT_EQ(out.size(), text.size() + 1);
    size_t hash = out.find('#');
    ASSERT_NE(hash, std::string::npos);
    EXPECT_GT(hash, 0u);
    EXPECT_LT(hash, text.size());
    out.erase(hash, 1);
    EXPECT_EQ(out, text);
}

// The terminal types at 57600 baud, faster than the 57471 the board echoes at, with no
// pause, while the foreground writes too: the receive buffer overflows now and then. The
// receiver must never lock up and no byte may come back twice.
TEST_F(Console, FloodNeverLocksUpTheReceiver) {
    const int kBytes = 10000;
    std::string sent;
    for (int i = 0; i < kBytes; ++i) sent.push_back(char('A' + i % 26));
    terminal.send(sent);
    double seconds = kBytes * 10 / 57600.0 + 0.05;
    runFor(seconds, [] {
        for (;;) writeString(UART1, "\n");  // foreground output interleaves with the echo
    });
    spin(0.01);  // the last echoes drain
    std::string echoed;
    for (char c : console())
        if (c != '\n') echoed.push_back(c);
    uint64_t lost = board.uart1.overruns();
    EXPECT_EQ(echoed.size() + lost, size_t(kBytes));
    RecordProperty("lost_to_overrun", int(lost));
    EXPECT_GT(lost, 0u) << "the flood should have overrun the receiver at least once";
    // The echo is the sent stream with the lost bytes cut out: a subsequence, in order.
    size_t j = 0;
    for (char c : sent)
        if (j < echoed.size() && echoed[j] == c) ++j;
    EXPECT_EQ(j, echoed.size());
    // Still alive afterwards.
    terminal.clear();
    terminal.send("ok");
    spin(0.01);
    std::string after = console();
    after.erase(std::remove(after.begin(), after.end(), '\n'), after.end());
    EXPECT_EQ(after, "ok");
}

}  // namespace
