// A board with the clock chip and a logic analyser on the I2C bus (RD9/RD10), and bit
// timing measured from the recorded wires.
#pragma once
#include <algorithm>
#include <string>
#include <vector>

#include "drivers/i2c.h"
#include "drivers/uart.h"
#include "sim/wires/i2c_bus.h"
#include "sim/devices/rtc_chip.h"
#include "tests/common/board_fixture.h"

class I2cBoardTest : public BoardTest {
protected:
    I2cBoardTest()
        : sda(board.description().i2c1Sda.name()),
          scl(board.description().i2c1Scl.name()),
          chip(sim::RtcChip::attach(board)),
          analyser(board.add<sim::I2cAnalyser>(board.sched, sim::RtcChip::busOf(board), board.sysclkHz())) {
        board.nets.record(sda);
        board.nets.record(scl);
    }

    // Start-up, console and I2C1, as a main does them; returns what they wrote, and
    // starts the records afresh.
    std::string bringUp() {
        EXPECT_TRUE(runFor(0.01, [] {
            bootSequence();
            initUART();
            initI2C(I2C1);
        }));
        std::string out = console();
        clearRecords();
        return out;
    }
    void clearRecords() {
        terminal.clear();
        analyser.clear();
        board.nets.clearRecord();
    }
    // Firmware code that must finish within `seconds` of virtual time.
    void run(const std::function<void()>& body, double seconds = 0.1) { ASSERT_TRUE(runFor(seconds, body)); }
    std::vector<std::string> trace() const { return analyser.lines(); }

    const std::string sda, scl;  // the I2C1 nets
    sim::RtcChip& chip;
    sim::I2cAnalyser& analyser;
};

// Bit timing of the recorded SDA/SCL changes, in microseconds.
struct I2cWireTiming {
    std::vector<double> sclHigh, sclLow;  // clock pulses; an idle bus's high time is not one
    std::vector<double> risePeriods;  // SCL rise to the next SCL rise
    std::vector<double> startHold;    // START (SDA falls, SCL high) to SCL falling
    std::vector<double> stopSetup;    // SCL rising to the STOP (SDA rises, SCL high)
    unsigned starts = 0, stops = 0;

    static double min(const std::vector<double>& v) { return v.empty() ? 0 : *std::min_element(v.begin(), v.end()); }
    static double max(const std::vector<double>& v) { return v.empty() ? 0 : *std::max_element(v.begin(), v.end()); }
    // How many values lie within 1 ns of `value`.
    static size_t countNear(const std::vector<double>& v, double value) {
        return size_t(std::count_if(v.begin(), v.end(), [&](double x) { return x > value - 0.001 && x < value + 0.001; }));
    }
};

inline I2cWireTiming measureI2cTiming(const sim::Board& board) {
    I2cWireTiming t;
    const std::string sdaNet = board.description().i2c1Sda.name(), sclNet = board.description().i2c1Scl.name();
    bool sda = true, scl = true, startPending = false, conditionWhileHigh = false;
    sim::Cycles lastRise = 0, lastFall = 0, startAt = 0;
    bool seenRise = false, seenFall = false;
    auto us = [&](sim::Cycles c) { return board.seconds(c) * 1e6; };
    for (const auto& c : board.nets.changes()) {
        if (c.net == sclNet) {
            scl = c.level;
            if (scl) {
                if (seenFall) t.sclLow.push_back(us(c.time - lastFall));
                if (seenRise) t.risePeriods.push_back(us(c.time - lastRise));
                lastRise = c.time;
                seenRise = true;
            } else {
                if (seenRise && !conditionWhileHigh) t.sclHigh.push_back(us(c.time - lastRise));
                conditionWhileHigh = false;
                if (startPending) t.startHold.push_back(us(c.time - startAt));
                startPending = false;
                lastFall = c.time;
                seenFall = true;
            }
        } else if (c.net == sdaNet) {
            sda = c.level;
            if (!scl) continue;
            conditionWhileHigh = true;
            if (!sda) {
                ++t.starts;
                startPending = true;
                startAt = c.time;
            } else {
                ++t.stops;
                if (seenRise) t.stopSetup.push_back(us(c.time - lastRise));
            }
        }
    }
    return t;
}
