// Peak memory of pic32sim running clockdemo.elf for a short and a long simulated time, bare,
// with the waveform dump and with the ordered trace written to a file: what the board keeps
// must not grow with the length of the run (goal: the short and the long run less than
// 1 MB apart in every configuration).
//
//   memory_bench [--short S] [--long S]   (defaults 10 and 10000 simulated seconds)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tools/cli.h"

namespace {

// Runs pic32sim with `args` and returns its peak resident set in KiB (-1 if it failed).
long peakKiB(const std::vector<std::string>& args) {
    std::fflush(stdout);  // the child must not print what is still buffered here
    pid_t pid = fork();
    if (pid == 0) {
        std::freopen("/dev/null", "w", stdout);
        std::freopen("/dev/null", "w", stderr);
        std::vector<char*> argv;
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage use{};
    if (wait4(pid, &status, 0, &use) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
    return use.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
    double shortRun = 10, longRun = 10000;
    tools::Cli cli("memory_bench", "[options]",
                   "Peak memory of pic32sim on clockdemo.elf, a short run against a long one, bare,\n"
                   "with --vcd and with --trace to a file (goal: less than 1 MB apart).\n");
    cli.seconds("--short", "simulated seconds of the short run (default 10)", shortRun)
        .seconds("--long", "simulated seconds of the long run (default 10000)", longRun)
        .parse(argc, argv);
    const std::string sim = PIC32SIM, image = IMAGES_DIR "/clockdemo.elf";
    if (!std::filesystem::exists(image)) {
        std::printf("%s is missing: build the target preset first\n", image.c_str());
        return 1;
    }
    const std::string dir = std::filesystem::temp_directory_path() / ("memory_bench_" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    struct Config {
        const char* name;
        std::vector<std::string> extra;
    };
    const std::vector<Config> configs = {
        {"bare", {}},
        {"--vcd", {"--vcd", dir + "/run.vcd"}},
        {"--trace", {"--trace", "i2c,spi,pins,uart,irq,reset", "--trace-file", dir + "/run.trace"}},
    };
    std::printf("%-10s %14s %14s %12s  goal < 1024 KiB\n", "run", "short (KiB)", "long (KiB)", "apart (KiB)");
    int missed = 0;
    for (const Config& c : configs) {
        long peak[2];
        for (int i = 0; i < 2; ++i) {
            std::vector<std::string> args = {sim, image, "--seconds", std::to_string(i ? longRun : shortRun)};
            args.insert(args.end(), c.extra.begin(), c.extra.end());
            peak[i] = peakKiB(args);
        }
        long apart = peak[1] - peak[0];
        bool met = peak[0] > 0 && peak[1] > 0 && apart < 1024;
        missed += !met;
        std::printf("%-10s %14ld %14ld %12ld  %s\n", c.name, peak[0], peak[1], apart, met ? "met" : "MISSED");
    }
    std::filesystem::remove_all(dir);
    std::printf("(%g and %g simulated seconds; peak resident set of each pic32sim process)\n", shortRun, longRun);
    return missed ? 1 : 0;
}
