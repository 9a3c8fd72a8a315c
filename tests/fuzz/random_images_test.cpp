// Random programs on the demo board, from fixed seeds: words drawn at random, and words
// drawn from the M4K's encodings (registers, immediates and offsets at random, loads and
// stores at the peripherals' registers and in RAM). Each runs a few milliseconds of
// virtual time with fast-forward on and off; it must not crash, and both runs must agree.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "fuzz/entries.h"
#include "platform/pic32mx_registers.h"
#include "sim/core/memory_map.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr sim::Cycles kRunCycles = 400000;  // 5 ms at 80 MHz
constexpr unsigned kImagesPerKind = 150;

constexpr uint32_t kProgram = 0x9D000000, kProgramBytes = 0x1000;

// Every register of the table, and whether it has CLR, SET and INV companions.
struct Sfr {
    uint32_t address;
    bool companions;
};
#define RANDOM_IMAGES_KIND_SFR true
#define RANDOM_IMAGES_KIND_DATA false
#define RANDOM_IMAGES_SFR(name, addr, kind, fields) Sfr{addr, RANDOM_IMAGES_KIND_##kind},
const Sfr kSfrs[] = {PIC32MX_REGISTERS(RANDOM_IMAGES_SFR)};
#undef RANDOM_IMAGES_SFR

// Base registers the program keeps: $s0 data RAM (KSEG1), $s1.. the upper halves that
// reach every register of the table with a 16-bit signed offset.
constexpr uint32_t kRamBase = 16, kFirstSfrBase = 17;
constexpr unsigned upperOf(uint32_t address) { return (address + 0x8000) >> 16; }
const std::vector<uint32_t>& sfrUppers() {
    static const std::vector<uint32_t> uppers = [] {
        std::vector<uint32_t> u;
        for (const Sfr& r : kSfrs)
            for (uint32_t a : {r.address, r.address + 0xC})
                if (std::find(u.begin(), u.end(), upperOf(a)) == u.end()) u.push_back(upperOf(a));
        return u;
    }();
    return uppers;
}

class Words {
public:
    explicit Words(uint32_t seed) : rng_(seed) {}
    uint32_t any() { return rng_(); }
    uint32_t below(uint32_t n) { return rng_() % n; }
    template <class T, size_t N>
    T pick(const T (&table)[N]) { return table[below(N)]; }

    // A word that decodes as an instruction the M4K has (now and then one it has not), at
    // `pc`. Jumps go forward (jr and jalr through random registers would mostly leave the
    // program), so that a run goes through the whole program.
    uint32_t instruction(uint32_t pc) {
        static const uint8_t special[] = {0, 2, 3, 4, 6, 7, 10, 11, 12, 13, 15, 16, 17, 18, 19,
                                          24, 25, 26, 27, 32, 33, 34, 35, 36, 37, 38, 39, 42, 43, 48, 52, 54};
        static const uint8_t regimm[] = {0, 1, 2, 3, 8, 9, 12, 16, 17};
        static const uint8_t loads[] = {32, 33, 34, 35, 36, 37, 38, 48};
        static const uint8_t stores[] = {40, 41, 42, 43, 46, 56, 47, 51};  // and cache, pref
        static const uint8_t special2[] = {0, 1, 2, 4, 5, 32, 33, 63};
        // CP0 registers the core has: (register, select).
        static const uint8_t cp0[][2] = {{9, 0}, {11, 0}, {12, 0}, {12, 1}, {12, 2}, {13, 0}, {14, 0},
                                         {15, 0}, {15, 1}, {16, 0}, {16, 1}, {23, 0}, {24, 0}, {30, 0}};
        const uint32_t rs = reg() << 21, rt = reg() << 16, rd = reg() << 11;
        switch (below(16)) {
            case 0:
            case 1:
            case 2: return pick(special) | rs | rt | rd | below(32) << 6;
            case 3: return 1u << 26 | rs | uint32_t(pick(regimm)) << 16 | branchOffset();
            case 4: {  // j, jal
                uint32_t target = std::min(pc + 4 * (2 + below(32)), kProgram + kProgramBytes - 8);
                return (2 + below(2)) << 26 | (target >> 2 & 0x3FFFFFF);
            }
            case 5: return (4 + below(4) + 16 * below(2)) << 26 | rs | rt | branchOffset();
            case 6:
            case 7: return (8 + below(7)) << 26 | rs | rt | (below(2) ? below(0x10000) : below(64));
            case 8: return 15u << 26 | rt | below(0x10000);  // lui
            case 9:
            case 10:
            case 11:
            case 12: {  // a register of the table (or a companion), or RAM
                uint32_t base, offset;
                if (below(4)) {
                    const Sfr& r = pick(kSfrs);
                    uint32_t a = r.address + (r.companions ? 4 * below(4) : 0);
                    const auto& uppers = sfrUppers();
                    base = kFirstSfrBase + uint32_t(std::find(uppers.begin(), uppers.end(), upperOf(a)) - uppers.begin());
                    offset = a - (upperOf(a) << 16);
                } else {
                    base = kRamBase, offset = 4 * below(0x2000);
                }
                offset += below(8) ? 0 : below(4);  // now and then a byte lane, or misaligned
                uint32_t op = below(2) ? pick(loads) : pick(stores);
                return op << 26 | base << 21 | rt | (offset & 0xFFFF);
            }
            case 13: {
                const auto& r = cp0[below(std::size(cp0))];
                // Not eret, deret or wait: the first two loop back to the last fault, and wait
                // sleeps for good unless an interrupt comes.
                static const uint32_t fixed[] = {0x000000C0 /* ehb */, 0x41606000 /* di */, 0x41606020 /* ei */};
                if (below(4) == 0) return pick(fixed) | (below(2) ? rt : 0);
                return 16u << 26 | (below(2) ? 4u : 0u) << 21 | rt | uint32_t(r[0]) << 11 | r[1];  // mtc0, mfc0
            }
            case 14: return 28u << 26 | rs | rt | rd | pick(special2);
            default: {
                static const uint8_t bshfl[] = {2, 16, 24};
                switch (below(3)) {
                    case 0: return 31u << 26 | rs | rt | rd | below(32) << 6 | 0;          // ext
                    case 1: return 31u << 26 | rs | rt | rd | below(32) << 6 | 4;          // ins
                    default: return 31u << 26 | rt | rd | uint32_t(pick(bshfl)) << 6 | 32;  // wsbh, seb, seh
                }
            }
        }
    }

private:
    std::mt19937 rng_;
    // Mostly $t0..$t7, so that the base registers stay; now and then any register but
    // $k0 and $k1, which the exception entry uses.
    uint32_t reg() {
        if (below(8)) return 8 + below(8);
        uint32_t r = below(30);
        return r < 26 ? r : r + 2;
    }
    // Mostly forward: a backward branch whose condition never changes loops to the end.
    uint32_t branchOffset() { return (below(32) ? 1 + below(16) : 0x10000 - 1 - below(16)) & 0xFFFF; }
};

// Boot flash: start-up that sets Status (BEV, no ERL), puts random values in $t0..$t7
// and jumps to the program; exception entries that go on after the faulting instruction (back to the
// program's start when the fault is outside it), an interrupt entry that returns, a debug
// entry that goes on after the sdbbp; configuration words of the demos, or random ones.
// Program flash: the program, which sets the base registers, then random words or random
// instructions, and starts over at its end with the registers as they are.
Bytes randomImage(uint32_t seed, bool instructions) {
    Words w(seed);
    Bytes image(sim::phys::kBootBytes + kProgramBytes, 0xFF);
    auto put = [&](size_t at, std::initializer_list<uint32_t> words) {
        for (uint32_t word : words) std::memcpy(&image[at], &word, 4), at += 4;
    };
    put(0, {0x3C080040 /* lui t0,0x40 */, 0x40886000 /* mtc0 t0,Status */, 0x000000C0 /* ehb */});
    for (uint32_t t = 8; t < 16; ++t)
        put(12 + 8 * (t - 8), {15u << 26 | t << 16 | w.below(0x10000) /* lui */, 13u << 26 | t << 21 | t << 16 | w.below(0x10000) /* ori */});
    put(76, {0x3C1F9D00 /* lui ra,0x9d00 */, 0x03E00008 /* jr ra */, 0});
    put(0x380, {0x401A7000 /* mfc0 k0,EPC */, 0x3C1B9D00 /* lui k1,0x9d00 */, 0x035BD823 /* subu k1,k0,k1 */,
                0x2F7B1000 /* sltiu k1,k1,0x1000 */, 0x13600005 /* beqz k1,restart */, 0x275A0004 /* addiu k0,k0,4 */,
                0x409A7000 /* mtc0 k0,EPC */, 0x000000C0 /* ehb */, 0x42000018 /* eret */, 0,
                0x3C1A9D00 /* restart: lui k0,0x9d00 */, 0x409A7000 /* mtc0 k0,EPC */, 0x000000C0 /* ehb */,
                0x42000018 /* eret */});
    put(0x400, {0x42000018 /* eret */});
    put(0x480, {0x401AC000 /* mfc0 k0,DEPC */, 0x275A0004 /* addiu k0,k0,4 */, 0x409AC000 /* mtc0 k0,DEPC */,
                0x000000C0 /* ehb */, 0x4200001F /* deret */});
    const size_t cfg = sim::phys::kConfigWords - sim::phys::kBoot;
    if (w.below(2))
        put(cfg, {0xFFFFFFFF, 0xFFF879D9, 0xFF6F0AFB, 0x7FFFFFFF});
    else
        put(cfg, {w.any(), w.any(), w.any(), w.any()});
    const size_t program = sim::phys::kBootBytes;
    size_t i = 0;
    auto lui = [](uint32_t reg, uint32_t upper) { return 15u << 26 | reg << 16 | upper; };
    put(program, {lui(kRamBase, 0xA000)});
    for (uint32_t b = 0; b < sfrUppers().size(); ++b) put(program + (i += 4), {lui(kFirstSfrBase + b, sfrUppers()[b])});
    for (i += 4; i + 8 < kProgramBytes; i += 4)
        put(program + i, {instructions ? w.instruction(kProgram + uint32_t(i)) : w.any()});
    put(program + kProgramBytes - 8, {0x08000000 | (kProgram >> 2 & 0x3FFFFFF) /* j program */, 0});
    return image;
}

class RandomImages : public ::testing::TestWithParam<bool> {};

TEST_P(RandomImages, RunWithoutFaultAndAlikeWithFastForward) {
    const bool instructions = GetParam();
    ASSERT_LE(kFirstSfrBase + sfrUppers().size(), 24u) << "the SFR bases fit in $s1..$s7";
    for (uint32_t seed = 1; seed <= kImagesPerKind; ++seed) {
        Bytes image = randomImage(seed + (instructions ? 1000 : 0), instructions);
        std::string fault = fuzzing::runImageInput(image, kRunCycles);
        if (fault.empty()) continue;
        // The image as a regression case for fuzz/regressions/image_run.
        std::string file = ::testing::TempDir() + "random-image-" + std::to_string(seed) + (instructions ? "-instructions" : "-words");
        std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(image.data()), std::streamsize(image.size()));
        ADD_FAILURE() << "seed " << seed << ": " << fault << " (image written to " << file << ")";
        return;
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, RandomImages, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Instructions" : "Words"; });

}  // namespace
