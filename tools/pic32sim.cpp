// A firmware image (ELF or Intel HEX) booted on the virtual board by the M4K core
// simulator, from the reset vector: the board's clock comes from the image's own
// configuration words, the clock chip sits on I2C1, an SD card in the SPI2 slot if asked,
// and a terminal on the console. The console goes to stdout as the board sends it (or to a
// pseudo-terminal); the trace, in virtual-time order, and the fault reports to stderr.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "sim/debug/core_target.h"
#include "sim/debug/fault_report.h"
#include "sim/debug/gdb_server.h"
#include "sim/wires/vcd.h"
#include "tools/board_options.h"
#include "tools/board_trace.h"
#include "tools/image_board.h"

namespace {

constexpr const char* kProgram = "pic32sim";
constexpr int kExitFault = 3, kExitTimeout = 4;

// The trace is written between slices of the run; slices change nothing the board does.
constexpr double kSliceSeconds = 0.01;
// What the console keeps of text not yet matched by an expectation.
constexpr size_t kExpectWindow = 64 * 1024;

std::vector<std::string> splitList(const std::string& list) {
    std::vector<std::string> out;
    for (size_t at = 0; at < list.size();) {
        size_t comma = list.find(',', at);
        out.push_back(list.substr(at, comma == std::string::npos ? std::string::npos : comma - at));
        at = comma == std::string::npos ? list.size() : comma + 1;
    }
    return out;
}

// C escapes in typed text: \r \n \t \\ \xHH.
bool unescape(const std::string& in, std::string& out) {
    out.clear();
    for (size_t i = 0; i < in.size(); ++i) {
        if (in[i] != '\\') {
            out += in[i];
            continue;
        }
        if (++i == in.size()) return false;
        switch (in[i]) {
            case 'r': out += '\r'; break;
            case 'n': out += '\n'; break;
            case 't': out += '\t'; break;
            case '\\': out += '\\'; break;
            case 'x': {
                std::string hex = in.substr(i + 1, 2);
                char* end = nullptr;
                unsigned long v = std::strtoul(hex.c_str(), &end, 16);
                if (hex.size() != 2 || *end) return false;
                out += char(v);
                i += 2;
                break;
            }
            default: return false;
        }
    }
    return true;
}

// The console's expectations, matched in order against what the board sends.
class Expectations {
public:
    void add(const std::string& pattern, const std::regex& re) { list_.push_back({pattern, re}); }
    bool any() const { return !list_.empty(); }
    size_t count() const { return list_.size(); }
    bool allMet() const { return next_ == list_.size(); }
    size_t next() const { return next_; }
    const std::string& waitingFor() const { return list_[next_].pattern; }
    // True when this byte completed the last expectation.
    bool byte(char c) {
        if (allMet()) return false;
        text_ += c;
        if (text_.size() > kExpectWindow) text_.erase(0, text_.size() - kExpectWindow);
        std::smatch m;
        while (!allMet() && std::regex_search(text_, m, list_[next_].re)) {
            text_.erase(0, size_t(m.position(0) + m.length(0)));
            ++next_;
        }
        return allMet();
    }

private:
    struct Item {
        std::string pattern;
        std::regex re;
    };
    std::vector<Item> list_;
    size_t next_ = 0;
    std::string text_;
};

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> images;
    std::string input, inputFile, traceFile, vcdPath, vcdPins;
    std::vector<std::pair<double, std::string>> inputsAt;
    double seconds = 5;
    std::optional<double> timeout;
    bool secondsGiven = false;
    bool stats = false;
    sim::Chip chip = sim::Chip::MX440F256H;
    std::optional<bool> rtc;
    bool withCard = false;
    sim::SdCard::Options card;
    card.busyAttempts = tools::kDefaultReadyAfter;
    bool fastForward = true, stopOnFault = false, consoleTimes = false, pty = false;
    std::set<std::string> sources;
    std::string instrRange;
    std::optional<unsigned> gdbPort;
    Expectations expect;

    char inputHelp[80];
    std::snprintf(inputHelp, sizeof inputHelp, "typed on the console at 57600 baud, %.1f s after reset",
                  tools::kInputAtSeconds);
    tools::Cli cli(kProgram, "IMAGE [options]",
                   "Boots a firmware image (ELF or Intel HEX) on the virtual board from the reset\n"
                   "vector; the board's clock comes from the image's configuration words and the\n"
                   "8 MHz crystal. The console (UART1, 57600 baud) is printed on stdout, the trace\n"
                   "and fault reports on stderr. The SD card slot is empty unless --card fills it.\n");
    cli.positional("IMAGE", "", images, 1)
        .option("--seconds", "N", "simulated seconds to run (default 5)",
                [&](const char* v) {
                    char* end = nullptr;
                    seconds = std::strtod(v, &end);
                    if (end == v || *end || !(seconds >= 0) || seconds > 1e6)
                        cli.fail(std::string("--seconds wants a number of seconds, not '") + v + "'");
                    secondsGiven = true;
                })
        .option("--board", "mx440|mx795", "the chip: PIC32MX440F256H (default) or PIC32MX795F512L",
                [&](const char* v) {
                    std::string b = v;
                    if (b == "mx440")
                        chip = sim::Chip::MX440F256H;
                    else if (b == "mx795")
                        chip = sim::Chip::MX795F512L;
                    else
                        cli.fail("unknown board '" + b + "' (mx440 or mx795)");
                })
        .flag("--rtc", "the clock chip (address 0x51) on RD9/RD10", [&] { rtc = true; })
        .flag("--no-rtc", "no clock chip (default: on for mx440, off for mx795)", [&] { rtc = false; });
    tools::addCardOptions(cli, card, &withCard);
    cli.text("--input", "TEXT", inputHelp, input)
        .text("--input-file", "FILE", "the file's bytes (any bytes) typed likewise", inputFile)
        .option("--input-at", "T:TEXT",
                "TEXT typed T simulated seconds after reset (repeatable;\n"
                "\\r \\n \\t \\\\ \\xHH escapes)",
                [&](const char* v) {
                    std::string s = v, text;
                    size_t colon = s.find(':');
                    char* end = nullptr;
                    double t = std::strtod(s.c_str(), &end);
                    if (colon == std::string::npos || end != s.c_str() + colon || !(t >= 0) || t > 1e6 ||
                        !unescape(s.substr(colon + 1), text))
                        cli.fail("--input-at wants SECONDS:TEXT, not '" + s + "'");
                    inputsAt.push_back({t, text});
                })
        .option("--expect", "REGEX",
                "wait for console output matching REGEX (repeatable, in order);\n"
                "the run ends with status 0 once all have matched",
                [&](const char* v) {
                    try {
                        expect.add(v, std::regex(v, std::regex::ECMAScript));
                    } catch (const std::regex_error& e) {
                        cli.fail(std::string("--expect: bad regular expression '") + v + "': " + e.what());
                    }
                })
        .option("--timeout", "S", "simulated seconds the expectations may take (default:\n--seconds); then status 4",
                [&](const char* v) {
                    char* end = nullptr;
                    double t = std::strtod(v, &end);
                    if (end == v || *end || !(t >= 0) || t > 1e6)
                        cli.fail(std::string("--timeout wants a number of seconds, not '") + v + "'");
                    timeout = t;
                })
        .flag("--console-timestamps", "each console line on stdout begins with its virtual time", consoleTimes)
        .flag("--pty", "UART1 on a pseudo-terminal (its path is printed), virtual time\n"
                       "paced to the wall clock; runs until killed unless --seconds",
              pty)
        .option("--trace", "LIST",
                "one trace in virtual-time order of any of: i2c, spi, pins,\n"
                "uart (console bytes both ways), irq (raised, taken, returned),\n"
                "sfr (each access with name, value and PC; no fast-forward),\n"
                "reset, instr (every instruction, see --trace-instr)",
                [&](const char* v) {
                    for (const std::string& s : splitList(v)) {
                        if (!tools::kTraceSources.count(s)) cli.fail("--trace: no source '" + s + "'", true);
                        sources.insert(s);
                    }
                })
        .text("--trace-file", "FILE", "the trace to FILE instead of stderr", traceFile)
        .flag("--trace-i2c", "the same as --trace i2c", [&] { sources.insert("i2c"); })
        .flag("--trace-spi", "the same as --trace spi", [&] { sources.insert("spi"); })
        .flag("--trace-pins", "the same as --trace pins", [&] { sources.insert("pins"); })
        .optionalValue("--trace-instr", "SYMBOL|ADDR-ADDR",
                       "--trace instr, or only the instructions of a function or an\n"
                       "address range: time, PC as symbol+offset, word, the\n"
                       "instruction as objdump writes it, the register written",
                       [&](const char* v) {
                           sources.insert("instr");
                           instrRange = v ? v : "";
                       })
        .text("--vcd", "FILE", "every net of the board as a value change dump (PulseView,\nGTKWave, sigrok-cli), written as the run goes", vcdPath)
        .text("--vcd-pins", "LIST", "only these nets in the dump (RD1,U1TX,...)", vcdPins)
        .option("--gdb", "PORT",
                "wait for gdb on 127.0.0.1:PORT (0: a free port, printed) and let\n"
                "it drive the core; halted before the first instruction. Memory\n"
                "reads of SFRs go through the bus: a read of a register with read\n"
                "side effects (U1RXREG pops the receive buffer) has them",
                [&](const char* v) {
                    char* end = nullptr;
                    unsigned long p = std::strtoul(v, &end, 10);
                    if (v[0] < '0' || v[0] > '9' || *end || p > 65535)
                        cli.fail(std::string("--gdb wants a port, not '") + v + "'");
                    gdbPort = unsigned(p);
                })
        .flag("--stop-on-fault", "end the run at the first fault (exit status 3)", stopOnFault)
        .flag("--stats", "after the run, one line on stderr of what the core did: instructions\n"
              "run and skipped, fast-forward attempts and skips, cycles skipped,\n"
              "exceptions, interrupts, resets", stats)
        .flag("--no-fast-forward", "run every instruction of polling loops too (same\noutput, slower)",
              fastForward, false)
        .epilogue("The trace's lines are the virtual time in microseconds, the source, the event.\n"
                  "Each device reset is reported on stderr, with what led to it: a fault (an\n"
                  "exception or an interrupt with no handler that ended in the run-time's reset\n"
                  "path) is named with its EPC, BadVAddr, Status and the last instructions run;\n"
                  "a summary by cause follows the run.\n"
                  "\n"
                  "Exit status: 0 after the run (with --expect: once all matched), 1 for an\n"
                  "image or a file that cannot be read, 2 for a bad option, 3 when\n"
                  "--stop-on-fault ended the run at a fault, 4 when the time ran out before\n"
                  "every --expect matched.\n");
    cli.parse(argc, argv);
    if (images.empty()) cli.fail("no image given", true);
    if (!vcdPins.empty() && vcdPath.empty()) cli.fail("--vcd-pins needs --vcd FILE");
    if (pty && !secondsGiven) seconds = 1e6;
    const std::string imagePath = images.front();

    std::string typed = input;
    if (!inputFile.empty()) {
        std::ifstream in(inputFile, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "%s: %s: %s\n", kProgram, inputFile.c_str(), std::strerror(errno));
            return 1;
        }
        std::ostringstream s;
        s << in.rdbuf();
        typed += s.str();
    }

    tools::ImageBoardOptions options;
    options.chip = chip;
    options.rtc = rtc;
    if (withCard) options.card = card;
    // Fast-forward skips the polls' accesses; an access trace wants every one.
    options.fastForward = fastForward && !sources.count("sfr");
    sim::Image image;
    try {
        image = tools::ImageBoard::read(imagePath, chip);
    } catch (const sim::ImageError& e) {
        std::fprintf(stderr, "%s: %s\n", kProgram, e.what());
        return 1;
    }
    uint32_t instrFrom = 0, instrTo = UINT32_MAX;
    if (!tools::parseAddressRange(instrRange, image, instrFrom, instrTo))
        cli.fail("--trace-instr: no function or address range '" + instrRange + "' in " + imagePath);
    std::fputs(sim::imageWarnings(image).c_str(), stderr);

    tools::ImageBoard target(image, options);
    sim::Board& board = target.board;
    sim::MipsCore& core = target.core;
    sim::FaultReport faults(core, image, stderr, kProgram, stopOnFault);

    std::unique_ptr<FILE, int (*)(FILE*)> traceOut(nullptr, std::fclose);
    if (!traceFile.empty()) {
        traceOut.reset(std::fopen(traceFile.c_str(), "w"));
        if (!traceOut) {
            std::fprintf(stderr, "%s: %s: %s\n", kProgram, traceFile.c_str(), std::strerror(errno));
            return 1;
        }
    }
    std::optional<tools::BoardTrace> trace;
    if (!sources.empty()) trace.emplace(traceOut ? traceOut.get() : stderr, target, image, sources, instrFrom, instrTo);

    std::unique_ptr<FILE, int (*)(FILE*)> vcdFile(nullptr, std::fclose);
    std::optional<sim::VcdWriter> vcd;
    if (!vcdPath.empty()) {
        std::vector<std::string> only = splitList(vcdPins);
        for (const std::string& n : only)
            if (!board.nets.find(n)) cli.fail("--vcd-pins: the board has no net '" + n + "'");
        vcdFile.reset(std::fopen(vcdPath.c_str(), "w"));
        if (!vcdFile) {
            std::fprintf(stderr, "%s: %s: %s\n", kProgram, vcdPath.c_str(), std::strerror(errno));
            return 1;
        }
        vcd.emplace(vcdFile.get(), board.nets, board.now(), board.sysclkHz(), only);
    }

    // The console: stdout (each line with its time if asked) or a pseudo-terminal.
    int ptyMaster = -1;
    if (pty) {
        int slave = -1;
        char name[256];
        if (openpty(&ptyMaster, &slave, name, nullptr, nullptr) != 0) {
            std::fprintf(stderr, "%s: --pty: %s\n", kProgram, std::strerror(errno));
            return 1;
        }
        termios raw;
        tcgetattr(slave, &raw);
        cfmakeraw(&raw);
        tcsetattr(slave, TCSANOW, &raw);
        fcntl(ptyMaster, F_SETFL, fcntl(ptyMaster, F_GETFL) | O_NONBLOCK);
        std::printf("%s: console on %s\n", kProgram, name);
        std::fflush(stdout);
        // The slave stays open here too, so that the line survives a client's reconnect.
    }
    target.terminal.keepRecord(false);
    bool atLineStart = true;
    target.terminal.onReceived = [&, chained = target.terminal.onReceived](const sim::ConsoleByte& b) {
        if (chained) chained(b);
        char c = char(b.value);
        if (ptyMaster >= 0) {
            (void)!write(ptyMaster, &c, 1);
        } else {
            if (consoleTimes && atLineStart)
                std::fputs((sim::Trace::time(b.start, board.sysclkHz()) + "  ").c_str(), stdout);
            std::fputc(c, stdout);
            std::fflush(stdout);
        }
        atLineStart = c == '\n';
        if (expect.byte(c)) core.requestStop();
    };
    if (!typed.empty()) target.terminal.sendAt(board.cycles(tools::kInputAtSeconds), typed);
    for (const auto& [t, text] : inputsAt) target.terminal.sendAt(board.cycles(t), text);

    const sim::Cycles end = board.cycles(timeout ? *timeout : seconds);
    bool runOn = true;
    if (gdbPort) {
        sim::debug::CoreTarget debugged(core, end);
        sim::debug::GdbServer server(debugged);
        if (!server.listen(uint16_t(*gdbPort))) {
            std::fprintf(stderr, "%s: --gdb: %s\n", kProgram, server.error().c_str());
            return 1;
        }
        std::fprintf(stderr, "%s: waiting for gdb on 127.0.0.1:%u\n", kProgram, unsigned(server.port()));
        std::fflush(stderr);
        runOn = server.serve() == sim::debug::SessionEnd::Detached;  // detached: the run goes on alone
    }
    const sim::Cycles slice = std::max<sim::Cycles>(1, board.cycles(kSliceSeconds));
    const auto wallStart = std::chrono::steady_clock::now();
    const sim::Cycles virtualStart = core.cycles();
    while (runOn && core.cycles() < end) {
        sim::Cycles at = std::min(end, core.cycles() + slice);
        if (ptyMaster >= 0) {
            // What the person typed goes in now; then virtual time waits for the wall clock.
            char buf[256];
            ssize_t n;
            while ((n = read(ptyMaster, buf, sizeof buf)) > 0) target.terminal.send(std::string(buf, size_t(n)));
            auto due = wallStart + std::chrono::duration<double>(board.seconds(at - virtualStart));
            std::this_thread::sleep_until(due);
        }
        sim::StopReason why = core.run(at);
        if (trace) trace->flush();
        if (why == sim::StopReason::Stopped) break;    // --stop-on-fault, or every expectation met
        if (core.cycles() < at && ptyMaster < 0) break;  // asleep with nothing to wake it
    }
    std::fflush(stdout);
    if (trace) trace->flush(true);
    if (vcd) vcd->finish(core.cycles());

    if (stats) {
        const sim::CoreStats& st = core.stats();
        std::fprintf(stderr,
                     "%s: stats: %" PRIu64 " instructions run, %" PRIu64 " skipped; fast-forward %" PRIu64
                     " attempts, %" PRIu64 " skips, %" PRIu64 " cycles skipped; %" PRIu64 " exceptions, %" PRIu64
                     " interrupts, %" PRIu64 " resets\n",
                     kProgram, st.instructions, st.skippedInstructions, st.fastForwardAttempts, st.fastForwards,
                     uint64_t(st.skippedCycles), st.exceptions, st.interrupts, st.resets);
    }
    std::string summary = faults.summary();
    if (!summary.empty()) std::fprintf(stderr, "%s: %s\n", kProgram, summary.c_str());
    if (const sim::UnclaimedLog& log = board.bus.unclaimed(); !log.empty()) {
        auto hex = [](uint32_t a) {
            char b[12];
            std::snprintf(b, sizeof b, "0x%08" PRIX32, a);
            return std::string(b);
        };
        const sim::UnclaimedAccess& u = log.byAddress().front().first;
        std::string line = std::string(kProgram) + ": " + std::to_string(log.count()) +
                           " access(es) to SFR addresses no model claims, first a " + (u.write ? "write" : "read") +
                           " of " + hex(u.address) + "; by address:";
        for (const sim::UnclaimedLog::Address& a : log.byAddress())
            line += std::string(&a == &log.byAddress().front() ? " " : ", ") + hex(a.first.address) + " (" +
                    std::to_string(a.reads) + " read(s), " + std::to_string(a.writes) + " write(s))";
        if (log.elsewhere()) line += "; " + std::to_string(log.elsewhere()) + " at further addresses";
        std::fprintf(stderr, "%s\n", line.c_str());
    }
    int status = 0;
    if (stopOnFault && faults.faults()) {
        status = kExitFault;
    } else if (expect.any() && !expect.allMet()) {
        std::fprintf(stderr, "%s: timeout after %.3f s: expectation %zu of %zu never matched: '%s'\n", kProgram,
                     board.seconds(end), expect.next() + 1, expect.count(), expect.waitingFor().c_str());
        status = kExitTimeout;
    }
    std::fflush(stderr);
    if (ptyMaster >= 0) close(ptyMaster);
    return status;
}
