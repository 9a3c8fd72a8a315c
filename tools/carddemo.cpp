// The card demo on the virtual board, from reset: its main with the board built from the
// image's configuration words, an SD card in the slot and a terminal on the console.
// Console output goes to stdout as the board sends it; the SPI trace, if asked, to stderr.
//
// Built twice: `carddemo` runs the earlier revision (the carddemo image's), `carddemo-main`
// the current one (the relocatable main module's).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/host/host_backend.h"
#include "sim/board.h"
#include "sim/sd_card.h"
#include "sim/spi.h"
#include "sim/terminal.h"

#if defined(CARDDEMO_EARLIER_REVISION)
extern "C" int carddemo_earlier_main(int argc, char** argv);
extern "C" const uint32_t carddemo_earlier_config_words[3];
#define CARDDEMO_ENTRY carddemo_earlier_main
#define CARDDEMO_CONFIG_WORDS carddemo_earlier_config_words
#define CARDDEMO_NAME "carddemo"
#define CARDDEMO_WHAT "the carddemo image's card demo (earlier revision)"
#else
extern "C" int carddemo_main(int argc, char** argv);
extern "C" const uint32_t firmware_config_words[3];
#define CARDDEMO_ENTRY carddemo_main
#define CARDDEMO_CONFIG_WORDS firmware_config_words
#define CARDDEMO_NAME "carddemo-main"
#define CARDDEMO_WHAT "the card demo's main module (current revision)"
#endif

namespace {

void usage(FILE* out) {
    std::fprintf(out,
                 "usage: " CARDDEMO_NAME " [options]\n"
                 "Runs " CARDDEMO_WHAT " on the virtual PIC32MX440F256H board\n"
                 "from reset; the console (UART1, 57600 baud) is printed on stdout.\n"
                 "\n"
                 "  --seconds N        simulated seconds to run (default 5)\n"
                 "  --card KIND        the SD card in the slot (default ready):\n"
                 "                       ready        takes CMD1 and becomes ready (see --ready-after)\n"
                 "                       never-ready  takes CMD1 but stays idle for ever\n"
                 "                       sdhc         SDHC card that rejects CMD1 (0x05)\n"
                 "                       sdhc-idle    SDHC card that takes CMD1 and stays idle\n"
                 "                       absent       empty slot, MISO stays high\n"
                 "                       bad-idle     answers CMD0 with 0x00 instead of 0x01\n"
                 "  --ready-after K    CMD1 attempts answered 0x01 before the card is ready (default 2)\n"
                 "  --trace-spi        the SPI bus trace (select line, bytes, commands, R1) on stderr\n"
                 "  --help             this text\n");
}

bool parseCount(const char* s, unsigned long& out) {
    char* end = nullptr;
    out = std::strtoul(s, &end, 10);
    return s[0] >= '0' && s[0] <= '9' && *end == '\0';
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = 5;
    sim::SdCard::Options card;
    card.busyAttempts = 2;
    bool traceSpi = false;

    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&](const char* name) -> const char* {
            if (i + 1 >= argc) {
                std::fprintf(stderr, CARDDEMO_NAME ": %s needs a value\n", name);
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
            if (*end != '\0' || !(seconds >= 0)) {
                std::fprintf(stderr, CARDDEMO_NAME ": --seconds wants a number of seconds, not '%s'\n", v);
                return 2;
            }
        } else if (a == "--card") {
            const char* v = value("--card");
            if (!sim::SdCard::parseKind(v, card.kind)) {
                std::fprintf(stderr, CARDDEMO_NAME ": unknown card '%s'\n", v);
                usage(stderr);
                return 2;
            }
        } else if (a == "--ready-after") {
            const char* v = value("--ready-after");
            unsigned long k = 0;
            if (!parseCount(v, k) || k > 1000000) {
                std::fprintf(stderr, CARDDEMO_NAME ": --ready-after wants a count, not '%s'\n", v);
                return 2;
            }
            card.busyAttempts = unsigned(k);
        } else if (a == "--trace-spi") {
            traceSpi = true;
        } else {
            std::fprintf(stderr, CARDDEMO_NAME ": unknown option '%s'\n", argv[i]);
            usage(stderr);
            return 2;
        }
    }

    sim::BoardConfig cfg;
    cfg.config.devcfg2 = CARDDEMO_CONFIG_WORDS[0];
    cfg.config.devcfg1 = CARDDEMO_CONFIG_WORDS[1];
    cfg.config.devcfg0 = CARDDEMO_CONFIG_WORDS[2];
    sim::Board board(cfg);
    board.add<sim::SdCard>(board.nets, card);
    sim::Terminal terminal(board.sched, board.uart1.txNet(), board.uart1.rxNet(), board.sysclkHz());
    terminal.onByte = [](uint8_t b) {
        std::fputc(b, stdout);
        std::fflush(stdout);
    };
    sim::SpiAnalyser analyser(board.nets, board.sched, board.sysclkHz());
    if (traceSpi) {
        std::fputs(analyser.text().c_str(), stderr);  // the select line's level at power-up
        analyser.onLine = [](const std::string& line) {
            std::fputs(line.c_str(), stderr);
            std::fputc('\n', stderr);
        };
    }

    platform::host::attach(&board);
    unsigned resets = platform::host::run([] { CARDDEMO_ENTRY(0, nullptr); }, board.cycles(seconds));
    platform::host::attach(nullptr);
    if (resets) std::fprintf(stderr, CARDDEMO_NAME ": the device reset %u time(s)\n", resets);
    return 0;
}
