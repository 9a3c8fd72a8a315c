#include "sim/core/disasm.h"

#include <cstdio>

namespace sim::mips {

namespace {

const char* const kGpr[32] = {"zero", "at", "v0", "v1", "a0", "a1", "a2", "a3", "t0", "t1", "t2",
                              "t3",   "t4", "t5", "t6", "t7", "s0", "s1", "s2", "s3", "s4", "s5",
                              "s6",   "s7", "t8", "t9", "k0", "k1", "gp", "sp", "s8", "ra"};

}  // namespace

const char* registerName(unsigned n) { return n < 32 ? kGpr[n] : "?"; }

namespace {

// objdump's CP0 names for MIPS32 release 2: select 0, then the named selects.
const char* const kCp0[32] = {
    "c0_index",  "c0_random", "c0_entrylo0", "c0_entrylo1", "c0_context",  "c0_pagemask", "c0_wired",
    "c0_hwrena", "c0_badvaddr", "c0_count",  "c0_entryhi",  "c0_compare",  "c0_status",   "c0_cause",
    "c0_epc",    "c0_prid",   "c0_config",   "c0_lladdr",   "c0_watchlo",  "c0_watchhi",  "c0_xcontext",
    nullptr,     nullptr,     "c0_debug",    "c0_depc",     "c0_perfcnt",  "c0_errctl",   "c0_cacheerr",
    "c0_taglo",  "c0_taghi",  "c0_errorepc", "c0_desave"};

struct Cp0Sel {
    uint8_t reg, sel;
    const char* name;
};
const Cp0Sel kCp0Sel[] = {
    {0, 1, "c0_mvpcontrol"},    {0, 2, "c0_mvpconf0"},      {0, 3, "c0_mvpconf1"},      {1, 1, "c0_vpecontrol"},
    {1, 2, "c0_vpeconf0"},      {1, 3, "c0_vpeconf1"},      {1, 4, "c0_yqmask"},        {1, 5, "c0_vpeschedule"},
    {1, 6, "c0_vpeschefback"},  {2, 1, "c0_tcstatus"},      {2, 2, "c0_tcbind"},        {2, 3, "c0_tcrestart"},
    {2, 4, "c0_tchalt"},        {2, 5, "c0_tccontext"},     {2, 6, "c0_tcschedule"},    {2, 7, "c0_tcschefback"},
    {4, 1, "c0_contextconfig"}, {5, 1, "c0_pagegrain"},     {6, 1, "c0_srsconf0"},      {6, 2, "c0_srsconf1"},
    {6, 3, "c0_srsconf2"},      {6, 4, "c0_srsconf3"},      {6, 5, "c0_srsconf4"},      {12, 1, "c0_intctl"},
    {12, 2, "c0_srsctl"},       {12, 3, "c0_srsmap"},       {15, 1, "c0_ebase"},        {16, 1, "c0_config1"},
    {16, 2, "c0_config2"},      {16, 3, "c0_config3"},      {18, 1, "c0_watchlo,1"},    {18, 2, "c0_watchlo,2"},
    {18, 3, "c0_watchlo,3"},    {18, 4, "c0_watchlo,4"},    {18, 5, "c0_watchlo,5"},    {18, 6, "c0_watchlo,6"},
    {18, 7, "c0_watchlo,7"},    {19, 1, "c0_watchhi,1"},    {19, 2, "c0_watchhi,2"},    {19, 3, "c0_watchhi,3"},
    {19, 4, "c0_watchhi,4"},    {19, 5, "c0_watchhi,5"},    {19, 6, "c0_watchhi,6"},    {19, 7, "c0_watchhi,7"},
    {23, 1, "c0_tracecontrol"}, {23, 2, "c0_tracecontrol2"}, {23, 3, "c0_usertracedata"}, {23, 4, "c0_tracebpc"},
    {25, 1, "c0_perfcnt,1"},    {25, 2, "c0_perfcnt,2"},    {25, 3, "c0_perfcnt,3"},    {25, 4, "c0_perfcnt,4"},
    {25, 5, "c0_perfcnt,5"},    {25, 6, "c0_perfcnt,6"},    {25, 7, "c0_perfcnt,7"},    {27, 1, "c0_cacheerr,1"},
    {27, 2, "c0_cacheerr,2"},   {27, 3, "c0_cacheerr,3"},   {28, 1, "c0_datalo"},       {28, 2, "c0_taglo1"},
    {28, 3, "c0_datalo1"},      {28, 4, "c0_taglo2"},       {28, 5, "c0_datalo2"},      {28, 6, "c0_taglo3"},
    {28, 7, "c0_datalo3"},      {29, 1, "c0_datahi"},       {29, 2, "c0_taghi1"},       {29, 3, "c0_datahi1"},
    {29, 4, "c0_taghi2"},       {29, 5, "c0_datahi2"},      {29, 6, "c0_taghi3"},       {29, 7, "c0_datahi3"}};

const char* const kHwr[4] = {"hwr_cpunum", "hwr_synci_step", "hwr_cc", "hwr_ccres"};

const char* const kFpuCond[16] = {"f",  "un",   "eq",  "ueq", "olt", "ult", "ole", "ule",
                                  "sf", "ngle", "seq", "ngl", "lt",  "nge", "le",  "ngt"};

// Field extraction of the R, I and J formats.
struct Fields {
    uint32_t w;
    unsigned op() const { return w >> 26; }
    unsigned rs() const { return (w >> 21) & 31; }
    unsigned rt() const { return (w >> 16) & 31; }
    unsigned rd() const { return (w >> 11) & 31; }
    unsigned sa() const { return (w >> 6) & 31; }
    unsigned fn() const { return w & 0x3F; }
    int32_t simm() const { return int16_t(w & 0xFFFF); }
    unsigned zimm() const { return w & 0xFFFF; }
};

// Builds "mnemonic\toperand,operand...".
class Text {
public:
    Text(const Symbolizer& symbolize) : symbolize_(symbolize) {}

    Text& op(const char* mnemonic) {
        s_ = mnemonic;
        first_ = true;
        return *this;
    }
    Text& raw(const std::string& operand) {
        s_ += first_ ? '\t' : ',';
        s_ += operand;
        first_ = false;
        return *this;
    }
    Text& reg(unsigned r) { return raw(kGpr[r]); }
    Text& dec(int32_t v) { return raw(std::to_string(v)); }
    Text& hex(uint32_t v) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "0x%x", v);
        return raw(buf);
    }
    Text& fpr(unsigned r) { return raw("$f" + std::to_string(r)); }
    Text& cpr(unsigned r) { return raw("$" + std::to_string(r)); }
    Text& mem(int32_t offset, unsigned base) {
        return raw(std::to_string(offset) + "(" + kGpr[base] + ")");
    }
    Text& target(uint32_t address) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "%x", address);
        std::string t = buf;
        if (symbolize_) {
            std::string sym = symbolize_(address);
            if (!sym.empty()) t += " <" + sym + ">";
        }
        return raw(t);
    }
    Text& acc(unsigned ac) { return raw("$ac" + std::to_string(ac)); }
    std::string str() const { return s_; }

private:
    const Symbolizer& symbolize_;
    std::string s_;
    bool first_ = true;
};

std::string word(uint32_t w) {
    char buf[24];
    std::snprintf(buf, sizeof buf, ".word\t0x%x", w);
    return buf;
}

class Disassembler {
public:
    Disassembler(uint32_t w, uint32_t pc, const Symbolizer& symbolize) : f_{w}, pc_(pc), t_(symbolize) {}

    std::string run() { return decode() ? t_.str() : word(f_.w); }

private:
    uint32_t branchTarget() const { return pc_ + 4 + (uint32_t(f_.simm()) << 2); }

    bool decode() {
        const Fields& f = f_;
        switch (f.op()) {
            case 0x00: return special();
            case 0x01: return regimm();
            case 0x02:
            case 0x03:
            case 0x1D: {
                static const char* const names[] = {"j", "jal", "jalx"};
                uint32_t target = ((pc_ + 4) & 0xF0000000u) | ((f.w & 0x03FFFFFF) << 2);
                t_.op(names[f.op() == 0x1D ? 2 : f.op() - 2]).target(target);
                return true;
            }
            case 0x04:
            case 0x14: {
                bool likely = f.op() == 0x14;
                if (f.rt() == 0 && (f.rs() != 0 || likely)) {
                    t_.op(likely ? "beqzl" : "beqz").reg(f.rs());
                } else if (f.rs() == 0 && f.rt() == 0) {
                    t_.op("b");
                } else {
                    t_.op(likely ? "beql" : "beq").reg(f.rs()).reg(f.rt());
                }
                t_.target(branchTarget());
                return true;
            }
            case 0x05:
            case 0x15: {
                bool likely = f.op() == 0x15;
                if (f.rt() == 0) {
                    t_.op(likely ? "bnezl" : "bnez").reg(f.rs());
                } else {
                    t_.op(likely ? "bnel" : "bne").reg(f.rs()).reg(f.rt());
                }
                t_.target(branchTarget());
                return true;
            }
            case 0x06: case 0x07: case 0x16: case 0x17: {
                if (f.rt() != 0) return false;
                static const char* const names[] = {"blez", "bgtz", "blezl", "bgtzl"};
                t_.op(names[(f.op() & 1) | ((f.op() >> 3) & 2)]).reg(f.rs()).target(branchTarget());
                return true;
            }
            case 0x08: t_.op("addi").reg(f.rt()).reg(f.rs()).dec(f.simm()); return true;
            case 0x09:
                if (f.rs() == 0) t_.op("li").reg(f.rt()).dec(f.simm());
                else t_.op("addiu").reg(f.rt()).reg(f.rs()).dec(f.simm());
                return true;
            case 0x0A: t_.op("slti").reg(f.rt()).reg(f.rs()).dec(f.simm()); return true;
            case 0x0B: t_.op("sltiu").reg(f.rt()).reg(f.rs()).dec(f.simm()); return true;
            case 0x0C: t_.op("andi").reg(f.rt()).reg(f.rs()).hex(f.zimm()); return true;
            case 0x0D:
                if (f.rs() == 0) t_.op("li").reg(f.rt()).hex(f.zimm());
                else t_.op("ori").reg(f.rt()).reg(f.rs()).hex(f.zimm());
                return true;
            case 0x0E: t_.op("xori").reg(f.rt()).reg(f.rs()).hex(f.zimm()); return true;
            case 0x0F:
                if (f.rs() != 0) return false;
                t_.op("lui").reg(f.rt()).hex(f.zimm());
                return true;
            case 0x10: return cop0();
            case 0x11: return cop1();
            case 0x12: return cop2();
            case 0x1C: return special2();
            case 0x1F: return special3();
            case 0x2F: t_.op("cache").hex(f.rt()).mem(f.simm(), f.rs()); return true;
            case 0x33: t_.op("pref").hex(f.rt()).mem(f.simm(), f.rs()); return true;
            case 0x31: case 0x35: case 0x39: case 0x3D: {
                static const char* const names[] = {"lwc1", "ldc1", "swc1", "sdc1"};
                t_.op(names[(f.op() >> 2) & 3]).fpr(f.rt()).mem(f.simm(), f.rs());
                return true;
            }
            case 0x32: case 0x36: case 0x3A: case 0x3E: {
                static const char* const names[] = {"lwc2", "ldc2", "swc2", "sdc2"};
                t_.op(names[(f.op() >> 2) & 3]).cpr(f.rt()).mem(f.simm(), f.rs());
                return true;
            }
            default: break;
        }
        static const char* const memory[64] = {
            // 0x20..0x3F
            "lb", "lh", "lwl", "lw", "lbu", "lhu", "lwr", nullptr, "sb", "sh", "swl", "sw", nullptr, nullptr,
            "swr", nullptr, "ll", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, "sc"};
        if (f.op() >= 0x20 && f.op() < 0x39 && memory[f.op() - 0x20]) {
            t_.op(memory[f.op() - 0x20]).reg(f.rt()).mem(f.simm(), f.rs());
            return true;
        }
        return false;
    }

    bool special() {
        const Fields& f = f_;
        unsigned rs = f.rs(), rt = f.rt(), rd = f.rd(), sa = f.sa();
        auto three = [&](const char* name) {
            if (sa != 0) return false;
            t_.op(name).reg(rd).reg(rs).reg(rt);
            return true;
        };
        auto shiftv = [&](const char* name) {
            t_.op(name).reg(rd).reg(rt).reg(rs);
            return true;
        };
        auto trap = [&](const char* name) {
            t_.op(name).reg(rs).reg(rt);
            if (unsigned code = (f.w >> 6) & 0x3FF) t_.hex(code);
            return true;
        };
        // DSP accumulators: mult and friends name one in bits 12:11 when it is not ac0.
        auto multiply = [&](const char* name, bool divide) {
            if (sa != 0) return false;
            if (divide) {
                if (rd != 0) return false;
                t_.op(name).reg(0).reg(rs).reg(rt);
                return true;
            }
            if (rd & ~3u) return false;
            t_.op(name);
            if (rd) t_.acc(rd);
            t_.reg(rs).reg(rt);
            return true;
        };
        auto moveFrom = [&](const char* name) {  // mfhi/mflo: accumulator in bits 22:21
            if (sa != 0 || rt != 0 || (rs & ~3u)) return false;
            t_.op(name).reg(rd);
            if (rs) t_.acc(rs);
            return true;
        };
        auto moveTo = [&](const char* name) {  // mthi/mtlo: accumulator in bits 12:11
            if (sa != 0 || rt != 0 || (rd & ~3u)) return false;
            t_.op(name).reg(rs);
            if (rd) t_.acc(rd);
            return true;
        };
        switch (f.fn()) {
            case 0x00:
                if (rs != 0) return false;
                if (rd == 0 && rt == 0) {
                    if (sa == 0) return t_.op("nop"), true;
                    if (sa == 1) return t_.op("ssnop"), true;
                    if (sa == 3) return t_.op("ehb"), true;
                    if (sa == 5) return t_.op("pause"), true;
                }
                t_.op("sll").reg(rd).reg(rt).hex(sa);
                return true;
            case 0x01: {
                if (sa != 0 || (rt & 2)) return false;
                t_.op((rt & 1) ? "movt" : "movf").reg(rd).reg(rs).raw("$fcc" + std::to_string(rt >> 2));
                return true;
            }
            case 0x02:
                if (rs > 1) return false;
                t_.op(rs ? "ror" : "srl").reg(rd).reg(rt).hex(sa);
                return true;
            case 0x03:
                if (rs != 0) return false;
                t_.op("sra").reg(rd).reg(rt).hex(sa);
                return true;
            case 0x04: return sa == 0 && shiftv("sllv");
            case 0x06: return sa <= 1 && shiftv(sa ? "rorv" : "srlv");
            case 0x07: return sa == 0 && shiftv("srav");
            case 0x08:
                if (rt != 0 || rd != 0 || (sa != 0 && sa != 0x10)) return false;
                t_.op(sa ? "jr.hb" : "jr").reg(rs);
                return true;
            case 0x09:
                if (rt != 0 || (sa != 0 && sa != 0x10)) return false;
                t_.op(sa ? "jalr.hb" : "jalr");
                if (rd != 31) t_.reg(rd);
                t_.reg(rs);
                return true;
            case 0x0A: return three("movz");
            case 0x0B: return three("movn");
            case 0x0C:
                t_.op("syscall");
                if (unsigned code = (f.w >> 6) & 0xFFFFF) t_.hex(code);
                return true;
            case 0x0D: {
                unsigned code1 = (f.w >> 16) & 0x3FF, code2 = (f.w >> 6) & 0x3FF;
                t_.op("break");
                if (code1 || code2) t_.hex(code1);
                if (code2) t_.hex(code2);
                return true;
            }
            case 0x0F: {
                if (rs || rt || rd) return false;
                switch (sa) {
                    case 0x00: t_.op("sync"); return true;
                    case 0x04: t_.op("sync_wmb"); return true;
                    case 0x10: t_.op("sync_mb"); return true;
                    case 0x11: t_.op("sync_acquire"); return true;
                    case 0x12: t_.op("sync_release"); return true;
                    case 0x13: t_.op("sync_rmb"); return true;
                    default: t_.op("sync").hex(sa); return true;
                }
            }
            case 0x10: return moveFrom("mfhi");
            case 0x11: return moveTo("mthi");
            case 0x12: return moveFrom("mflo");
            case 0x13: return moveTo("mtlo");
            case 0x18: return multiply("mult", false);
            case 0x19: return multiply("multu", false);
            case 0x1A: return multiply("div", true);
            case 0x1B: return multiply("divu", true);
            case 0x20: return three("add");
            case 0x21:
                if (sa == 0 && rt == 0) return t_.op("move").reg(rd).reg(rs), true;
                return three("addu");
            case 0x22:
                if (sa == 0 && rs == 0) return t_.op("neg").reg(rd).reg(rt), true;
                return three("sub");
            case 0x23:
                if (sa == 0 && rs == 0) return t_.op("negu").reg(rd).reg(rt), true;
                return three("subu");
            case 0x24: return three("and");
            case 0x25:
                if (sa == 0 && rt == 0) return t_.op("move").reg(rd).reg(rs), true;
                return three("or");
            case 0x26: return three("xor");
            case 0x27: return three("nor");
            case 0x2A: return three("slt");
            case 0x2B: return three("sltu");
            case 0x30: return trap("tge");
            case 0x31: return trap("tgeu");
            case 0x32: return trap("tlt");
            case 0x33: return trap("tltu");
            case 0x34: return trap("teq");
            case 0x36: return trap("tne");
            default: return false;
        }
    }

    bool regimm() {
        const Fields& f = f_;
        unsigned rs = f.rs();
        auto branch = [&](const char* name) {
            t_.op(name).reg(rs).target(branchTarget());
            return true;
        };
        auto trap = [&](const char* name) {
            t_.op(name).reg(rs).dec(f.simm());
            return true;
        };
        switch (f.rt()) {
            case 0x00: return branch("bltz");
            case 0x01:
                if (rs == 0) return t_.op("b").target(branchTarget()), true;
                return branch("bgez");
            case 0x02: return branch("bltzl");
            case 0x03: return branch("bgezl");
            case 0x08: return trap("tgei");
            case 0x09: return trap("tgeiu");
            case 0x0A: return trap("tlti");
            case 0x0B: return trap("tltiu");
            case 0x0C: return trap("teqi");
            case 0x0E: return trap("tnei");
            case 0x10: return branch("bltzal");
            case 0x11:
                if (rs == 0) return t_.op("bal").target(branchTarget()), true;
                return branch("bgezal");
            case 0x12: return branch("bltzall");
            case 0x13: return branch("bgezall");
            case 0x1F: t_.op("synci").mem(f.simm(), rs); return true;
            default: return false;
        }
    }

    bool cop0() {
        const Fields& f = f_;
        unsigned rt = f.rt(), rd = f.rd(), sel = f.w & 7;
        switch (f.rs()) {
            case 0x00:
            case 0x04: {
                if (f.w & 0x7F8) return false;
                t_.op(f.rs() ? "mtc0" : "mfc0").reg(rt);
                const char* name = sel == 0 ? kCp0[rd] : nullptr;
                for (const Cp0Sel& s : kCp0Sel)
                    if (sel != 0 && s.reg == rd && s.sel == sel) name = s.name;
                if (name) t_.raw(name);
                else if (sel == 0) t_.cpr(rd);
                else t_.raw("$" + std::to_string(rd) + "," + std::to_string(sel));
                return true;
            }
            case 0x0A:
            case 0x0E:
                if (f.w & 0x7FF) return false;
                t_.op(f.rs() == 0x0A ? "rdpgpr" : "wrpgpr").reg(rd).reg(rt);
                return true;
            case 0x0B:
                if (rd != 12 || ((f.w & 0x7FF) != 0 && (f.w & 0x7FF) != 0x20)) return false;
                t_.op((f.w & 0x20) ? "ei" : "di");
                if (rt) t_.reg(rt);
                return true;
            default: break;
        }
        if (!(f.rs() & 0x10)) return false;
        uint32_t code = (f.w >> 6) & 0x7FFFF;
        switch (f.fn()) {
            case 0x01: if (!code) return t_.op("tlbr"), true; break;
            case 0x02: if (!code) return t_.op("tlbwi"), true; break;
            case 0x06: if (!code) return t_.op("tlbwr"), true; break;
            case 0x08: if (!code) return t_.op("tlbp"), true; break;
            case 0x18: if (!code) return t_.op("eret"), true; break;
            case 0x1F: if (!code) return t_.op("deret"), true; break;
            case 0x20:
                t_.op("wait");
                if (code) t_.hex(code);
                return true;
            default: break;
        }
        t_.op("c0").hex(f.w & 0x1FFFFFF);
        return true;
    }

    // The FPU as objdump shows it; the M4K has none, so these only trap.
    bool cop1() {
        const Fields& f = f_;
        unsigned rs = f.rs(), ft = f.rt(), fs = f.rd(), fd = f.sa();
        switch (rs) {
            case 0x00: case 0x03: case 0x04: case 0x07: {
                if (f.w & 0x7FF) return false;
                static const char* const names[] = {"mfc1", nullptr, nullptr, "mfhc1",
                                                    "mtc1", nullptr, nullptr, "mthc1"};
                t_.op(names[rs]).reg(ft).fpr(fs);
                return true;
            }
            case 0x02: case 0x06: {
                if (f.w & 0x7FF) return false;
                t_.op(rs == 2 ? "cfc1" : "ctc1").reg(ft);
                switch (fs) {
                    case 0: t_.raw("c1_fir"); break;
                    case 1: t_.raw("c1_ufr"); break;
                    case 4: t_.raw("c1_unfr"); break;
                    case 25: t_.raw("c1_fccr"); break;
                    case 26: t_.raw("c1_fexr"); break;
                    case 28: t_.raw("c1_fenr"); break;
                    case 31: t_.raw("c1_fcsr"); break;
                    default: t_.cpr(fs); break;
                }
                return true;
            }
            case 0x08: {
                static const char* const names[] = {"bc1f", "bc1t", "bc1fl", "bc1tl"};
                t_.op(names[ft & 3]);
                if (unsigned cc = ft >> 2) t_.raw("$fcc" + std::to_string(cc));
                t_.target(branchTarget());
                return true;
            }
            case 0x10: case 0x11: return fpuArith(rs == 0x10 ? "s" : "d", ft, fs, fd);
            case 0x14: case 0x15:
                if (ft != 0) return false;
                if (f.fn() == 0x20) return t_.op(rs == 0x14 ? "cvt.s.w" : "cvt.s.l").fpr(fd).fpr(fs), true;
                if (f.fn() == 0x21) return t_.op(rs == 0x14 ? "cvt.d.w" : "cvt.d.l").fpr(fd).fpr(fs), true;
                return false;
            default: return false;
        }
    }

    bool fpuArith(const std::string& fmt, unsigned ft, unsigned fs, unsigned fd) {
        unsigned fn = f_.fn();
        auto name = [&](const char* base) { return std::string(base) + "." + fmt; };
        auto op = [&](const std::string& n) -> Text& { return t_.op(n.c_str()); };
        if (fn <= 3) {
            static const char* const names[] = {"add", "sub", "mul", "div"};
            op(name(names[fn])).fpr(fd).fpr(fs).fpr(ft);
            return true;
        }
        if (fn >= 0x30) {
            if (fd & 3) return false;
            op("c." + name(kFpuCond[fn & 15]));
            if (unsigned cc = fd >> 2) t_.raw("$fcc" + std::to_string(cc));
            t_.fpr(fs).fpr(ft);
            return true;
        }
        static const char* const unary[0x26] = {
            nullptr,   nullptr,    nullptr,   nullptr,    "sqrt",    "abs",      "mov",     "neg",
            "round.l", "trunc.l",  "ceil.l",  "floor.l",  "round.w", "trunc.w",  "ceil.w",  "floor.w",
            nullptr,   nullptr,    nullptr,   nullptr,    nullptr,   nullptr,    nullptr,   nullptr,
            nullptr,   nullptr,    nullptr,   nullptr,    nullptr,   nullptr,    nullptr,   nullptr,
            "cvt.s",   "cvt.d",    nullptr,   nullptr,    "cvt.w",   "cvt.l"};
        if (fn < 0x26 && unary[fn]) {
            if (ft != 0 || (fn == 0x20 && fmt == "s") || (fn == 0x21 && fmt == "d")) return false;
            op(name(unary[fn])).fpr(fd).fpr(fs);
            return true;
        }
        switch (fn) {
            case 0x11:
                if (ft & 2) return false;
                op(name((ft & 1) ? "movt" : "movf")).fpr(fd).fpr(fs).raw("$fcc" + std::to_string(ft >> 2));
                return true;
            case 0x12:
            case 0x13: op(name(fn == 0x12 ? "movz" : "movn")).fpr(fd).fpr(fs).reg(ft); return true;
            default: return false;
        }
    }

    bool cop2() {
        const Fields& f = f_;
        unsigned rs = f.rs(), rt = f.rt(), rd = f.rd();
        if (rs & 0x10) {
            t_.op("c2").hex(f.w & 0x1FFFFFF);
            return true;
        }
        switch (rs) {
            case 0x00: case 0x04: {
                if (f.w & 0x7F8) return false;
                t_.op(rs ? "mtc2" : "mfc2").reg(rt);
                if (unsigned sel = f.w & 7) t_.raw("$" + std::to_string(rd) + "," + std::to_string(sel));
                else t_.cpr(rd);
                return true;
            }
            case 0x02: case 0x03: case 0x06: case 0x07: {
                if (f.w & 0x7FF) return false;
                static const char* const names[] = {"cfc2", "mfhc2", nullptr, nullptr, "ctc2", "mthc2"};
                t_.op(names[rs - 2]).reg(rt).cpr(rd);
                return true;
            }
            case 0x08: {
                static const char* const names[] = {"bc2f", "bc2t", "bc2fl", "bc2tl"};
                t_.op(names[rt & 3]);
                if (unsigned cc = rt >> 2) t_.raw("$cc" + std::to_string(cc));
                t_.target(branchTarget());
                return true;
            }
            default: return false;
        }
    }

    bool special2() {
        const Fields& f = f_;
        unsigned rs = f.rs(), rt = f.rt(), rd = f.rd(), sa = f.sa();
        auto accumulate = [&](const char* name) {
            if (sa != 0 || (rd & ~3u)) return false;
            t_.op(name);
            if (rd) t_.acc(rd);
            t_.reg(rs).reg(rt);
            return true;
        };
        auto count = [&](const char* name) {
            if (sa != 0) return false;
            // The destination is encoded twice; objdump shows both when they differ.
            t_.op(name);
            if (rd == rt || rt == 0) t_.reg(rd);
            else if (rd == 0) t_.reg(rt);
            else t_.raw(std::string(kGpr[rd]) + " or " + kGpr[rt]);
            t_.reg(rs);
            return true;
        };
        switch (f.fn()) {
            case 0x00: return accumulate("madd");
            case 0x01: return accumulate("maddu");
            case 0x04: return accumulate("msub");
            case 0x05: return accumulate("msubu");
            case 0x02:
                if (sa != 0) return false;
                t_.op("mul").reg(rd).reg(rs).reg(rt);
                return true;
            case 0x20: return count("clz");
            case 0x21: return count("clo");
            case 0x3F:
                t_.op("sdbbp");
                if (unsigned code = (f.w >> 6) & 0xFFFFF) t_.hex(code);
                return true;
            default: return false;
        }
    }

    bool special3() {
        const Fields& f = f_;
        unsigned rs = f.rs(), rt = f.rt(), rd = f.rd(), sa = f.sa();
        switch (f.fn()) {
            case 0x00: t_.op("ext").reg(rt).reg(rs).hex(sa).hex(rd + 1); return true;
            case 0x04: t_.op("ins").reg(rt).reg(rs).hex(sa).hex(uint32_t(rd) - sa + 1); return true;
            case 0x20: {
                if (rs != 0) return false;
                const char* name = sa == 0x02 ? "wsbh" : sa == 0x10 ? "seb" : sa == 0x18 ? "seh" : nullptr;
                if (!name) return false;
                t_.op(name).reg(rd).reg(rt);
                return true;
            }
            case 0x3B:
                if (rs != 0 || sa != 0) return false;
                t_.op("rdhwr").reg(rt);
                if (rd < 4) t_.raw(kHwr[rd]);
                else t_.cpr(rd);
                return true;
            default: return false;
        }
    }

    Fields f_;
    uint32_t pc_;
    Text t_;
};

}  // namespace

std::string disassemble(uint32_t w, uint32_t pc, const Symbolizer& symbolize) {
    return Disassembler(w, pc, symbolize).run();
}

}  // namespace sim::mips
