// clockdemo.elf booted from the reset vector on the core simulator: the console, the I2C
// trace of setting and reading the clock chip, the LED, typed input echoed by the UART1
// interrupt handler, the board's clock taken from the image's configuration words, and
// fast-forward changing nothing that crosses a pin.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tests/system/system_fixture.h"

namespace {

using systemtest::Booted;
using Lines = std::vector<std::string>;

sim::Image clockdemo() { return systemtest::readImage(systemtest::kImages, "clockdemo.elf"); }

std::string hexByte(unsigned v) {
    char b[8];
    std::snprintf(b, sizeof b, "0x%02X", v);
    return b;
}

// Console bytes that start a time line (not the "init" line), with their times.
std::vector<sim::Cycles> lineStarts(const sim::Terminal& t) {
    std::vector<sim::Cycles> out;
    bool atLineStart = true;
    for (const auto& b : t.received()) {
        if (atLineStart && b.value >= '0' && b.value <= '9') out.push_back(b.start);
        atLineStart = b.value == '\n';
    }
    return out;
}

TEST(ClockDemoImage, SetsTheClockThenPrintsItOnceASecondAsTheI2cTraceShows) {
    Booted d(clockdemo());
    EXPECT_EQ(d.board.sysclkHz(), 80000000u) << "8 MHz / 2 x 20 / 1 from the image's DEVCFG2";
    d.runUntil(5.0);
    EXPECT_EQ(d.console(),
              "init i2c true\r\n"
              "2:10:5-3-3/1/14ok\r\n"
              "2:10:6-3-3/1/14ok\r\n"
              "2:10:7-3-3/1/14ok\r\n"
              "2:10:8-3-3/1/14ok\r\n"
              "2:10:9-3-3/1/14ok\r\n");

    // setTimeDate(5, 10, 2, 3, 3, 1, 14) once, then each second the register pointer and
    // the seven time registers, the seconds counting in BCD.
    Lines expected = {"START", "0xA2 (0x51 W) ACK", "0x02 ACK", "0x05 ACK", "0x10 ACK", "0x02 ACK",
                      "0x03 ACK", "0x03 ACK", "0x01 ACK", "0x14 ACK", "STOP"};
    for (unsigned sec = 5; sec <= 9; ++sec) {
        Lines pass = {"START", "0xA2 (0x51 W) ACK", "0x02 ACK", "STOP", "START", "0xA3 (0x51 R) ACK",
                      hexByte(sec) + " ACK", "0x10 ACK", "0x02 ACK", "0x03 ACK", "0x03 ACK", "0x01 ACK",
                      "0x14 NACK", "STOP"};
        expected.insert(expected.end(), pass.begin(), pass.end());
    }
    EXPECT_EQ(d.i2c.lines(), expected);
    EXPECT_TRUE(d.board.resets().empty());
}

TEST(ClockDemoImage, LedOnRd1ChangesStateOnceALineJustBeforeIt) {
    Booted d(clockdemo());
    d.runUntil(4.5);
    auto led = d.board.nets.changesOf("RD1");
    auto starts = lineStarts(d.terminal);
    ASSERT_EQ(starts.size(), 5u);
    ASSERT_EQ(led.size(), starts.size());
    for (size_t i = 0; i < led.size(); ++i) {
        SCOPED_TRACE("line " + std::to_string(i));
        EXPECT_EQ(led[i].level, i % 2 == 0) << "driven low by initDigitalIO, then inverted";
        EXPECT_LT(led[i].time, starts[i]);
        EXPECT_LT(d.board.seconds(starts[i] - led[i].time), 0.005) << "the read and the formatting only";
        if (i) {
            double period = d.board.seconds(led[i].time - led[i - 1].time);
            EXPECT_GT(period, 1.000) << "delayms(1000) plus the pass";
            EXPECT_LT(period, 1.010);
        }
    }
}

TEST(ClockDemoImage, TypedInputIsEchoedByTheInterruptHandlerBetweenTheLines) {
    Booted d(clockdemo());
    d.terminal.sendAt(d.board.cycles(0.5), "hi!");
    d.runUntil(2.5);
    EXPECT_EQ(d.console(),
              "init i2c true\r\n"
              "2:10:5-3-3/1/14ok\r\n"
              "hi!2:10:6-3-3/1/14ok\r\n"
              "2:10:7-3-3/1/14ok\r\n");
    EXPECT_EQ(d.core.stats().interrupts, 3u) << "one UART1 receive interrupt per byte";

    // Each echo follows its byte as soon as the handler has run.
    const auto& rx = d.board.nets.changesOf("U1RX");
    ASSERT_FALSE(rx.empty());
    const auto& out = d.terminal.received();
    auto echo = std::find_if(out.begin(), out.end(), [](const sim::ConsoleByte& b) { return b.value == 'h'; });
    ASSERT_NE(echo, out.end());
    double afterTyped = d.board.seconds(echo->start - rx.front().time);
    EXPECT_GT(afterTyped, 10 / 57600.0 * 0.9) << "not before the typed byte is complete";
    EXPECT_LT(afterTyped, 10 / 57600.0 + 50e-6);
}

// A DEVCFG2 with the PLL multiplier 15 instead of 20: the chip runs at 60 MHz while the
// firmware still computes its dividers for 80 MHz.
TEST(ClockDemoImage, AWrongConfigurationWordGivesAWrongClock) {
    sim::Image image = clockdemo();
    bool patched = false;
    for (auto& s : image.segments)
        if (s.address <= sim::phys::kConfigWords + 4 && s.address + s.bytes.size() >= sim::phys::kConfigWords + 8) {
            uint8_t* w = s.bytes.data() + (sim::phys::kConfigWords + 4 - s.address);
            uint32_t devcfg2;
            std::memcpy(&devcfg2, w, 4);
            ASSERT_EQ(devcfg2, 0xFFF879D9u);
            devcfg2 &= ~0x70u;  // FPLLMUL = 000: x15
            std::memcpy(w, &devcfg2, 4);
            patched = true;
        }
    ASSERT_TRUE(patched) << "DEVCFG2 not in the image";

    Booted d(image);
    EXPECT_EQ(d.board.sysclkHz(), 60000000u);
    d.runUntil(3.0);
    // U1BRG = 86 for 57600 baud at 80 MHz gives 43103 baud at 60 MHz: the shortest pulse
    // on the console's pin is one bit.
    auto tx = d.board.nets.changesOf("U1TX");
    ASSERT_GT(tx.size(), 10u);
    sim::Cycles bit = UINT64_MAX;
    for (size_t i = 1; i < tx.size(); ++i) bit = std::min(bit, tx[i].time - tx[i - 1].time);
    EXPECT_NEAR(double(d.board.sysclkHz()) / double(bit), 60e6 / (16 * 87), 1.0);
    // The terminal at 57600 baud cannot read it.
    EXPECT_EQ(d.console().find("init i2c"), std::string::npos) << d.console();
    // delayms(1000) counts 40 000 000 Count ticks, which now take 4/3 s.
    auto led = d.board.nets.changesOf("RD1");
    ASSERT_GE(led.size(), 2u);
    EXPECT_NEAR(d.board.seconds(led[1].time - led[0].time), 1000e-3 * 80 / 60, 0.02);
}

// Every trace, times included, with and without fast-forward; typed input lands both
// between two lines and inside one.
TEST(ClockDemoImage, FastForwardChangesNoTraceAndNoTime) {
    struct Run {
        std::vector<sim::ConsoleByte> console;
        std::vector<sim::PinChange> pins;
        std::string i2c;
        sim::CoreStats stats;
        sim::Cycles cycles;
    };
    const sim::Image image = clockdemo();
    auto run = [&](bool fastForward) {
        tools::ImageBoardOptions o;
        o.fastForward = fastForward;
        Booted d(image, o);
        d.terminal.sendAt(d.board.cycles(0.5), "#@*");
        // Typed while the second line goes out.
        d.terminal.sendAt(d.board.cycles(1.0095), "!$%&+=?", 20);
        d.runUntil(3.2);
        return Run{d.terminal.received(), d.board.nets.changes(), d.i2c.text(true), d.core.stats(), d.core.cycles()};
    };
    Run slow = run(false), fast = run(true);

    ASSERT_EQ(slow.console.size(), fast.console.size());
    for (size_t i = 0; i < slow.console.size(); ++i) {
        SCOPED_TRACE("console byte " + std::to_string(i));
        ASSERT_EQ(slow.console[i].value, fast.console[i].value);
        ASSERT_EQ(slow.console[i].start, fast.console[i].start);
        ASSERT_EQ(slow.console[i].end, fast.console[i].end);
    }
    ASSERT_EQ(slow.pins.size(), fast.pins.size());
    for (size_t i = 0; i < slow.pins.size(); ++i) {
        SCOPED_TRACE("pin change " + std::to_string(i));
        ASSERT_EQ(slow.pins[i].net, fast.pins[i].net);
        ASSERT_EQ(slow.pins[i].time, fast.pins[i].time);
        ASSERT_EQ(slow.pins[i].level, fast.pins[i].level);
    }
    EXPECT_EQ(slow.i2c, fast.i2c);
    EXPECT_EQ(slow.cycles, fast.cycles);
    EXPECT_EQ(slow.stats.interrupts, fast.stats.interrupts);
    EXPECT_EQ(slow.stats.instructions, fast.stats.instructions + fast.stats.skippedInstructions);

    std::string text;
    for (const auto& b : slow.console) text += char(b.value);
    EXPECT_NE(text.find("ok\r\n#@*2:10:"), std::string::npos) << text;
    EXPECT_EQ(text.find("2:10:6-3-3/1/14ok"), std::string::npos) << "echoes inside the second line: " << text;
    EXPECT_NE(text.find("\r\n2:10:7-3-3/1/14ok\r\n"), std::string::npos) << text;
    EXPECT_EQ(slow.stats.interrupts, 10u);
    EXPECT_GT(fast.stats.skippedCycles, fast.cycles * 9 / 10) << "the demo mostly waits";
}

}  // namespace
