// Single-precision arithmetic for the M4K core, which has no floating-point unit: the
// routines GCC calls for float operations under -msoft-float, and sqrtf.
//
// Everything works on the bit patterns with integer instructions only (32-bit, and the
// 32 x 32 -> 64 multiply and constant 64-bit shifts the core does inline), so none of it can
// call back into a soft-float or libgcc helper. Results are rounded to nearest, ties to
// even; subnormal operands and results are kept, never flushed to zero; there are no
// exception flags. A NaN operand comes back as a NaN with the quiet bit (bit 22) set and its
// payload kept; an invalid operation (inf - inf, 0 x inf, 0 / 0, inf / inf, the root of a
// negative number) gives 0x7FC00000.
#include "runtime/runtime.h"

namespace {

constexpr uint32_t kSign = 0x80000000u;
constexpr uint32_t kMagnitude = 0x7FFFFFFFu;
constexpr uint32_t kInfinity = 0x7F800000u;
constexpr uint32_t kQuietBit = 0x00400000u;
constexpr uint32_t kDefaultNaN = 0x7FC00000u;
constexpr uint32_t kHiddenBit = 0x00800000u;

inline uint32_t bitsOf(float f) { return __builtin_bit_cast(uint32_t, f); }
inline float floatOf(uint32_t u) { return __builtin_bit_cast(float, u); }
inline int32_t exponentOf(uint32_t x) { return int32_t((x >> 23) & 0xFF); }
inline uint32_t fractionOf(uint32_t x) { return x & 0x007FFFFFu; }
inline bool isNaN(uint32_t x) { return (x & kMagnitude) > kInfinity; }
inline bool isZero(uint32_t x) { return (x & kMagnitude) == 0; }
inline uint32_t propagateNaN(uint32_t a, uint32_t b) { return (isNaN(a) ? a : b) | kQuietBit; }

// Shift right, ORing every bit shifted out into bit 0, so that an inexact result stays
// visibly inexact for the rounding.
uint32_t shiftRightJam(uint32_t x, int32_t dist) {
    if (dist <= 0) return x;
    if (dist >= 31) return x != 0;
    return (x >> dist) | ((x << (32 - dist)) != 0);
}

// Significand of a nonzero finite operand with its leading one at bit 23, and the exponent
// that goes with it: a subnormal gets an exponent of 0 or below.
void unpack(uint32_t x, uint32_t& sig, int32_t& exp) {
    sig = fractionOf(x);
    exp = exponentOf(x);
    if (exp != 0) {
        sig |= kHiddenBit;
    } else {
        const int32_t shift = __builtin_clz(sig) - 8;
        sig <<= shift;
        exp = 1 - shift;
    }
}

// The one rounding step. The value is sig x 2^(exp - 156): sig carries 7 bits below the
// last place of the result and, when normalized, its leading one at bit 30; exp is then
// the biased exponent of the result less one, as the leading one adds itself into the
// exponent field when packed. A carry out of the significand while rounding moves into the
// exponent the same way: the largest normal number rounds up to exactly the infinity
// pattern, and a subnormal that rounds up to 2^-126 becomes the smallest normal number.
uint32_t roundPack(uint32_t sign, int32_t exp, uint32_t sig) {
    if (exp < 0) {
        sig = shiftRightJam(sig, -exp);
        exp = 0;
    } else if (exp > 0xFD) {
        return sign | kInfinity;
    }
    const uint32_t roundBits = sig & 0x7F;
    sig = (sig + 0x40) >> 7;
    if (roundBits == 0x40) sig &= ~1u;  // a tie goes to the even neighbour
    return sign + (uint32_t(exp) << 23) + sig;
}

uint32_t add(uint32_t a, uint32_t b) {
    if (exponentOf(a) == 0xFF || exponentOf(b) == 0xFF) {
        if (isNaN(a) || isNaN(b)) return propagateNaN(a, b);
        if (exponentOf(a) != 0xFF) return b;
        if (exponentOf(b) == 0xFF && ((a ^ b) & kSign)) return kDefaultNaN;
        return a;
    }
    // a is the larger magnitude; the result has its sign unless it is an exact zero.
    if ((a & kMagnitude) < (b & kMagnitude)) {
        const uint32_t t = a;
        a = b;
        b = t;
    }
    int32_t expA = exponentOf(a), expB = exponentOf(b);
    uint32_t sigA = fractionOf(a), sigB = fractionOf(b);
    if (expA != 0) sigA |= kHiddenBit; else expA = 1;
    if (expB != 0) sigB |= kHiddenBit; else expB = 1;
    // Six guard bits: exact for an exponent difference of up to one, where cancellation can
    // be heavy; beyond that the jammed bit keeps the rounding right.
    sigA <<= 6;
    sigB = shiftRightJam(sigB << 6, expA - expB);
    const uint32_t sig = ((a ^ b) & kSign) ? sigA - sigB : sigA + sigB;
    if (sig == 0) return (a ^ b) & kSign ? 0 : a & kSign;  // x - x is +0, -0 + -0 is -0
    const int32_t shift = __builtin_clz(sig) - 1;
    return roundPack(a & kSign, expA - shift, sig << shift);
}

uint32_t multiply(uint32_t a, uint32_t b) {
    const uint32_t sign = (a ^ b) & kSign;
    if (exponentOf(a) == 0xFF || exponentOf(b) == 0xFF) {
        if (isNaN(a) || isNaN(b)) return propagateNaN(a, b);
        if (isZero(a) || isZero(b)) return kDefaultNaN;
        return sign | kInfinity;
    }
    if (isZero(a) || isZero(b)) return sign;
    uint32_t sigA, sigB;
    int32_t expA, expB;
    unpack(a, sigA, expA);
    unpack(b, sigB, expB);
    int32_t exp = expA + expB - 127;
    // Leading ones at 30 and 31: the product's is at 61 or 62; keep it at 62.
    uint64_t product = uint64_t(sigA << 7) * uint64_t(sigB << 8);
    if (product < (uint64_t(1) << 62)) {
        product <<= 1;
        --exp;
    }
    const uint32_t sig = uint32_t(product >> 32) | (uint32_t(product) != 0);
    return roundPack(sign, exp, sig);
}

uint32_t divide(uint32_t a, uint32_t b) {
    const uint32_t sign = (a ^ b) & kSign;
    if (exponentOf(a) == 0xFF) {
        if (isNaN(a) || isNaN(b)) return propagateNaN(a, b);
        if (exponentOf(b) == 0xFF) return kDefaultNaN;
        return sign | kInfinity;
    }
    if (exponentOf(b) == 0xFF) return isNaN(b) ? propagateNaN(a, b) : sign;
    if (isZero(b)) return isZero(a) ? kDefaultNaN : sign | kInfinity;
    if (isZero(a)) return sign;
    uint32_t sigA, sigB;
    int32_t expA, expB;
    unpack(a, sigA, expA);
    unpack(b, sigB, expB);
    int32_t exp = expA - expB + 126;
    if (sigA < sigB) {
        sigA <<= 1;
        --exp;
    }
    // Restoring division, one quotient bit per step: 31 bits with the leading one at 30,
    // and the remainder tells whether the quotient is exact. Without a branch on the bit,
    // which costs the same on the M4K and is much faster where branches are predicted.
    uint32_t quotient = 0, remainder = sigA;
    for (int i = 0; i < 31; ++i) {
        const uint32_t bit = remainder >= sigB;
        remainder -= sigB & (0u - bit);
        quotient = (quotient << 1) | bit;
        remainder <<= 1;
    }
    return roundPack(sign, exp, quotient | (remainder != 0));
}

uint32_t squareRoot(uint32_t a) {
    if (isNaN(a)) return a | kQuietBit;
    if (isZero(a)) return a;  // the root of -0 is -0
    if (a & kSign) return kDefaultNaN;
    if (a == kInfinity) return a;
    uint32_t sig;
    int32_t exp;
    unpack(a, sig, exp);
    // a = sig x 2^(exp - 150). Scale sig by 2^37 or 2^38, whichever leaves an even power of
    // two, and take the integer root of that 61- or 62-bit number, two bits at a time: 31
    // root bits with the leading one at 30, and the remainder tells whether it is exact.
    const int32_t power = exp - 150;
    const int32_t scale = (power - 37) & 1 ? 38 : 37;
    // Built from its high word: a variable 64-bit shift would be a libgcc call.
    uint64_t radicand = uint64_t(sig << (scale - 32)) << 32;
    uint64_t remainder = 0;
    uint32_t root = 0;
    for (int i = 0; i < 31; ++i) {
        remainder = (remainder << 2) | uint32_t(radicand >> 60);
        radicand = (radicand << 2) & ((uint64_t(1) << 62) - 1);
        const uint64_t trial = (uint64_t(root) << 2) | 1;
        root <<= 1;
        if (remainder >= trial) {
            remainder -= trial;
            root |= 1;
        }
    }
    return roundPack(0, 156 + (power - scale) / 2, root | (remainder != 0));
}

// Signed magnitude to an integer that orders the same way; both zeros map to 0.
inline int32_t orderKey(uint32_t x) {
    const int32_t magnitude = int32_t(x & kMagnitude);
    return (x & kSign) ? -magnitude : magnitude;
}

inline int compareOrdered(uint32_t a, uint32_t b) {
    const int32_t ka = orderKey(a), kb = orderKey(b);
    return (ka > kb) - (ka < kb);
}

uint32_t fromMagnitude(uint32_t sign, uint32_t magnitude) {
    if (magnitude == 0) return 0;
    const int32_t lead = __builtin_clz(magnitude);
    const uint32_t sig = lead ? magnitude << (lead - 1) : shiftRightJam(magnitude, 1);
    return roundPack(sign, 157 - lead, sig);
}

// Magnitude of a finite value of at least 1 and below 2^32, truncated.
inline uint32_t truncatedMagnitude(uint32_t a) {
    const int32_t exp = exponentOf(a);
    const uint32_t sig = fractionOf(a) | kHiddenBit;
    return exp >= 150 ? sig << (exp - 150) : sig >> (150 - exp);
}

}  // namespace

extern "C" {

float RT_NAME(__addsf3)(float a, float b) RT_NOEXCEPT { return floatOf(add(bitsOf(a), bitsOf(b))); }

float RT_NAME(__subsf3)(float a, float b) RT_NOEXCEPT {
    return floatOf(add(bitsOf(a), bitsOf(b) ^ kSign));
}

float RT_NAME(__mulsf3)(float a, float b) RT_NOEXCEPT {
    return floatOf(multiply(bitsOf(a), bitsOf(b)));
}

float RT_NAME(__divsf3)(float a, float b) RT_NOEXCEPT { return floatOf(divide(bitsOf(a), bitsOf(b))); }

float RT_NAME(sqrtf)(float a) RT_NOEXCEPT { return floatOf(squareRoot(bitsOf(a))); }

float RT_NAME(__floatsisf)(int32_t i) RT_NOEXCEPT {
    return i < 0 ? floatOf(fromMagnitude(kSign, 0u - uint32_t(i))) : floatOf(fromMagnitude(0, uint32_t(i)));
}

float RT_NAME(__floatunsisf)(uint32_t u) RT_NOEXCEPT { return floatOf(fromMagnitude(0, u)); }

int32_t RT_NAME(__fixsfsi)(float f) RT_NOEXCEPT {
    const uint32_t a = bitsOf(f);
    if (exponentOf(a) < 127) return 0;
    if (exponentOf(a) >= 127 + 31) return (a & kSign) ? INT32_MIN : INT32_MAX;
    const uint32_t magnitude = truncatedMagnitude(a);
    return (a & kSign) ? int32_t(0u - magnitude) : int32_t(magnitude);
}

uint32_t RT_NAME(__fixunssfsi)(float f) RT_NOEXCEPT {
    const uint32_t a = bitsOf(f);
    if (exponentOf(a) < 127 || (a & kSign)) return 0;
    if (exponentOf(a) >= 127 + 32) return UINT32_MAX;
    return truncatedMagnitude(a);
}

int RT_NAME(__eqsf2)(float a, float b) RT_NOEXCEPT {
    const uint32_t x = bitsOf(a), y = bitsOf(b);
    return (isNaN(x) || isNaN(y)) ? 1 : compareOrdered(x, y) != 0;
}

int RT_NAME(__nesf2)(float a, float b) RT_NOEXCEPT { return RT_NAME(__eqsf2)(a, b); }

int RT_NAME(__ltsf2)(float a, float b) RT_NOEXCEPT {
    const uint32_t x = bitsOf(a), y = bitsOf(b);
    return (isNaN(x) || isNaN(y)) ? 2 : compareOrdered(x, y);
}

int RT_NAME(__lesf2)(float a, float b) RT_NOEXCEPT { return RT_NAME(__ltsf2)(a, b); }

int RT_NAME(__gtsf2)(float a, float b) RT_NOEXCEPT {
    const uint32_t x = bitsOf(a), y = bitsOf(b);
    return (isNaN(x) || isNaN(y)) ? -2 : compareOrdered(x, y);
}

int RT_NAME(__gesf2)(float a, float b) RT_NOEXCEPT { return RT_NAME(__gtsf2)(a, b); }

int RT_NAME(__unordsf2)(float a, float b) RT_NOEXCEPT { return isNaN(bitsOf(a)) || isNaN(bitsOf(b)); }

}  // extern "C"
