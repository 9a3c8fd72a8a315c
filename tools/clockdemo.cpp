// The clock demo on the virtual board, from reset: its main with the board built from the
// image's configuration words, the real-time clock chip on the I2C bus and a terminal on
// the console. Console output goes to stdout as the board sends it; the I2C trace, if
// asked, to stderr.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/host/host_backend.h"
#include "sim/board.h"
#include "sim/i2c_bus.h"
#include "sim/rtc_chip.h"
#include "sim/terminal.h"

extern "C" int clockdemo_main(int argc, char** argv);
extern "C" const uint32_t firmware_config_words[3];

namespace {

// Typed input starts once the console is up and the first line is out.
constexpr double kInputAtSeconds = 0.5;

void usage(FILE* out) {
    std::fprintf(out,
                 "usage: clockdemo [options]\n"
                 "Runs the clock demo on the virtual PIC32MX440F256H board from reset, with the\n"
                 "real-time clock chip (address 0x51) on I2C1; the console (UART1, 57600 baud)\n"
                 "is printed on stdout.\n"
                 "\n"
                 "  --seconds N     simulated seconds to run (default 5)\n"
                 "  --no-rtc        no clock chip on the bus\n"
                 "  --input TEXT    typed on the console at 57600 baud, %.1f s after reset\n"
                 "  --trace-i2c     the I2C bus trace (START, bytes, ACK/NACK, STOP) on stderr\n"
                 "  --help          this text\n",
                 kInputAtSeconds);
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = 5;
    bool rtc = true, traceI2c = false;
    std::string input;

    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&](const char* name) -> const char* {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "clockdemo: %s needs a value\n", name);
                std::exit(2);
            }
            return argv[++i];
        };
        if (a == "--help" || a == "-h") {
            usage(stdout);
            return 0;
        } else if (a == "--seconds") {
            const char* v = value("--seconds");
            char* end = nullptr;
            seconds = std::strtod(v, &end);
            if (*end != '\0' || end == v || !(seconds >= 0)) {
                std::fprintf(stderr, "clockdemo: --seconds wants a number of seconds, not '%s'\n", v);
                return 2;
            }
        } else if (a == "--no-rtc") {
            rtc = false;
        } else if (a == "--input") {
            input = value("--input");
        } else if (a == "--trace-i2c") {
            traceI2c = true;
        } else {
            std::fprintf(stderr, "clockdemo: unknown option '%s'\n", argv[i]);
            usage(stderr);
            return 2;
        }
    }

    sim::BoardConfig cfg;
    cfg.config.devcfg2 = firmware_config_words[0];
    cfg.config.devcfg1 = firmware_config_words[1];
    cfg.config.devcfg0 = firmware_config_words[2];
    sim::Board board(cfg);
    if (rtc) sim::RtcChip::attach(board);
    auto& analyser = board.add<sim::I2cAnalyser>(board.sched, sim::i2cBus(board.nets), board.sysclkHz());
    if (traceI2c)
        analyser.onLine = [](const std::string& line) {
            std::fputs(line.c_str(), stderr);
            std::fputc('\n', stderr);
        };
    sim::Terminal terminal(board.sched, board.uart1.txNet(), board.uart1.rxNet(), board.sysclkHz());
    terminal.onByte = [](uint8_t b) {
        std::fputc(b, stdout);
        std::fflush(stdout);
    };
    if (!input.empty()) terminal.sendAt(board.cycles(kInputAtSeconds), input);

    platform::host::attach(&board);
    unsigned resets = platform::host::run([] { clockdemo_main(0, nullptr); }, board.cycles(seconds));
    platform::host::attach(nullptr);
    if (resets) std::fprintf(stderr, "clockdemo: the device reset %u time(s)\n", resets);
    return 0;
}
