// A measured prototype, not part of the simulator: what translating straight runs of guest
// code into host code would give over the interpreter. It translates the register-only
// subset the engine benchmark's `int` workload uses (ALU, shifts, immediates, bne/beq, jr)
// into x86-64, one host function per block (a branch and its delay slot end a block),
// registers kept in memory, one indirect call per block (its successor remembered, as
// chained blocks would jump straight on) and one instruction count per block. It runs the
// workload from the benchmark's own image and checks the result against a native
// version of the loop.
//
//   translate_proto [--millions M] [--image engine_bench.elf]
#include <sys/mman.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "sim/boards/board.h"
#include "sim/core/image_loader.h"
#include "sim/core/memory_map.h"
#include "tools/cli.h"

namespace {

constexpr uint32_t kExit = 0xFFFFFFF0u;  // $ra of the call: the block dispatcher stops there

double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec) + 1e-6 * double(u.ru_utime.tv_usec);
}

class Emitter {
public:
    std::vector<uint8_t> code;
    void b(std::initializer_list<int> bytes) {
        for (int v : bytes) code.push_back(uint8_t(v));
    }
    void d(uint32_t v) {
        for (int i = 0; i < 4; ++i) code.push_back(uint8_t(v >> (8 * i)));
    }
    // op eax, [rdi + 4 * reg]
    void mem(int opcode, unsigned reg) {
        b({opcode, 0x87});
        d(4 * reg);
    }
    void load(unsigned reg) { mem(0x8B, reg); }
    void store(unsigned reg) {
        if (reg) mem(0x89, reg);
    }
};

using BlockFn = uint32_t (*)(uint32_t* regs);
struct Block {
    BlockFn fn;
    unsigned length;
    // The block that followed last time (what chaining would jump to directly).
    uint32_t nextPc = 0;
    const Block* next = nullptr;
};

class Translator {
public:
    explicit Translator(const sim::MemoryMap& m) : mem_(m) {
        arena_ = static_cast<uint8_t*>(mmap(nullptr, kArena, PROT_READ | PROT_WRITE | PROT_EXEC, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        if (arena_ == MAP_FAILED) std::perror("mmap"), std::exit(1);
    }
    const Block& at(uint32_t pc) {
        auto it = blocks_.find(pc);
        if (it != blocks_.end()) return it->second;
        return blocks_[pc] = translate(pc);
    }
    size_t bytes() const { return used_; }
    size_t blocks() const { return blocks_.size(); }

private:
    static constexpr size_t kArena = 1 << 20;
    const sim::MemoryMap& mem_;
    uint8_t* arena_;
    size_t used_ = 0;
    std::unordered_map<uint32_t, Block> blocks_;

    uint32_t word(uint32_t pc) const {
        uint32_t p;
        sim::toPhysical(pc, p);
        return mem_.read32(p);
    }
    // One straight instruction; false for anything outside the subset.
    static bool straight(Emitter& e, uint32_t w) {
        unsigned op = w >> 26, rs = (w >> 21) & 31, rt = (w >> 16) & 31, rd = (w >> 11) & 31, sa = (w >> 6) & 31,
                 fn = w & 63;
        uint32_t simm = uint32_t(int32_t(int16_t(w))), zimm = w & 0xFFFF;
        if (w == 0) return true;  // nop
        if (op == 0) {
            int alu = fn == 0x21 ? 0x03 : fn == 0x23 ? 0x2B : fn == 0x26 ? 0x33 : fn == 0x25 ? 0x0B : fn == 0x24 ? 0x23 : fn == 0x27 ? 0x0B : -1;
            if (alu >= 0) {
                e.load(rs);
                e.mem(alu, rt);
                if (fn == 0x27) e.b({0xF7, 0xD0});  // nor: not eax
                e.store(rd);
                return true;
            }
            if (fn == 0x2A || fn == 0x2B) {  // slt, sltu
                e.load(rs);
                e.mem(0x3B, rt);
                e.b({0x0F, fn == 0x2A ? 0x9C : 0x92, 0xC0, 0x0F, 0xB6, 0xC0});
                e.store(rd);
                return true;
            }
            int shift = fn == 0 ? 0xE0 : fn == 3 ? 0xF8 : fn == 2 ? (rs == 1 ? 0xC8 : 0xE8) : -1;
            if (shift >= 0) {
                e.load(rt);
                e.b({0xC1, shift, int(sa)});
                e.store(rd);
                return true;
            }
            return false;
        }
        int imm = op == 0x09 ? 0x05 : op == 0x0C ? 0x25 : op == 0x0D ? 0x0D : op == 0x0E ? 0x35 : -1;
        if (imm >= 0) {  // addiu, andi, ori, xori
            e.load(rs);
            e.b({imm});
            e.d(op == 0x09 ? simm : zimm);
            e.store(rt);
            return true;
        }
        if (op == 0x0F) {  // lui
            if (rt) {
                e.b({0xC7, 0x87});
                e.d(4 * rt);
                e.d(zimm << 16);
            }
            return true;
        }
        return false;
    }

    Block translate(uint32_t pc) {
        Emitter e;
        unsigned n = 0;
        for (uint32_t at = pc;; at += 4, ++n) {
            uint32_t w = word(at);
            unsigned op = w >> 26, rs = (w >> 21) & 31, rt = (w >> 16) & 31;
            if (op == 4 || op == 5) {  // beq, bne: the condition before the slot
                e.load(rs);
                e.mem(0x3B, rt);
                e.b({0x0F, op == 5 ? 0x95 : 0x94, 0xC1});  // setcc cl
                if (!straight(e, word(at + 4))) break;
                e.b({0xB8});
                e.d(at + 4 + uint32_t(int32_t(int16_t(w)) * 4));  // mov eax, target
                e.b({0xBA});
                e.d(at + 8);                                     // mov edx, fall-through
                e.b({0x84, 0xC9, 0x0F, 0x44, 0xC2, 0xC3});       // test cl,cl; cmovz eax,edx; ret
                return finish(e, n + 2);
            }
            if (op == 0 && (w & 63) == 8) {  // jr
                e.load(rs);
                e.b({0x89, 0xC1});  // mov ecx, eax
                if (!straight(e, word(at + 4))) break;
                e.b({0x89, 0xC8, 0xC3});  // mov eax, ecx; ret
                return finish(e, n + 2);
            }
            if (!straight(e, w)) break;
        }
        std::fprintf(stderr, "translate_proto: an instruction outside the prototype's subset near 0x%08X\n", pc);
        std::exit(1);
    }
    Block finish(const Emitter& e, unsigned length) {
        if (used_ + e.code.size() > kArena) std::fprintf(stderr, "translate_proto: arena full\n"), std::exit(1);
        std::memcpy(arena_ + used_, e.code.data(), e.code.size());
        Block b{reinterpret_cast<BlockFn>(arena_ + used_), length};
        used_ += e.code.size();
        return b;
    }
};

// The loop's t2 and its result.
std::pair<uint32_t, uint32_t> nativeInt(uint32_t n) {
    uint32_t t0 = 0x12345678, t1 = 0x9E3779B9, t2 = 0;
    do {
        t2 += t0;
        t0 ^= t1;
        uint32_t t3 = t2 << 5, t4 = t0 >> 3, t5 = t3 - t4, t6 = t5 | t2;
        t0 = ~(t6 | t0);
        --n;
        t1 += t5;
    } while (n);
    return {t2, t2 + t0};
}

}  // namespace

int main(int argc, char** argv) {
    double millions = 200;
    std::string imagePath = std::string(TEST_IMAGES_DIR) + "/engine_bench.elf";
    tools::Cli cli("translate_proto", "[options]",
                   "A block-translation prototype on the engine benchmark's int workload: M guest\n"
                   "instructions per CPU second, one x86-64 function per block.");
    cli.option("--millions", "M", "million guest instructions (default 200)", [&](const char* v) {
           char* end;
           millions = std::strtod(v, &end);
           if (end == v || *end || !(millions >= 1) || millions > 100000)
               cli.fail(std::string("--millions wants a number from 1 to 100000, not '") + v + "'");
       })
        .text("--image", "FILE", "the engine benchmark's image (default: the target build's)", imagePath);
    cli.parse(argc, argv);

    sim::Board board;
    sim::MemoryMap mem(sim::MemoryLayout::of(board));
    sim::Image image;
    try {
        image = sim::readImage(imagePath, mem.layout());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "translate_proto: %s\n", e.what());
        return 1;
    }
    sim::loadImage(mem, image);
    auto entry = image.addressOf("bench_int");
    if (!entry) {
        std::fprintf(stderr, "translate_proto: %s has no bench_int\n", imagePath.c_str());
        return 1;
    }
    const uint32_t passes = uint32_t(millions * 1e6 / 10);
    Translator tr(mem);
    uint32_t regs[32] = {};
    regs[4] = passes;  // a0
    regs[31] = kExit;  // ra
    uint64_t instret = 0, dispatches = 0;
    const uint64_t limit = uint64_t(passes) * 10 + 100;  // never reached: its cost is what counts
    double t0 = cpuSeconds();
    Block* b = const_cast<Block*>(&tr.at(*entry));
    for (;; ++dispatches) {
        uint32_t pc = b->fn(regs);
        instret += b->length;
        if (pc == kExit || instret >= limit) break;  // the time check, once per block
        if (pc != b->nextPc || !b->next) {  // the successor looked up, then remembered
            b->nextPc = pc;
            b->next = &tr.at(pc);
        }
        b = const_cast<Block*>(b->next);
    }
    double seconds = cpuSeconds() - t0;
    const auto [t2, expected] = nativeInt(passes);
    const bool same = regs[2] == expected && regs[10] == t2;
    std::printf("int workload, translated: %llu guest instructions in %.3f s CPU: %.1f M instructions/s\n",
                static_cast<unsigned long long>(instret), seconds, double(instret) / seconds / 1e6);
    std::printf("  %zu blocks, %zu bytes of host code, %llu dispatches; result %08X, t2 %08X (native %08X, %08X)%s\n",
                tr.blocks(), tr.bytes(), static_cast<unsigned long long>(dispatches), regs[2], regs[10], expected, t2,
                same ? "" : "  MISMATCH");
    return same ? 0 : 1;
}
