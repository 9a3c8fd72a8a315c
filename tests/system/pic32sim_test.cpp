// The pic32sim program as a user runs it: the console on stdout, the traces on stderr,
// the exit status, and a clear message for an image it cannot load.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/system/system_fixture.h"

namespace {

struct Result {
    int status;
    std::string out, err;
};

class Pic32Sim : public ::testing::Test {
protected:
    void SetUp() override {
        char dir[] = "/tmp/pic32sim_testXXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        dir_ = dir;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    // `feed`: a command whose output goes to pic32sim's stdin.
    Result run(const std::string& args, const std::string& feed = "") {
        std::string err = dir_ + "/stderr";
        std::string command = (feed.empty() ? "" : feed + " | ") + PIC32SIM + " " + args + " 2>" + err;
        FILE* p = popen(command.c_str(), "r");
        Result r{-1, "", ""};
        if (!p) return r;
        char buf[4096];
        while (size_t n = fread(buf, 1, sizeof buf, p)) r.out.append(buf, n);
        int status = pclose(p);
        r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        std::ifstream in(err);
        std::stringstream s;
        s << in.rdbuf();
        r.err = s.str();
        return r;
    }
    std::string file(const std::string& name, const std::string& contents) {
        std::string path = dir_ + "/" + name;
        std::ofstream(path, std::ios::binary) << contents;
        return path;
    }
    static std::string image(const std::string& name) { return systemtest::imagePath(systemtest::kImages, name); }
    static std::string slurp(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }

    std::string dir_;
};

const char* const kFiveSeconds =
    "init i2c true\r\n"
    "2:10:5-3-3/1/14ok\r\n"
    "2:10:6-3-3/1/14ok\r\n"
    "2:10:7-3-3/1/14ok\r\n"
    "2:10:8-3-3/1/14ok\r\n"
    "2:10:9-3-3/1/14ok\r\n";

TEST_F(Pic32Sim, BootsTheClockDemoFromElfOrHexForFiveSecondsByDefault) {
    for (const char* name : {"clockdemo.elf", "clockdemo.hex"}) {
        SCOPED_TRACE(name);
        Result r = run(image(name));
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, kFiveSeconds);
        EXPECT_EQ(r.err, "");
    }
    Result slow = run(image("clockdemo.elf") + " --no-fast-forward --seconds 2.5 --trace-i2c --trace-pins"),
           fast = run(image("clockdemo.elf") + " --seconds 2.5 --trace-i2c --trace-pins");
    EXPECT_EQ(slow.out, fast.out);
    EXPECT_EQ(slow.err, fast.err);
}

TEST_F(Pic32Sim, TracesGoToStderrWithTheirTimes) {
    Result r = run(image("clockdemo.elf") + " --seconds 1.5 --trace-i2c --trace-pins --input ab");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "init i2c true\r\n2:10:5-3-3/1/14ok\r\nab2:10:6-3-3/1/14ok\r\n");
    // The clock set at start-up, byte after byte, and the LED's first change.
    EXPECT_NE(r.err.find(" us  i2c   START\n"), std::string::npos) << r.err;
    size_t set = r.err.find(" us  i2c   0xA2 (0x51 W) ACK\n");
    ASSERT_NE(set, std::string::npos) << r.err;
    for (const char* byte : {"0x02", "0x05", "0x10", "0x02", "0x03", "0x03", "0x01", "0x14"}) {
        set = r.err.find(std::string(" us  i2c   ") + byte + " ACK\n", set);
        ASSERT_NE(set, std::string::npos) << byte << " of the clock setting";
    }
    EXPECT_NE(r.err.find(" us  pins  RD1   high\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(" us  pins  U1RX  low\n"), std::string::npos) << "the typed bytes on the pin";
}

TEST_F(Pic32Sim, CardDemoPutsCmd0AndCmd1OnTheSpiTrace) {
    Result r = run(image("carddemo.elf") + " --seconds 0.5 --card ready --ready-after 0 --trace-spi");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "init UART\r\n");
    size_t cmd0 = r.err.find("CMD0  GO_IDLE_STATE arg 0x00000000 crc 0x95");
    ASSERT_NE(cmd0, std::string::npos) << r.err;
    EXPECT_NE(r.err.find("CMD1  SEND_OP_COND", cmd0), std::string::npos) << r.err;

    Result none = run(image("carddemo.elf") + " --seconds 0.5 --trace-spi");
    EXPECT_EQ(none.out, "init UART\r\n");
    EXPECT_NE(none.err.find("CMD0"), std::string::npos) << none.err;
    EXPECT_EQ(none.err.find("CMD1"), std::string::npos) << "no card, no answer to CMD0: " << none.err;
}

// --stats accounts for every instruction: those fast-forward skips plus those it runs are
// what a run without it runs.
TEST_F(Pic32Sim, StatsCountWhatTheCoreDid) {
    struct Stats {
        unsigned long long run = 0, skipped = 0, attempts = 0, skips = 0, cycles = 0;
    };
    auto stats = [&](const std::string& extra) {
        Result r = run(image("clockdemo.elf") + " --seconds 2 --stats" + extra);
        EXPECT_EQ(r.status, 0);
        Stats s;
        size_t at = r.err.find("stats: ");
        EXPECT_NE(at, std::string::npos) << r.err;
        if (at != std::string::npos)
            EXPECT_EQ(std::sscanf(r.err.c_str() + at,
                                  "stats: %llu instructions run, %llu skipped; fast-forward %llu attempts, %llu skips, %llu cycles skipped",
                                  &s.run, &s.skipped, &s.attempts, &s.skips, &s.cycles),
                      5)
                << r.err;
        return s;
    };
    Stats on = stats(""), off = stats(" --no-fast-forward");
    EXPECT_EQ(on.run + on.skipped, off.run);
    EXPECT_EQ(off.skipped + off.attempts + off.skips + off.cycles, 0u);
    EXPECT_GT(on.skips, 0u);
    EXPECT_LE(on.skips, on.attempts);
    EXPECT_GT(on.cycles, on.skipped);  // a skipped poll pass takes more cycles than instructions
}

// The card demo's SPI edges come between the processor's stops, and fast-forward jumps
// over them: with it and without, every pin and the SPI trace come out the same.
TEST_F(Pic32Sim, FastForwardChangesNoCardDemoTrace) {
    const std::string args = image("carddemo.elf") + " --seconds 0.1 --card never-ready --trace-spi --trace-pins";
    Result slow = run(args + " --no-fast-forward"), fast = run(args);
    EXPECT_EQ(slow.status, 0);
    EXPECT_EQ(slow.out, fast.out);
    EXPECT_NE(fast.err.find("CMD1  SEND_OP_COND"), std::string::npos);
    EXPECT_TRUE(slow.err == fast.err) << slow.err.size() << " bytes of traces without, " << fast.err.size() << " with";
}

// Every kind of bad input ends at once with status 1 and a message that names the file and
// what is wrong in it (escaped, on the right line); odd but sound images run.
TEST_F(Pic32Sim, BadImagesAreClearErrorsAndNothingRuns) {
    const std::string hex = slurp(image("clockdemo.hex"));  // CR LF line ends, as objcopy writes
    const std::string elf = slurp(image("clockdemo.elf"));
    auto patched = [&](const std::string& name, size_t at, uint32_t value) {
        std::string f = elf;
        std::memcpy(&f[at], &value, 4);
        return file(name, f);
    };
    uint32_t phoff;
    std::memcpy(&phoff, &elf[28], 4);
    auto phdr = [&](unsigned i, unsigned field) { return phoff + 32 * i + field; };
    auto lines = [&](const std::string& ends, const std::string& lead) {  // the HEX file re-written
        std::string out;
        for (size_t at = 0, eol; (eol = hex.find("\r\n", at)) != std::string::npos; at = eol + 2)
            out += lead + hex.substr(at, eol - at) + ends;
        return out;
    };
    auto replaced = [](std::string text, const std::string& from, const std::string& to) {
        return text.replace(text.find(from), from.size(), to);
    };
    const std::string oversized = file("oversized.elf", "\x7F" "ELF");
    std::filesystem::resize_file(
        oversized, sim::imageFileLimit(sim::ImageFormat::Elf, sim::MemoryLayout::forChip(sim::Chip::MX440F256H)) + 1);
    std::filesystem::create_directory(dir_ + "/images");
    static const char kNulHex[] = ":020000041D00DD\n:0400000001\0" "20304F2\n:00000001FF\n";

    struct Case {
        std::string name, path, feed;    // feed: a command whose output is the image on stdin
        int status;
        std::vector<std::string> words;  // on stderr, in order
    };
    std::vector<Case> cases = {
        {"missing", dir_ + "/nothing.elf", "", 1, {"cannot open"}},
        {"text", file("text.elf", "hello\n"), "", 1, {"neither an ELF file nor an Intel HEX file"}},
        {"short ELF", file("short.elf", std::string("\x7F" "ELF\x01\x01\x01", 7)), "", 1, {"ELF"}},
        {"checksum", file("bad-sum.hex", ":04000000DEADBEEF00\n:00000001FF\n"), "", 1, {"line 1"}},
        // Four bytes at 0x1F800000: the SFR window, not memory.
        {"SFR window", file("sfr.hex", ":020000041F805B\n:0400000001020304F2\n:00000001FF\n"), "", 1, {"0x1F800000"}},
        {"directory", dir_ + "/images", "", 1, {"is a directory"}},
        {"unreadable", "/proc/self/mem", "", 1, {"cannot read: Input/output error"}},
        {"endless zeros", "/dev/zero", "", 1, {"neither an ELF file nor an Intel HEX file"}},
        {"endless records", "/dev/stdin", "yes :00000001FF", 1, {"larger than any Intel HEX image", "9830400 bytes"}},
        {"oversized ELF", oversized, "", 1, {"larger than any ELF image", "19660800 bytes"}},
        // The configuration words' segment moved onto the boot code's.
        {"overlapping segments", patched("overlap.elf", phdr(5, 12), 0x1FC00000), "", 1,
         {"ELF: segment 5 (0x1FC00000..0x1FC0000B) overlaps segment 3 (0x1FC00000..0x1FC00493)"}},
        {"overlapping records",
         file("overlap.hex", ":020000041D00DD\n:0400000001020304F2\n:0400020005060708E0\n:00000001FF\n"), "", 1,
         {"line 3: data at 0x1D000002..0x1D000005 overlaps line 2's data at 0x1D000000..0x1D000003"}},
        // .bss's segment (no file contents) as large as the address space.
        {"memory size", patched("memsz.elf", phdr(1, 20), 0xFFFFFFFFu), "", 1,
         {"segment 1 (virtual 0xA0000000): memory size 4294967295 at 0x00000000..", "lies outside"}},
        {"NUL", file("nul.hex", std::string(kNulHex, sizeof kNulHex - 1)), "", 1,
         {"line 2: '\\x002' is not a hex byte"}},
        {"CR only, bad line 3", file("cr.hex", ":020000041D00DD\r:0400000001020304F2\r:0400040001020304F3\r:00000001FF\r"),
         "", 1, {"line 3: checksum 0xF3"}},
        {"CR LF, bad line 3",
         file("crlf.hex", ":020000041D00DD\r\n:0400000001020304F2\r\n:0400040001020304F3\r\n:00000001FF\r\n"), "", 1,
         {"line 3: checksum 0xF3"}},
        {"bad record after blanks", file("blank-bad.hex", "  :020000041D00DD\n \t:0400000001020304F3\n"), "", 1,
         {"line 2: checksum 0xF3"}},
        {"CR only", file("cr-only.hex", lines("\r", "")), "", 0, {}},
        {"blanks before ':'", file("indented.hex", lines("\r\n", " \t ")), "", 0, {}},
        {"start address", file("start.hex", replaced(hex, ":04000005BFC0000078", ":040000059D0000005A")), "", 0,
         {"warning: the start address 0x9D000000 is not the reset vector 0xBFC00000"}},
        {"entry point", patched("entry.elf", 24, 0x9D000000u), "", 0,
         {"warning: the ELF entry point 0x9D000000 is not the reset vector 0xBFC00000"}},
    };
    if (geteuid() != 0) {  // root reads whatever the mode bits say
        std::string locked = file("locked.elf", elf);
        std::filesystem::permissions(locked, std::filesystem::perms::none);
        cases.push_back({"no permission", locked, "", 1, {"cannot open: Permission denied"}});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Result r = run(c.path + " --seconds 0.5", c.feed);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_EQ(r.err.find_first_of(std::string("\r\0", 2)), std::string::npos) << "raw bytes in: " << r.err;
        size_t at = 0;
        for (const std::string& w : c.words) {
            at = r.err.find(w, at);
            EXPECT_NE(at, std::string::npos) << "'" << w << "' in " << r.err;
            if (at == std::string::npos) break;
        }
        if (c.status == 1) {
            EXPECT_EQ(r.out, "");
            EXPECT_EQ(r.err.rfind("pic32sim: " + c.path + ": ", 0), 0u) << r.err;
            EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << "one line: " << r.err;
        } else {
            EXPECT_EQ(r.out.rfind("init i2c true\r\n", 0), 0u) << "it runs: " << r.out;
        }
    }
}

TEST_F(Pic32Sim, BadOptionsExitWithUsage) {
    for (const char* args : {"", "--seconds", "--seconds x IMAGE", "--board mx999 IMAGE", "--card floppy IMAGE",
                             "--frobnicate IMAGE", "A B"}) {
        SCOPED_TRACE(args);
        Result r = run(args);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.rfind("pic32sim: ", 0), 0u) << r.err;
    }
    Result help = run("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("usage: pic32sim IMAGE"), std::string::npos);
}

}  // namespace

namespace {

// Every device reset is reported with what led to it; --stop-on-fault ends the run there.
TEST_F(Pic32Sim, FaultsAreReportedWithTheirCauseWhereAndWhatRanBefore) {
    struct Case {
        const char* image;
        const char* args;
        int status;
        std::vector<std::string> words;  // in the first fault line, in order
    };
    const std::vector<Case> cases = {
        {"invalid_instruction_test.elf", "--seconds 0.01", 0,
         {"fault at ", " us: reserved instruction, EPC main+0x", "(0x9D", "Status 0x", "last: ", " main+0x",
          "; device reset at "}},
        {"invalid_instruction_test.elf", "--seconds 1 --stop-on-fault", 3, {"reserved instruction", "main+0x"}},
        {"no_handler_test.elf", "--seconds 0.01", 0, {"interrupt with no handler: vector 27, EPC "}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.image) + " " + c.args);
        Result r = run(systemtest::imagePath(systemtest::kTestImages, c.image) + " " + c.args);
        EXPECT_EQ(r.status, c.status);
        std::string first = r.err.substr(0, r.err.find('\n'));
        EXPECT_EQ(first.rfind("pic32sim: fault at ", 0), 0u) << r.err;
        size_t at = 0;
        for (const std::string& w : c.words) {
            at = first.find(w, at);
            ASSERT_NE(at, std::string::npos) << "'" << w << "' in " << first;
        }
        EXPECT_NE(r.err.find("pic32sim: the device reset "), std::string::npos) << "the summary: " << r.err;
        if (c.status == 3) {
            EXPECT_EQ(r.out, "boot\r\n") << "ended at the first fault";
        }
    }
    // The summary counts by cause: the invalid instruction resets every boot.
    Result many = run(systemtest::imagePath(systemtest::kTestImages, "invalid_instruction_test.elf") + " --seconds 0.01");
    EXPECT_NE(many.err.find(" time(s): reserved instruction 9\n"), std::string::npos) << many.err;
}

TEST_F(Pic32Sim, AnImageThatCannotStartIsWarnedAboutBeforeTheRun) {
    // Data in program flash only: nothing at the reset vector.
    Result none = run(file("no-reset.hex", ":020000041D00DD\n:0400000001020304F2\n:00000001FF\n") + " --seconds 0.001");
    EXPECT_EQ(none.err.rfind("warning: no code at the reset vector 0xBFC00000", 0), 0u) << none.err;
    EXPECT_NE(none.err.find("fault at"), std::string::npos) << "and then it faults: " << none.err;

    // The clock demo with its ELF entry moved off the reset vector.
    std::ifstream in(image("clockdemo.elf"), std::ios::binary);
    std::string elf((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const uint32_t entry = 0x9D000000u;
    std::memcpy(&elf[24], &entry, 4);
    Result moved = run(file("moved.elf", elf) + " --seconds 0.5");
    EXPECT_EQ(moved.err.rfind("warning: the ELF entry point 0x9D000000 is not the reset vector", 0), 0u) << moved.err;
    EXPECT_EQ(moved.out.rfind("init i2c true\r\n", 0), 0u) << "the core starts at the reset vector all the same";
}

}  // namespace

namespace {

// The instruction trace of a function reads as the cross objdump's listing of it, address
// for address, and two runs give the same trace.
TEST_F(Pic32Sim, InstructionTraceMatchesTheObjdumpListing) {
    const std::string elf = image("clockdemo.elf");
    Result a = run(elf + " --seconds 0.01 --trace-instr=writeString");
    Result b = run(elf + " --seconds 0.01 --trace-instr=writeString");
    ASSERT_EQ(a.status, 0);
    EXPECT_EQ(a.err, b.err) << "deterministic";

    std::map<uint32_t, std::string> listing;  // address -> "word  text" as objdump prints it
    FILE* p = popen(("mipsel-linux-gnu-objdump -d " + elf).c_str(), "r");
    ASSERT_NE(p, nullptr);
    char line[512];
    while (fgets(line, sizeof line, p)) {
        unsigned addr, word;
        int n = 0;
        if (std::sscanf(line, " %x:\t%x \t%n", &addr, &word, &n) == 2 && n > 0) {
            std::string text = line + n;
            text.erase(text.find_last_not_of("\n ") + 1);
            char w[16];
            std::snprintf(w, sizeof w, "%08x", word);
            listing[addr] = std::string(w) + "  " + text;
        }
    }
    pclose(p);

    std::istringstream trace(a.err);
    std::string t;
    unsigned lines = 0;
    while (std::getline(trace, t)) {
        unsigned addr;
        char where[128];
        int n = 0;
        if (std::sscanf(t.c_str(), " %*f us  instr %x %127s %n", &addr, where, &n) != 2) continue;
        ++lines;
        SCOPED_TRACE(t);
        EXPECT_EQ(std::string(where).rfind("writeString", 0), 0u);
        ASSERT_TRUE(listing.count(addr));
        std::string rest = t.substr(size_t(n));
        // The register written follows the instruction, two blanks after it.
        EXPECT_EQ(rest.substr(0, listing[addr].size()), listing[addr]);
    }
    EXPECT_GT(lines, 50u) << a.err.substr(0, 2000);
}

}  // namespace
