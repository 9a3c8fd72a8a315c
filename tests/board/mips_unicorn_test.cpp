// Differential check of the core against Unicorn (QEMU's MIPS32): random integer code from
// fixed seeds runs in both, and every register and the touched memory must agree.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "sim/boards/board.h"
#include "sim/core/mips_core.h"
#include "sim/core/mips_decode.h"

#ifdef HAVE_UNICORN
#include <unicorn/unicorn.h>
#endif

namespace {

constexpr uint32_t kCode = 0x9D000000, kCodePhys = 0x1D000000;
constexpr uint32_t kData = 0xA0000000, kDataBytes = 0x400;
constexpr unsigned kBase = 23;  // $s7 holds the middle of the data area and is never written
constexpr uint32_t kSdbbp = 0x7000003F;

uint32_t rtype(unsigned rs, unsigned rt, unsigned rd, unsigned sa, unsigned funct) {
    return rs << 21 | rt << 16 | rd << 11 | sa << 6 | funct;
}
uint32_t itype(unsigned op, unsigned rs, unsigned rt, uint32_t imm) { return op << 26 | rs << 21 | rt << 16 | (imm & 0xFFFF); }
uint32_t special2(unsigned rs, unsigned rt, unsigned rd, unsigned funct) { return 0x1Cu << 26 | rtype(rs, rt, rd, 0, funct); }
uint32_t special3(unsigned rs, unsigned rt, unsigned rd, unsigned sa, unsigned funct) {
    return 0x1Fu << 26 | rtype(rs, rt, rd, sa, funct);
}

class Generator {
public:
    explicit Generator(uint32_t seed) : rng_(seed) {}

    std::vector<uint32_t> program(unsigned length) {
        std::vector<uint32_t> code;
        while (code.size() < length) {
            if (pick(10) == 0) branch(code);
            else code.push_back(straight());
        }
        code.push_back(kSdbbp);
        return code;
    }

    uint32_t value() {
        static const uint32_t special[] = {0, 1, 2, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, 0xFFFF, 0x8000, 0xFFFF8000, 31, 32};
        switch (pick(3)) {
            case 0: return special[pick(sizeof special / sizeof special[0])];
            case 1: return uint32_t(int32_t(int16_t(rng_())));
            default: return uint32_t(rng_());
        }
    }

private:
    std::mt19937 rng_;
    unsigned pick(unsigned n) { return unsigned(rng_() % n); }
    unsigned src() { return pick(32); }
    unsigned dst() {
        unsigned r;
        do r = 1 + pick(31);
        while (r == kBase);
        return r;
    }

    uint32_t straight() {
        unsigned rs = src(), rt = src(), rd = dst(), sa = pick(32);
        uint32_t imm = value();
        switch (pick(24)) {
            case 0: {
                static const unsigned f[] = {0x21, 0x23, 0x24, 0x25, 0x26, 0x27, 0x2A, 0x2B, 0x0A, 0x0B};
                return rtype(rs, rt, rd, 0, f[pick(10)]);  // addu subu and or xor nor slt sltu movz movn
            }
            case 1: {
                static const unsigned f[] = {0x00, 0x02, 0x03};
                return rtype(0, rt, rd, sa, f[pick(3)]);  // sll srl sra
            }
            case 2: return rtype(1, rt, rd, sa, 0x02);  // rotr
            case 3: {
                static const unsigned f[] = {0x04, 0x06, 0x07};
                return rtype(rs, rt, rd, 0, f[pick(3)]);  // sllv srlv srav
            }
            case 4: return rtype(rs, rt, rd, 1, 0x06);  // rotrv
            case 5: {
                static const unsigned op[] = {0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E};
                return itype(op[pick(6)], rs, rd, imm);  // addiu slti sltiu andi ori xori
            }
            case 6: return itype(0x0F, 0, rd, imm);  // lui
            case 7: {
                static const unsigned f[] = {0x18, 0x19, 0x1A, 0x1B};
                return rtype(rs, rt, 0, 0, f[pick(4)]);  // mult multu div divu
            }
            case 8: return rtype(0, 0, rd, 0, pick(2) ? 0x10 : 0x12);  // mfhi mflo
            case 9: return rtype(rs, 0, 0, 0, pick(2) ? 0x11 : 0x13);  // mthi mtlo
            case 10: {
                static const unsigned f[] = {0x00, 0x01, 0x04, 0x05};
                return special2(rs, rt, 0, f[pick(4)]);  // madd maddu msub msubu
            }
            case 11: return special2(rs, rt, rd, 0x02);  // mul
            case 12: return special2(rs, rd, rd, pick(2) ? 0x20 : 0x21);  // clz clo
            case 13: {
                unsigned pos = pick(32), size = 1 + pick(32 - pos);
                return special3(rs, rd, size - 1, pos, 0x00);  // ext
            }
            case 14: {
                unsigned pos = pick(32), size = 1 + pick(32 - pos);
                return special3(rs, rd, pos + size - 1, pos, 0x04);  // ins
            }
            case 15: {
                static const unsigned f[] = {0x02, 0x10, 0x18};
                return special3(0, rt, rd, f[pick(3)], 0x20);  // wsbh seb seh
            }
            default: return memory(rd, rt);
        }
    }

    uint32_t memory(unsigned rd, unsigned rt) {
        // Loads and stores around $s7, inside the data area; unaligned only where allowed.
        static const unsigned loads[] = {0x20, 0x21, 0x22, 0x23, 0x24, 0x25, 0x26};
        static const unsigned stores[] = {0x28, 0x29, 0x2A, 0x2B, 0x2E};
        bool load = pick(2);
        unsigned op = load ? loads[pick(7)] : stores[pick(5)];
        unsigned width = (op & 3) == 0 ? 1 : (op & 3) == 1 ? 2 : 4;
        bool partial = op == 0x22 || op == 0x26 || op == 0x2A || op == 0x2E;
        int32_t offset = int32_t(pick(kDataBytes)) - int32_t(kDataBytes / 2);
        if (!partial) offset &= ~int32_t(width - 1);
        return itype(op, kBase, load ? rd : rt, uint32_t(offset));
    }

    void branch(std::vector<uint32_t>& code) {
        // A forward branch over `skip` instructions, with a delay slot.
        unsigned skip = pick(4), rs = src(), rt = src();
        uint32_t off = skip + 1;
        switch (pick(7)) {
            case 0: code.push_back(itype(pick(2) ? 0x04 : 0x05, rs, rt, off)); break;    // beq bne
            case 1: code.push_back(itype(pick(2) ? 0x14 : 0x15, rs, rt, off)); break;    // beql bnel
            case 2: code.push_back(itype(0x06 + pick(2), rs, 0, off)); break;            // blez bgtz
            case 3: code.push_back(itype(0x16 + pick(2), rs, 0, off)); break;            // blezl bgtzl
            case 4: code.push_back(itype(0x01, rs, pick(4), off)); break;                // bltz bgez (l)
            case 5: code.push_back(itype(0x01, rs == 31 ? 30 : rs, 0x10 + pick(4), off)); break;  // bltzal bgezal (l)
            default: code.push_back(itype(0x04, 0, 0, off)); break;                      // b
        }
        for (unsigned i = 0; i <= skip; ++i) code.push_back(straight());
    }
};

struct State {
    uint32_t regs[32];
    uint32_t hi, lo;
    std::vector<uint8_t> data;
};

[[maybe_unused]] std::string listing(const std::vector<uint32_t>& code) {
    std::ostringstream out;
    for (size_t i = 0; i < code.size(); ++i) {
        char line[64];
        std::snprintf(line, sizeof line, "%08X: %08X %s\n", unsigned(kCode + 4 * i), code[i],
                      sim::mips::opName(sim::mips::decode(code[i], kCode + 4 * unsigned(i)).op));
        out << line;
    }
    return out.str();
}

[[maybe_unused]] State runCore(const std::vector<uint32_t>& code, const State& in) {
    sim::Board board;
    sim::CoreOptions o;
    o.debugProbe = true;
    sim::MipsCore core(board, o);
    core.memory().write(kCodePhys, code.data(), code.size() * 4);
    core.memory().write(kData & 0x1FFFFFFF, in.data.data(), in.data.size());
    for (unsigned r = 1; r < 32; ++r) core.setReg(r, in.regs[r]);
    core.setHi(in.hi);
    core.setLo(in.lo);
    board.cp0.setStatus(0);
    core.setPc(kCode);
    EXPECT_EQ(core.run(1'000'000), sim::StopReason::Breakpoint);
    EXPECT_EQ(core.pc(), kCode + 4 * uint32_t(code.size() - 1)) << "did not reach the end";
    State out;
    for (unsigned r = 0; r < 32; ++r) out.regs[r] = core.reg(r);
    out.hi = core.hi();
    out.lo = core.lo();
    out.data.resize(in.data.size());
    core.memory().read(kData & 0x1FFFFFFF, out.data.data(), out.data.size());
    return out;
}

#ifdef HAVE_UNICORN
State runUnicorn(const std::vector<uint32_t>& code, const State& in) {
    uc_engine* uc = nullptr;
    EXPECT_EQ(uc_open(UC_ARCH_MIPS, uc_mode(UC_MODE_MIPS32 | UC_MODE_LITTLE_ENDIAN), &uc), UC_ERR_OK);
    uc_mem_map(uc, kCode, 0x10000, UC_PROT_ALL);
    uc_mem_map(uc, kData, 0x10000, UC_PROT_ALL);
    uc_mem_write(uc, kCode, code.data(), code.size() * 4);
    uc_mem_write(uc, kData, in.data.data(), in.data.size());
    for (int r = 1; r < 32; ++r) {
        uint32_t v = in.regs[r];
        uc_reg_write(uc, UC_MIPS_REG_0 + r, &v);
    }
    uint32_t hi = in.hi, lo = in.lo;
    uc_reg_write(uc, UC_MIPS_REG_HI, &hi);
    uc_reg_write(uc, UC_MIPS_REG_LO, &lo);
    uc_err err = uc_emu_start(uc, kCode, kCode + 4 * uint32_t(code.size() - 1), 0, 0);
    EXPECT_EQ(err, UC_ERR_OK) << uc_strerror(err);
    State out;
    for (int r = 0; r < 32; ++r) uc_reg_read(uc, UC_MIPS_REG_0 + r, &out.regs[r]);
    uc_reg_read(uc, UC_MIPS_REG_HI, &out.hi);
    uc_reg_read(uc, UC_MIPS_REG_LO, &out.lo);
    out.data.resize(in.data.size());
    uc_mem_read(uc, kData, out.data.data(), out.data.size());
    uc_close(uc);
    return out;
}
#endif

TEST(MipsUnicorn, RandomIntegerCodeAgrees) {
#ifndef HAVE_UNICORN
    GTEST_SKIP() << "unicorn not found at configure time";
#else
    constexpr unsigned kPrograms = 300, kLength = 200;
    for (uint32_t seed = 1; seed <= kPrograms; ++seed) {
        Generator gen(seed);
        std::vector<uint32_t> code = gen.program(kLength);
        State in;
        for (uint32_t& r : in.regs) r = gen.value();
        in.regs[0] = 0;
        in.regs[kBase] = kData + kDataBytes / 2;
        in.hi = gen.value();
        in.lo = gen.value();
        in.data.resize(kDataBytes + 8);  // loads may reach 3 bytes past the area
        for (uint8_t& b : in.data) b = uint8_t(gen.value());

        State ours = runCore(code, in), theirs = runUnicorn(code, in);
        std::ostringstream diff;
        for (unsigned r = 0; r < 32; ++r)
            if (ours.regs[r] != theirs.regs[r])
                diff << "$" << r << ": core " << std::hex << ours.regs[r] << ", unicorn " << theirs.regs[r] << std::dec << "\n";
        if (ours.hi != theirs.hi) diff << "HI: core " << std::hex << ours.hi << ", unicorn " << theirs.hi << std::dec << "\n";
        if (ours.lo != theirs.lo) diff << "LO: core " << std::hex << ours.lo << ", unicorn " << theirs.lo << std::dec << "\n";
        for (size_t i = 0; i < ours.data.size(); ++i)
            if (ours.data[i] != theirs.data[i]) {
                diff << "memory " << std::hex << kData + i << ": core " << int(ours.data[i]) << ", unicorn "
                     << int(theirs.data[i]) << std::dec << "\n";
                break;
            }
        ASSERT_TRUE(diff.str().empty()) << "seed " << seed << "\n" << diff.str() << listing(code);
    }
#endif
}

}  // namespace
