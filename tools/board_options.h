// What the programs that run firmware on the virtual board have in common: reading their
// options, the SD card choices, and printing the console (stdout) and the bus traces
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

namespace tools {

// Typed input starts once the console is up and the first line is out.
inline constexpr double kInputAtSeconds = 0.5;

// CMD1 attempts a ready card answers 0x01 before it is ready, unless --ready-after says.
inline constexpr unsigned kDefaultReadyAfter = 2;

// Help lines of --card and --ready-after.
inline constexpr const char* kCardHelp =
    "  --card KIND        the SD card in the slot:\n"
    "                       ready        takes CMD1 and becomes ready (see --ready-after)\n"
    "                       never-ready  takes CMD1 but stays idle for ever\n"
    "                       sdhc         SDHC card that rejects CMD1 (0x05)\n"
    "                       sdhc-idle    SDHC card that takes CMD1 and stays idle\n"
    "                       absent       empty slot, MISO stays high\n"
    "                       bad-idle     answers CMD0 with 0x00 instead of 0x01\n"
    "  --ready-after K    CMD1 attempts answered 0x01 before the card is ready (default 2)\n";

// Walks the command line; a bad option or value ends the program with status 2 and a
// message naming the program.
class ArgReader {
public:
    ArgReader(const char* program, int argc, char** argv, void (*usage)(FILE*))
        : program_(program), argc_(argc), argv_(argv), usage_(usage) {}

    // Moves to the next argument; false after the last.
    bool next() {
        if (++i_ >= argc_) return false;
        arg_ = argv_[i_];
        return true;
    }
    const std::string& arg() const { return arg_; }
    bool is(const char* name) const { return arg_ == name; }
    bool isHelp() const { return arg_ == "--help" || arg_ == "-h"; }
    bool isOption() const { return arg_.size() > 1 && arg_[0] == '-'; }

    // The value that follows the current option.
    const char* value() {
        if (i_ + 1 >= argc_) fail(arg_ + " needs a value");
        return argv_[++i_];
    }
    double seconds() {
        std::string name = arg_;
        const char* v = value();
        char* end = nullptr;
        double s = std::strtod(v, &end);
        if (end == v || *end != '\0' || !(s >= 0) || s > 1e6)
            fail(name + " wants a number of seconds, not '" + v + "'");
        return s;
    }
    unsigned count(unsigned long max) {
        std::string name = arg_;
        const char* v = value();
        char* end = nullptr;
        unsigned long k = std::strtoul(v, &end, 10);
        if (v[0] < '0' || v[0] > '9' || *end != '\0' || k > max) fail(name + " wants a count, not '" + v + "'");
        return unsigned(k);
    }
    sim::SdCard::Kind cardKind() {
        const char* v = value();
        sim::SdCard::Kind kind;
        if (!sim::SdCard::parseKind(v, kind)) fail(std::string("unknown card '") + v + "'", true);
        return kind;
    }

    [[noreturn]] void unknown() { fail("unknown option '" + arg_ + "'", true); }
    [[noreturn]] void fail(const std::string& message, bool withUsage = false) {
        std::fprintf(stderr, "%s: %s\n", program_, message.c_str());
        if (withUsage && usage_) usage_(stderr);
        std::exit(2);
    }

private:
    const char* program_;
    int argc_;
    char** argv_;
    void (*usage_)(FILE*);
    int i_ = 0;
    std::string arg_;
};

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
