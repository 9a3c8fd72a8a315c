// The firmware's own call-free functions, taken from the built images by their symbols, run
// in the core and in Unicorn (QEMU's MIPS32) from the same registers and memory: every
// register, HI/LO and the whole data RAM must agree afterwards, and the results must be
// right where the host can tell (its FPU for the soft-float, its C library for memset & co).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "sim/boards/board.h"
#include "sim/core/image_loader.h"
#include "sim/core/memory_map.h"
#include "sim/core/mips_core.h"
#include "tests/runtime/softfloat_check.h"

#ifdef HAVE_UNICORN
#include <unicorn/unicorn.h>
#endif

namespace {

using softfloat_check::bitsOf;
using softfloat_check::floatOf;
using softfloat_check::hex;

constexpr uint32_t kK0 = 0x80000000, kK1 = 0xA0000000;
constexpr uint32_t kRamBytes = 32 * 1024;
// Data RAM as the calls use it (physical offsets): two buffers, a string area, the stack
// and, at the top, the return address: an sdbbp that stops the core (Unicorn stops before
// it). RAM holds no other code.
constexpr uint32_t kBufA = 0x1000, kBufB = 0x2000, kStrings = 0x3000, kFormat = 0x3800;
constexpr uint32_t kStackLow = 0x6000, kStackTop = 0x7F00;
constexpr uint32_t kSentinelPhys = 0x7FF0, kSentinel = kK0 | kSentinelPhys;
constexpr uint32_t kSdbbp = 0x7000003F;
constexpr sim::Cycles kBudget = 2'000'000;  // far above the longest call (sprintf, ~3000)

enum Reg : unsigned { V0 = 2, A0 = 4, A1, A2, A3, S0 = 16, GP = 28, SP, FP, RA };
const char* const kRegNames[32] = {"zero", "at", "v0", "v1", "a0", "a1", "a2", "a3", "t0", "t1", "t2",
                                   "t3",   "t4", "t5", "t6", "t7", "s0", "s1", "s2", "s3", "s4", "s5",
                                   "s6",   "s7", "t8", "t9", "k0", "k1", "gp", "sp", "fp", "ra"};

// ---------------------------------------------------------------------------------------
// The images' symbols, and what a function may reach.

struct Symbol {
    uint32_t value, size;
    bool function;
};
using Symbols = std::map<std::string, Symbol>;

uint32_t le32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }
uint16_t le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }

// .symtab of an ELF32 little-endian file.
Symbols readSymbols(const std::vector<uint8_t>& f) {
    Symbols out;
    if (f.size() < 52) return out;
    const uint32_t shoff = le32(&f[0x20]);
    const unsigned shentsize = le16(&f[0x2E]), shnum = le16(&f[0x30]);
    auto section = [&](unsigned i) { return &f[shoff + i * shentsize]; };
    if (shentsize < 40 || uint64_t(shoff) + uint64_t(shnum) * shentsize > f.size()) return out;
    for (unsigned i = 0; i < shnum; ++i) {
        const uint8_t* sh = section(i);
        if (le32(sh + 4) != 2) continue;  // SHT_SYMTAB
        const uint8_t* strtab = section(le32(sh + 24));
        const uint32_t off = le32(sh + 16), size = le32(sh + 20), stroff = le32(strtab + 16), strsize = le32(strtab + 20);
        if (uint64_t(off) + size > f.size() || uint64_t(stroff) + strsize > f.size()) return out;
        for (uint32_t s = 0; s + 16 <= size; s += 16) {
            const uint8_t* sym = &f[off + s];
            const uint32_t name = le32(sym);
            if (name == 0 || name >= strsize) continue;
            const char* text = reinterpret_cast<const char*>(&f[stroff + name]);
            out[std::string(text, strnlen(text, strsize - name))] = {le32(sym + 4), le32(sym + 8), (sym[12] & 0xF) == 2};
        }
    }
    return out;
}

// A function with everything it calls or jumps to, checked word by word: no indirect call
// (jalr), no CP0 instruction, no SFR address built with lui. A true leaf has no call at all
// (tail jumps into another function are followed, they are not calls).
struct CallTree {
    std::vector<std::string> functions;  // the function first
    bool leaf = true;
    std::string problem;
};

CallTree callTree(const Symbols& symbols, const sim::MemoryMap& mem, const std::string& root) {
    CallTree tree;
    std::map<uint32_t, std::string> byAddress;  // sized functions
    for (const auto& [name, s] : symbols)
        if (s.function && s.size && !byAddress.count(s.value)) byAddress[s.value] = name;
    auto containing = [&](uint32_t a) -> std::string {
        auto it = byAddress.upper_bound(a);
        if (it == byAddress.begin()) return "";
        --it;
        return a < it->first + symbols.at(it->second).size ? it->second : "";
    };
    std::set<std::string> seen;
    std::vector<std::string> work{root};
    while (!work.empty()) {
        const std::string name = work.back();
        work.pop_back();
        if (!seen.insert(name).second) continue;
        tree.functions.push_back(name);
        const Symbol& s = symbols.at(name);
        auto reach = [&](uint32_t target, const char* how, uint32_t at) {
            const std::string callee = containing(target);
            if (callee.empty()) tree.problem += std::string(how) + " at " + hex(at) + " leaves every function\n";
            else if (callee != name) work.push_back(callee);
        };
        for (uint32_t pc = s.value; pc < s.value + s.size; pc += 4) {
            uint32_t p = 0;
            sim::toPhysical(pc, p);
            const uint32_t w = mem.read32(p), op = w >> 26, rt = (w >> 16) & 31, imm = w & 0xFFFF;
            const uint32_t jumpTarget = ((pc + 4) & 0xF0000000u) | (w & 0x03FFFFFFu) << 2;
            if (op == 0x10) tree.problem += "CP0 instruction at " + hex(pc) + "\n";
            else if (op == 0 && (w & 0x3F) == 0x09) tree.problem += "jalr at " + hex(pc) + "\n";
            else if (op == 0x0F && (imm & 0x1FF0) == 0x1F80 && (imm >> 13 == 0 || imm >> 13 == 4 || imm >> 13 == 5))
                tree.problem += "SFR address (lui) at " + hex(pc) + "\n";  // 0x1F8x, 0x9F8x, 0xBF8x
            else if (op == 0x03) {
                tree.leaf = false;
                reach(jumpTarget, "jal", pc);
            } else if (op == 0x02) {
                reach(jumpTarget, "j", pc);
            } else if (op == 0x01 && (rt & 0x1C) == 0x10) {
                tree.leaf = false;
                reach(pc + 4 + uint32_t(int32_t(int16_t(imm)) * 4), "bal", pc);
            }
        }
    }
    return tree;
}

// ---------------------------------------------------------------------------------------
// Calls and their outcomes.

struct Call {
    uint32_t args[4] = {};
    std::vector<uint32_t> stack;  // arguments from the fifth on, above the 16-byte home area
    std::vector<std::pair<uint32_t, std::vector<uint8_t>>> ram;  // placed before the call (physical)
    uint32_t segment = kK0;  // of sp; pointer arguments pick theirs
    std::string text;        // what a formatter call must write

    uint32_t place(uint32_t physical, const std::vector<uint8_t>& bytes) {
        ram.emplace_back(physical, bytes);
        return segment | physical;
    }
    uint32_t place(uint32_t physical, const std::string& text) {
        return place(physical, std::vector<uint8_t>(text.begin(), text.end() + 1));  // with its zero
    }
};

struct State {
    uint32_t regs[32];
    uint32_t hi, lo;
    std::vector<uint8_t> ram;
    std::string error;  // it did not come back to the sentinel
};

uint32_t physicalOf(uint32_t virt) { return virt & 0x1FFFFFFFu; }

std::string describe(const Call& c) {
    std::ostringstream out;
    out << "a0=" << hex(c.args[0]) << " a1=" << hex(c.args[1]) << " a2=" << hex(c.args[2]) << " a3=" << hex(c.args[3]);
    for (size_t i = 0; i < c.stack.size(); ++i) out << " arg" << i + 5 << "=" << hex(c.stack[i]);
    return out.str();
}

// Empty when equal; otherwise every register and the first few bytes of RAM that differ.
std::string difference(const State& core, const State& uc) {
    std::ostringstream out;
    for (unsigned r = 0; r < 32; ++r)
        if (core.regs[r] != uc.regs[r]) out << kRegNames[r] << ": core " << hex(core.regs[r]) << ", unicorn " << hex(uc.regs[r]) << "\n";
    if (core.hi != uc.hi) out << "HI: core " << hex(core.hi) << ", unicorn " << hex(uc.hi) << "\n";
    if (core.lo != uc.lo) out << "LO: core " << hex(core.lo) << ", unicorn " << hex(uc.lo) << "\n";
    unsigned shown = 0;
    for (uint32_t i = 0; i < core.ram.size() && shown < 8; ++i)
        if (core.ram[i] != uc.ram[i]) {
            char line[80];
            std::snprintf(line, sizeof line, "RAM %08X: core %02X, unicorn %02X\n", unsigned(kK0 | i), core.ram[i], uc.ram[i]);
            out << line;
            ++shown;
        }
    return out.str();
}

// RAM outside the stack, against what the call should have left there.
std::string ramExpected(const std::vector<uint8_t>& got, const std::vector<uint8_t>& want) {
    for (uint32_t i = 0; i < got.size(); ++i) {
        if (i >= kStackLow && i < kStackTop) continue;
        if (got[i] != want[i]) {
            char line[96];
            std::snprintf(line, sizeof line, "RAM %08X is %02X, should be %02X\n", unsigned(kK0 | i), got[i], want[i]);
            return line;
        }
    }
    return "";
}

// ---------------------------------------------------------------------------------------
// The two cores.

class CoreRig {
public:
    explicit CoreRig(const sim::Image& image) : core_(board_, options()) {
        sim::loadImage(core_.memory(), image);
        board_.cp0.setStatus(0);
    }
    const sim::MemoryMap& memory() { return core_.memory(); }

    State run(uint32_t entry, const State& in) {
        // RAM holds no code but the sentinel, so it is rewritten in place without throwing
        // away the decoded flash.
        std::memcpy(core_.memory().ram(), in.ram.data(), kRamBytes);
        for (unsigned r = 1; r < 32; ++r) core_.setReg(r, in.regs[r]);
        core_.setHi(in.hi);
        core_.setLo(in.lo);
        core_.setPc(entry);
        const uint64_t exceptions = core_.stats().exceptions;
        const sim::StopReason why = core_.run(std::max(core_.cycles(), board_.now()) + kBudget);
        State out;
        for (unsigned r = 0; r < 32; ++r) out.regs[r] = core_.reg(r);
        out.hi = core_.hi();
        out.lo = core_.lo();
        out.ram.assign(core_.memory().ram(), core_.memory().ram() + kRamBytes);
        if (why != sim::StopReason::Breakpoint || core_.pc() != kSentinel)
            out.error = "core stopped at " + hex(core_.pc()) + " without returning";
        if (core_.stats().exceptions != exceptions)
            out.error += " (took an exception, Cause " + hex(board_.cp0.read(13, 0)) + ", EPC " + hex(board_.cp0.read(14, 0)) + ")";
        return out;
    }

private:
    static sim::CoreOptions options() {
        sim::CoreOptions o;
        o.debugProbe = true;
        return o;
    }
    sim::Board board_;
    sim::MipsCore core_;
};

#ifdef HAVE_UNICORN
// Unicorn maps KSEG0 and KSEG1 to physical addresses itself, so each memory is mapped once,
// at its physical address: flash and boot flash read-only, as on the chip; the SFR window
// is not mapped at all.
class UnicornRig {
public:
    explicit UnicornRig(const sim::MemoryMap& m)
        : ram_(kRamBytes),
          flash_(m.flash(), m.flash() + m.layout().flashBytes),
          boot_(m.boot(), m.boot() + sim::phys::kBootBytes) {
        EXPECT_EQ(uc_open(UC_ARCH_MIPS, uc_mode(UC_MODE_MIPS32 | UC_MODE_LITTLE_ENDIAN), &uc_), UC_ERR_OK);
        EXPECT_EQ(uc_mem_map_ptr(uc_, sim::phys::kRam, kRamBytes, UC_PROT_ALL, ram_.data()), UC_ERR_OK);
        EXPECT_EQ(uc_mem_map_ptr(uc_, sim::phys::kFlash, flash_.size(), UC_PROT_READ | UC_PROT_EXEC, flash_.data()), UC_ERR_OK);
        EXPECT_EQ(uc_mem_map_ptr(uc_, sim::phys::kBoot, boot_.size(), UC_PROT_READ | UC_PROT_EXEC, boot_.data()), UC_ERR_OK);
    }
    ~UnicornRig() { uc_close(uc_); }
    UnicornRig(const UnicornRig&) = delete;
    UnicornRig& operator=(const UnicornRig&) = delete;

    State run(uint32_t entry, const State& in) {
        std::copy(in.ram.begin(), in.ram.end(), ram_.begin());  // mapped: the buffer stays where it is
        for (int r = 1; r < 32; ++r) uc_reg_write(uc_, UC_MIPS_REG_0 + r, &in.regs[r]);
        uc_reg_write(uc_, UC_MIPS_REG_HI, &in.hi);
        uc_reg_write(uc_, UC_MIPS_REG_LO, &in.lo);
        const uc_err err = uc_emu_start(uc_, entry, kSentinel, 0, 1'000'000);
        State out;
        for (int r = 0; r < 32; ++r) uc_reg_read(uc_, UC_MIPS_REG_0 + r, &out.regs[r]);
        uc_reg_read(uc_, UC_MIPS_REG_HI, &out.hi);
        uc_reg_read(uc_, UC_MIPS_REG_LO, &out.lo);
        out.ram = ram_;
        uint32_t pc = 0;
        uc_reg_read(uc_, UC_MIPS_REG_PC, &pc);
        if (err != UC_ERR_OK || pc != kSentinel)
            out.error = std::string("unicorn stopped at ") + hex(pc) + ": " + uc_strerror(err);
        return out;
    }

private:
    uc_engine* uc_ = nullptr;
    std::vector<uint8_t> ram_, flash_, boot_;
};
#endif

// ---------------------------------------------------------------------------------------
// What each function is called with, and what it must give.

using Rng = softfloat_check::OperandSource;

// A function's calls. Successive calls put sp, and the pointers they pass, alternately in
// KSEG0 and KSEG1.
class Calls : public std::vector<Call> {
public:
    uint32_t segment() const { return size() % 2 ? kK1 : kK0; }
    uint32_t otherSegment() const { return segment() ^ (kK0 ^ kK1); }
    Call& add(uint32_t a0 = 0, uint32_t a1 = 0, uint32_t a2 = 0, uint32_t a3 = 0) {
        Call c;
        c.segment = segment();
        c.args[0] = a0;
        c.args[1] = a1;
        c.args[2] = a2;
        c.args[3] = a3;
        push_back(c);
        return back();
    }
};

// Empty when right. `in` is the state before the call, `out` the core's after it.
using Oracle = std::function<std::string(const Call&, const State& in, const State& out)>;

struct Function {
    const char* name;
    std::function<Calls(Rng&)> calls;
    Oracle check;  // none: the two cores' agreement alone
};

constexpr unsigned kRandomFloat = 2000;  // random operands per soft-float routine

std::vector<uint32_t> floatEdges() {
    std::vector<uint32_t> v;
    for (uint32_t e : softfloat_check::kEdgeValues) {
        v.push_back(e);
        v.push_back(e | 0x80000000u);
    }
    return v;
}

Calls floatPairs(Rng& rng) {
    Calls calls;
    const std::vector<uint32_t> edges = floatEdges();
    for (uint32_t a : edges)
        for (uint32_t b : edges) calls.add(a, b);
    for (unsigned i = 0; i < kRandomFloat; ++i) {
        uint32_t a, b;
        rng.pair(a, b);
        calls.add(a, b);
    }
    return calls;
}

Calls floatSingles(Rng& rng) {
    Calls calls;
    for (uint32_t a : floatEdges()) calls.add(a);
    for (unsigned i = 0; i < kRandomFloat; ++i) calls.add(rng.single());
    return calls;
}

Calls radicands(Rng& rng) {
    Calls calls;
    for (uint32_t a : floatEdges()) calls.add(a);
    for (unsigned i = 0; i < kRandomFloat; ++i) calls.add(rng.radicand());
    return calls;
}

Calls integers(Rng& rng) {
    Calls calls;
    for (uint32_t v : {0u, 1u, 2u, 3u, 1000u, 0x7FFFFFFFu, 0x80000000u, 0x80000001u, 0xFFFFFFFFu, 0xFFFFFFFEu, 0x00FFFFFFu,
                       0x01000000u, 0x01000001u, 0x01000003u, 0x02000005u, 0x7FFFFFC0u, 0x7FFFFF80u, 0xFFFFFF7Fu})
        calls.add(v);
    for (unsigned i = 0; i < kRandomFloat; ++i) calls.add(rng.integer());
    return calls;
}

std::string expectWord(const char* what, uint32_t got, uint32_t want) {
    return got == want ? "" : std::string(what) + " = " + hex(got) + ", should be " + hex(want) + "\n";
}

Function binaryFloat(const char* name, float (*hw)(float, float)) {
    return {name, floatPairs, [hw](const Call& c, const State&, const State& out) -> std::string {
                const uint32_t want = bitsOf(hw(floatOf(c.args[0]), floatOf(c.args[1])));
                if (softfloat_check::same(out.regs[V0], want)) return "";
                return "v0 = " + hex(out.regs[V0]) + ", the host's FPU gives " + hex(want) + "\n";
            }};
}

Function unaryFloat(const char* name, std::function<Calls(Rng&)> calls, std::function<uint32_t(uint32_t)> want, bool anyNaN) {
    return {name, calls, [want, anyNaN](const Call& c, const State&, const State& out) -> std::string {
                const uint32_t w = want(c.args[0]);
                if (out.regs[V0] == w || (anyNaN && softfloat_check::same(out.regs[V0], w))) return "";
                return "v0 = " + hex(out.regs[V0]) + ", should be " + hex(w) + "\n";
            }};
}

// libgcc's comparisons, each read the way GCC reads its result.
Function comparison(const char* name, bool (*holds)(int result, float a, float b)) {
    return {name, floatPairs, [holds](const Call& c, const State&, const State& out) -> std::string {
                if (holds(int(out.regs[V0]), floatOf(c.args[0]), floatOf(c.args[1]))) return "";
                return "v0 = " + std::to_string(int(out.regs[V0])) + " reads the wrong way\n";
            }};
}

// memset, memcpy, memmove: v0 is the destination, RAM as the host's routine leaves it.
Oracle memoryOracle(void (*host)(uint8_t* ram, const Call&)) {
    return [host](const Call& c, const State& in, const State& out) -> std::string {
        std::vector<uint8_t> want = in.ram;
        host(want.data(), c);
        return expectWord("v0", out.regs[V0], c.args[0]) + ramExpected(out.ram, want);
    };
}

Calls memsetCalls(Rng& rng) {
    Calls calls;
    for (uint32_t align = 0; align < 4; ++align)
        for (uint32_t n : {0u, 1u, 2u, 3u, 4u, 5u, 7u, 8u, 15u, 16u, 17u, 31u, 64u, 255u})
            for (uint32_t v : {0x00u, 0xA5u, 0x17Fu, 0xFFFFFFFFu}) calls.add(calls.segment() | (kBufA + align), v, n);
    for (int i = 0; i < 200; ++i) calls.add(calls.segment() | (kBufA + rng.below(64)), rng.next(), rng.below(300));
    return calls;
}

Calls memcpyCalls(Rng& rng) {
    Calls calls;
    for (uint32_t da = 0; da < 4; ++da)
        for (uint32_t sa = 0; sa < 4; ++sa)
            for (uint32_t n : {0u, 1u, 2u, 3u, 4u, 5u, 7u, 8u, 16u, 33u, 100u})
                calls.add(calls.segment() | (kBufA + da), calls.otherSegment() | (kBufB + sa), n);
    for (int i = 0; i < 200; ++i)
        calls.add(calls.segment() | (kBufA + rng.below(64)), calls.segment() | (kBufB + rng.below(64)), rng.below(300));
    return calls;
}

// Overlapping both ways, and not at all.
Calls memmoveCalls(Rng& rng) {
    Calls calls;
    constexpr uint32_t kSrc = kBufA + 0x100;
    for (int delta : {-9, -4, -3, -1, 0, 1, 2, 4, 8, 0x200})
        for (uint32_t n : {0u, 1u, 3u, 4u, 8u, 17u, 64u}) calls.add(calls.segment() | (kSrc + delta), calls.segment() | kSrc, n);
    for (int i = 0; i < 200; ++i) calls.add(calls.segment() | (kSrc + rng.between(-70, 70)), calls.segment() | kSrc, rng.below(129));
    return calls;
}

// Two buffers equal for n bytes except, maybe, at one place; past the end they differ.
Calls memcmpCalls(Rng& rng) {
    Calls calls;
    auto make = [&](uint32_t n, int at, uint8_t x, uint8_t y) {
        std::vector<uint8_t> a(n + 1);
        for (uint8_t& v : a) v = uint8_t(rng.next());
        std::vector<uint8_t> b = a;
        if (at >= 0 && uint32_t(at) < n) {
            a[at] = x;
            b[at] = y;
        }
        b[n] = uint8_t(a[n] + 1);
        Call& c = calls.add();
        c.args[0] = c.place(kBufA + rng.below(4), a);
        c.args[1] = c.place(kBufB + rng.below(4), b);
        c.args[2] = n;
    };
    const uint8_t pairs[][2] = {{0x00, 0x01}, {0x7F, 0x80}, {0xFF, 0x00}, {0x41, 0x61}, {0x80, 0x80}};
    for (uint32_t n : {0u, 1u, 2u, 5u, 16u})
        for (int at : {-1, 0, int(n) / 2, int(n) - 1})
            for (const auto& p : pairs) {
                make(n, at, p[0], p[1]);
                make(n, at, p[1], p[0]);
            }
    for (int i = 0; i < 200; ++i) {
        const uint32_t n = rng.below(65);
        make(n, rng.below(2) ? int(rng.below(n + 1)) : -1, uint8_t(rng.next()), uint8_t(rng.next()));
    }
    return calls;
}

std::string randomText(Rng& rng, uint32_t n) {
    std::string s;
    for (uint32_t i = 0; i < n; ++i) s += char(1 + rng.below(255));  // bytes above 0x7F too
    return s;
}

Calls strlenCalls(Rng& rng) {
    Calls calls;
    auto make = [&](uint32_t n) {
        Call& c = calls.add();
        c.args[0] = c.place(kStrings + rng.below(4), randomText(rng, n));
    };
    for (uint32_t n = 0; n <= 40; ++n) make(n);
    for (int i = 0; i < 100; ++i) make(rng.below(500));
    return calls;
}

// sprintf into buffer A, the format in its own area, arguments beyond the fourth on the
// stack; a %s argument given as a string is placed in the string area.
struct Arg {
    Arg(uint32_t v) : value(v) {}
    Arg(int v) : value(uint32_t(v)) {}
    Arg(const char* s) : text(s), isText(true) {}
    Arg(std::string s) : text(std::move(s)), isText(true) {}
    uint32_t value = 0;
    std::string text;
    bool isText = false;
};

void formatCall(Calls& calls, const std::string& format, const std::vector<Arg>& values, const std::string& want) {
    Call& c = calls.add();
    c.args[0] = c.segment | kBufA;
    c.args[1] = c.place(kFormat, format);
    for (size_t i = 0; i < values.size(); ++i) {
        const uint32_t v = values[i].isText ? c.place(kStrings, values[i].text) : values[i].value;
        if (i < 2) c.args[2 + i] = v;
        else c.stack.push_back(v);
    }
    c.text = want;
}

Calls sprintfCalls(Rng& rng) {
    Calls calls;
    formatCall(calls, "%d:%d:%d-%d-%d/%d/%d", {2, 10, 5, 3, 3, 1, 14}, "2:10:5-3-3/1/14");
    formatCall(calls, "%d", {0x80000000u}, "-2147483648");
    formatCall(calls, "%d|%d|%d", {0xFFFFFFFFu, 0, 0x7FFFFFFF}, "-1|0|2147483647");
    formatCall(calls, "%u", {0xFFFFFFFFu}, "4294967295");
    formatCall(calls, "%x %x %x", {0xDEADBEEFu, 0, 0x10}, "deadbeef 0 10");
    formatCall(calls, "%c%c", {0x141, 0xFFFFFF42u}, "AB");  // the low byte of an int
    formatCall(calls, "<%s>%u", {"hello", 77}, "<hello>77");
    formatCall(calls, "%s", {0}, "(null)");
    formatCall(calls, "100%%", {}, "100%");
    formatCall(calls, "%q%", {}, "%q");  // an unknown conversion kept, a lone % at the end dropped
    formatCall(calls, "", {}, "");
    char want[256];
    for (int i = 0; i < 150; ++i) {
        int v[7];
        for (int& x : v) x = rng.below(2) ? int(rng.next()) : rng.between(-100, 100);
        std::snprintf(want, sizeof want, "%d:%d:%d-%d-%d/%d/%d", v[0], v[1], v[2], v[3], v[4], v[5], v[6]);
        formatCall(calls, "%d:%d:%d-%d-%d/%d/%d", {v[0], v[1], v[2], v[3], v[4], v[5], v[6]}, want);
    }
    for (int i = 0; i < 150; ++i) {
        const uint32_t x = rng.next(), u = rng.integer(), ch = (1 + rng.below(255)) | (rng.next() & 0xFFFFFF00u);
        const std::string s = randomText(rng, rng.below(20));
        std::snprintf(want, sizeof want, "%x|%u|%c|%s|%%", x, u, int(ch), s.c_str());
        formatCall(calls, "%x|%u|%c|%s|%%", {x, u, ch, s}, want);
    }
    return calls;
}

Calls bcdCalls(Rng& rng) {
    Calls calls;
    for (uint32_t a = 0; a < 256; ++a) calls.add(a);
    for (int i = 0; i < 200; ++i) calls.add(rng.next());  // past the char's range: the divider on any value
    return calls;
}

const std::vector<Function>& functions() {
    using namespace softfloat_check;
    static const std::vector<Function> table = {
        {"char_to_bcd", bcdCalls,
         [](const Call& c, const State&, const State& out) -> std::string {
             const uint32_t a = c.args[0];
             return a > 255 ? "" : expectWord("v0", out.regs[V0], ((a / 10) << 4 | a % 10) & 0xFF);
         }},
        {"memset", memsetCalls,
         memoryOracle([](uint8_t* ram, const Call& c) { std::memset(ram + physicalOf(c.args[0]), int(c.args[1]), c.args[2]); })},
        {"memcpy", memcpyCalls,
         memoryOracle([](uint8_t* ram, const Call& c) {
             std::memcpy(ram + physicalOf(c.args[0]), ram + physicalOf(c.args[1]), c.args[2]);
         })},
        {"memmove", memmoveCalls,
         memoryOracle([](uint8_t* ram, const Call& c) {
             std::memmove(ram + physicalOf(c.args[0]), ram + physicalOf(c.args[1]), c.args[2]);
         })},
        {"memcmp", memcmpCalls,
         [](const Call& c, const State& in, const State& out) -> std::string {
             const int host = std::memcmp(&in.ram[physicalOf(c.args[0])], &in.ram[physicalOf(c.args[1])], c.args[2]);
             const int got = int(out.regs[V0]);
             if ((got > 0) != (host > 0) || (got < 0) != (host < 0))
                 return "v0 = " + std::to_string(got) + ", the host's memcmp gives " + std::to_string(host) + "\n";
             return ramExpected(out.ram, in.ram);
         }},
        {"strlen", strlenCalls,
         [](const Call& c, const State& in, const State& out) -> std::string {
             const auto* s = reinterpret_cast<const char*>(&in.ram[physicalOf(c.args[0])]);
             return expectWord("v0", out.regs[V0], uint32_t(std::strlen(s)));
         }},
        {"sprintf", sprintfCalls,
         [](const Call& c, const State& in, const State& out) -> std::string {
             std::vector<uint8_t> want = in.ram;
             std::memcpy(&want[kBufA], c.text.c_str(), c.text.size() + 1);
             return expectWord("v0", out.regs[V0], uint32_t(c.text.size())) + ramExpected(out.ram, want);
         }},
        binaryFloat("__addsf3", hwAdd),
        binaryFloat("__subsf3", hwSub),
        binaryFloat("__mulsf3", hwMul),
        binaryFloat("__divsf3", hwDiv),
        unaryFloat("sqrtf", radicands, [](uint32_t a) { return bitsOf(hwSqrt(floatOf(a))); }, true),
        unaryFloat("__floatsisf", integers, [](uint32_t a) { return bitsOf(float(int32_t(a))); }, false),
        unaryFloat("__floatunsisf", integers, [](uint32_t a) { return bitsOf(float(a)); }, false),
        unaryFloat("__fixsfsi", floatSingles, [](uint32_t a) { return uint32_t(expectedFixSigned(floatOf(a))); }, false),
        unaryFloat("__fixunssfsi", floatSingles, [](uint32_t a) { return expectedFixUnsigned(floatOf(a)); }, false),
        comparison("__eqsf2", [](int r, float a, float b) { return (r == 0) == (a == b); }),
        comparison("__nesf2", [](int r, float a, float b) { return (r != 0) == (a != b); }),
        comparison("__ltsf2", [](int r, float a, float b) { return (r < 0) == (a < b); }),
        comparison("__lesf2", [](int r, float a, float b) { return (r <= 0) == (a <= b); }),
        comparison("__gtsf2", [](int r, float a, float b) { return (r > 0) == (a > b); }),
        comparison("__gesf2", [](int r, float a, float b) { return (r >= 0) == (a >= b); }),
        comparison("__unordsf2", [](int r, float a, float b) { return (r != 0) == std::isunordered(a, b); }),
    };
    return table;
}

// The soft-float's own helpers, true leaves, called directly with what their callers never
// pass as well: Unicorn is the only judge here.
Calls helperPairs(Rng& rng) {
    Calls calls;
    for (unsigned i = 0; i < 1000; ++i) {
        uint32_t a, b;
        rng.pair(a, b);
        calls.add(a, b);
    }
    return calls;
}

Calls roundPackCalls(Rng& rng) {
    Calls calls;
    for (unsigned i = 0; i < 1000; ++i) calls.add(rng.next() & 0x80000000u, uint32_t(rng.between(-40, 260)), rng.next() >> rng.below(8));
    return calls;
}

Calls unpackCalls(Rng& rng) {
    Calls calls;
    for (unsigned i = 0; i < 1000; ++i) {
        const uint32_t x = rng.single() & 0x7FFFFFFFu;
        calls.add(x ? x : 1, calls.segment() | kBufA, calls.segment() | kBufB);  // nonzero finite operands
    }
    return calls;
}

const std::vector<Function>& helpers() {
    static const std::vector<Function> table = {
        {"_ZN12_GLOBAL__N_13addEjj", helperPairs, nullptr},
        {"_ZN12_GLOBAL__N_114compareOrderedEjj", helperPairs, nullptr},
        {"_ZN12_GLOBAL__N_19roundPackEjij", roundPackCalls, nullptr},
        {"_ZN12_GLOBAL__N_16unpackEjRjRi", unpackCalls, nullptr},
        {"_ZN12_GLOBAL__N_113fromMagnitudeEjj", [](Rng& rng) {
             Calls calls;
             for (unsigned i = 0; i < 1000; ++i) calls.add(rng.next() & 0x80000000u, rng.integer());
             return calls;
         }, nullptr},
        {"_ZN12_GLOBAL__N_118truncatedMagnitudeEj", [](Rng& rng) {
             Calls calls;
             for (unsigned i = 0; i < 1000; ++i) calls.add(rng.single());
             return calls;
         }, nullptr},
    };
    return table;
}

uint32_t fnv1a(const std::string& s) {
    uint32_t h = 2166136261u;
    for (unsigned char ch : s) h = (h ^ ch) * 16777619u;
    return h;
}

// ---------------------------------------------------------------------------------------

struct ImageCase {
    const char* file;
    const char* dir;
    std::vector<std::string> required;  // must be in the image
};

void PrintTo(const ImageCase& c, std::ostream* os) { *os << c.file; }

void runImage(const ImageCase& ic) {
    const std::string path = std::string(ic.dir) + "/" + ic.file;
    std::ifstream in(path, std::ios::binary);
    ASSERT_TRUE(in.good()) << path << " is missing: build the firmware images with the target preset "
                           << "(cmake --preset target && cmake --build --preset target)";
    const std::vector<uint8_t> file{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const Symbols symbols = readSymbols(file);
    sim::Image image;
    try {
        image = sim::readImage(path, sim::MemoryLayout::forChip(sim::Chip::MX440F256H));
    } catch (const sim::ImageError& e) {
        FAIL() << path << ": " << e.what();
    }

    CoreRig core(image);
#ifdef HAVE_UNICORN
    UnicornRig unicorn(core.memory());
#endif
    // The memory every call starts from: RAM in random bytes and the sentinel.
    std::vector<uint8_t> base(kRamBytes);
    std::mt19937 fill(fnv1a(ic.file));
    for (uint8_t& b : base) b = uint8_t(fill());
    std::memcpy(&base[kSentinelPhys], &kSdbbp, 4);
    const auto gp = symbols.find("_gp");

    for (const std::string& name : ic.required) EXPECT_TRUE(symbols.count(name)) << ic.file << " has no " << name;
    // The check of what a function reaches sees a driver's SFR accesses.
    if (symbols.count("initUART")) {
        EXPECT_NE(callTree(symbols, core.memory(), "initUART").problem, "");
    }
    std::vector<Function> all = functions();
    all.insert(all.end(), helpers().begin(), helpers().end());
    for (const Function& fn : all) {
        const auto sym = symbols.find(fn.name);
        if (sym == symbols.end() || !sym->second.function) continue;
        const CallTree tree = callTree(symbols, core.memory(), fn.name);
        EXPECT_EQ(tree.problem, "") << ic.file << " " << fn.name << " is no call-free function";
        if (!tree.problem.empty()) continue;

        Rng rng(fnv1a(fn.name));
        std::mt19937 regs(fnv1a(fn.name) ^ 0x5EED);
        const Calls calls = fn.calls(rng);
        unsigned failures = 0;
        for (const Call& c : calls) {
            State st;
            for (uint32_t& r : st.regs) r = regs();
            st.regs[0] = 0;
            if (gp != symbols.end()) st.regs[GP] = gp->second.value;
            std::copy(c.args, c.args + 4, &st.regs[A0]);
            const uint32_t sp = (kStackTop - 16 - 4 * uint32_t(c.stack.size())) & ~7u;
            st.regs[SP] = c.segment | sp;
            st.regs[RA] = kSentinel;
            st.hi = regs();
            st.lo = regs();
            st.ram = base;
            for (const auto& [at, bytes] : c.ram) std::copy(bytes.begin(), bytes.end(), &st.ram[at]);
            for (size_t i = 0; i < c.stack.size(); ++i) std::memcpy(&st.ram[sp + 16 + 4 * i], &c.stack[i], 4);

            const State ours = core.run(sym->second.value, st);
            std::string problem = ours.error;
            if (problem.empty()) {
                for (unsigned r : {16u, 17u, 18u, 19u, 20u, 21u, 22u, 23u, unsigned(GP), unsigned(SP), unsigned(FP)})
                    problem += expectWord(kRegNames[r], ours.regs[r], st.regs[r]);  // callee-saved
                if (fn.check) problem += fn.check(c, st, ours);
            }
#ifdef HAVE_UNICORN
            const State theirs = unicorn.run(sym->second.value, st);
            if (!theirs.error.empty()) problem += theirs.error + "\n";
            else if (ours.error.empty()) problem += difference(ours, theirs);
#endif
            if (!problem.empty() && ++failures <= 5)
                ADD_FAILURE() << ic.file << " " << fn.name << "(" << describe(c) << "):\n" << problem;
        }
        std::string callees;
        for (size_t i = 1; i < tree.functions.size(); ++i) callees += (i > 1 ? ", " : "") + tree.functions[i];
        std::printf("[   LEAF   ] %s %s: %zu calls, %u wrong; %s%s\n", ic.file, fn.name, calls.size(), failures,
                    !tree.leaf ? "calls " : callees.empty() ? "a true leaf" : "a true leaf, jumps on to ", callees.c_str());
        EXPECT_EQ(failures, 0u) << ic.file << " " << fn.name << ": " << failures << " of " << calls.size() << " calls wrong";
    }
}

class LeafFunctions : public testing::TestWithParam<ImageCase> {};

TEST_P(LeafFunctions, RunAlikeInCoreAndUnicornAndGiveTheRightResults) {
    runImage(GetParam());
#ifndef HAVE_UNICORN
    GTEST_SKIP() << "unicorn not found at configure time: only the core's results were checked";
#endif
}

INSTANTIATE_TEST_SUITE_P(
    Images, LeafFunctions,
    testing::Values(ImageCase{"clockdemo.elf", LEAF_IMAGES_DIR, {"char_to_bcd", "memset", "memcpy", "sprintf"}},
                    ImageCase{"carddemo.elf", LEAF_IMAGES_DIR, {"char_to_bcd"}},
                    ImageCase{"irms_test.elf", LEAF_TEST_IMAGES_DIR,
                              {"memset", "memcpy", "__addsf3", "__subsf3", "__mulsf3", "__divsf3", "__floatsisf", "sqrtf"}}),
    [](const testing::TestParamInfo<ImageCase>& info) {
        std::string n = info.param.file;
        n.erase(n.find('.'));
        return n;
    });

}  // namespace
