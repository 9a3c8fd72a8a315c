// pic32sim --gdb with Debian's gdb-multiarch as the client, in batch mode, on a free port of
// 127.0.0.1: breakpoints with the arguments in the registers, finish with the return
// value, SFR reads through the bus, a watchpoint on a RAM variable, stepping, Ctrl-C with
// virtual time standing still while halted, and a console that is the same as without gdb.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/pic32mx.h"
#include "sim/debug/core_target.h"
#include "tests/system/system_fixture.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string slurp(const fs::path& p) {
    std::ifstream in(p);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

pid_t spawn(const std::vector<std::string>& args, const fs::path& out, const fs::path& err) {
    pid_t pid = fork();
    if (pid == 0) {
        std::freopen("/dev/null", "r", stdin);
        std::freopen(out.c_str(), "w", stdout);
        std::freopen(err.c_str(), "w", stderr);
        std::vector<char*> argv;
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

// Waits for `pid` at most `limit`; kills it after that. Returns the exit status (-1: killed).
int reap(pid_t pid, std::chrono::milliseconds limit) {
    auto until = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > until) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(10ms);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct Session {
    std::string gdb, console, simErr;
    int simStatus = -1;
};

class Gdb : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::system("command -v gdb-multiarch >/dev/null 2>&1") != 0)
            GTEST_SKIP() << "gdb-multiarch is not installed (scripts/install-deps.sh installs it)";
        dir_ = fs::temp_directory_path() / ("pic32sim_gdb_" + std::to_string(getpid()));
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    // Boots `image` under pic32sim --gdb 0, connects gdb-multiarch and runs `commands`; with
    // `interruptAfter`, gdb gets SIGINT (Ctrl-C) that long after it started.
    Session debug(const std::string& image, const std::vector<std::string>& simArgs,
                  const std::vector<std::string>& commands, std::chrono::milliseconds interruptAfter = 0ms) {
        Session s;
        for (const char* f : {"sim.out", "sim.err", "gdb.out", "gdb.err"}) fs::remove(dir_ / f);
        std::vector<std::string> sim = {PIC32SIM, image, "--gdb", "0"};
        sim.insert(sim.end(), simArgs.begin(), simArgs.end());
        pid_t simPid = spawn(sim, dir_ / "sim.out", dir_ / "sim.err");
        // The port it listens on comes first on its stderr.
        std::smatch m;
        std::string err;
        static const std::regex waiting("waiting for gdb on 127\\.0\\.0\\.1:([0-9]+)");
        for (int i = 0; i < 500 && !std::regex_search(err = slurp(dir_ / "sim.err"), m, waiting); ++i)
            std::this_thread::sleep_for(10ms);
        if (m.empty()) {
            kill(simPid, SIGKILL);
            reap(simPid, 1s);
            ADD_FAILURE() << "pic32sim did not listen: " << err;
            return s;
        }
        std::vector<std::string> gdb = {"gdb-multiarch", "-batch", "-nx", image, "-ex",
                                        "target remote 127.0.0.1:" + m[1].str()};
        for (const std::string& c : commands) {
            gdb.push_back("-ex");
            gdb.push_back(c);
        }
        pid_t gdbPid = spawn(gdb, dir_ / "gdb.out", dir_ / "gdb.err");
        if (interruptAfter > 0ms) {
            std::this_thread::sleep_for(interruptAfter);
            kill(gdbPid, SIGINT);
        }
        reap(gdbPid, 60s);
        s.simStatus = reap(simPid, 60s);
        s.gdb = slurp(dir_ / "gdb.out") + slurp(dir_ / "gdb.err");
        s.console = slurp(dir_ / "sim.out");
        s.simErr = slurp(dir_ / "sim.err");
        return s;
    }

    // The console of the same run without a debugger.
    std::string consoleWithout(const std::string& image, const std::string& args) {
        std::string cmd = std::string(PIC32SIM) + " " + image + " " + args + " 2>/dev/null";
        FILE* p = popen(cmd.c_str(), "r");
        std::string out;
        char buf[4096];
        while (size_t n = fread(buf, 1, sizeof buf, p)) out.append(buf, n);
        pclose(p);
        return out;
    }

    fs::path dir_;
};

std::string hex(uint32_t v) {
    char b[16];
    std::snprintf(b, sizeof b, "0x%08x", v);
    return b;
}

TEST_F(Gdb, BreakpointArgumentsFinishAndRegistersOfTheClockDemo) {
    const std::string image = systemtest::imagePath(systemtest::kImages, "clockdemo.elf");
    for (bool rtc : {true, false}) {
        SCOPED_TRACE(rtc ? "with the clock chip" : "--no-rtc");
        std::vector<std::string> args = {"--seconds", "2.5"};
        if (!rtc) args.push_back("--no-rtc");
        Session s = debug(image, args,
                          {"break setTimeDate", "continue", "printf \"args %d %d %d %d\\n\", $a0, $a1, $a2, $a3",
                           "finish", "printf \"returned %d\\n\", $v0",
                           // initUART ran before setTimeDate: the baud divider through the bus
                           "x/wx " + hex(U1BRG.address), "delete", "continue"});
        EXPECT_NE(s.gdb.find("args 5 10 2 3"), std::string::npos) << s.gdb;
        EXPECT_NE(s.gdb.find(rtc ? "returned 1" : "returned 0"), std::string::npos) << s.gdb;
        EXPECT_NE(s.gdb.find(rtc ? "= TRUE" : "= FALSE"), std::string::npos) << s.gdb;
        EXPECT_NE(s.gdb.find(":\t0x00000056"), std::string::npos) << "U1BRG = 86: " << s.gdb;
        EXPECT_NE(s.gdb.find("exited normally"), std::string::npos) << s.gdb;
        EXPECT_EQ(s.simStatus, 0);
        // Halting and reading registers changed nothing on the wires.
        EXPECT_EQ(s.console, consoleWithout(image, rtc ? "--seconds 2.5" : "--seconds 2.5 --no-rtc"));
    }
}

TEST_F(Gdb, WatchpointOnARamVariableStopsAtTheStoreThatWritesIt) {
    const std::string image = systemtest::imagePath(systemtest::kTestImages, "tick_test.elf");
    Session s = debug(image, {"--seconds", "1"},
                      {"watch _millis", "continue", "x/i $pc-4", "continue", "print _millis", "kill"});
    EXPECT_NE(s.gdb.find("Old value = 0\nNew value = 1"), std::string::npos) << s.gdb;
    // gdb steps over the access and reports the instruction after it: the store before.
    std::smatch m;
    ASSERT_TRUE(std::regex_search(s.gdb, m, std::regex("<Timer2Handler\\(\\)\\+[0-9]+>:\tsw\t"))) << s.gdb;
    EXPECT_NE(s.gdb.find("$1 = 2"), std::string::npos) << s.gdb;
}

TEST_F(Gdb, SteppingAndCtrlCLeaveVirtualTimeStillWhileHalted) {
    const std::string image = systemtest::imagePath(systemtest::kImages, "clockdemo.elf");
    Session s = debug(image, {"--seconds", "100000"},
                      {"stepi", "printf \"pc %x\\n\", $pc", "stepi", "printf \"pc %x\\n\", $pc", "stepi",
                       "printf \"pc %x\\n\", $pc", "continue",
                       "monitor time", "shell sleep 0.3", "monitor time", "info registers", "kill"},
                      1500ms);
    // The reset vector's first instructions: lui, addiu, then jr k0 with its slot to
    // _startup. gdb steps in software on MIPS (a breakpoint at the next pc it works out), so
    // a stepi on the jump runs the slot with it and stops at the target.
    EXPECT_TRUE(std::regex_search(s.gdb, std::regex("pc bfc00004\n[^]*pc bfc00008\n[^]*pc bfc00010\n"))) << s.gdb;
    EXPECT_NE(s.gdb.find("Program received signal SIGINT"), std::string::npos) << s.gdb;
    std::smatch m;
    std::regex time("([0-9]+) cycles, [0-9.]+ us");
    std::vector<std::string> times;
    for (auto it = std::sregex_iterator(s.gdb.begin(), s.gdb.end(), time); it != std::sregex_iterator(); ++it)
        times.push_back((*it)[1]);
    ASSERT_EQ(times.size(), 2u) << s.gdb;
    EXPECT_EQ(times[0], times[1]) << "halted, no time passes";
    EXPECT_GT(std::stoull(times[0]), 0u);
    for (const char* reg : {"zero", "sp", "ra", " sr ", " lo ", " hi ", " bad ", "cause", " pc"})
        EXPECT_NE(s.gdb.find(reg), std::string::npos) << reg << " in info registers";
}

// The server's own step (the s packet) stops in a taken branch's delay slot, then at the
// target, as the chip's single-step does.
TEST(CoreTarget, StepStopsInTheDelaySlotThenAtTheTarget) {
    systemtest::Booted d(systemtest::readImage(systemtest::kImages, "clockdemo.elf"));
    sim::debug::CoreTarget target(d.core, d.board.cycles(1.0));
    std::vector<uint32_t> pcs;
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(target.step().kind, sim::debug::StopEvent::Kind::StepDone);
        pcs.push_back(target.readRegister(sim::debug::gdbreg::Pc));
    }
    EXPECT_EQ(pcs, (std::vector<uint32_t>{0xBFC00004u, 0xBFC00008u, 0xBFC0000Cu, 0xBFC00010u}));
    // A run with a breakpoint where it starts executes that instruction first.
    target.insertBreakpoint(0xBFC00010u);
    target.insertBreakpoint(0xBFC00014u);
    EXPECT_EQ(target.run(100).kind, sim::debug::StopEvent::Kind::Breakpoint);
    EXPECT_EQ(target.readRegister(sim::debug::gdbreg::Pc), 0xBFC00014u);
}

}  // namespace
