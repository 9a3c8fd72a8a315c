// The console as a script or a person uses it: expectations that end the run (status 0) or
// time out (status 4), typed input of any bytes, time stamps on the lines, and UART1 on a
// pseudo-terminal paced to the wall clock.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>

#include "tests/system/system_fixture.h"

namespace {

namespace fs = std::filesystem;

struct Outcome {
    int status;
    std::string out, err;
};

Outcome run(const std::string& args) {
    fs::path err = fs::temp_directory_path() / ("console_err_" + std::to_string(getpid()));
    std::string cmd = std::string(PIC32SIM) + " " + systemtest::imagePath(systemtest::kImages, "clockdemo.elf") + " " +
                      args + " 2>" + err.string();
    Outcome r{-1, "", ""};
    FILE* p = popen(cmd.c_str(), "r");
    char buf[4096];
    while (size_t n = fread(buf, 1, sizeof buf, p)) r.out.append(buf, n);
    int status = pclose(p);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream in(err);
    r.err.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    fs::remove(err);
    return r;
}

TEST(Console, ExpectationsEndTheRunOrTimeOut) {
    struct Case {
        const char* args;
        int status;
        const char* outEnds;  // what stdout ends with
        const char* err;      // in stderr
    };
    const Case cases[] = {
        // The first line: the run ends right there, long before its 5 s.
        {"--expect 'init i2c (true|false)'", 0, "init i2c true", ""},
        {"--expect 'init i2c true' --expect '2:10:7-'", 0, "2:10:7-", ""},
        // Order matters: the first line does not come again after the second.
        {"--expect '2:10:5-' --expect 'init i2c' --timeout 2", 4, "ok\r\n",
         "timeout after 2.000 s: expectation 2 of 2 never matched: 'init i2c'"},
        {"--expect 'no such line' --timeout 1.5", 4, "ok\r\n", "expectation 1 of 1 never matched: 'no such line'"},
        {"--expect '('", 2, "", "bad regular expression"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        Outcome r = run(c.args);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_GE(r.out.size(), std::strlen(c.outEnds));
        EXPECT_EQ(r.out.substr(r.out.size() - std::min(r.out.size(), std::strlen(c.outEnds))), c.outEnds) << r.out;
        EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
    }
}

TEST(Console, AnyBytesAreTypedAndEchoedAndLinesCarryTheirTime) {
    fs::path in = fs::temp_directory_path() / ("console_in_" + std::to_string(getpid()));
    std::ofstream(in, std::ios::binary) << std::string("a\0\xFF" "b", 4);
    Outcome file = run("--seconds 1.2 --input-file " + in.string());
    fs::remove(in);
    const char want[] = "init i2c true\r\n2:10:5-3-3/1/14ok\r\na\0\xFF" "b2:10:6-3-3/1/14ok\r\n";
    EXPECT_EQ(file.out, std::string(want, sizeof want - 1));

    Outcome at = run("--seconds 1.2 --input-at '0.7:x\\x00y' --console-timestamps");
    // Each line starts with the virtual time of its first byte, and the echo comes inline.
    std::regex line("^ +[0-9]+\\.[0-9]{3} us  ");
    EXPECT_TRUE(std::regex_search(at.out, line)) << at.out;
    EXPECT_NE(at.out.find(" us  init i2c true\r\n"), std::string::npos) << at.out;
    const char echoed[] = " us  x\0y2:10:6-";
    EXPECT_NE(at.out.find(std::string(echoed, sizeof echoed - 1)), std::string::npos) << at.out;
}

// A person at a terminal program: the pseudo-terminal's path is printed, the demo's lines
// arrive on it paced to the wall clock, and what is typed there is echoed.
TEST(Console, PseudoTerminalEchoesWhatIsTyped) {
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        close(out[0]);
        std::freopen("/dev/null", "w", stderr);
        std::string image = systemtest::imagePath(systemtest::kImages, "clockdemo.elf");
        execl(PIC32SIM, PIC32SIM, image.c_str(), "--pty", "--seconds", "20", (char*)nullptr);
        _exit(127);
    }
    close(out[1]);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    auto readSome = [&](int fd, std::string& into) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 100) > 0) {
            char buf[256];
            ssize_t n = read(fd, buf, sizeof buf);
            if (n > 0) into.append(buf, size_t(n));
        }
    };
    std::string banner;
    std::smatch m;
    static const std::regex path("console on (/dev/[^\\s]+)");
    while (!std::regex_search(banner, m, path) && std::chrono::steady_clock::now() < deadline) readSome(out[0], banner);
    ASSERT_FALSE(m.empty()) << banner;
    int tty = open(m[1].str().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(tty, 0) << m[1];
    std::string seen;
    while (seen.find("init i2c true\r\n") == std::string::npos && std::chrono::steady_clock::now() < deadline)
        readSome(tty, seen);
    ASSERT_NE(seen.find("init i2c true\r\n"), std::string::npos) << seen;
    ASSERT_EQ(write(tty, "hi", 2), 2);
    while (seen.find("hi") == std::string::npos && std::chrono::steady_clock::now() < deadline) readSome(tty, seen);
    EXPECT_NE(seen.find("hi"), std::string::npos) << "the echo: " << seen;
    close(tty);
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    close(out[0]);
}

}  // namespace
