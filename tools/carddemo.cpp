// The card demo on the virtual board, from reset: its main with the board built from the
// image's configuration words, an SD card in the slot and a terminal on the console.
// Console output goes to stdout as the board sends it; the SPI trace, if asked, to stderr.
//
// Built twice: `carddemo` runs the earlier revision (the carddemo image's), `carddemo-main`
// the current one (the relocatable main module's).
#include <cstdio>
#include <string>

#include "platform/host/host_backend.h"
#include "sim/boards/board.h"
#include "sim/devices/sd_card.h"
#include "sim/chip/spi.h"
#include "sim/devices/terminal.h"
#include "tools/board_options.h"

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

int main(int argc, char** argv) {
    double seconds = 5;
    sim::SdCard::Options card;
    card.busyAttempts = tools::kDefaultReadyAfter;
    bool traceSpi = false;

    tools::Cli cli(CARDDEMO_NAME, "[options]",
                   "Runs " CARDDEMO_WHAT " on the virtual PIC32MX440F256H board\n"
                   "from reset, with an SD card in the slot (ready unless --card says otherwise);\n"
                   "the console (UART1, 57600 baud) is printed on stdout.\n");
    cli.seconds("--seconds", "simulated seconds to run (default 5)", seconds);
    tools::addCardOptions(cli, card);
    cli.flag("--trace-spi", "the SPI bus trace (select line, bytes, commands, R1) on stderr", traceSpi)
        .parse(argc, argv);

    sim::BoardConfig cfg;
    cfg.config = tools::configWords(CARDDEMO_CONFIG_WORDS);
    sim::Board board(cfg);
    sim::SdCard::insert(board, card);
    sim::Terminal terminal(board.sched, board.uart1.txNet(), board.uart1.rxNet(), board.sysclkHz());
    tools::consoleToStdout(terminal);
    sim::SpiAnalyser analyser(board.nets, board.sched, board.sysclkHz(), board.description().cardSlot);
    if (traceSpi) tools::traceToStderr(analyser);

    platform::host::attach(&board);
    unsigned resets = platform::host::run([] { CARDDEMO_ENTRY(0, nullptr); }, board.cycles(seconds));
    platform::host::attach(nullptr);
    if (resets) std::fprintf(stderr, CARDDEMO_NAME ": the device reset %u time(s)\n", resets);
    return 0;
}
