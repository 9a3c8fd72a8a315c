// A virtual board with a terminal on the console, attached to the host backend so that
// driver calls in a test reach it.
#pragma once
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "platform/host/host_backend.h"
#include "sim/boards/board.h"
#include "sim/devices/terminal.h"

class BoardTest : public ::testing::Test {
protected:
    explicit BoardTest(const sim::BoardConfig& cfg = {})
        : board(cfg), terminal(board.sched, board.uart1.txNet(), board.uart1.rxNet(), board.sysclkHz()) {
        platform::host::attach(&board);
        platform::host::runtimeStartup();
    }
    ~BoardTest() override { platform::host::attach(nullptr); }

    // Runs firmware code for at most `seconds` of virtual time; false if the limit ended it
    // (or the device reset).
    bool runFor(double seconds, const std::function<void()>& body) {
        return platform::host::runFor(body, board.now() + board.cycles(seconds));
    }
    // Lets virtual time pass with the firmware idle (interrupts are still taken).
    void idle(double seconds) { platform::host::idle(board.cycles(seconds)); }

    double elapsedSince(sim::Cycles start) const { return board.seconds(board.now() - start); }
    std::string console() const { return terminal.text(); }

    sim::Board board;
    sim::Terminal terminal;
};

#include "platform/plib.h"

// What every main does first: performance set-up, then multi-vector interrupts on.
inline void bootSequence() {
    SYSTEMConfigPerformance(79999999);
    INTEnableSystemMultiVectoredInt();
}
