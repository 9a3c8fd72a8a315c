// The run-time's C library functions and the formatter, against the host's C library.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

#include "runtime/runtime.h"

namespace {

constexpr unsigned char kGuard = 0xA5;

// A buffer with guard bytes all round, so that a write outside the span shows.
struct GuardedBuffer {
    unsigned char bytes[96];
    GuardedBuffer() { std::memset(bytes, kGuard, sizeof bytes); }
    unsigned char* at(size_t offset) { return bytes + 16 + offset; }
};

TEST(Libc, MemsetFillsExactlyTheSpanWithTheLowByte) {
    for (size_t offset = 0; offset < 4; ++offset) {
        for (size_t n = 0; n <= 40; ++n) {
            GuardedBuffer buffer;
            EXPECT_EQ(rt_memset(buffer.at(offset), 0x1C3, n), buffer.at(offset));
            GuardedBuffer expected;
            std::memset(expected.at(offset), 0xC3, n);
            ASSERT_EQ(0, std::memcmp(buffer.bytes, expected.bytes, sizeof buffer.bytes))
                << "offset " << offset << ", length " << n;
        }
    }
}

TEST(Libc, MemcpyCopiesExactlyTheSpan) {
    unsigned char source[64];
    for (size_t i = 0; i < sizeof source; ++i) source[i] = static_cast<unsigned char>(i * 37 + 1);
    for (size_t offset = 0; offset < 4; ++offset) {
        for (size_t n = 0; n <= 40; ++n) {
            GuardedBuffer buffer, expected;
            EXPECT_EQ(rt_memcpy(buffer.at(offset), source + 3, n), buffer.at(offset));
            std::memcpy(expected.at(offset), source + 3, n);
            ASSERT_EQ(0, std::memcmp(buffer.bytes, expected.bytes, sizeof buffer.bytes))
                << "offset " << offset << ", length " << n;
        }
    }
}

TEST(Libc, MemmoveHandlesOverlapInBothDirections) {
    for (int shift : {-5, -1, 0, 1, 5}) {
        for (size_t n : {0u, 1u, 7u, 30u}) {
            GuardedBuffer buffer, expected;
            for (size_t i = 0; i < 40; ++i) *buffer.at(i) = *expected.at(i) = static_cast<unsigned char>(i + 1);
            EXPECT_EQ(rt_memmove(buffer.at(8 + shift), buffer.at(8), n), buffer.at(8 + shift));
            std::memmove(expected.at(8 + shift), expected.at(8), n);
            ASSERT_EQ(0, std::memcmp(buffer.bytes, expected.bytes, sizeof buffer.bytes))
                << "shift " << shift << ", length " << n;
        }
    }
}

TEST(Libc, MemcmpOrdersBytesAsUnsignedAndStrlenCounts) {
    const unsigned char low[] = {1, 2, 0x7F}, high[] = {1, 2, 0x80};
    EXPECT_LT(rt_memcmp(low, high, 3), 0);
    EXPECT_GT(rt_memcmp(high, low, 3), 0);
    EXPECT_EQ(rt_memcmp(low, high, 2), 0);
    EXPECT_EQ(rt_memcmp(low, high, 0), 0);
    EXPECT_EQ(rt_strlen(""), 0u);
    EXPECT_EQ(rt_strlen("2:10:5-3-3/1/14"), 15u);
}

// Formats with the run-time's sprintf and the host's snprintf: same text, same count, and
// nothing written past the terminating zero.
#define EXPECT_FORMATS_AS_HOST(...)                                                      \
    do {                                                                                 \
        char mine[128], host[128];                                                       \
        std::memset(mine, kGuard, sizeof mine);                                          \
        const int written = rt_sprintf(mine, __VA_ARGS__);                               \
        const int expected = std::snprintf(host, sizeof host, __VA_ARGS__);              \
        EXPECT_EQ(std::string(mine), std::string(host));                                 \
        EXPECT_EQ(written, expected);                                                    \
        if (written >= 0 && written + 1 < int(sizeof mine)) {                            \
            EXPECT_EQ(static_cast<unsigned char>(mine[written + 1]), kGuard) << "overrun"; \
        }                                                                                \
    } while (0)

TEST(Format, ClockDemoLines) {
    // The demo's fields are unsigned bytes, promoted to int.
    struct Fields {
        uint8_t hr, mint, sec, wd, day, month, year;
    };
    const Fields readings[] = {
        {2, 10, 5, 3, 3, 1, 14},        // the time the demo sets
        {2, 10, 7, 3, 3, 1, 14},        // single-digit fields stay one digit
        {23, 59, 59, 6, 31, 12, 99},    // every field at its widest
        {0, 0, 0, 0, 0, 0, 0},          // no clock on the bus
        {255, 255, 255, 255, 255, 255, 255},  // an undecodable register
    };
    for (const Fields& f : readings)
        EXPECT_FORMATS_AS_HOST("%d:%d:%d-%d-%d/%d/%d", f.hr, f.mint, f.sec, f.wd, f.day, f.month, f.year);

    char line[100];
    rt_sprintf(line, "%d:%d:%d-%d-%d/%d/%d", 2, 10, 5, 3, 3, 1, 14);
    EXPECT_STREQ(line, "2:10:5-3-3/1/14");
}

TEST(Format, EveryConversion) {
    EXPECT_FORMATS_AS_HOST("%d %d %d %d", -1, -305, INT_MIN, INT_MAX);
    EXPECT_FORMATS_AS_HOST("%u %u %u", 0u, 4000000000u, UINT_MAX);
    EXPECT_FORMATS_AS_HOST("%x %x %x %x", 0u, 9u, 0xDEADBEEFu, UINT_MAX);
    EXPECT_FORMATS_AS_HOST("[%c%c%c]", 'o', 'k', '!');
    EXPECT_FORMATS_AS_HOST("%s|%s|%s", "init i2c true", "", "ok\r\n");
    EXPECT_FORMATS_AS_HOST("100%% %d%%", 42);
    EXPECT_FORMATS_AS_HOST("no conversions at all");
}

}  // namespace
