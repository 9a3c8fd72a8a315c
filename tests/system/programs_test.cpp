// Every program explains itself and refuses what it does not understand, the same way:
// --help prints the usage on stdout and exits 0 at once (a benchmark runs nothing), a bad
// option exits 2 with a message that names the program and nothing on stdout.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace {

struct Outcome {
    int status;
    std::string out;
};

Outcome run(const std::string& command) {
    FILE* p = popen((command + " 2>/dev/null").c_str(), "r");
    Outcome r{-1, ""};
    if (!p) return r;
    char buf[4096];
    while (size_t n = fread(buf, 1, sizeof buf, p)) r.out.append(buf, n);
    int status = pclose(p);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

std::string errorOf(const std::string& command) {
    FILE* p = popen((command + " 2>&1 >/dev/null").c_str(), "r");
    std::string err;
    char buf[4096];
    while (p && fgets(buf, sizeof buf, p)) err += buf;
    if (p) pclose(p);
    return err;
}

TEST(Programs, HelpExitsZeroAndABadOptionExitsTwo) {
    const std::string bin = PROGRAMS_DIR;
    for (const char* name : {"pic32sim", "clockdemo", "carddemo", "carddemo-main", "engine_bench", "board_speed", "irms_bench",
                             "image_sizes", "memory_bench"}) {
        SCOPED_TRACE(name);
        const std::string program = bin + "/" + name;
        Outcome help = run("timeout 10 " + program + " --help");
        EXPECT_EQ(help.status, 0);
        EXPECT_EQ(help.out.rfind(std::string("usage: ") + name + " ", 0), 0u) << help.out;
        EXPECT_NE(help.out.find("--help"), std::string::npos);

        Outcome bad = run("timeout 10 " + program + " --no-such-option");
        EXPECT_EQ(bad.status, 2);
        EXPECT_EQ(bad.out, "");
        EXPECT_EQ(errorOf("timeout 10 " + program + " --no-such-option").rfind(std::string(name) + ": unknown option", 0),
                  0u);
    }
}

TEST(Programs, ValuesAreCheckedBeforeAnythingRuns) {
    const std::string bin = PROGRAMS_DIR;
    for (const char* args : {"clockdemo --seconds -1", "carddemo --card floppy", "carddemo-main --ready-after x",
                             "engine_bench --millions 0", "engine_bench --engines bochs",
                             "board_speed --runs 0", "irms_bench --samples 1", "image_sizes a b",
                             "clockdemo --input"}) {
        SCOPED_TRACE(args);
        Outcome r = run("timeout 10 " + bin + "/" + args);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "");
    }
}

// An image that cannot be loaded is status 1 with the loader's message, not an abort.
TEST(Programs, AnImageThatCannotBeReadEndsWithStatusOne) {
    Outcome r = run("timeout 60 " + std::string(PROGRAMS_DIR) + "/engine_bench --millions 1 --runs 1 --image /");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("/: is a directory"), std::string::npos) << r.out;
}

}  // namespace
