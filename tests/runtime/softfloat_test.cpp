// The soft-float routines against the host's IEEE hardware, bit for bit (any NaN matching
// any NaN): every pair of edge values, then millions of operands from a fixed seed.
#include <gtest/gtest.h>

#include <vector>

#include "tests/runtime/softfloat_check.h"

using namespace softfloat_check;

namespace softfloat_check {
// Test names and failure messages show the operation by its name.
void PrintTo(const BinaryOperation& op, std::ostream* os) { *os << op.name; }
}  // namespace softfloat_check

namespace {

constexpr int kRandomOperands = 4'000'000;
constexpr uint32_t kMinusOne = 0x80000000u | 0x3F800000u;  // the sign bit and 1.0f

std::vector<uint32_t> edgeValuesBothSigns() {
    std::vector<uint32_t> values;
    for (uint32_t v : kEdgeValues) {
        values.push_back(v);
        values.push_back(v | 0x80000000u);
    }
    return values;
}

// Counts disagreements and keeps the first few, so that a fault shows its operands
// without flooding the log.
struct Disagreements {
    uint64_t count = 0;
    std::string examples;
    void add(const std::string& what) {
        if (++count <= 5) examples += what + "\n";
    }
};

std::string binaryCase(const char* name, uint32_t a, uint32_t b, uint32_t got, uint32_t want) {
    return std::string(name) + "(" + hex(a) + ", " + hex(b) + ") = " + hex(got) + ", hardware " + hex(want);
}

class BinaryOperationTest : public ::testing::TestWithParam<BinaryOperation> {
protected:
    void check(uint32_t a, uint32_t b) {
        const BinaryOperation& op = GetParam();
        const uint32_t got = bitsOf(op.soft(floatOf(a), floatOf(b)));
        const uint32_t want = bitsOf(op.hardware(floatOf(a), floatOf(b)));
        if (!same(got, want)) wrong.add(binaryCase(op.name, a, b, got, want));
    }
    Disagreements wrong;
};

TEST_P(BinaryOperationTest, EveryPairOfEdgeValues) {
    const std::vector<uint32_t> values = edgeValuesBothSigns();
    for (uint32_t a : values) {
        for (uint32_t b : values) check(a, b);
    }
    EXPECT_EQ(wrong.count, 0u) << wrong.examples;
}

TEST_P(BinaryOperationTest, MillionsOfOperands) {
    OperandSource source(0x5EED0000u + uint64_t(GetParam().name[0]) * 7919 + GetParam().name[1]);
    for (int i = 0; i < kRandomOperands; ++i) {
        uint32_t a, b;
        source.pair(a, b);
        check(a, b);
    }
    EXPECT_EQ(wrong.count, 0u) << wrong.examples;
}

INSTANTIATE_TEST_SUITE_P(SoftFloat, BinaryOperationTest, ::testing::ValuesIn(kBinaryOperations),
                         [](const ::testing::TestParamInfo<BinaryOperation>& info) {
                             return std::string(info.param.name);
                         });

// Boundaries with their IEEE results written out: they hold for the routines and for the
// reference alike, so a host that flushed subnormals or rounded otherwise would show here
// and not pass the comparisons unnoticed.
TEST(SoftFloat, RoundingBoundariesGiveTheIeeeResults) {
    struct Case {
        const char* what;
        const BinaryOperation* op;
        uint32_t a, b, result;
    };
    const BinaryOperation* add = &kBinaryOperations[0];
    const BinaryOperation* sub = &kBinaryOperations[1];
    const BinaryOperation* mul = &kBinaryOperations[2];
    const BinaryOperation* div = &kBinaryOperations[3];
    const Case cases[] = {
        {"1 + half an ulp: tie to even, down", add, 0x3F800000, 0x33800000, 0x3F800000},
        {"(1 + ulp) + half an ulp: tie to even, up", add, 0x3F800001, 0x33800000, 0x3F800002},
        {"1 + just over half an ulp rounds up", add, 0x3F800000, 0x33800001, 0x3F800001},
        {"largest + half its ulp: tie rounds to infinity", add, 0x7F7FFFFF, 0x73000000, 0x7F800000},
        {"largest + just under half its ulp stays", add, 0x7F7FFFFF, 0x72FFFFFF, 0x7F7FFFFF},
        {"smallest normal - largest subnormal: exact subnormal", sub, 0x00800000, 0x007FFFFF, 0x00000001},
        {"x - x is +0", sub, 0x40490FDB, 0x40490FDB, 0x00000000},
        {"-0 + -0 is -0", add, 0x80000000, 0x80000000, 0x80000000},
        {"half of 3 subnormal ulps: tie to even", mul, 0x00000003, 0x3F000000, 0x00000002},
        {"half the smallest normal is subnormal", mul, 0x00800000, 0x3F000000, 0x00400000},
        {"half the smallest subnormal: tie to even zero", mul, 0x00000001, 0x3F000000, 0x00000000},
        {"smallest normal x (1 - 2^-24) rounds up to it", mul, 0x00800000, 0x3F7FFFFF, 0x00800000},
        {"2^127 x 2 overflows", mul, 0x7F000000, 0x40000000, 0x7F800000},
        {"subnormal / 2^-23 is normal", div, 0x00000001, 0x34000000, 0x00800000},
        {"1 / 3", div, 0x3F800000, 0x40400000, 0x3EAAAAAB},
        {"smallest subnormal / 2: tie to even zero", div, 0x00000001, 0x40000000, 0x00000000},
        {"3 subnormal ulps / 2: tie to even", div, 0x00000003, 0x40000000, 0x00000002},
        {"1 / 0 is infinity", div, 0x3F800000, 0x00000000, 0x7F800000},
        {"-1 / +0 is -infinity", div, kMinusOne, 0x00000000, 0xFF800000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(hex(bitsOf(c.op->soft(floatOf(c.a), floatOf(c.b)))), hex(c.result));
        EXPECT_EQ(hex(bitsOf(c.op->hardware(floatOf(c.a), floatOf(c.b)))), hex(c.result));
    }
}

TEST(SoftFloat, InvalidOperationsGiveNaNAndNaNOperandsPropagate) {
    const uint32_t inf = 0x7F800000, ninf = 0xFF800000, zero = 0, one = 0x3F800000;
    EXPECT_TRUE(isNaN(bitsOf(rt___addsf3(floatOf(inf), floatOf(ninf)))));
    EXPECT_TRUE(isNaN(bitsOf(rt___subsf3(floatOf(inf), floatOf(inf)))));
    EXPECT_TRUE(isNaN(bitsOf(rt___mulsf3(floatOf(zero), floatOf(ninf)))));
    EXPECT_TRUE(isNaN(bitsOf(rt___divsf3(floatOf(zero), floatOf(zero)))));
    EXPECT_TRUE(isNaN(bitsOf(rt___divsf3(floatOf(ninf), floatOf(inf)))));
    EXPECT_TRUE(isNaN(bitsOf(rt_sqrtf(floatOf(kMinusOne)))));
    // A signalling NaN comes back quiet, with its payload.
    EXPECT_EQ(hex(bitsOf(rt___mulsf3(floatOf(0x7F800123), floatOf(one)))), hex(0x7FC00123));
    EXPECT_EQ(hex(bitsOf(rt___addsf3(floatOf(one), floatOf(0xFFC00042)))), hex(0xFFC00042));
    EXPECT_EQ(hex(bitsOf(rt_sqrtf(floatOf(0x7F800001)))), hex(0x7FC00001));
}

TEST(SoftFloat, SquareRootOfEdgeValuesAndMillionsOfOperands) {
    Disagreements wrong;
    auto check = [&](uint32_t a) {
        const uint32_t got = bitsOf(rt_sqrtf(floatOf(a)));
        const uint32_t want = bitsOf(hwSqrt(floatOf(a)));
        if (!same(got, want)) wrong.add("sqrtf(" + hex(a) + ") = " + hex(got) + ", hardware " + hex(want));
    };
    for (uint32_t a : edgeValuesBothSigns()) check(a);
    // Every subnormal's root is normal: run through a stretch of them, and of 1..4.
    for (uint32_t a = 0x00000001; a < 0x00100000; ++a) check(a);
    for (uint32_t a = 0x3F800000; a < 0x40800000; a += 7) check(a);
    OperandSource source(0x5EED5047);
    for (int i = 0; i < kRandomOperands; ++i) check(source.radicand());
    EXPECT_EQ(wrong.count, 0u) << wrong.examples;
}

TEST(SoftFloat, ComparisonsFollowLibgccConventions) {
    const float one = 1.0f, two = 2.0f, nan = floatOf(0x7FC00000);
    EXPECT_LT(rt___ltsf2(one, two), 0);
    EXPECT_EQ(rt___lesf2(-0.0f, 0.0f), 0);
    EXPECT_GT(rt___gesf2(two, one), 0);
    // Unordered: lt/le positive and gt/ge negative, so that every relation reads false.
    EXPECT_GT(rt___ltsf2(nan, one), 0);
    EXPECT_GT(rt___lesf2(one, nan), 0);
    EXPECT_LT(rt___gtsf2(nan, one), 0);
    EXPECT_LT(rt___gesf2(one, nan), 0);
    EXPECT_NE(rt___eqsf2(nan, nan), 0);
    EXPECT_NE(rt___unordsf2(one, nan), 0);
    EXPECT_EQ(rt___unordsf2(one, two), 0);
}

TEST(SoftFloat, ComparisonsOfEdgeValuesAndMillionsOfOperands) {
    Disagreements wrong;
    auto check = [&](uint32_t a, uint32_t b) {
        if (!comparisonsAgree(floatOf(a), floatOf(b))) wrong.add("compare(" + hex(a) + ", " + hex(b) + ")");
    };
    const std::vector<uint32_t> values = edgeValuesBothSigns();
    for (uint32_t a : values) {
        for (uint32_t b : values) check(a, b);
    }
    OperandSource source(0x5EEDC0DE);
    for (int i = 0; i < kRandomOperands; ++i) {
        uint32_t a, b;
        source.pair(a, b);
        check(a, b);
    }
    EXPECT_EQ(wrong.count, 0u) << wrong.examples;
}

TEST(SoftFloat, IntegersToFloat) {
    Disagreements wrong;
    auto check = [&](uint32_t i) {
        const uint32_t gotSigned = bitsOf(rt___floatsisf(int32_t(i)));
        const uint32_t wantSigned = bitsOf(float(int32_t(i)));
        if (gotSigned != wantSigned)
            wrong.add("floatsisf(" + std::to_string(int32_t(i)) + ") = " + hex(gotSigned) + ", hardware " + hex(wantSigned));
        const uint32_t gotUnsigned = bitsOf(rt___floatunsisf(i));
        const uint32_t wantUnsigned = bitsOf(float(i));
        if (gotUnsigned != wantUnsigned)
            wrong.add("floatunsisf(" + std::to_string(i) + ") = " + hex(gotUnsigned) + ", hardware " + hex(wantUnsigned));
    };
    // Around every power of two, where the rounding starts and where the ties sit.
    for (int shift = 0; shift < 32; ++shift) {
        for (int delta = -260; delta <= 260; ++delta) check((1u << shift) + uint32_t(delta));
    }
    for (uint32_t i : {0u, 0x7FFFFFFFu, 0x80000000u, 0x80000001u, 0xFFFFFFFFu, 0x00FFFFFFu, 0x01000001u,
                       0x01000003u, 0x7FFFFFC0u, 0x7FFFFF80u, 0xFFFFFF80u, 0xFFFFFF7Fu})
        check(i);
    OperandSource source(0x5EED1275);
    for (int i = 0; i < 4 * kRandomOperands; ++i) check(source.integer());
    EXPECT_EQ(wrong.count, 0u) << wrong.examples;
}

TEST(SoftFloat, FloatToIntegerTruncatesAndSaturates) {
    Disagreements wrong;
    auto check = [&](uint32_t a) {
        const float f = floatOf(a);
        if (rt___fixsfsi(f) != expectedFixSigned(f))
            wrong.add("fixsfsi(" + hex(a) + ") = " + std::to_string(rt___fixsfsi(f)));
        if (rt___fixunssfsi(f) != expectedFixUnsigned(f))
            wrong.add("fixunssfsi(" + hex(a) + ") = " + std::to_string(rt___fixunssfsi(f)));
    };
    for (uint32_t a : edgeValuesBothSigns()) check(a);
    // Both sides of the range limits: 2^31 and 2^32, and just below them.
    for (uint32_t a : {0x4EFFFFFFu, 0x4F000000u, 0xCF000000u, 0xCF000001u, 0x4F7FFFFFu, 0x4F800000u, 0xBF7FFFFFu,
                       kMinusOne})
        check(a);
    OperandSource source(0x5EEDF1C5);
    for (int i = 0; i < kRandomOperands; ++i) check(source.single());
    EXPECT_EQ(wrong.count, 0u) << wrong.examples;

    EXPECT_EQ(rt___fixsfsi(-2147483648.0f), INT32_MIN);
    EXPECT_EQ(rt___fixsfsi(3e9f), INT32_MAX);
    EXPECT_EQ(rt___fixsfsi(-3.99f), -3);
    EXPECT_EQ(rt___fixunssfsi(4294967040.0f), 4294967040u);
    EXPECT_EQ(rt___fixunssfsi(-5.0f), 0u);
}

}  // namespace
