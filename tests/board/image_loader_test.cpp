// Firmware images into the simulated memories: ELF and Intel HEX, good and malformed.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "sim/core/image_loader.h"
#include "sim/core/memory_map.h"

namespace {

using Bytes = std::vector<uint8_t>;

const sim::MemoryLayout kMx440 = sim::MemoryLayout::forChip(sim::Chip::MX440F256H);
const sim::MemoryLayout kMx795 = sim::MemoryLayout::forChip(sim::Chip::MX795F512L);

void put16(Bytes& b, size_t at, uint16_t v) { std::memcpy(&b[at], &v, 2); }
void put32(Bytes& b, size_t at, uint32_t v) { std::memcpy(&b[at], &v, 4); }

struct Segment {
    uint32_t paddr;
    Bytes bytes;
    uint32_t type = 1;  // PT_LOAD
    uint32_t memsz = 0;  // 0: the file size
};

// A minimal ELF32 little-endian MIPS executable: header, program headers, contents.
Bytes makeElf(const std::vector<Segment>& segs) {
    Bytes f(52 + 32 * segs.size());
    std::memcpy(f.data(), "\x7F" "ELF", 4);
    f[4] = 1;  // 32-bit
    f[5] = 1;  // little-endian
    f[6] = 1;
    put16(f, 16, 2);  // ET_EXEC
    put16(f, 18, 8);  // EM_MIPS
    put32(f, 20, 1);
    put32(f, 24, 0xBFC00000);
    put32(f, 28, 52);
    put16(f, 40, 52);
    put16(f, 42, 32);
    put16(f, 44, uint16_t(segs.size()));
    for (size_t i = 0; i < segs.size(); ++i) {
        size_t ph = 52 + 32 * i;
        uint32_t offset = uint32_t(f.size());
        put32(f, ph, segs[i].type);
        put32(f, ph + 4, offset);
        put32(f, ph + 8, segs[i].paddr | 0x80000000u);
        put32(f, ph + 12, segs[i].paddr);
        put32(f, ph + 16, uint32_t(segs[i].bytes.size()));
        put32(f, ph + 20, segs[i].memsz ? segs[i].memsz : uint32_t(segs[i].bytes.size()));
        put32(f, ph + 24, 5);
        f.insert(f.end(), segs[i].bytes.begin(), segs[i].bytes.end());
    }
    return f;
}

std::string hexRecord(unsigned type, unsigned address, const Bytes& data) {
    uint8_t sum = uint8_t(data.size() + (address >> 8) + address + type);
    char buf[16];
    std::snprintf(buf, sizeof buf, ":%02X%04X%02X", unsigned(data.size()), address & 0xFFFF, type);
    std::string line = buf;
    for (uint8_t b : data) {
        std::snprintf(buf, sizeof buf, "%02X", b);
        line += buf;
        sum = uint8_t(sum + b);
    }
    std::snprintf(buf, sizeof buf, "%02X\n", uint8_t(-sum));
    return line + buf;
}

std::string goodHex() {
    return hexRecord(4, 0, {0x1D, 0x00}) + hexRecord(0, 0x0000, {0x01, 0x02, 0x03, 0x04}) +
           hexRecord(0, 0x0004, {0x05, 0x06}) + hexRecord(4, 0, {0x1F, 0xC0}) +
           hexRecord(0, 0x2FF4, {0xD9, 0x79, 0xF8, 0xFF, 0xFB, 0x0A, 0x6F, 0xFF}) +
           hexRecord(5, 0, {0xBF, 0xC0, 0x00, 0x00}) + hexRecord(1, 0, {});
}

std::string errorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const sim::ImageError& e) {
        return e.what();
    }
    return "(accepted)";
}

TEST(ImageLoader, ElfSegmentsLandAtTheirPhysicalAddresses) {
    Bytes code = {0x11, 0x22, 0x33, 0x44, 0x55};
    Bytes cfg(16);
    put32(cfg, 0, 0xFFFFFFFF);
    put32(cfg, 4, 0xFFF879D9);
    put32(cfg, 8, 0xFF6F0AFB);
    put32(cfg, 12, 0x7FFFFFFF);
    Bytes f = makeElf({{0x1D000100, code}, {0x1FC02FF0, cfg}, {0x00000040, {0xAA, 0xBB}}, {0x1D001000, {}, 1, 64}});
    sim::Image img = sim::parseElf(f, kMx440);
    EXPECT_EQ(img.format, "ELF");
    ASSERT_EQ(img.segments.size(), 3u) << "a segment without file contents loads nothing";
    sim::MemoryMap mem(kMx440);
    sim::loadImage(mem, img);
    EXPECT_EQ(mem.read32(0x1D000100), 0x44332211u);
    EXPECT_EQ(mem.flash()[0x104], 0x55);
    EXPECT_EQ(mem.flash()[0x105], 0xFF) << "the rest of flash stays erased";
    EXPECT_EQ(mem.ram()[0x40], 0xAA);
    sim::ConfigWords w = img.configWords();
    EXPECT_EQ(w.devcfg2, 0xFFF879D9u);
    EXPECT_EQ(w.devcfg1, 0xFF6F0AFBu);
    EXPECT_EQ(w.devcfg0, 0x7FFFFFFFu);
    EXPECT_EQ(w.devcfg3, 0xFFFFFFFFu);
}

TEST(ImageLoader, ElfLoadAddressesInKsegAreTranslated) {
    Bytes f = makeElf({{0x1D000000, {1, 2, 3, 4}}});
    put32(f, 52 + 12, 0xBD000010);  // p_paddr through KSEG1
    sim::Image img = sim::parseElf(f, kMx440);
    EXPECT_EQ(img.segments.at(0).address, 0x1D000010u);
}

TEST(ImageLoader, ChipSizeDecidesWhatFits) {
    Bytes f = makeElf({{0x1D07FFF0, Bytes(16, 0)}, {0x0001FFF0, Bytes(16, 0)}});
    EXPECT_NO_THROW(sim::parseElf(f, kMx795));
    EXPECT_NE(errorOf([&] { sim::parseElf(f, kMx440); }).find("lies outside"), std::string::npos);
}

struct Malformed {
    const char* name;
    std::function<Bytes()> file;
    const char* message;
};

TEST(ImageLoader, MalformedElfIsRejectedWithAClearMessage) {
    auto good = [] { return makeElf({{0x1D000000, {1, 2, 3, 4}}}); };
    auto with = [good](std::function<void(Bytes&)> edit) {
        return [good, edit] {
            Bytes f = good();
            edit(f);
            return f;
        };
    };
    const std::vector<Malformed> cases = {
        {"not ELF", with([](Bytes& f) { f[1] = 'X'; }), "no ELF magic"},
        {"truncated header", with([](Bytes& f) { f.resize(40); }), "ends inside the ELF header"},
        {"64-bit", with([](Bytes& f) { f[4] = 2; }), "not a 32-bit file"},
        {"big-endian", with([](Bytes& f) { f[5] = 2; }), "not little-endian"},
        {"not MIPS", with([](Bytes& f) { put16(f, 18, 3); }), "not a MIPS file"},
        {"relocatable", with([](Bytes& f) { put16(f, 16, 1); }), "not an executable"},
        {"no program headers", with([](Bytes& f) { put16(f, 44, 0); }), "no program headers"},
        {"program header size", with([](Bytes& f) { put16(f, 42, 40); }), "entries of 40 bytes"},
        {"program headers past the end", with([](Bytes& f) { put32(f, 28, 4000); }), "runs past the end"},
        {"contents past the end", with([](Bytes& f) { put32(f, 52 + 16, 400); put32(f, 52 + 20, 400); }),
         "run past the end of the file"},
        {"file size above memory size", with([](Bytes& f) { put32(f, 52 + 20, 2); }), "exceeds memory size"},
        {"past program flash", [] { return makeElf({{0x1D03FFFE, {1, 2, 3, 4}}}); }, "lies outside"},
        {"in the SFR window", [] { return makeElf({{0x1F800000, {1, 2, 3, 4}}}); }, "lies outside"},
        {"past boot flash", [] { return makeElf({{0x1FC03000, {1}}}); }, "lies outside"},
        {"past RAM", [] { return makeElf({{0x00007FFF, {1, 2}}}); }, "lies outside"},
        {"kseg2 address", with([](Bytes& f) { put32(f, 52 + 12, 0xC0000000); }), "not a physical, KSEG0 or KSEG1"},
        {"nothing to load", [] { return makeElf({{0x1D000000, {1, 2, 3, 4}, 6}}); }, "no loadable segment"},
        {"overlapping segments", [] { return makeElf({{0x1D000000, Bytes(8, 1)}, {0x00000000, {2}}, {0x1D000004, {3}}}); },
         "segment 2 (0x1D000004..0x1D000004) overlaps segment 0 (0x1D000000..0x1D000007)"},
        {"memory size past the map", [] { return makeElf({{0x00000000, {1, 2, 3, 4}, 1, 0xFFFFFFFF}}); },
         "segment 0 (virtual 0x80000000): memory size 4294967295 at 0x00000000..0xFFFFFFFE lies outside"},
    };
    for (const Malformed& c : cases) {
        std::string msg = errorOf([&] { sim::parseElf(c.file(), kMx440); });
        EXPECT_NE(msg.find(c.message), std::string::npos) << c.name << ": " << msg;
    }
}

TEST(ImageLoader, IntelHexRecordsBuildTheImage) {
    sim::Image img = sim::parseIntelHex(goodHex(), kMx440);
    EXPECT_EQ(img.format, "Intel HEX");
    ASSERT_EQ(img.segments.size(), 2u) << "contiguous records are merged";
    EXPECT_EQ(img.segments[0].address, 0x1D000000u);
    EXPECT_EQ(img.segments[0].bytes, (Bytes{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(img.entry.value_or(0), 0xBFC00000u);
    EXPECT_EQ(img.configWords().devcfg2, 0xFFF879D9u);
    EXPECT_EQ(img.configWords().devcfg1, 0xFF6F0AFBu);

    // CR line ends and blanks around each record read the same.
    std::string odd;
    for (size_t at = 0, eol; (eol = goodHex().find('\n', at)) != std::string::npos; at = eol + 1)
        odd += " \t" + goodHex().substr(at, eol - at) + "  \r";
    sim::Image same = sim::parseIntelHex(odd, kMx440);
    ASSERT_EQ(same.segments.size(), 2u);
    EXPECT_EQ(same.segments[0].bytes, img.segments[0].bytes);
    EXPECT_EQ(same.segments[1].bytes, img.segments[1].bytes);
    EXPECT_EQ(same.entry, img.entry);

    // Segment addressing (02) wraps inside its 64 KiB.
    std::string seg = hexRecord(2, 0, {0x10, 0x00}) + hexRecord(0, 0xFFFF, {0xAB, 0xCD}) + hexRecord(1, 0, {});
    sim::Image wrapped = sim::parseIntelHex(seg, kMx795);
    ASSERT_EQ(wrapped.segments.size(), 2u);
    EXPECT_EQ(wrapped.segments[0].address, 0x0001FFFFu);
    EXPECT_EQ(wrapped.segments[1].address, 0x00010000u);
}

TEST(ImageLoader, MalformedIntelHexIsRejectedWithTheLine) {
    std::string good = goodHex();
    auto replaceLine = [&](size_t n, const std::string& line) {
        std::string out;
        size_t pos = 0;
        for (size_t i = 0; pos < good.size(); ++i) {
            size_t eol = good.find('\n', pos) + 1;
            out += i == n ? line : good.substr(pos, eol - pos);
            pos = eol;
        }
        return out;
    };
    auto crOnly = [](std::string text) {
        std::replace(text.begin(), text.end(), '\n', '\r');
        return text;
    };
    struct Case {
        const char* name;
        std::string text;
        const char* message;
    };
    const std::vector<Case> cases = {
        {"checksum", replaceLine(1, ":0400000001020304F1\n"), "line 2: checksum 0xF1"},
        {"not hex", replaceLine(1, ":04000000010203G4F2\n"), "line 2: 'G4' is not a hex byte"},
        {"odd digits", replaceLine(1, ":0400000001020304F\n"), "line 2: odd number of hex digits"},
        {"no colon", replaceLine(2, "0200040005060F\n"), "line 3: does not start with ':'"},
        {"count", replaceLine(1, ":0500000001020304F1\n"), "byte count 5 does not match"},
        {"unknown type", replaceLine(1, hexRecord(6, 0, {1})), "unknown record type 6"},
        {"short 04", replaceLine(0, hexRecord(4, 0, {0x1D})), "record type 4 needs 2 data bytes"},
        {"no end", replaceLine(6, "\n"), "no end-of-file record"},
        {"after end", good + hexRecord(0, 0, {1}), "after the end-of-file record"},
        {"past flash", hexRecord(4, 0, {0x1D, 0x04}) + hexRecord(0, 0, {1}) + hexRecord(1, 0, {}), "lies outside"},
        {"SFR window", hexRecord(4, 0, {0x1F, 0x80}) + hexRecord(0, 0x6020, {0x41}) + hexRecord(1, 0, {}), "lies outside"},
        {"no data", hexRecord(1, 0, {}), "no data records"},
        {"overlap through KSEG1",
         hexRecord(4, 0, {0x1D, 0x00}) + hexRecord(0, 0x10, {1, 2, 3, 4}) + hexRecord(4, 0, {0xBD, 0x00}) +
             hexRecord(0, 0x12, {5}) + hexRecord(1, 0, {}),
         "line 4: data at 0x1D000012..0x1D000012 overlaps line 2's data at 0x1D000010..0x1D000013"},
        {"CR line ends", crOnly(replaceLine(5, ":04000005BFC0000079\n")), "line 6: checksum 0x79"},
        {"CR LF and blank lines", replaceLine(0, hexRecord(4, 0, {0x1D, 0x00}) + "\r\n\r\n") + ":0", "line 10: record after the end-of-file"},
    };
    for (const Case& c : cases) {
        std::string msg = errorOf([&] { sim::parseIntelHex(c.text, kMx440); });
        EXPECT_NE(msg.find(c.message), std::string::npos) << c.name << ": " << msg;
    }
}

TEST(ImageLoader, NothingIsWrittenOutsideTheMap) {
    sim::MemoryMap mem(kMx440);
    sim::Image img;
    img.format = "test";
    img.segments.push_back({0x1D000000, {1, 2, 3, 4}});
    img.segments.push_back({0x1D03FFFC, Bytes(8, 0x55)});  // runs past the end of flash
    EXPECT_THROW(sim::loadImage(mem, img), sim::ImageError);
    EXPECT_EQ(mem.read32(0x1D03FFFC), 0xFFFFFFFFu);
    EXPECT_FALSE(mem.write(0x1D03FFFE, "abcd", 4));
    EXPECT_FALSE(mem.write(0x1F800000, "abcd", 4)) << "the SFR window is not memory";
    EXPECT_EQ(mem.read32(0x1D03FFFC), 0xFFFFFFFFu);
}

#ifdef MIPSEL_AS
// The cross toolchain's own output, as ELF and as the Intel HEX that objcopy makes of it.
TEST(ImageLoader, ToolchainElfAndHexLoadTheSameMemory) {
    char dir[] = "/tmp/image_loader_testXXXXXX";
    ASSERT_TRUE(mkdtemp(dir));
    std::string d = dir;
    std::ofstream(d + "/s.S") << R"(
    .section .boot, "ax"
    lui $t0, 0x9D00
    jr $t0
    nop
    .section .config, "a"
    .word 0xFFFFFFFF, 0xFFF879D9, 0xFF6F0AFB, 0x7FFFFFFF
    .text
    .word 0x01234567, 0x89ABCDEF
    .data
    .word 0xCAFEF00D
)";
    std::ofstream(d + "/link.ld") << R"(
SECTIONS {
    .boot 0xBFC00000 : AT(0x1FC00000) { *(.boot) }
    .config 0xBFC02FF0 : AT(0x1FC02FF0) { *(.config) }
    .text 0x9D000000 : AT(0x1D000000) { *(.text) }
    .data 0xA0000000 : AT(0x1D000100) { *(.data) }
    /DISCARD/ : { *(.reginfo) *(.MIPS.abiflags) *(.gnu.attributes) *(.pdr) }
}
)";
    std::string cmd = std::string(MIPSEL_AS) + " -march=m4k -EL -o " + d + "/s.o " + d + "/s.S && " + MIPSEL_LD +
                      " -EL -T " + d + "/link.ld -o " + d + "/s.elf " + d + "/s.o && " + MIPSEL_OBJCOPY +
                      " -O ihex " + d + "/s.elf " + d + "/s.hex";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    sim::Image elf = sim::readImage(d + "/s.elf", kMx440), hex = sim::readImage(d + "/s.hex", kMx440);
    std::filesystem::remove_all(d);
    EXPECT_EQ(elf.format, "ELF");
    EXPECT_EQ(hex.format, "Intel HEX");
    sim::MemoryMap a(kMx440), b(kMx440);
    sim::loadImage(a, elf);
    sim::loadImage(b, hex);
    EXPECT_EQ(0, std::memcmp(a.flash(), b.flash(), kMx440.flashBytes));
    // Boot code and configuration words alike (between them the ELF segment carries the
    // linker's zero filler, the HEX file nothing).
    EXPECT_EQ(0, std::memcmp(a.boot(), b.boot(), 12));
    EXPECT_EQ(0, std::memcmp(a.boot() + 0x2FF0, b.boot() + 0x2FF0, 16));
    EXPECT_EQ(a.read32(0x1D000004), 0x89ABCDEFu);
    EXPECT_EQ(a.read32(0x1D000100), 0xCAFEF00Du) << "initialised data at its load address in flash";
    EXPECT_EQ(a.read32(0x00000000), 0u) << "RAM is the run-time's to fill";
    EXPECT_EQ(elf.configWords().devcfg1, 0xFF6F0AFBu);
    EXPECT_EQ(hex.configWords().devcfg1, 0xFF6F0AFBu);
}
#endif

TEST(ImageLoader, FormatIsRecognisedFromTheContents) {
    std::string path = std::filesystem::temp_directory_path() / ("image_loader_" + std::to_string(getpid()));
    std::ofstream(path) << "hello\n";
    EXPECT_NE(errorOf([&] { sim::readImage(path, kMx440); }).find("neither an ELF file nor an Intel HEX file"),
              std::string::npos);
    std::ofstream(path) << goodHex();
    EXPECT_EQ(sim::readImage(path, kMx440).format, "Intel HEX");
    std::filesystem::remove(path);
    EXPECT_NE(errorOf([&] { sim::readImage(path, kMx440); }).find("cannot open"), std::string::npos);
}

}  // namespace

// The ELF symbol table comes along, so that addresses can be named: every function the
// cross nm lists is found at its address, and an address inside one reads as name+offset.
TEST(ImageLoader, ElfSymbolsNameAddresses) {
    const std::string path = std::string(IMAGES_DIR) + "/clockdemo.elf";
    ASSERT_TRUE(std::filesystem::exists(path)) << "build the target preset first";
    sim::Image img = sim::readImage(path, kMx440);
    FILE* nm = popen(("mipsel-linux-gnu-nm --defined-only " + path).c_str(), "r");
    ASSERT_NE(nm, nullptr);
    char line[512];
    unsigned functions = 0;
    while (fgets(line, sizeof line, nm)) {
        unsigned long addr;
        char type, name[400];
        if (std::sscanf(line, "%lx %c %399s", &addr, &type, name) != 3 || (type != 'T' && type != 't')) continue;
        auto at = img.addressOf(name);
        if (!at) continue;  // a label without a type (the start-up's entry points)
        EXPECT_EQ(*at, uint32_t(addr)) << name;
        ++functions;
    }
    pclose(nm);
    EXPECT_GT(functions, 20u);

    uint32_t set = *img.addressOf("setTimeDate");
    EXPECT_EQ(img.describe(set), "setTimeDate");
    EXPECT_EQ(img.describe(set + 8), "setTimeDate+0x8");
    EXPECT_EQ(img.describe((set & 0x1FFFFFFFu) | 0xA0000000u), "setTimeDate") << "KSEG1 names the same byte";
    EXPECT_EQ(img.describe(0x9D07FFF0u), "") << "no symbol covers the end of flash";
    EXPECT_TRUE(sim::parseIntelHex(":0400000001020304F2\n:00000001FF\n", kMx440).symbols.empty());
}
