// calcIrms on the virtual board: bit-exact single-precision results for scripted
// conversions, and a 1 V RMS sine measured through the converter at the rate the
// firmware's back-to-back sampling achieves.
#include <cmath>
#include <numbers>
#include <cstring>
#include <vector>

#include "drivers/adc.h"
#include "measure/irmsmeter/irmsmeter.h"
#include "sim/devices/analog.h"
#include "tests/common/board_fixture.h"

namespace {

namespace an = sim::analog;

constexpr unsigned kPin = 6;

uint32_t bitsOf(float f) {
    uint32_t u;
    std::memcpy(&u, &f, sizeof u);
    return u;
}

// Counts of bias + amplitude x sin(2 pi k / 100), k = 0..n: 100 samples per period.
std::vector<unsigned> sineCounts(double biasVolts, double rmsVolts, int n) {
    std::vector<unsigned> counts;
    const double peak = std::sqrt(2.0) * rmsVolts;
    for (int k = 0; k <= n; ++k)
        counts.push_back(an::countOf(biasVolts + peak * std::sin(2 * std::numbers::pi * k / 100)));
    return counts;
}

class Irms : public BoardTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(runFor(0.001, [] {
            bootSequence();
            initADC();
        }));
    }

    float measure(int pin, int count) {
        float result = -1;
        EXPECT_TRUE(runFor(1.0, [&] { result = calcIrms(pin, count); }));
        return result;
    }
    // calcIrms over scripted conversions on kPin; `conversions` gets how many it took.
    float scripted(const std::vector<unsigned>& counts, int count, size_t* conversions = nullptr, int pin = kPin) {
        auto& script = board.adc1.attach(kPin, an::CountSequence(counts));
        float result = measure(pin, count);
        if (conversions) *conversions = script.taken();
        return result;
    }
};

TEST_F(Irms, ScriptedConversionsGiveExactSinglePrecisionResults) {
    struct Case {
        const char* name;
        std::vector<unsigned> counts;  // the priming conversion first
        int count;
        uint32_t bits;
        size_t conversions;
        int pin = kPin;
    };
    const Case cases[] = {
        {"one step of 100", {512, 612}, 1, 0x411A1199, 2},
        {"up and back", {512, 612, 512}, 2, 0x40D9E34B, 3},
        // Here the rounding shows in the last bits: the sample difference formed in
        // integers, a fused multiply-add, 0.996 taken in double, or the filter, the sum or
        // the root kept in double give 0x422AE9F8 to 0x422AE9FA.
        {"rounded step by step", {835, 888, 520, 135}, 3, 0x422AE9F7, 4},
        {"constant input", {700, 700, 700, 700, 700, 700}, 5, 0x00000000, 6},
        {"constant at full scale", {1023, 1023}, 1, 0x00000000, 2},
        {"0 / negative count is negative zero", {512, 612}, -3, 0x80000000, 1},
        // char parameter of readADC: only the pin's low eight bits select the input.
        {"pin beyond eight bits", {512, 612}, 1, 0x411A1199, 2, int(kPin) + 256},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        size_t taken = 0;
        float got = scripted(c.counts, c.count, &taken, c.pin);
        EXPECT_EQ(bitsOf(got), c.bits) << got;
        EXPECT_EQ(taken, c.conversions);
    }

    size_t taken = 0;
    EXPECT_TRUE(std::isnan(scripted({512, 612}, 0, &taken)));  // 0 / 0
    EXPECT_EQ(taken, 1u);
}

TEST_F(Irms, EqualCallsGiveEqualResults) {
    // Both calls see the same conversions; nothing of the first may reach the second.
    const std::vector<unsigned> once = sineCounts(1.65, 0.3, 50);
    std::vector<unsigned> twice = once;
    twice.insert(twice.end(), once.begin(), once.end());
    board.adc1.attach(kPin, an::CountSequence(twice));
    float first = measure(kPin, 50), second = measure(kPin, 50);
    EXPECT_EQ(bitsOf(first), bitsOf(second));
    EXPECT_GT(first, 0.0f);
}

TEST_F(Irms, OneVoltRmsSineOnMidScaleBiasReadsAboutIcal) {
    // 20 periods of 100 samples; the priming conversion falls on a zero crossing. The
    // high-pass filter's own attenuation and the quantisation leave 29.86 rather than 30.
    float irms = scripted(sineCounts(1.65, 1.0, 2000), 2000);
    EXPECT_NEAR(irms, 29.86f, 0.005f);
}

TEST_F(Irms, OneVoltRmsSineThroughTheConverterAtTheFirmwaresOwnRate) {
    // calcIrms samples back to back: the sampling rate is whatever one readADC and one
    // pass of the loop take. Find it on a short run first.
    board.adc1.attach(kPin, an::Constant(1.65));
    sim::Cycles call = board.now();
    measure(kPin, 10);
    const std::vector<sim::AdcConversion> probe = board.adc1.conversions();
    ASSERT_EQ(probe.size(), 11u);
    const sim::Cycles period = probe[1].sampleEnd - probe[0].sampleEnd;
    for (size_t i = 1; i < probe.size(); ++i) EXPECT_EQ(probe[i].sampleEnd - probe[i - 1].sampleEnd, period);
    EXPECT_GE(period, 27 * board.adc1.tadCycles());  // never faster than the converter
    const sim::Cycles primingDelay = probe[0].sampleEnd - call;

    // A sine at a hundredth of that rate gets 100 samples per period, as the scripted
    // measurement has. Its phase puts the priming conversion on a zero crossing: the
    // filter starts at rest, so a priming sample away from the bias would leave a decaying
    // offset in the first few hundred samples and shift the result by several percent.
    const double samplePeriod = board.seconds(period);
    const double frequency = 1.0 / (100 * samplePeriod);
    const double primingAt = board.seconds(board.now() + primingDelay);
    board.adc1.attach(kPin, an::Sine({.bias = 1.65,
                                      .amplitude = std::sqrt(2.0),
                                      .frequency = frequency,
                                      .phase = -2 * std::numbers::pi * frequency * primingAt}));
    board.adc1.clearRecord();
    float irms = measure(kPin, 2000);

    const auto& conv = board.adc1.conversions();
    ASSERT_EQ(conv.size(), 2001u);
    EXPECT_NEAR(board.seconds(conv.back().sampleEnd - conv.front().sampleEnd), 20 / frequency, samplePeriod / 100);
    EXPECT_NEAR(irms, 29.86f, 0.005f);
    EXPECT_NEAR(irms, scripted(sineCounts(1.65, 1.0, 2000), 2000), 0.002f);
}

}  // namespace
