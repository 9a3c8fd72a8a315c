// The clock demo on the virtual board, from reset: its main with the board built from the
// image's configuration words, the real-time clock chip on the I2C bus and a terminal on
// the console. Console output goes to stdout as the board sends it; the I2C trace, if
// asked, to stderr.
#include <cstdio>
#include <string>

#include "platform/host/host_backend.h"
#include "sim/boards/board.h"
#include "sim/wires/i2c_bus.h"
#include "sim/devices/rtc_chip.h"
#include "sim/devices/terminal.h"
#include "tools/board_options.h"

extern "C" int clockdemo_main(int argc, char** argv);
extern "C" const uint32_t firmware_config_words[3];

int main(int argc, char** argv) {
    double seconds = 5;
    bool rtc = true, traceI2c = false;
    std::string input;

    char inputHelp[80];
    std::snprintf(inputHelp, sizeof inputHelp, "typed on the console at 57600 baud, %.1f s after reset",
                  tools::kInputAtSeconds);
    tools::Cli cli("clockdemo", "[options]",
                   "Runs the clock demo on the virtual PIC32MX440F256H board from reset, with the\n"
                   "real-time clock chip (address 0x51) on I2C1; the console (UART1, 57600 baud)\n"
                   "is printed on stdout.\n");
    cli.seconds("--seconds", "simulated seconds to run (default 5)", seconds)
        .flag("--no-rtc", "no clock chip on the bus", rtc, false)
        .text("--input", "TEXT", inputHelp, input)
        .flag("--trace-i2c", "the I2C bus trace (START, bytes, ACK/NACK, STOP) on stderr", traceI2c)
        .parse(argc, argv);

    sim::BoardConfig cfg;
    cfg.config = tools::configWords(firmware_config_words);
    sim::Board board(cfg);
    if (rtc) sim::RtcChip::attach(board);
    auto& analyser = board.add<sim::I2cAnalyser>(board.sched, sim::RtcChip::busOf(board), board.sysclkHz());
    if (traceI2c) tools::traceToStderr(analyser);
    sim::Terminal terminal(board.sched, board.uart1.txNet(), board.uart1.rxNet(), board.sysclkHz());
    tools::consoleToStdout(terminal);
    if (!input.empty()) terminal.sendAt(board.cycles(tools::kInputAtSeconds), input);

    platform::host::attach(&board);
    unsigned resets = platform::host::run([] { clockdemo_main(0, nullptr); }, board.cycles(seconds));
    platform::host::attach(nullptr);
    if (resets) std::fprintf(stderr, "clockdemo: the device reset %u time(s)\n", resets);
    return 0;
}
