// The instruction trace: a line per instruction the core runs, with its virtual time, its
// address as symbol+offset, the word, the instruction as `mipsel-linux-gnu-objdump -d`
// writes it and the register it wrote with the new value. Deterministic: two runs diff
// clean.
#pragma once
#include <cxxabi.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "sim/core/disasm.h"
#include "sim/core/image_loader.h"
#include "sim/core/mips_core.h"

namespace tools {

class InstructionTrace {
public:
    // Instructions at addresses in [from, to] are written to `out` (KSEG0 and KSEG1 alike).
    InstructionTrace(sim::MipsCore& core, const sim::Image& image, FILE* out, uint32_t from = 0,
                     uint32_t to = UINT32_MAX)
        : core_(core), image_(image), out_(out), from_(physical(from)), to_(to == UINT32_MAX ? to : physical(to)) {
        std::setvbuf(out_, nullptr, _IOFBF, 1 << 16);  // a line an instruction: buffer them
        core.debug().onInstruction = [this](const sim::ExecutedInstruction& e) { write(e); };
    }
    ~InstructionTrace() {
        core_.debug().onInstruction = nullptr;
        std::fflush(out_);
    }

    // "" (everything), a function's name, or "ADDR-ADDR" in hex; false if it names nothing.
    static bool parseRange(const std::string& what, const sim::Image& image, uint32_t& from, uint32_t& to) {
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

private:
    // "INTRestoreInterrupts" for "_ZL20INTRestoreInterruptsj": the name without its
    // parameters, so that a C++ function can be named as written.
    static std::string demangledName(const std::string& mangled) {
        int status = 0;
        char* d = abi::__cxa_demangle(mangled.c_str(), nullptr, nullptr, &status);
        if (!d) return mangled;
        std::string name = d;
        std::free(d);
        return name.substr(0, name.find('('));
    }

    sim::MipsCore& core_;
    const sim::Image& image_;
    FILE* out_;
    uint32_t from_, to_;

    static uint32_t physical(uint32_t a) { return (a >> 29 == 4 || a >> 29 == 5) ? a & 0x1FFFFFFFu : a; }

    void write(const sim::ExecutedInstruction& e) {
        uint32_t p = physical(e.pc);
        if (p < from_ || p > to_) return;
        static const char* const kNames[34] = {
            "zero", "at", "v0", "v1", "a0", "a1", "a2", "a3", "t0", "t1", "t2", "t3", "t4", "t5", "t6", "t7", "s0",
            "s1",   "s2", "s3", "s4", "s5", "s6", "s7", "t8", "t9", "k0", "k1", "gp", "sp", "s8", "ra", "hi", "lo"};
        std::string where = image_.describe(e.pc);
        std::string text = sim::mips::disassemble(e.word, e.pc, [this](uint32_t a) { return image_.describe(a); });
        std::fprintf(out_, "%14.3f us  %08" PRIx32 " %-24s %08" PRIx32 "  %s", double(e.time) * 1e6 / double(core_.board().sysclkHz()),
                     e.pc, where.c_str(), e.word, text.c_str());
        if (e.written >= 0) std::fprintf(out_, "  %s=%08" PRIx32, kNames[e.written], e.value);
        std::fputc('\n', out_);
    }
};

}  // namespace tools
