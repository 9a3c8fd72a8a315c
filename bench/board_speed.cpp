// Simulated seconds per second of CPU time of the real firmware images on the virtual
// board, set up as pic32sim sets it up (tools/image_board.h: the board clocked from the
// image's configuration words, the clock chip on I2C1, the card in the slot as --card
// gives it): clockdemo.elf with fast-forward on and off, and carddemo.elf with a card that
// never becomes ready over its first simulated seconds. Median of `--runs` runs back to
// back, and the core's statistics of each run.
//
//   board_speed [--runs N] [--on-seconds S] [--off-seconds S] [--card-seconds S] [--images DIR]
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "tools/board_options.h"
#include "tools/cli.h"
#include "tools/image_board.h"

namespace {

double cpuSeconds() {
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + t.tv_nsec * 1e-9;
}

struct Case {
    const char* name;
    const char* image;
    bool fastForward;
    bool card;  // a never-ready card in the slot
    double seconds;
    double goal;  // times real time
};

struct Run {
    double simulated, cpu;
    sim::CoreStats stats;
    size_t consoleBytes;
};

Run runOnce(const sim::Image& image, const Case& c) {
    tools::ImageBoardOptions o;
    o.fastForward = c.fastForward;
    if (c.card) {
        sim::SdCard::Options card;
        card.busyAttempts = tools::kDefaultReadyAfter;
        sim::SdCard::parseKind("never-ready", card.kind);
        o.card = card;
    }
    tools::ImageBoard board(image, o);
    double t0 = cpuSeconds();
    board.runUntil(c.seconds);
    double cpu = cpuSeconds() - t0;
    return {board.board.seconds(board.board.now()), cpu, board.core.stats(), board.terminal.received().size()};
}

}  // namespace

int main(int argc, char** argv) {
    unsigned runs = 3;
    double onSeconds = 300, offSeconds = 10, cardSeconds = 2;
    std::string dir = IMAGES_DIR;
    tools::Cli cli("board_speed", "[options]",
                   "Simulated seconds per CPU second of clockdemo.elf (fast-forward on and off) and of\n"
                   "carddemo.elf with a never-ready card, on the board pic32sim builds.\n");
    cli.count("--runs", "N", "runs of each case; the median counts (default 3)", runs, 99, 1)
        .seconds("--on-seconds", "simulated seconds of clockdemo with fast-forward on (default 300)", onSeconds)
        .seconds("--off-seconds", "simulated seconds of clockdemo with fast-forward off (default 10)", offSeconds)
        .seconds("--card-seconds", "simulated seconds of carddemo, never-ready card (default 2)", cardSeconds)
        .text("--images", "DIR", "where clockdemo.elf and carddemo.elf are (default: the target build's)", dir)
        .parse(argc, argv);

    const Case cases[] = {
        {"clockdemo, fast-forward on", "clockdemo.elf", true, false, onSeconds, 1000},
        {"clockdemo, fast-forward off", "clockdemo.elf", false, false, offSeconds, 12},
        {"carddemo, never-ready card", "carddemo.elf", true, true, cardSeconds, 50},
    };
    std::printf("board_speed: median of %u run%s, CPU time\n", runs, runs == 1 ? "" : "s");
    std::vector<double> speeds;
    for (const Case& c : cases) {
        sim::Image image;
        try {
            image = tools::ImageBoard::read(dir + "/" + c.image);
        } catch (const sim::ImageError& e) {
            std::printf("%s (build the target preset first)\n", e.what());
            return 1;
        }
        std::printf("\n%s (%s, %g simulated s):\n", c.name, c.image, c.seconds);
        std::vector<double> v;
        for (unsigned i = 0; i < runs; ++i) {
            Run r = runOnce(image, c);
            double speed = r.cpu > 0 ? r.simulated / r.cpu : 0;
            v.push_back(speed);
            std::printf("  run %u: %8.3f s CPU %10.1f x real time  instructions %llu, fastForwards %llu, "
                        "skippedCycles %llu (console %zu bytes)\n",
                        i + 1, r.cpu, speed, static_cast<unsigned long long>(r.stats.instructions),
                        static_cast<unsigned long long>(r.stats.fastForwards),
                        static_cast<unsigned long long>(r.stats.skippedCycles), r.consoleBytes);
        }
        std::sort(v.begin(), v.end());
        speeds.push_back(v[v.size() / 2]);
    }

    std::printf("\n%-30s %14s %8s\n", "simulated s / CPU s", "median", "goal");
    for (size_t i = 0; i < speeds.size(); ++i)
        std::printf("%-30s %12.1f x %6.0f x  %s\n", cases[i].name, speeds[i], cases[i].goal,
                    speeds[i] >= cases[i].goal ? "met" : "MISSED");
    return 0;
}
