// A firmware image (ELF or Intel HEX) booted on the virtual board by the M4K core
// simulator, from the reset vector: the board's clock comes from the image's own
// configuration words, the clock chip sits on I2C1, an SD card in the SPI2 slot if asked,
// and a terminal on the console. The console goes to stdout as the board sends it; the
// traces (I2C, SPI, pin changes, all time-stamped in virtual time) to stderr.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <cinttypes>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "sim/wires/i2c_bus.h"
#include "sim/chip/spi.h"
#include "tools/board_options.h"
#include "sim/debug/core_target.h"
#include "sim/wires/vcd.h"
#include "sim/debug/fault_report.h"
#include "sim/debug/gdb_server.h"
#include "tools/image_board.h"
#include "tools/instruction_trace.h"

namespace {

constexpr const char* kProgram = "pic32sim";

// Pin changes go out between slices of the run; the slices do not change what the board
// does, only how often the trace is flushed.
constexpr double kPinSliceSeconds = 0.01;

class PinTrace {
public:
    explicit PinTrace(sim::Board& board) : board_(board) { board.nets.recordAll(); }
    void flush() {
        const auto& changes = board_.nets.changes();
        for (; printed_ < changes.size(); ++printed_) {
            const sim::PinChange& c = changes[printed_];
            std::fprintf(stderr, "%12.3f us  %-5s %s\n", double(c.time) * 1e6 / double(board_.sysclkHz()),
                         c.net.c_str(), c.level ? "high" : "low");
        }
    }

private:
    sim::Board& board_;
    size_t printed_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> images;
    std::string input;
    double seconds = 5;
    sim::Chip chip = sim::Chip::MX440F256H;
    std::optional<bool> rtc;
    bool withCard = false;
    sim::SdCard::Options card;
    card.busyAttempts = tools::kDefaultReadyAfter;
    bool traceI2c = false, traceSpi = false, tracePins = false, fastForward = true, stopOnFault = false;
    std::optional<std::string> traceInstr;
    std::optional<unsigned> gdbPort;
    std::string vcdPath, vcdPins;  // "" for every instruction, else a symbol or a range

    char inputHelp[80];
    std::snprintf(inputHelp, sizeof inputHelp, "typed on the console at 57600 baud, %.1f s after reset",
                  tools::kInputAtSeconds);
    tools::Cli cli(kProgram, "IMAGE [options]",
                   "Boots a firmware image (ELF or Intel HEX) on the virtual board from the reset\n"
                   "vector; the board's clock comes from the image's configuration words and the\n"
                   "8 MHz crystal. The console (UART1, 57600 baud) is printed on stdout, traces on\n"
                   "stderr. The SD card slot is empty unless --card fills it.\n");
    cli.positional("IMAGE", "", images, 1)
        .seconds("--seconds", "simulated seconds to run (default 5)", seconds)
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
        .flag("--trace-i2c", "the I2C bus trace (START, bytes, ACK/NACK, STOP)", traceI2c)
        .flag("--trace-spi", "the SPI bus trace (select line, bytes, commands, R1)", traceSpi)
        .flag("--trace-pins", "every pin level change, with its time", tracePins)
        .text("--vcd", "FILE", "every net of the board as a value change dump (PulseView,\nGTKWave, sigrok-cli), written as the run goes", vcdPath)
        .text("--vcd-pins", "LIST", "only these nets in the dump (RD1,U1TX,...)", vcdPins)
        .optionalValue("--trace-instr", "SYMBOL|ADDR-ADDR",
                       "every instruction run (time, PC as symbol+offset, word,\n"
                       "instruction as objdump writes it, the register written), or\n"
                       "only those inside a function or an address range",
                       [&](const char* v) { traceInstr = v ? v : ""; })
        .option("--gdb", "PORT",
                "wait for gdb on 127.0.0.1:PORT (0: a free port, printed) and let\n"
                "it drive the core; halted before the first instruction. Memory\n"
                "reads of SFRs go through the bus: a read of a register with read\n"
                "side effects (U1RXREG pops the receive buffer) has them",
                [&](const char* v) {
                    char* end = nullptr;
                    unsigned long p = std::strtoul(v, &end, 10);
                    if (v[0] < '0' || v[0] > '9' || *end || p > 65535) cli.fail(std::string("--gdb wants a port, not '") + v + "'");
                    gdbPort = unsigned(p);
                })
        .flag("--stop-on-fault", "end the run at the first fault (exit status 3)", stopOnFault)
        .flag("--no-fast-forward", "run every instruction of polling loops too (same\noutput, slower)",
              fastForward, false)
        .epilogue("Each device reset is reported on stderr, with what led to it: a fault (an\n"
                  "exception or an interrupt with no handler that ended in the run-time's reset\n"
                  "path) is named with its EPC, BadVAddr, Status and the last instructions run;\n"
                  "a summary by cause follows the run.\n"
                  "\n"
                  "Exit status: 0 after the run, 1 for an image that cannot be loaded, 2 for a\n"
                  "bad option, 3 when --stop-on-fault ended the run at a fault.\n")
        .parse(argc, argv);
    if (images.empty()) cli.fail("no image given", true);
    const std::string imagePath = images.front();

    tools::ImageBoardOptions options;
    options.chip = chip;
    options.rtc = rtc;
    if (withCard) options.card = card;
    options.fastForward = fastForward;
    sim::Image image;
    try {
        image = tools::ImageBoard::read(imagePath, chip);
    } catch (const sim::ImageError& e) {
        std::fprintf(stderr, "%s: %s\n", kProgram, e.what());
        return 1;
    }
    std::fputs(sim::imageWarnings(image).c_str(), stderr);
    if (!vcdPins.empty() && vcdPath.empty()) cli.fail("--vcd-pins needs --vcd FILE");
    tools::ImageBoard target(image, options);
    sim::Board& board = target.board;
    sim::MipsCore& core = target.core;
    sim::FaultReport faults(core, image, stderr, kProgram, stopOnFault);
    std::unique_ptr<FILE, int (*)(FILE*)> vcdFile(nullptr, std::fclose);
    std::optional<sim::VcdWriter> vcd;
    if (!vcdPath.empty()) {
        std::vector<std::string> only;
        for (size_t at = 0; at < vcdPins.size();) {
            size_t comma = vcdPins.find(',', at);
            only.push_back(vcdPins.substr(at, comma == std::string::npos ? std::string::npos : comma - at));
            at = comma == std::string::npos ? vcdPins.size() : comma + 1;
        }
        for (const std::string& n : only)
            if (!board.nets.find(n)) cli.fail("--vcd-pins: the board has no net '" + n + "'");
        vcdFile.reset(std::fopen(vcdPath.c_str(), "w"));
        if (!vcdFile) {
            std::fprintf(stderr, "%s: %s: %s\n", kProgram, vcdPath.c_str(), std::strerror(errno));
            return 1;
        }
        vcd.emplace(vcdFile.get(), board.nets, board.now(), board.sysclkHz(), only);
    }
    std::optional<tools::InstructionTrace> instr;
    if (traceInstr) {
        uint32_t from = 0, to = UINT32_MAX;
        if (!tools::InstructionTrace::parseRange(*traceInstr, image, from, to))
            cli.fail("--trace-instr: no function or address range '" + *traceInstr + "' in " + imagePath);
        instr.emplace(core, image, stderr, from, to);
    }

    if (traceI2c)
        tools::traceToStderr(board.add<sim::I2cAnalyser>(board.sched, sim::RtcChip::busOf(board), board.sysclkHz()));
    std::optional<sim::SpiAnalyser> spi;
    if (traceSpi) {
        spi.emplace(board.nets, board.sched, board.sysclkHz(), board.description().cardSlot);
        tools::traceToStderr(*spi);
    }
    std::optional<PinTrace> pins;
    if (tracePins) pins.emplace(board);
    tools::consoleToStdout(target.terminal);
    if (!input.empty()) target.terminal.sendAt(board.cycles(tools::kInputAtSeconds), input);

    const sim::Cycles end = board.cycles(seconds);
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
    const sim::Cycles slice = pins ? std::max<sim::Cycles>(1, board.cycles(kPinSliceSeconds)) : end;
    while (runOn && core.cycles() < end) {
        sim::Cycles at = std::min(end, core.cycles() + slice);
        sim::StopReason why = core.run(at);
        if (pins) pins->flush();
        if (why == sim::StopReason::Stopped) break;         // --stop-on-fault
        if (at >= end || core.cycles() < at) break;  // the end, or asleep with nothing to wake it
    }
    std::fflush(stdout);
    if (vcd) vcd->finish(core.cycles());

    std::string summary = faults.summary();
    if (!summary.empty()) std::fprintf(stderr, "%s: %s\n", kProgram, summary.c_str());
    if (!board.bus.unclaimed().empty()) {
        const sim::UnclaimedAccess& u = board.bus.unclaimed().front();
        std::fprintf(stderr, "%s: %zu access(es) to SFR addresses no model claims, first a %s of 0x%08" PRIX32 "\n",
                     kProgram, board.bus.unclaimed().size(), u.write ? "write" : "read", u.address);
    }
    std::fflush(stderr);
    return stopOnFault && faults.faults() ? 3 : 0;
}
