// The terminal types each burst at its own time, frame after frame at its own baud rate.
#include "tests/common/board_fixture.h"

namespace {

using TerminalTyping = BoardTest;

TEST_F(TerminalTyping, BurstsStartAtTheirOwnTimeAndFramesFollowBackToBack) {
    board.nets.record("U1RX");
    const sim::Cycles first = board.cycles(0.001), second = board.cycles(0.005);
    terminal.sendAt(first, "\xFF\xFF");  // 0xFF: the start bit is the frame's only falling edge
    terminal.sendAt(second, "\xFF");     // queued while the first burst is still waiting
    board.sched.advanceTo(board.cycles(0.01));
    std::vector<sim::Cycles> falls;
    for (const auto& c : board.nets.changesOf("U1RX"))
        if (!c.level) falls.push_back(c.time);
    ASSERT_EQ(falls.size(), 3u);
    EXPECT_EQ(falls[0], first);
    EXPECT_EQ(falls[1] - falls[0], board.cycles(10 / 57600.0));  // back to back
    EXPECT_EQ(falls[2], second);
}

}  // namespace
