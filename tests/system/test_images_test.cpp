// The small test images booted on the core simulator: calcIrms from the delivered
// irmsmeter module on the run-time's soft-float, fed from a scripted AN0, and the two
// images that must end in a software reset (an interrupt without a handler, an
// instruction the M4K does not have).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/devices/analog.h"
#include "tests/system/system_fixture.h"

namespace {

using systemtest::Booted;

// The image calls calcIrms(0, n) for n = 1, 2, 3, 0, -3. A call takes n + 1 conversions
// (one when n <= 0): the priming one, then one per sample.
TEST(IrmsImage, CalcIrmsGivesTheSinglePrecisionBitPatterns) {
    Booted d(systemtest::readImage(systemtest::kTestImages, "irms_test.elf"));
    auto& an0 = d.board.adc1.attach(0, sim::analog::CountSequence({
                                           512, 612,            // n = 1: 0.996 x 100 filtered once
                                           512, 612, 512,       // n = 2
                                           700, 700, 700, 700,  // n = 3: constant, nothing to filter
                                           512,                 // n = 0: 0 / 0
                                           512,                 // n = -3: 0 / -3
                                       }));
    d.runUntil(0.1);

    auto lines = d.lines();
    ASSERT_EQ(lines.size(), 6u) << d.console();
    EXPECT_EQ(lines[0], "411a1199");  // 9.629296
    EXPECT_EQ(lines[1], "40d9e34b");  // 6.8089957
    EXPECT_EQ(lines[2], "0");
    uint32_t nan = std::stoul(lines[3], nullptr, 16);
    EXPECT_EQ(nan & 0x7F800000u, 0x7F800000u) << lines[3] << ": exponent all ones";
    EXPECT_NE(nan & 0x007FFFFFu, 0u) << lines[3] << ": a NaN, not an infinity";
    EXPECT_EQ(lines[4], "80000000");  // negative zero
    EXPECT_EQ(lines[5], "done");

    EXPECT_EQ(an0.taken(), 11u) << "each call took exactly its conversions";
    for (const auto& c : d.board.adc1.conversions()) EXPECT_EQ(c.positive, 0u);
}

struct ResetCase {
    const char* name;
    const char* image;
};

class ResettingImage : public ::testing::TestWithParam<ResetCase> {};

// The run-time's default handlers run the unlock sequence and RSWRST: the device resets
// and the image boots again, for ever.
TEST_P(ResettingImage, EndsInASoftwareResetAndBootsAgain) {
    Booted d(systemtest::readImage(systemtest::kTestImages, GetParam().image));
    std::vector<sim::Cycles> times;  // the board keeps only the first few records
    d.board.resetListeners.add([&](const sim::ResetRecord& r) { times.push_back(r.time); });
    d.runUntil(0.02);

    const auto& resets = d.board.resets();
    ASSERT_GE(resets.count(), 5u) << d.console();
    for (const auto& r : resets.first()) EXPECT_EQ(r.cause, "software reset");
    EXPECT_EQ(resets.of("software reset"), resets.count()) << "every one, past the records kept too";
    EXPECT_EQ(d.core.stats().resets, resets.count());

    std::string text = d.console();
    EXPECT_EQ(text.find("not reset"), std::string::npos) << text;
    size_t boots = 0, at = 0;
    for (; text.compare(at, 6, "boot\r\n") == 0; at += 6) ++boots;
    EXPECT_EQ(std::string("boot\r\n").compare(0, text.size() - at, text, at), 0)
        << "nothing but \"boot\" lines, the last one perhaps cut off by the end of the run: " << text;
    EXPECT_GE(boots, resets.count());
    EXPECT_LE(boots, resets.count() + 1);
    // Each reset follows a boot line.
    ASSERT_EQ(times.size(), resets.count());
    for (size_t i = 0; i < resets.first().size(); ++i) EXPECT_EQ(resets.first()[i].time, times[i]);
    for (size_t i = 1; i < times.size(); ++i) {
        double apart = d.board.seconds(times[i] - times[i - 1]);
        EXPECT_GT(apart, 6 * 10 / 57600.0) << "six characters go out between two resets";
        EXPECT_LT(apart, 0.002);
    }
}

INSTANTIATE_TEST_SUITE_P(Images, ResettingImage,
                         ::testing::Values(ResetCase{"InterruptWithoutHandler", "no_handler_test.elf"},
                                           ResetCase{"InvalidInstruction", "invalid_instruction_test.elf"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ResettingImage, TheResetsComeFromTheirOwnCauses) {
    Booted interrupt(systemtest::readImage(systemtest::kTestImages, "no_handler_test.elf"));
    interrupt.runUntil(0.01);
    Booted invalid(systemtest::readImage(systemtest::kTestImages, "invalid_instruction_test.elf"));
    invalid.runUntil(0.01);
    ASSERT_GE(interrupt.board.resets().count(), 2u);
    ASSERT_GE(invalid.board.resets().count(), 2u);
    // One interrupt (the ADC's, into _DefaultInterrupt) per boot; the invalid instruction
    // takes an exception and no interrupt.
    EXPECT_GE(interrupt.core.stats().interrupts, interrupt.board.resets().count());
    EXPECT_EQ(invalid.core.stats().interrupts, 0u);
    EXPECT_GE(invalid.core.stats().exceptions, invalid.board.resets().count());
}

}  // namespace
