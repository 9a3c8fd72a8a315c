// The adc driver on the virtual ADC1: conversion timing, back-to-back reads, channel
// numbers. Clock demo profile: initADC is silent.
#include <vector>

#include "drivers/adc.h"
#include "platform/pic32mx.h"
#include "sim/devices/analog.h"
#include "tests/common/board_fixture.h"

namespace {

namespace an = sim::analog;

class Adc : public BoardTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(runFor(0.001, [] {
            bootSequence();
            initADC();
        }));
    }
    const std::vector<sim::AdcConversion>& conversions() const { return board.adc1.conversions(); }
};

// Peripheral bus divider as the firmware would change it: behind the system unlock.
void setPbdiv(uint32_t pbdiv) {
    SYSTEMUnlock();
    OSCCONbits.PBDIV = pbdiv;
    SYSTEMLock();
}

TEST_F(Adc, ReadTakesFifteenTadOfSamplingAndTwelveOfConversion) {
    EXPECT_EQ(console(), "");
    board.adc1.attach(5, an::Constant(2.0));
    // TAD = 4 TPB: 50 ns at 80 MHz, twice that at 40 MHz, eight times at 10 MHz.
    for (uint32_t pbdiv : {0u, 1u, 3u}) {
        SCOPED_TRACE(pbdiv);
        board.adc1.clearRecord();
        int count = -1;
        sim::Cycles start = 0, end = 0;
        ASSERT_TRUE(runFor(0.001, [&] {
            setPbdiv(pbdiv);
            start = board.now();
            count = readADC(5);
            end = board.now();
        }));
        EXPECT_EQ(count, int(an::countOf(2.0)));
        ASSERT_EQ(conversions().size(), 1u);
        const sim::AdcConversion& c = conversions()[0];
        const double tpb = double(1u << pbdiv) / 80e6;
        EXPECT_EQ(c.sampleEnd - c.sampleStart, board.cycles(15 * 4 * tpb));
        EXPECT_EQ(c.done - c.sampleEnd, board.cycles(12 * 4 * tpb));
        // The call: the converter's 27 TAD and a handful of register accesses around them.
        const double converter = 27 * 4 * tpb;
        EXPECT_GE(board.seconds(end - start), converter);
        EXPECT_LE(board.seconds(end - start), converter + 0.3e-6);
        if (pbdiv == 0) {
            EXPECT_NEAR(converter, 1.35e-6, 1e-12);
        }
    }
}

TEST_F(Adc, BackToBackReadsEachReturnTheirOwnConversion) {
    board.adc1.attach(2, an::CountSequence({100, 200, 300}));
    std::vector<int> got;
    std::vector<sim::Cycles> returned;
    ASSERT_TRUE(runFor(0.001, [&] {
        for (int i = 0; i < 3; ++i) {
            got.push_back(readADC(2));
            returned.push_back(board.now());
        }
    }));
    EXPECT_EQ(got, (std::vector<int>{100, 200, 300}));
    ASSERT_EQ(conversions().size(), 3u);
    // DONE was still set from the previous conversion when each later read began; every
    // read returned only after its own conversion was done.
    for (size_t i = 0; i < 3; ++i) EXPECT_GE(returned[i], conversions()[i].done);
}

TEST_F(Adc, ChannelNumberSelectsInputsByItsLowBitsAndSignExtension) {
    // ANk carries count 100 + 50 k: AN0 100, AN1 150, ..., AN13 750, AN15 850.
    for (unsigned k = 0; k < 16; ++k) board.adc1.attach(k, an::Constant(an::voltsOf(100 + 50 * k)));
    struct Case {
        int channel;
        int expected;
        unsigned positive;
        int negative;  // -1: AVSS
    };
    std::vector<Case> cases;
    for (int k = 0; k < 16; ++k) cases.push_back({k, 100 + 50 * k, unsigned(k), -1});
    const Case beyond[] = {
        {16, 100, 0, -1},   // only the low four bits reach CH0SA: AN0 again
        {31, 850, 15, -1},
        {127, 850, 15, -1},
        {-3, 600, 13, 1},   // 0xFD: AN13 against AN1, 750 - 150
        {-1, 700, 15, 1},   // 0xFF: AN15 against AN1
        {-15, 0, 1, 1},     // 0xF1: AN1 against itself
        {-16, 0, 0, 1},     // 0xF0: AN0 below AN1 clamps to 0
        {-128, 0, 0, 1},
    };
    cases.insert(cases.end(), std::begin(beyond), std::end(beyond));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.channel);
        board.adc1.clearRecord();
        int got = -1;
        ASSERT_TRUE(runFor(0.001, [&] { got = readADC(char(c.channel)); }));
        EXPECT_EQ(got, c.expected);
        ASSERT_EQ(conversions().size(), 1u);
        EXPECT_EQ(conversions()[0].positive, c.positive);
        EXPECT_EQ(conversions()[0].negative, c.negative);
        // The sign extension also reaches multiplexer B's fields, unused here.
        EXPECT_EQ(board.bus.at("AD1CHS").value() >> 24, c.channel < 0 ? 0x8Fu : 0u);
    }
}

}  // namespace
