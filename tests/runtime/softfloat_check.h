// What the soft-float routines are checked with, in the test suite and in the long check:
// the host's SSE arithmetic as the reference (IEEE 754 single precision, round to nearest
// even, no flush to zero), the edge values, and a deterministic source of operands that
// leans on the cases uniform bit patterns rarely reach.
#pragma once
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>

#include "runtime/runtime.h"

namespace softfloat_check {

inline uint32_t bitsOf(float f) { return __builtin_bit_cast(uint32_t, f); }
inline float floatOf(uint32_t u) { return __builtin_bit_cast(float, u); }
inline bool isNaN(uint32_t x) { return (x & 0x7FFFFFFFu) > 0x7F800000u; }
// Bit for bit, except that any NaN matches any NaN.
inline bool same(uint32_t got, uint32_t want) { return got == want || (isNaN(got) && isNaN(want)); }

// Reference results from the host's FPU. Kept out of line so that nothing is folded at
// compile time with other rules.
[[gnu::noinline]] inline float hwAdd(float a, float b) { return a + b; }
[[gnu::noinline]] inline float hwSub(float a, float b) { return a - b; }
[[gnu::noinline]] inline float hwMul(float a, float b) { return a * b; }
[[gnu::noinline]] inline float hwDiv(float a, float b) { return a / b; }
[[gnu::noinline]] inline float hwSqrt(float a) { return std::sqrt(a); }

struct BinaryOperation {
    const char* name;
    float (*soft)(float, float);
    float (*hardware)(float, float);
};

inline const BinaryOperation kBinaryOperations[] = {
    {"add", rt___addsf3, hwAdd},
    {"sub", rt___subsf3, hwSub},
    {"mul", rt___mulsf3, hwMul},
    {"div", rt___divsf3, hwDiv},
};

// The seven libgcc comparisons, each read the way GCC reads it, against the host's.
inline bool comparisonsAgree(float a, float b) {
    return (rt___eqsf2(a, b) == 0) == (a == b) && (rt___nesf2(a, b) != 0) == (a != b) &&
           (rt___ltsf2(a, b) < 0) == (a < b) && (rt___lesf2(a, b) <= 0) == (a <= b) &&
           (rt___gtsf2(a, b) > 0) == (a > b) && (rt___gesf2(a, b) >= 0) == (a >= b) &&
           (rt___unordsf2(a, b) != 0) == std::isunordered(a, b);
}

// float to int as the routines define it: truncation, saturation outside the range, a NaN
// by its sign bit.
inline int32_t expectedFixSigned(float f) {
    if (std::isnan(f)) return std::signbit(f) ? INT32_MIN : INT32_MAX;
    if (f >= 2147483648.0f) return INT32_MAX;
    if (f < -2147483648.0f) return INT32_MIN;
    return int32_t(f);
}
inline uint32_t expectedFixUnsigned(float f) {
    if (std::isnan(f)) return std::signbit(f) ? 0 : UINT32_MAX;
    if (f >= 4294967296.0f) return UINT32_MAX;
    if (f <= -1.0f) return 0;
    return uint32_t(f);
}

// Every edge class, positive; the tests take each with both signs.
inline const uint32_t kEdgeValues[] = {
    0x00000000,  // zero
    0x00000001,  // smallest subnormal
    0x00000002, 0x00000003,  // subnormals whose halves are ties
    0x00400000,  // subnormal, 2^-127
    0x007FFFFF,  // largest subnormal
    0x00800000,  // smallest normal, 2^-126
    0x00800001, 0x00FFFFFF, 0x01000000,
    0x0C800000,  // 2^-102: squares and products land in the subnormals
    0x1F800000,  // 2^-64: squares reach 2^-128, just below the normals
    0x33800000,  // 2^-24: half an ulp of 1, a tie when added to 1
    0x33800001, 0x337FFFFF, 0x34000000,
    0x3F000000,  // 0.5: halves subnormals (ties) and the smallest normal
    0x3F7FFFFF,  // 1 - 2^-24
    0x3F800000,  // 1
    0x3F800001,  // 1 + 2^-23
    0x3F800002, 0x3FBFFFFF, 0x3FC00000,  // ..., 1.5
    0x40000000,  // 2
    0x40400000,  // 3: division by 3 is never exact
    0x40490FDB,  // pi
    0x4B000000,  // 2^23: integer spacing 1
    0x4B7FFFFF, 0x4B800000, 0x4B800001,  // around 2^24
    0x4F000000,  // 2^31
    0x5F800000,  // 2^64: squares reach 2^128, overflow
    0x72FFFFFF, 0x73000000,  // just below and at half an ulp of the largest normal
    0x7E800000,  // 2^126
    0x7F000000,  // 2^127
    0x7F7FFFFE, 0x7F7FFFFF,  // largest normals
    0x7F800000,  // infinity
    0x7FC00000,  // quiet NaN
    0x7F800001,  // signalling NaN
    0x7FFFFFFF,  // NaN with a full payload
};

// splitmix64: small, fast and the same sequence everywhere for a given seed.
class OperandSource {
public:
    explicit OperandSource(uint64_t seed) : state_(seed) {}

    uint32_t next() {
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return uint32_t((z ^ (z >> 31)) >> 32);
    }
    uint32_t below(uint32_t n) { return uint32_t((uint64_t(next()) * n) >> 32); }
    int32_t between(int32_t lo, int32_t hi) { return lo + int32_t(below(uint32_t(hi - lo + 1))); }

    // One operand: mostly uniform bit patterns, the rest from the classes they rarely hit.
    uint32_t single() {
        const uint32_t sign = next() & 0x80000000u;
        switch (below(8)) {
            case 0:  // subnormals and the exponents next to the extremes
                return sign | (extremeExponent() << 23) | fraction();
            case 1:  // few significant bits: exact results, and ties
                return sign | (below(256) << 23) | sparseFraction();
            case 2: {
                const uint32_t edge = kEdgeValues[below(sizeof kEdgeValues / sizeof kEdgeValues[0])];
                return sign | edge;
            }
            default:
                return next();
        }
    }

    // A pair for a binary operation; the exponents are often chosen together, so that the
    // result lands near 1, in the subnormals or at the overflow boundary, or that an
    // addition cancels.
    void pair(uint32_t& a, uint32_t& b) {
        a = single();
        b = single();
        const int32_t expA = int32_t((a >> 23) & 0xFF);
        switch (below(8)) {
            case 0:  // exponents close: alignment, cancellation, ties in add and sub
                b = withExponent(b, expA + between(-26, 26));
                break;
            case 1:  // product near 2^target: expA + expB - 127
                b = withExponent(b, resultTarget() + 127 - expA);
                break;
            case 2:  // quotient near 2^target: expA - expB + 127
                b = withExponent(b, expA + 127 - resultTarget());
                break;
            case 3:  // neighbours of a, either sign: equality and total cancellation
                b = ((a + uint32_t(between(-3, 3))) & 0x7FFFFFFFu) | (next() & 0x80000000u);
                break;
            default:
                break;
        }
    }

    // Nonnegative mostly, with exact squares and their neighbours among them.
    uint32_t radicand() {
        switch (below(4)) {
            case 0: {
                // A square with at most 24 significant bits is exact.
                const uint32_t root = uint32_t(between(50, 190)) << 23 | (sparseFraction() & 0x7FF000u);
                const uint32_t square = bitsOf(floatOf(root) * floatOf(root));
                return (square + uint32_t(between(-2, 2))) & 0x7FFFFFFFu;
            }
            case 1:
                return single();
            default:
                return single() & 0x7FFFFFFFu;
        }
    }

    // Integers for the conversions: every magnitude, values near powers of two, and values
    // whose dropped bits are exactly half an ulp.
    uint32_t integer() {
        switch (below(4)) {
            case 0:
                return next() >> below(32);
            case 1:
                return (1u << below(32)) + uint32_t(between(-4, 4));
            case 2: {
                const uint32_t shift = 1 + below(8);
                return ((next() >> 8) << shift) | (1u << (shift - 1));
            }
            default:
                return next();
        }
    }

private:
    uint32_t fraction() { return next() & 0x007FFFFFu; }
    uint32_t sparseFraction() {
        switch (below(3)) {
            case 0:
                return fraction() & (0x007FFFFFu << below(24)) & 0x007FFFFFu;
            case 1:
                return 0x007FFFFFu >> below(24);
            default:
                return 1u << below(23);
        }
    }
    uint32_t extremeExponent() { return below(2) ? below(4) : 251 + below(4); }
    // Result exponent near the bottom of the normals (or far below), near 1, or near the top.
    int32_t resultTarget() {
        switch (below(3)) {
            case 0:
                return between(-25, 3);
            case 1:
                return between(124, 130);
            default:
                return between(250, 256);
        }
    }
    // b with its exponent replaced, if that is a finite exponent; otherwise b as it was.
    static uint32_t withExponent(uint32_t b, int32_t exp) {
        if (exp < 0 || exp > 254) return b;
        return (b & 0x807FFFFFu) | (uint32_t(exp) << 23);
    }

    uint64_t state_;
};

inline std::string hex(uint32_t x) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", x);
    return text;
}

}  // namespace softfloat_check
