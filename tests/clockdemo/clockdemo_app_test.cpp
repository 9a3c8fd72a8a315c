// The clock demo's main from reset on a board built from its configuration words: the
// console transcript, the I2C trace, the LED, the seconds as the chip counts them, the
// demo without the chip, and console input echoed into the output.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/host/host_backend.h"
#include "sim/boards/board.h"
#include "sim/wires/i2c_bus.h"
#include "sim/devices/rtc_chip.h"
#include "sim/devices/terminal.h"

extern "C" int clockdemo_main(int argc, char** argv);
extern "C" const uint32_t firmware_config_words[3];

namespace {

using Lines = std::vector<std::string>;

sim::BoardConfig demoConfig() {
    sim::BoardConfig cfg;
    cfg.config.devcfg2 = firmware_config_words[0];
    cfg.config.devcfg1 = firmware_config_words[1];
    cfg.config.devcfg0 = firmware_config_words[2];
    return cfg;
}

// The demo's board: the clock chip (unless left out) and an analyser on the I2C bus, a
// terminal on the console, the LED's pin recorded.
struct DemoBoard {
    explicit DemoBoard(bool withChip = true, sim::Cycles firstTick = 0)
        : board(demoConfig()), terminal(board.sched, board.uart1.txNet(), board.uart1.rxNet(), board.sysclkHz()) {
        if (withChip) sim::RtcChip::attach(board, firstTick);
        analyser = &board.add<sim::I2cAnalyser>(board.sched, sim::RtcChip::busOf(board), board.sysclkHz());
        board.nets.record("RD1");
    }
    void run(double seconds) {
        platform::host::attach(&board);
        platform::host::run([] { clockdemo_main(0, nullptr); }, board.cycles(seconds));
        platform::host::attach(nullptr);
    }
    // Console lines without their "\r\n".
    Lines lines() const {
        Lines out;
        std::string text = terminal.text();
        for (size_t at = 0, end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2)
            out.push_back(text.substr(at, end - at));
        return out;
    }
    // Times at which the chip's address byte for a read went out.
    std::vector<sim::Cycles> readTimes() const {
        std::vector<sim::Cycles> out;
        for (const auto& e : analyser->events())
            if (e.kind == sim::I2cEvent::Kind::Byte && e.address && e.value == 0xA3) out.push_back(e.time);
        return out;
    }
    // The seconds field of each time line.
    std::vector<int> seconds() const {
        std::vector<int> out;
        for (const auto& l : lines()) {
            int h, m, s;
            if (std::sscanf(l.c_str(), "%d:%d:%d-", &h, &m, &s) == 3) out.push_back(s);
        }
        return out;
    }

    sim::Board board;
    sim::Terminal terminal;
    sim::I2cAnalyser* analyser = nullptr;
};

TEST(ClockDemo, BoardRunsAt80MHzFromTheImagesConfigurationWords) {
    DemoBoard d;
    EXPECT_EQ(d.board.sysclkHz(), 80000000u);
    EXPECT_EQ(d.board.pbclkHz(), 80000000u);
}

TEST(ClockDemo, FromResetSetsTheClockThenPrintsItOnceASecondWithTheLedToggling) {
    DemoBoard d;
    d.run(3.5);
    EXPECT_EQ(d.terminal.text(),
              "init i2c true\r\n"
              "2:10:5-3-3/1/14ok\r\n"
              "2:10:6-3-3/1/14ok\r\n"
              "2:10:7-3-3/1/14ok\r\n"
              "2:10:8-3-3/1/14ok\r\n");

    // On the wires: the clock set once, then the pointer write and the seven-byte read.
    const Lines expected = {
        "START", "0xA2 (0x51 W) ACK", "0x02 ACK", "0x05 ACK", "0x10 ACK", "0x02 ACK", "0x03 ACK",
        "0x03 ACK", "0x01 ACK", "0x14 ACK", "STOP",
        "START", "0xA2 (0x51 W) ACK", "0x02 ACK", "STOP",
        "START", "0xA3 (0x51 R) ACK", "0x05 ACK", "0x10 ACK", "0x02 ACK", "0x03 ACK", "0x03 ACK",
        "0x01 ACK", "0x14 NACK", "STOP",
    };
    Lines trace = d.analyser->lines();
    ASSERT_EQ(trace.size(), expected.size() + 3 * 14);
    trace.resize(expected.size());
    EXPECT_EQ(trace, expected);

    // RD1 changes state once per line, before the line is written.
    auto led = d.board.nets.changesOf("RD1");
    ASSERT_EQ(led.size(), 4u);
    std::vector<sim::Cycles> lineStarts;
    bool atLineStart = true;
    for (const auto& b : d.terminal.received()) {
        if (atLineStart && b.value != 'i') lineStarts.push_back(b.start);
        atLineStart = b.value == '\n';
    }
    ASSERT_EQ(lineStarts.size(), 4u);
    for (size_t i = 0; i < led.size(); ++i) {
        EXPECT_EQ(led[i].level, i % 2 == 0);
        EXPECT_LT(led[i].time, lineStarts[i]);
        if (i) {
            EXPECT_GT(led[i].time, lineStarts[i - 1]);
        }
    }
}

TEST(ClockDemo, SecondsNowAndThenAdvanceByTwo) {
    // A pass lasts 1000 ms plus the read and the line, so the reads drift later against
    // the chip's seconds by a few milliseconds per line. Measure the drift, then start the
    // chip's seconds just after the first read: the second boundary slips between the
    // second and the third read, and that line jumps by two.
    sim::Cycles r1, drift;
    {
        DemoBoard probe;
        probe.run(1.5);
        auto reads = probe.readTimes();
        ASSERT_EQ(reads.size(), 2u);
        r1 = reads[0];
        drift = reads[1] - reads[0] - probe.board.cycles(1.0);
        EXPECT_GT(probe.board.seconds(drift), 0.001);
        EXPECT_LT(probe.board.seconds(drift), 0.010);
    }
    DemoBoard d(true, r1 + drift * 3 / 2);
    d.run(5.2);
    EXPECT_EQ(d.seconds(), (std::vector<int>{5, 6, 8, 9, 10, 11}));
}

TEST(ClockDemo, WithoutTheChipEveryPassPrintsTheErrorAndAnAllZeroLine) {
    DemoBoard d(false);
    d.run(2.5);
    const std::string nack = "Error: Sent byte was not acknowledged\r\n";
    EXPECT_EQ(d.terminal.text(), "init i2c true\r\n" + nack + nack + "0:0:0-0-0/0/0ok\r\n" + nack +
                                     "0:0:0-0-0/0/0ok\r\n" + nack + "0:0:0-0-0/0/0ok\r\n");
    Lines trace = d.analyser->lines();
    trace.resize(3);
    EXPECT_EQ(trace, (Lines{"START", "0xA2 (0x51 W) NACK", "STOP"}));
}

TEST(ClockDemo, ConsoleInputIsEchoedIntoTheOutput) {
    DemoBoard d;
    d.terminal.sendAt(d.board.cycles(0.5), "#@*");  // between two lines
    // Typed while the second line goes out: the echoes land between its characters.
    const std::string burst = "!$%&+=?^~|";
    d.terminal.sendAt(d.board.cycles(1.008), burst, 30);
    d.run(2.5);
    std::string out = d.terminal.text();
    const std::string head = "init i2c true\r\n2:10:5-3-3/1/14ok\r\n#@*";
    EXPECT_EQ(out.substr(0, head.size()), head);
    const std::string all = "#@*" + burst;
    std::string typed, rest;
    bool inLine = false, inside = false;
    for (char c : out) {
        if (all.find(c) != std::string::npos) {
            typed += c;
            inside |= inLine;  // between two characters of a time line
        } else {
            rest += c;
            inLine = c != '\r' && c != '\n';
        }
    }
    EXPECT_EQ(typed, all);
    EXPECT_EQ(rest, "init i2c true\r\n2:10:5-3-3/1/14ok\r\n2:10:6-3-3/1/14ok\r\n2:10:7-3-3/1/14ok\r\n");
    EXPECT_TRUE(inside) << out;
}

}  // namespace
