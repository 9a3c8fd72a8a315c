// What the programs that run firmware on the virtual board have in common: the SD card
// options, and printing the console (stdout) and the bus traces
// (stderr) as the board produces them.
#pragma once
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "sim/wires/i2c_bus.h"
#include "sim/devices/sd_card.h"
#include "sim/chip/spi.h"
#include "sim/chip/system.h"
#include "sim/devices/terminal.h"
#include "tools/cli.h"

namespace tools {

// Typed input starts once the console is up and the first line is out.
inline constexpr double kInputAtSeconds = 0.5;

// CMD1 attempts a ready card answers 0x01 before it is ready, unless --ready-after says.
inline constexpr unsigned kDefaultReadyAfter = 2;

// --card KIND and --ready-after K; `inSlot`, if given, is set when --card is.
inline void addCardOptions(Cli& cli, sim::SdCard::Options& card, bool* inSlot = nullptr) {
    cli.option("--card", "KIND",
               "the SD card in the slot:\n"
               "  ready        takes CMD1 and becomes ready (see --ready-after)\n"
               "  never-ready  takes CMD1 but stays idle for ever\n"
               "  sdhc         SDHC card that rejects CMD1 (0x05)\n"
               "  sdhc-idle    SDHC card that takes CMD1 and stays idle\n"
               "  absent       empty slot, MISO stays high\n"
               "  bad-idle     answers CMD0 with 0x00 instead of 0x01",
               [&cli, &card, inSlot](const char* v) {
                   if (!sim::SdCard::parseKind(v, card.kind)) cli.fail(std::string("unknown card '") + v + "'", true);
                   if (inSlot) *inSlot = true;
               });
    cli.count("--ready-after", "K", "CMD1 attempts answered 0x01 before the card is ready (default 2)",
              card.busyAttempts, 1000000);
}

// The board's configuration words as a firmware module defines them: DEVCFG2, 1, 0.
inline sim::ConfigWords configWords(const uint32_t (&words)[3]) {
    sim::ConfigWords c;
    c.devcfg2 = words[0];
    c.devcfg1 = words[1];
    c.devcfg0 = words[2];
    return c;
}

// Every byte the board sends on the console goes to stdout at once.
inline void consoleToStdout(sim::Terminal& terminal) {
    terminal.onByte = [](uint8_t b) {
        std::fputc(b, stdout);
        std::fflush(stdout);
    };
}

inline void printLine(const std::string& line) {
    std::fputs(line.c_str(), stderr);
    std::fputc('\n', stderr);
}

// The I2C trace (START, bytes with ACK/NACK, STOP, time-stamped) on stderr as decoded.
inline void traceToStderr(sim::I2cAnalyser& analyser) { analyser.onLine = printLine; }

// The SPI trace on stderr, from the select line's level at power-up on.
inline void traceToStderr(sim::SpiAnalyser& analyser) {
    std::fputs(analyser.text().c_str(), stderr);
    analyser.onLine = printLine;
}

}  // namespace tools
