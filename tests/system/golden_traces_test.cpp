// What crosses the pins does not change when the board's code is reorganised or made
// faster: the console and the I2C, SPI and pin traces of the real images, recorded in
// tests/system/golden, must come out byte for byte. A trace too large to keep is kept as
// its SHA-256 and its first lines (shown on a mismatch). The traces are in the one ordered
// trace's format; golden/before keeps two of them as the separate traces printed them
// before, and each source's lines must be those, apart from the format.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <vector>
#include <sstream>
#include <string>

#include "tests/system/system_fixture.h"

namespace {

namespace fs = std::filesystem;
const fs::path kGolden = fs::path(__FILE__).parent_path() / "golden";

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string sha256(const fs::path& p) {
    std::string cmd = "sha256sum '" + p.string() + "'";
    FILE* f = popen(cmd.c_str(), "r");
    char buf[65] = {};
    if (!f || std::fread(buf, 1, 64, f) != 64) buf[0] = 0;
    if (f) pclose(f);
    return buf;
}

// Where two texts first differ, as a line number and both lines, for a short failure message.
std::string firstDifference(const std::string& got, const std::string& want) {
    std::istringstream g(got), w(want);
    std::string a, b;
    for (unsigned line = 1;; ++line) {
        bool ga = bool(std::getline(g, a)), gb = bool(std::getline(w, b));
        if (!ga && !gb) return "same lines, different line endings";
        if (!ga || !gb || a != b)
            return "line " + std::to_string(line) + ": got '" + (ga ? a : "<end>") + "', want '" + (gb ? b : "<end>") + "'";
    }
}

#define EXPECT_SAME_TEXT(got, want, what)                                   \
    do {                                                                    \
        std::string g_ = (got), w_ = (want);                                \
        EXPECT_TRUE(g_ == w_) << what << ": " << firstDifference(g_, w_);   \
    } while (0)

std::string firstLines(const std::string& text, size_t n) {
    size_t at = 0;
    for (size_t i = 0; i < n && at != std::string::npos; ++i) {
        at = text.find('\n', at);
        if (at != std::string::npos) ++at;
    }
    return at == std::string::npos ? text : text.substr(0, at);
}

struct Case {
    const char* name;
    const char* image;
    const char* args;
};

class GoldenTraces : public ::testing::TestWithParam<Case> {};

TEST_P(GoldenTraces, ConsoleAndTracesAreByteIdentical) {
    const Case& c = GetParam();
    fs::path tmp = fs::temp_directory_path() / ("golden_" + std::string(c.name) + "_" + std::to_string(getpid()));
    fs::create_directories(tmp);
    std::string cmd = std::string(PIC32SIM) + " " + systemtest::imagePath(systemtest::kImages, c.image) + " " +
                      c.args + " --trace-i2c --trace-spi --trace-pins >" + (tmp / "out").string() + " 2>" +
                      (tmp / "err").string();
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;

    EXPECT_SAME_TEXT(slurp(tmp / "out"), slurp(kGolden / (std::string(c.name) + ".out")), "console");
    fs::path verbatim = kGolden / (std::string(c.name) + ".err");
    if (fs::exists(verbatim)) {
        EXPECT_SAME_TEXT(slurp(tmp / "err"), slurp(verbatim), "traces");
    } else {
        std::string want = slurp(kGolden / (std::string(c.name) + ".err.sha256")).substr(0, 64);
        std::string head = slurp(kGolden / (std::string(c.name) + ".err.head"));
        std::string got = slurp(tmp / "err");
        EXPECT_SAME_TEXT(firstLines(got, 300), head, "traces, first lines");
        EXPECT_EQ(sha256(tmp / "err"), want) << "traces, whole";
    }
    fs::remove_all(tmp);
}

INSTANTIATE_TEST_SUITE_P(Images, GoldenTraces,
                         ::testing::Values(Case{"clock_rtc", "clockdemo.elf", "--seconds 10"},
                                           Case{"clock_nortc", "clockdemo.elf", "--seconds 10 --no-rtc"},
                                           Case{"card_ready", "carddemo.elf", "--seconds 3 --card ready"},
                                           Case{"card_never-ready", "carddemo.elf", "--seconds 3 --card never-ready"},
                                           Case{"card_sdhc", "carddemo.elf", "--seconds 3 --card sdhc"},
                                           Case{"card_sdhc-idle", "carddemo.elf", "--seconds 3 --card sdhc-idle"},
                                           Case{"card_absent", "carddemo.elf", "--seconds 3 --card absent"},
                                           Case{"card_bad-idle", "carddemo.elf", "--seconds 3 --card bad-idle"}),
                         [](const auto& info) {
                             std::string n = info.param.name;
                             for (char& ch : n)
                                 if (ch == '-') ch = '_';
                             return n;
                         });

// "   2634.325 us  START" (a separate trace of old) as "      2634.325 us  i2c   START".
std::string commonFormat(const std::string& line, const std::string& source) {
    size_t us = line.find(" us  ");
    char b[64];
    std::snprintf(b, sizeof b, "%14.3f us  %-5s ", std::strtod(line.c_str(), nullptr), source.c_str());
    return b + line.substr(us + 5);
}

TEST(GoldenTraces, EachSourceSaysWhatItsSeparateTraceSaidBefore) {
    for (const char* name : {"clock_rtc", "card_ready"}) {
        SCOPED_TRACE(name);
        // Before, the SPI and I2C lines came as decoded and the pin changes in slices; each
        // source's own lines were in order.
        std::map<std::string, std::vector<std::string>> before, now;
        std::istringstream old(slurp(kGolden / "before" / (std::string(name) + ".err")));
        for (std::string line; std::getline(old, line);) {
            // Pin lines name a net and a level; SPI lines had four decimals; the rest is I2C.
            static const std::regex pin(" us  (R[A-G][0-9]+|U[12](TX|RX)) +(high|low)$"), spi("\\.[0-9]{4} us  ");
            std::string source = std::regex_search(line, pin) ? "pins" : std::regex_search(line, spi) ? "spi" : "i2c";
            before[source].push_back(commonFormat(line, source));
        }
        std::istringstream fresh(slurp(kGolden / (std::string(name) + ".err")));
        for (std::string line; std::getline(fresh, line);) now[line.substr(19, 5)].push_back(line);
        for (auto& [source, lines] : before) {
            std::string key = source;
            key.resize(5, ' ');
            EXPECT_TRUE(lines == now[key]) << source << ": " << lines.size() << " lines before, " << now[key].size()
                                           << " now";
        }
    }
}

// Every source at once, and the lines never go back in time.
TEST(GoldenTraces, AllSourcesTogetherStayInTimeOrder) {
    struct Run {
        const char* dir;
        const char* image;
        const char* args;
        std::vector<std::string> sources;
    };
    const std::vector<Run> runs = {
        {IMAGES_DIR, "clockdemo.elf", "--seconds 0.6 --input ab --trace i2c,spi,pins,uart,irq,sfr,reset "
                                      "--trace-instr=writeString",
         {"i2c", "spi", "pins", "uart", "irq", "sfr", "instr"}},
        {TEST_IMAGES_DIR, "invalid_instruction_test.elf", "--seconds 0.003 --trace pins,uart,irq,sfr,reset,instr",
         {"pins", "uart", "sfr", "reset", "instr"}},
    };
    for (const Run& r : runs) {
        SCOPED_TRACE(r.image);
        fs::path file = fs::temp_directory_path() / ("trace_" + std::to_string(getpid()));
        std::string cmd = std::string(PIC32SIM) + " " + systemtest::imagePath(r.dir, r.image) + " " + r.args +
                          " --trace-file " + file.string() + " >/dev/null 2>&1";
        ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
        std::ifstream in(file);
        std::map<std::string, unsigned> seen;
        double last = 0;
        unsigned lines = 0;
        for (std::string line; std::getline(in, line); ++lines) {
            double t = std::strtod(line.c_str(), nullptr);
            ASSERT_GE(t, last) << "line " << lines + 1 << ": " << line;
            last = t;
            std::string source = line.substr(19, 5);
            source.erase(source.find_last_not_of(' ') + 1);
            ++seen[source];
        }
        fs::remove(file);
        for (const std::string& s : r.sources) EXPECT_GT(seen[s], 0u) << s;
    }
}

}  // namespace
