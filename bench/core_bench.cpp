// Speed of the M4K core simulator, side by side in one run:
//  1. instructions per second on compute-bound integer code (multiply, shifts, loads and
//     stores, a loop), against Unicorn running the same code plainly (its JIT) and with a
//     per-instruction hook (what a cycle-timed board built on Unicorn would need);
//  2. simulated seconds per wall second of the clock demo's firmware image (clockdemo.elf
//     from the target build, booted from the reset vector with the clock chip on I2C1 and
//     a terminal on the console), with fast-forward off and on.
//
//   core_bench [--millions M] [--image clockdemo.elf]   (defaults 200, the target build's)
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "sim/boards/board.h"
#include "sim/core/mips_core.h"
#include "sim/devices/terminal.h"
#include "tools/cli.h"
#include "tools/image_board.h"

#ifdef HAVE_UNICORN
#include <unicorn/unicorn.h>
#endif

namespace {

// A small assembler for the workload: MIPS32 encodings, labels, branch fix-ups.
class Asm {
public:
    explicit Asm(uint32_t base) : base_(base) {}

    void label(const std::string& name) { labels_[name] = code_.size(); }
    uint32_t here() const { return base_ + 4 * uint32_t(code_.size()); }
    std::vector<uint32_t> finish() {
        for (auto [at, name] : fixups_) {
            int32_t off = int32_t(labels_.at(name)) - int32_t(at) - 1;
            code_[at] |= uint32_t(off) & 0xFFFF;
        }
        return code_;
    }

    void r(unsigned rs, unsigned rt, unsigned rd, unsigned sa, unsigned f) {
        emit(rs << 21 | rt << 16 | rd << 11 | sa << 6 | f);
    }
    void i(unsigned op, unsigned rs, unsigned rt, uint32_t imm) { emit(op << 26 | rs << 21 | rt << 16 | (imm & 0xFFFF)); }
    void li(unsigned rt, uint32_t v) {
        i(0x0F, 0, rt, v >> 16);
        i(0x0D, rt, rt, v & 0xFFFF);
    }
    void addu(unsigned d, unsigned s, unsigned t) { r(s, t, d, 0, 0x21); }
    void subu(unsigned d, unsigned s, unsigned t) { r(s, t, d, 0, 0x23); }
    void xor_(unsigned d, unsigned s, unsigned t) { r(s, t, d, 0, 0x26); }
    void sltu(unsigned d, unsigned s, unsigned t) { r(s, t, d, 0, 0x2B); }
    void sll(unsigned d, unsigned t, unsigned sa) { r(0, t, d, sa, 0x00); }
    void srl(unsigned d, unsigned t, unsigned sa) { r(0, t, d, sa, 0x02); }
    void rotr(unsigned d, unsigned t, unsigned sa) { r(1, t, d, sa, 0x02); }
    void addiu(unsigned t, unsigned s, int16_t v) { i(0x09, s, t, uint16_t(v)); }
    void andi(unsigned t, unsigned s, uint16_t v) { i(0x0C, s, t, v); }
    void lw(unsigned t, int16_t off, unsigned s) { i(0x23, s, t, uint16_t(off)); }
    void sw(unsigned t, int16_t off, unsigned s) { i(0x2B, s, t, uint16_t(off)); }
    void mul(unsigned d, unsigned s, unsigned t) { emit(0x1Cu << 26 | s << 21 | t << 16 | d << 11 | 0x02); }
    void sdbbp() { emit(0x7000003F); }
    void bne(unsigned s, unsigned t, const std::string& to) { branch(0x05u << 26 | s << 21 | t << 16, to); }

private:
    uint32_t base_;
    std::vector<uint32_t> code_;
    std::map<std::string, size_t> labels_;
    std::vector<std::pair<size_t, std::string>> fixups_;
    void emit(uint32_t w) { code_.push_back(w); }
    void branch(uint32_t w, const std::string& to) {
        fixups_.push_back({code_.size(), to});
        emit(w);
    }
};

enum Reg : unsigned { zero = 0, v0 = 2, a0 = 4, a1 = 5, a2 = 6, t0 = 8, t1, t2, t3, t4, t5, t6, t7, s0 = 16, s1, s2, s3, ra = 31 };

constexpr uint32_t kCode = 0x9D000000, kCodePhys = 0x1D000000, kData = 0xA0000000;

// Work loop: an LCG, shifts and rotates, a read-modify-write of a 1 KiB table.
std::vector<uint32_t> computeLoop(uint32_t& endAddress) {
    Asm a(kCode);
    a.li(t2, 1103515245);
    a.li(s0, kData);
    a.li(t0, 1);
    a.label("loop");
    a.mul(t1, t0, t2);
    a.addiu(t0, t1, 12345);
    a.srl(t3, t0, 7);
    a.xor_(t4, t4, t3);
    a.andi(t5, t0, 0x3FC);
    a.addu(t5, t5, s0);
    a.lw(t6, 0, t5);
    a.addu(t6, t6, t4);
    a.sw(t6, 0, t5);
    a.sll(t7, t4, 3);
    a.subu(t4, t7, t4);
    a.rotr(t4, t4, 5);
    a.addiu(a0, a0, -1);
    a.bne(a0, zero, "loop");
    a.sltu(v0, t4, t0);
    endAddress = a.here();
    a.sdbbp();
    return a.finish();
}
constexpr uint64_t kLoopInstructions = 15, kSetupInstructions = 6;

struct Result {
    const char* name;
    uint64_t instructions;
    double seconds;
    uint32_t checksum;
};

double since(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

Result runCore(const std::vector<uint32_t>& code, uint32_t iterations) {
    sim::Board board;
    sim::CoreOptions o;
    o.debugProbe = true;
    o.fastForward = false;
    sim::MipsCore core(board, o);
    core.memory().write(kCodePhys, code.data(), code.size() * 4);
    board.cp0.setStatus(0);
    board.cp0.write(16, 0, 3);                 // KSEG0 cacheable, as the firmware sets it
    board.bus.write(CHECON.address, (CHECON_PFMWS(2) | CHECON_PREFEN(3)).value);
    board.bus.write(BMXCONCLR.address, BMXCON_BMXWSDRM.mask);  // no RAM wait state
    core.setReg(a0, iterations);
    core.setPc(kCode);
    auto t0 = std::chrono::steady_clock::now();
    core.run(UINT64_MAX);
    double s = since(t0);
    return {"core", core.stats().instructions, s, core.reg(t4)};
}

#ifdef HAVE_UNICORN
uc_engine* openUnicorn(const std::vector<uint32_t>& code, uint32_t iterations) {
    uc_engine* uc = nullptr;
    if (uc_open(UC_ARCH_MIPS, uc_mode(UC_MODE_MIPS32 | UC_MODE_LITTLE_ENDIAN), &uc) != UC_ERR_OK) std::exit(1);
    uc_mem_map(uc, kCode, 0x10000, UC_PROT_ALL);
    uc_mem_map(uc, kData, 0x10000, UC_PROT_ALL);
    uc_mem_write(uc, kCode, code.data(), code.size() * 4);
    uc_reg_write(uc, UC_MIPS_REG_4, &iterations);
    return uc;
}

Result runUnicorn(const std::vector<uint32_t>& code, uint32_t iterations, uint32_t end, bool hooked) {
    uc_engine* uc = openUnicorn(code, iterations);
    uint64_t count = 0;
    uc_hook hook;
    if (hooked)
        uc_hook_add(uc, &hook, UC_HOOK_CODE,
                    reinterpret_cast<void*>(+[](uc_engine*, uint64_t, uint32_t, void* user) { ++*static_cast<uint64_t*>(user); }),
                    &count, 1, 0);
    auto t0 = std::chrono::steady_clock::now();
    uc_err err = uc_emu_start(uc, kCode, end, 0, 0);
    double s = since(t0);
    if (err != UC_ERR_OK) std::fprintf(stderr, "unicorn: %s\n", uc_strerror(err));
    uint32_t sum = 0;
    uc_reg_read(uc, UC_MIPS_REG_12, &sum);
    uc_close(uc);
    return {hooked ? "unicorn + hook" : "unicorn JIT", hooked ? count : 0, s, sum};
}
#endif

// Goals for the clock demo: real time three times over instruction by instruction, and
// two hundred times with the polling loops skipped.
constexpr double kGoalOff = 3, kGoalOn = 200;

struct Realtime {
    double simulated, wall;
    size_t consoleBytes;
    uint64_t instructions, skipped;
};

Realtime runClockDemo(const sim::Image& image, bool fastForward, double seconds) {
    tools::ImageBoardOptions o;
    o.fastForward = fastForward;
    tools::ImageBoard d(image, o);
    auto t0 = std::chrono::steady_clock::now();
    d.runUntil(seconds);
    double wall = since(t0);
    return {d.board.seconds(d.board.now()), wall, d.terminal.received().size(), d.core.stats().instructions,
            d.core.stats().skippedInstructions};
}

}  // namespace

int main(int argc, char** argv) {
    double millions = 200;
    std::string imagePath = IMAGES_DIR "/clockdemo.elf";
    tools::Cli cli("core_bench", "[options]",
                   "Speed of the M4K core simulator: integer code against Unicorn (plain and with a\n"
                   "per-instruction hook), then clockdemo.elf with fast-forward off and on.\n");
    cli.option("--millions", "M", "million guest instructions of the integer loop (default 200)",
               [&](const char* v) {
                   char* end = nullptr;
                   millions = std::strtod(v, &end);
                   if (end == v || *end || !(millions >= 1) || millions > 100000)
                       cli.fail(std::string("--millions wants a number from 1 to 100000, not '") + v + "'");
               })
        .text("--image", "FILE", "the clock demo image (default: the target build's)", imagePath)
        .parse(argc, argv);
    uint32_t iterations = uint32_t(millions * 1e6 / kLoopInstructions);
    uint32_t end = 0;
    std::vector<uint32_t> code = computeLoop(end);
    uint64_t expected = kSetupInstructions + kLoopInstructions * iterations;

    std::printf("Compute-bound integer code: %u iterations of a %llu-instruction loop\n", iterations,
                static_cast<unsigned long long>(kLoopInstructions));
    Result core = runCore(code, iterations);
    if (core.instructions != expected)
        std::printf("  (core ran %llu instructions, expected %llu)\n", static_cast<unsigned long long>(core.instructions),
                    static_cast<unsigned long long>(expected));
    std::vector<Result> results{core};
#ifdef HAVE_UNICORN
    Result plain = runUnicorn(code, iterations, end, false);
    plain.instructions = core.instructions;  // the same program: the JIT does not count
    Result hooked = runUnicorn(code, iterations, end, true);
    results.push_back(plain);
    results.push_back(hooked);
#endif
    for (const Result& r : results)
        std::printf("  %-16s %12llu instructions %8.3f s %9.1f M instructions/s   result %08X%s\n", r.name,
                    static_cast<unsigned long long>(r.instructions), r.seconds, r.instructions / r.seconds / 1e6,
                    r.checksum, r.checksum == core.checksum ? "" : "  MISMATCH");
#ifdef HAVE_UNICORN
    double ours = core.instructions / core.seconds;
    std::printf("  core / unicorn + hook: %.2f   core / unicorn JIT: %.2f\n", ours / (hooked.instructions / hooked.seconds),
                ours / (plain.instructions / plain.seconds));
#else
    std::printf("  (unicorn not found at configure time: no comparison)\n");
#endif

    std::printf("\nClock demo image %s (a line, then delayms(1000), each second):\n", imagePath.c_str());
    sim::Image image;
    try {
        image = tools::ImageBoard::read(imagePath);
    } catch (const sim::ImageError& e) {
        std::printf("  %s (build the target preset first)\n", e.what());
        return 1;
    }
    for (bool ff : {false, true}) {
        Realtime r = runClockDemo(image, ff, ff ? 300.0 : 10.0);
        double speed = r.simulated / r.wall, goal = ff ? kGoalOn : kGoalOff;
        std::printf("  fast-forward %-3s %6.1f s simulated in %6.3f s: %8.1f x real time, %.2f x the goal of %.0f x  "
                    "(%zu console bytes, %llu instructions run, %llu skipped)\n",
                    ff ? "on" : "off", r.simulated, r.wall, speed, speed / goal, goal, r.consoleBytes,
                    static_cast<unsigned long long>(r.instructions), static_cast<unsigned long long>(r.skipped));
    }
    return 0;
}
