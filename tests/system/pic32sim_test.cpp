// The pic32sim program as a user runs it: the console on stdout, the traces on stderr,
// the exit status, and a clear message for an image it cannot load.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
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

    Result run(const std::string& args) {
        std::string err = dir_ + "/stderr";
        FILE* p = popen((std::string(PIC32SIM) + " " + args + " 2>" + err).c_str(), "r");
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
    EXPECT_NE(r.err.find(" us  START\n"), std::string::npos) << r.err;
    size_t set = r.err.find(" us  0xA2 (0x51 W) ACK\n");
    ASSERT_NE(set, std::string::npos) << r.err;
    for (const char* byte : {"0x02", "0x05", "0x10", "0x02", "0x03", "0x03", "0x01", "0x14"}) {
        set = r.err.find(std::string(" us  ") + byte + " ACK\n", set);
        ASSERT_NE(set, std::string::npos) << byte << " of the clock setting";
    }
    EXPECT_NE(r.err.find(" us  RD1   high\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(" us  U1RX  low\n"), std::string::npos) << "the typed bytes on the pin";
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

TEST_F(Pic32Sim, AnImageThatCannotBeLoadedIsAClearErrorAndNothingRuns) {
    struct Bad {
        std::string path, message;
    };
    const std::vector<Bad> bad = {
        {dir_ + "/nothing.elf", "cannot open"},
        {file("text.elf", "hello\n"), "neither an ELF file nor an Intel HEX file"},
        {file("short.elf", std::string("\x7F" "ELF\x01\x01\x01", 7)), "ELF"},
        {file("bad-sum.hex", ":04000000DEADBEEF00\n:00000001FF\n"), "line 1"},
        // Four bytes at 0x1F800000: the SFR window, not memory.
        {file("sfr.hex", ":020000041F805B\n:0400000001020304F2\n:00000001FF\n"), "0x1F800000"},
    };
    for (const Bad& b : bad) {
        SCOPED_TRACE(b.path);
        Result r = run(b.path);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.rfind("pic32sim: " + b.path + ": ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find(b.message), std::string::npos) << r.err;
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
