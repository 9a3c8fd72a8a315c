// The sources of pic32sim's one ordered trace (--trace LIST), each a hook on the board, a
// device or the core that turns what it sees into trace events.
#pragma once
#include <cxxabi.h>

#include <cinttypes>
#include <cstdlib>
#include <cstdio>
#include <memory>
#include <set>
#include <string>

#include "platform/interrupts.h"
#include "sim/chip/spi.h"
#include "sim/core/disasm.h"
#include "sim/core/image_loader.h"
#include "sim/devices/rtc_chip.h"
#include "sim/wires/i2c_bus.h"
#include "sim/wires/trace.h"
#include "tools/image_board.h"

namespace tools {

// "INTRestoreInterrupts" for "_ZL20INTRestoreInterruptsj": the name without its parameters,
// so that a C++ function can be named as written.
inline std::string demangledName(const std::string& mangled) {
    int status = 0;
    char* d = abi::__cxa_demangle(mangled.c_str(), nullptr, nullptr, &status);
    if (!d) return mangled;
    std::string name = d;
    std::free(d);
    return name.substr(0, name.find('('));
}

// "" (everything), a function's name, or "ADDR-ADDR" in hex; false if it names nothing.
inline bool parseAddressRange(const std::string& what, const sim::Image& image, uint32_t& from, uint32_t& to) {
    if (what.empty()) return true;
    for (const sim::ImageSymbol& s : image.symbols)
        if (s.function && (s.name == what || demangledName(s.name) == what)) {
            from = s.address;
            to = s.address + (s.size ? s.size - 1 : 0);
            return true;
        }
    size_t dash = what.find('-');
    if (dash == std::string::npos) return false;
    char* end = nullptr;
    unsigned long a = std::strtoul(what.c_str(), &end, 16);
    if (end != what.c_str() + dash) return false;
    unsigned long b = std::strtoul(what.c_str() + dash + 1, &end, 16);
    if (*end || dash + 1 == what.size() || b < a || b > UINT32_MAX) return false;
    from = uint32_t(a);
    to = uint32_t(b);
    return true;
}

inline const std::set<std::string> kTraceSources = {"i2c", "spi", "pins", "uart", "irq", "sfr", "reset", "instr"};

class BoardTrace {
public:
    // Instructions are traced within [from, to] (physical or KSEG addresses alike).
    BoardTrace(FILE* out, ImageBoard& target, const sim::Image& image, const std::set<std::string>& sources,
               uint32_t from = 0, uint32_t to = UINT32_MAX)
        : trace_(out, target.board.sched, target.board.sysclkHz()), image_(image) {
        sim::Board& board = target.board;
        sim::MipsCore& core = target.core;
        if (sources.count("i2c")) {
            auto& a = board.add<sim::I2cAnalyser>(board.sched, sim::RtcChip::busOf(board), board.sysclkHz());
            a.keepRecord(false);
            auto s = trace_.add("i2c", [&a] { return a.earliest(); });
            a.onEvent = [this, s, &a](const sim::I2cEvent& e) { trace_.emit(s, e.time, a.format(e, false)); };
        }
        if (sources.count("spi")) {
            spi_ = std::make_unique<sim::SpiAnalyser>(board.nets, board.sched, board.sysclkHz(),
                                                      board.description().cardSlot);
            spi_->keepRecord(false);
            sim::SpiAnalyser& a = *spi_;
            auto s = trace_.add("spi", [&a] { return a.earliest(); });
            a.onEvent = [this, s, &a](const sim::SpiEvent& e) { trace_.emit(s, e.time, a.describe(e)); };
            // The select line's level at power-up.
            for (const sim::SpiEvent& e : a.events()) trace_.emit(s, e.time, a.describe(e));
        }
        if (sources.count("pins")) {
            auto s = trace_.add("pins");
            board.nets.watch([this, s](sim::Cycles t, const sim::Net& n, bool level) {
                char b[64];
                std::snprintf(b, sizeof b, "%-5s %s", n.name().c_str(), level ? "high" : "low");
                trace_.emit(s, t, b);
            });
        }
        if (sources.count("uart")) {
            sim::Terminal& term = target.terminal;
            auto s = trace_.add("uart", [&term] { return term.earliest(); });
            const std::string tx = board.description().uart1Tx, rx = board.description().uart1Rx;
            term.onReceived = [this, s, tx](const sim::ConsoleByte& b) { trace_.emit(s, b.start, byteText(tx, b.value)); };
            term.onSending = [this, s, rx](uint8_t v, sim::Cycles t) { trace_.emit(s, t, byteText(rx, v)); };
        }
        if (sources.count("irq")) {
            auto s = trace_.add("irq");
            board.intc.onRaise = [this, s, &board](unsigned bit) {
                const char* name = platform::kRequestNames.of[bit];
                trace_.emit(s, board.now(), "raised " + std::string(name ? name : "?") + " (request " +
                                                std::to_string(bit) + ", vector " +
                                                std::to_string(platform::vectorOfRequest(bit)) + ")");
            };
            core.debug().onInterrupt = [this, s](sim::Cycles t, unsigned vector, unsigned priority, uint32_t epc) {
                trace_.emit(s, t, "taken vector " + std::to_string(vector) + " priority " + std::to_string(priority) +
                                      ", interrupted " + where(epc));
            };
            core.debug().onReturn = [this, s](sim::Cycles t, uint32_t to) { trace_.emit(s, t, "returned to " + where(to)); };
        }
        if (sources.count("sfr")) {
            auto s = trace_.add("sfr");
            core.debug().onSfr = [this, s, &board](sim::Cycles t, uint32_t a, bool write, uint32_t v, uint32_t pc) {
                trace_.emit(s, t, sfrText(board.bus, a, write, v, pc));
            };
        }
        if (sources.count("reset")) {
            auto s = trace_.add("reset");
            board.resetListeners.add([this, s](const sim::ResetRecord& r) { trace_.emit(s, r.time, "device reset: " + r.cause); });
        }
        if (sources.count("instr")) {
            auto s = trace_.add("instr", [&core] { return core.cycles(); });
            from_ = sim::samePlace(from);
            to_ = to == UINT32_MAX ? to : sim::samePlace(to);
            core.debug().onInstruction = [this, s](const sim::ExecutedInstruction& e) {
                uint32_t p = sim::samePlace(e.pc);
                if (p >= from_ && p <= to_) trace_.emit(s, e.time, instructionText(e));
            };
        }
    }

    void flush(bool all = false) { trace_.flush(all); }

    // "9d0005dc writeString+0x10         70833002  mul\ta2,a0,v1  a2=00000000"
    std::string instructionText(const sim::ExecutedInstruction& e) const {
        std::string text = sim::mips::disassemble(e.word, e.pc, [this](uint32_t a) { return image_.describe(a); });
        char b[160];
        std::snprintf(b, sizeof b, "%08" PRIx32 " %-24s %08" PRIx32 "  ", e.pc, image_.describe(e.pc).c_str(), e.word);
        std::string line = b + text;
        if (e.written >= 0) {
            std::snprintf(b, sizeof b, "  %s=%08" PRIx32, e.written < 32 ? sim::mips::registerName(unsigned(e.written)) : e.written == 32 ? "hi" : "lo", e.value);
            line += b;
        }
        return line;
    }

private:
    // Before the trace: its destructor's last flush still asks every source how far back
    // it may stamp.
    std::unique_ptr<sim::SpiAnalyser> spi_;
    sim::Trace trace_;
    const sim::Image& image_;
    uint32_t from_ = 0, to_ = UINT32_MAX;


    std::string where(uint32_t pc) const {
        char b[16];
        std::snprintf(b, sizeof b, "%08" PRIx32, pc);
        std::string s = image_.describe(pc);
        return s.empty() ? std::string(b) : s + " (" + b + ")";
    }

    static std::string byteText(const std::string& net, uint8_t v) {
        char b[32];
        std::snprintf(b, sizeof b, "%-5s 0x%02X", net.c_str(), v);
        std::string s = b;
        if (v >= 0x20 && v < 0x7F) s += std::string(" '") + char(v) + "'";
        return s;
    }

    // "write U1TXREG 0x00000041 at writeString+0x28"; a companion is named with its suffix.
    std::string sfrText(sim::SfrBus& bus, uint32_t physical, bool write, uint32_t v, uint32_t pc) const {
        uint32_t a = 0xA0000000u | (physical & ~3u);
        std::string name;
        if (sim::Register* r = bus.find(a)) {
            name = r->name();
        } else if (sim::Register* base = bus.find(a & ~0xFu); base && bus.claims(a)) {
            static const char* const kSuffix[4] = {"", "CLR", "SET", "INV"};
            name = base->name() + kSuffix[(a >> 2) & 3];
        } else {
            char b[16];
            std::snprintf(b, sizeof b, "0x%08" PRIX32, a);
            name = b;
        }
        char b[64];
        std::snprintf(b, sizeof b, "%s %s 0x%08" PRIX32 " at ", write ? "write" : "read ", name.c_str(), v);
        return b + where(pc);
    }
};

}  // namespace tools
