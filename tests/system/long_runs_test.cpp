// What pic32sim keeps does not grow with the length of the run, even when the firmware
// repeats a diagnostic without end: a loop of accesses no model claims, a loop of software
// resets. Peak resident memory of a 1 s and a 20 s simulated run, and the counts that show
// the loop ran all along.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/system/system_fixture.h"

namespace {

struct Outcome {
    long peakKiB = -1;
    std::string lastLine;  // of stderr
};

// Runs pic32sim with stdout to /dev/null; keeps only the end of stderr, which may be long.
Outcome run(const std::string& image, const char* seconds) {
    Outcome r;
    int fds[2];
    if (pipe(fds) != 0) return r;
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        std::freopen("/dev/null", "w", stdout);
        dup2(fds[1], 2);
        close(fds[0]);
        close(fds[1]);
        execl(PIC32SIM, PIC32SIM, image.c_str(), "--seconds", seconds, static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    std::string tail;
    char buf[65536];
    for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) {
        tail.append(buf, size_t(n));
        if (tail.size() > 2 * sizeof buf) tail.erase(0, tail.size() - sizeof buf);
    }
    close(fds[0]);
    int status = 0;
    rusage use{};
    if (wait4(pid, &status, 0, &use) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return r;
    r.peakKiB = use.ru_maxrss;
    while (!tail.empty() && tail.back() == '\n') tail.pop_back();
    r.lastLine = tail.substr(tail.rfind('\n') + 1);
    return r;
}

// The number after `prefix` in `line`, or 0.
double countAfter(const std::string& line, const std::string& prefix) {
    size_t at = line.find(prefix);
    return at == std::string::npos ? 0 : std::strtod(line.c_str() + at + prefix.size(), nullptr);
}

TEST(LongRuns, RepeatingDiagnosticsKeepMemoryConstant) {
    struct Case {
        const char* image;
        const char* prefix;  // of the summary's count
    };
    for (const Case& c : {Case{"unclaimed_loop_test.elf", "pic32sim: "}, Case{"reset_loop_test.elf", "the device reset "}}) {
        SCOPED_TRACE(c.image);
        const std::string image = systemtest::imagePath(systemtest::kTestImages, c.image);
        Outcome shortRun = run(image, "1"), longRun = run(image, "20");
        ASSERT_GT(shortRun.peakKiB, 0);
        ASSERT_GT(longRun.peakKiB, 0);
        EXPECT_LT(longRun.peakKiB - shortRun.peakKiB, 1024)
            << shortRun.peakKiB << " KiB after 1 s, " << longRun.peakKiB << " KiB after 20 s";
        double few = countAfter(shortRun.lastLine, c.prefix), many = countAfter(longRun.lastLine, c.prefix);
        EXPECT_GT(few, 100000) << shortRun.lastLine;
        EXPECT_NEAR(many / few, 20, 0.1) << "counted all along: " << shortRun.lastLine << " / " << longRun.lastLine;
    }
}

}  // namespace
