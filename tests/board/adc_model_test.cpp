// ADC1 as the chip behaves when its registers are driven directly, and the analog sources
// that sit on its inputs.
#include <cmath>
#include <numbers>
#include <vector>

#include "sim/devices/analog.h"
#include "tests/common/board_fixture.h"

namespace {

namespace an = sim::analog;

constexpr uint32_t kOn = AD1CON1_ON.mask, kSamp = AD1CON1_SAMP.mask, kDone = AD1CON1_DONE.mask;
constexpr uint32_t kAutoConvert = AD1CON1_SSRC(7).value;

// Records when the converter takes the input and gives a fixed voltage.
struct Probe : an::Source {
    double volts = 1.0;
    std::vector<double> times;
    double sample(double seconds) override {
        times.push_back(seconds);
        return volts;
    }
};

class AdcModel : public BoardTest {
protected:
    uint32_t con1() { return board.bus.read(AD1CON1.address); }
    void write(uint32_t address, uint32_t v) { board.bus.write(address, v); }
    // The firmware's set-up: 15 TAD of sampling, TAD = 4 TPB, auto-convert.
    void configure(uint32_t con1Bits) {
        write(AD1CON3.address, (AD1CON3_SAMC(15) | AD1CON3_ADCS(1)).value);
        write(AD1CON1.address, kAutoConvert | con1Bits);
    }
    void advance(sim::Cycles c) { board.sched.advance(c); }
    sim::Cycles tad() { return board.adc1.tadCycles(); }
};

TEST_F(AdcModel, DoesNothingWhileOff) {
    auto& script = board.adc1.attach(4, an::CountSequence({300}));
    write(AD1CHS.address, AD1CHS_CH0SA(4u).value);
    configure(kSamp);  // SAMP set with ON = 0
    advance(board.cycles(100e-6));
    EXPECT_EQ(con1() & (kSamp | kDone), kSamp);
    EXPECT_EQ(script.taken(), 0u);
    EXPECT_TRUE(board.adc1.conversions().empty());

    // Switching on with SAMP set starts the sampling there.
    sim::Cycles on = board.now();
    write(AD1CON1SET.address, kOn);
    advance(27 * tad());
    ASSERT_EQ(board.adc1.conversions().size(), 1u);
    EXPECT_EQ(board.adc1.conversions()[0].sampleStart, on);
    EXPECT_EQ(board.bus.read(ADC1BUF0.address), 300u);

    // Switching off in the middle of a conversion drops it.
    write(AD1CON1SET.address, kSamp);
    advance(20 * tad());
    write(AD1CON1CLR.address, kOn);
    advance(100 * tad());
    EXPECT_EQ(board.adc1.conversions().size(), 1u);
    EXPECT_EQ(con1() & kDone, 0u);  // the started conversion had cleared it
}

TEST_F(AdcModel, SamplesForSamcTadThenConvertsForTwelveDoneStaysUntilTheNext) {
    Probe probe;
    board.adc1.attach(7, probe);
    write(AD1CHS.address, AD1CHS_CH0SA(7u).value);
    configure(kOn);
    ASSERT_EQ(tad(), 4u);  // 2 x (ADCS + 1) TPB at PBDIV 1:1

    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        sim::Cycles start = board.now();
        write(AD1CON1SET.address, kSamp);
        advance(15 * tad() - 1);
        uint32_t lateInSampling = con1();
        EXPECT_EQ(lateInSampling & kSamp, kSamp);
        // DONE still shows the previous conversion until this one begins.
        EXPECT_EQ(lateInSampling & kDone, round == 0 ? 0u : kDone);
        advance(1);
        EXPECT_EQ(con1() & (kSamp | kDone), 0u);
        ASSERT_EQ(probe.times.size(), size_t(round + 1));
        EXPECT_EQ(board.cycles(probe.times[round]), start + 15 * tad());
        advance(12 * tad() - 1);
        EXPECT_EQ(con1() & kDone, 0u);
        advance(1);
        EXPECT_EQ(con1() & kDone, kDone);
        EXPECT_EQ(board.bus.read(ADC1BUF0.address), an::countOf(1.0));
        advance(10 * tad());
        EXPECT_EQ(con1() & kDone, kDone);
    }
}

TEST_F(AdcModel, ManualModeConvertsWhenSoftwareEndsSampling) {
    board.adc1.attach(2, an::Constant(an::voltsOf(123)));
    write(AD1CHS.address, AD1CHS_CH0SA(2u).value);
    write(AD1CON3.address, (AD1CON3_SAMC(15) | AD1CON3_ADCS(1)).value);
    write(AD1CON1.address, kOn | kSamp);  // SSRC = 000
    advance(1000 * tad());
    EXPECT_TRUE(board.adc1.conversions().empty());
    write(AD1CON1CLR.address, kSamp);
    advance(12 * tad());
    ASSERT_EQ(board.adc1.conversions().size(), 1u);
    EXPECT_EQ(board.adc1.conversions()[0].sampleEnd - board.adc1.conversions()[0].sampleStart, 1000 * tad());
    EXPECT_EQ(board.bus.read(ADC1BUF0.address), 123u);
}

// The input the multiplexer sees depends on the pin, not only on the source.
TEST_F(AdcModel, PinModeDecidesWhatReachesTheConverter) {
    struct Case {
        const char* name;
        uint32_t ad1pcfg, trisb, latb;
        uint32_t expected;
    };
    const Case cases[] = {
        {"analog input", 0x0000, 0xFFFF, 0, 640},
        {"digital mode: cut off", 1u << 9, 0xFFFF, 0, 0},
        {"analog, driven high by the port", 0x0000, ~(1u << 9) & 0xFFFF, 1u << 9, 1023},
        {"analog, driven low by the port", 0x0000, ~(1u << 9) & 0xFFFF, 0, 0},
    };
    board.adc1.attach(9, an::Constant(an::voltsOf(640)));
    write(AD1CHS.address, AD1CHS_CH0SA(9u).value);
    configure(kOn);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        write(AD1PCFG.address, c.ad1pcfg);
        write(LATB.address, c.latb);
        write(TRISB.address, c.trisb);
        write(AD1CON1SET.address, kSamp);
        advance(27 * tad());
        EXPECT_EQ(board.bus.read(ADC1BUF0.address), c.expected);
    }
}

TEST_F(AdcModel, ResultFormats) {
    // 700 and 100 in each FORM; the signed formats carry count - 512 (188 and -412).
    struct Case {
        const char* name;
        uint32_t above, below;
    };
    const Case cases[8] = {
        {"integer 16", 700, 100},
        {"signed integer 16", 188, 0xFE64},
        {"fractional 16", 700u << 6, 100u << 6},
        {"signed fractional 16", 188u << 6, 0x9900},
        {"integer 32", 700, 100},
        {"signed integer 32", 188, 0xFFFFFE64u},
        {"fractional 32", 700u << 22, 100u << 22},
        {"signed fractional 32", 188u << 22, 0x99000000u},
    };
    board.adc1.attach(0, an::Constant(an::voltsOf(700)));
    board.adc1.attach(1, an::Constant(an::voltsOf(100)));
    auto convert = [&](unsigned channel, uint32_t form) {
        write(AD1CHS.address, AD1CHS_CH0SA(channel).value);
        configure(kOn | AD1CON1_FORM(form).value);
        write(AD1CON1SET.address, kSamp);
        advance(27 * tad());
        return board.bus.read(ADC1BUF0.address);
    };
    for (uint32_t form = 0; form < 8; ++form) {
        SCOPED_TRACE(cases[form].name);
        EXPECT_EQ(convert(0, form), cases[form].above);
        EXPECT_EQ(convert(1, form), cases[form].below);
    }
}

TEST(AnalogSources, SineWithBiasPhaseAndRepeatableNoise) {
    an::Sine clean({.bias = 1.65, .amplitude = 1.0, .frequency = 50, .phase = std::numbers::pi / 2});
    EXPECT_DOUBLE_EQ(clean.sample(0.0), 2.65);
    EXPECT_NEAR(clean.sample(0.01), 0.65, 1e-12);  // half a period later
    EXPECT_NEAR(clean.sample(0.005), 1.65, 1e-12);

    const an::SineParams noisy{.bias = 1.0, .amplitude = 0.0, .noiseRms = 0.05, .seed = 42};
    an::Sine a(noisy), b(noisy), other({.bias = 1.0, .amplitude = 0.0, .noiseRms = 0.05, .seed = 43});
    double sum = 0, sumSq = 0;
    bool differs = false;
    const int n = 20000;
    for (int i = 0; i < n; ++i) {
        double va = a.sample(i * 1e-6);
        ASSERT_EQ(va, b.sample(i * 1e-6));
        differs |= va != other.sample(i * 1e-6);
        sum += va - 1.0;
        sumSq += (va - 1.0) * (va - 1.0);
    }
    EXPECT_TRUE(differs);
    EXPECT_NEAR(sum / n, 0.0, 0.002);
    EXPECT_NEAR(std::sqrt(sumSq / n), 0.05, 0.002);
}

TEST(AnalogSources, CountsAndVoltsRoundTripAndClamp) {
    an::CountSequence script({0, 1, 511, 1023});
    for (unsigned expected : {0u, 1u, 511u, 1023u, 1023u}) EXPECT_EQ(an::countOf(script.sample(0)), expected);
    EXPECT_EQ(script.taken(), 5u);
    EXPECT_EQ(an::countOf(-0.2), 0u);
    EXPECT_EQ(an::countOf(3.5), 1023u);
    EXPECT_EQ(an::countOf(1.65), 512u);  // mid-scale bias
    EXPECT_EQ(an::countOf(an::voltsOf(700) - an::voltsOf(100)), 600u);
}

}  // namespace
