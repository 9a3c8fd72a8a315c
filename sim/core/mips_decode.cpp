#include "sim/core/mips_decode.h"

#include <iterator>

namespace sim::mips {

namespace {

Decoded make(uint8_t op, unsigned rd = 0, unsigned rs = 0, unsigned rt = 0, unsigned sa = 0, uint32_t imm = 0) {
    Decoded d{};
    d.op = op;
    d.rd = uint8_t(rd == 0 ? kScratchReg : rd);
    d.rs = uint8_t(rs);
    d.rt = uint8_t(rt);
    d.sa = uint8_t(sa);
    d.imm = imm;
    return d;
}

uint32_t sext16(uint32_t w) { return uint32_t(int32_t(int16_t(w & 0xFFFF))); }

Decoded branch(uint8_t op, unsigned rs, unsigned rt, uint32_t w, unsigned link = 0) {
    return make(op, link, rs, rt, 0, sext16(w) << 2);
}

Decoded special(uint32_t w) {
    unsigned rs = (w >> 21) & 31, rt = (w >> 16) & 31, rd = (w >> 11) & 31, sa = (w >> 6) & 31;
    switch (w & 0x3F) {
        case 0x00: return rd == 0 ? make(kNop) : make(kSll, rd, 0, rt, sa);
        case 0x01: return make(kCopUnusable, 0, 0, 0, 0, 1);  // movf/movt
        case 0x02:
            if (rs == 1) return make(kRotr, rd, 0, rt, sa);
            return rs == 0 ? make(kSrl, rd, 0, rt, sa) : make(kReserved);
        case 0x03: return make(kSra, rd, 0, rt, sa);
        case 0x04: return make(kSllv, rd, rs, rt);
        case 0x06:
            if (sa == 1) return make(kRotrv, rd, rs, rt);
            return sa == 0 ? make(kSrlv, rd, rs, rt) : make(kReserved);
        case 0x07: return make(kSrav, rd, rs, rt);
        case 0x08: return make(kJr, 0, rs);
        case 0x09: return make(kJalr, rd, rs);
        case 0x0A: return make(kMovz, rd, rs, rt);
        case 0x0B: return make(kMovn, rd, rs, rt);
        case 0x0C: return make(kSyscall);
        case 0x0D: return make(kBreak);
        case 0x0F: return make(kNop);  // sync
        case 0x10: return make(kMfhi, rd);
        case 0x11: return make(kMthi, 0, rs);
        case 0x12: return make(kMflo, rd);
        case 0x13: return make(kMtlo, 0, rs);
        case 0x18: return make(kMult, 0, rs, rt);
        case 0x19: return make(kMultu, 0, rs, rt);
        case 0x1A: return make(kDiv, 0, rs, rt);
        case 0x1B: return make(kDivu, 0, rs, rt);
        case 0x20: return make(kAdd, rd, rs, rt);
        case 0x21: return make(kAddu, rd, rs, rt);
        case 0x22: return make(kSub, rd, rs, rt);
        case 0x23: return make(kSubu, rd, rs, rt);
        case 0x24: return make(kAnd, rd, rs, rt);
        case 0x25: return make(kOr, rd, rs, rt);
        case 0x26: return make(kXor, rd, rs, rt);
        case 0x27: return make(kNor, rd, rs, rt);
        case 0x2A: return make(kSlt, rd, rs, rt);
        case 0x2B: return make(kSltu, rd, rs, rt);
        case 0x30: return make(kTge, 0, rs, rt);
        case 0x31: return make(kTgeu, 0, rs, rt);
        case 0x32: return make(kTlt, 0, rs, rt);
        case 0x33: return make(kTltu, 0, rs, rt);
        case 0x34: return make(kTeq, 0, rs, rt);
        case 0x36: return make(kTne, 0, rs, rt);
        default: return make(kReserved);
    }
}

Decoded regimm(uint32_t w, uint32_t pc) {
    unsigned rs = (w >> 21) & 31;
    uint32_t imm = sext16(w);
    switch ((w >> 16) & 31) {
        case 0x00: return branch(kBltz, rs, 0, w);
        case 0x01:
            if (rs == 0) return (sext16(w) << 2) == uint32_t(-4) ? make(kSpin) : branch(kB, 0, 0, w);
            return branch(kBgez, rs, 0, w);
        case 0x02: return branch(kBltzl, rs, 0, w);
        case 0x03: return branch(kBgezl, rs, 0, w);
        case 0x08: return make(kTgei, 0, rs, 0, 0, imm);
        case 0x09: return make(kTgeiu, 0, rs, 0, 0, imm);
        case 0x0A: return make(kTlti, 0, rs, 0, 0, imm);
        case 0x0B: return make(kTltiu, 0, rs, 0, 0, imm);
        case 0x0C: return make(kTeqi, 0, rs, 0, 0, imm);
        case 0x0E: return make(kTnei, 0, rs, 0, 0, imm);
        case 0x10: return branch(kBltzal, rs, 0, w, 31);
        case 0x11: return branch(kBgezal, rs, 0, w, 31);
        case 0x12: return branch(kBltzall, rs, 0, w, 31);
        case 0x13: return branch(kBgezall, rs, 0, w, 31);
        case 0x1F: return make(kNop);  // synci: no caches to synchronise
        default: (void)pc; return make(kReserved);
    }
}

Decoded cop0(uint32_t w) {
    unsigned rs = (w >> 21) & 31, rt = (w >> 16) & 31, rd = (w >> 11) & 31;
    unsigned sel = w & 7;
    switch (rs) {
        case 0x00:
            if (rd == 9 && sel == 0) return make(kMfc0Count, rt);
            return make(kMfc0, rt, 0, 0, rd, sel);
        case 0x04: return make(kMtc0, 0, 0, rt, rd, sel);
        case 0x0A: return make(kRdpgpr, rd, 0, rt);
        case 0x0B:  // MFMC0: di/ei on Status
            if (rd != 12 || ((w & 0x7FF) != 0 && (w & 0x7FF) != 0x20)) return make(kReserved);
            return make((w & 0x20) ? kEi : kDi, rt);
        case 0x0E: return make(kWrpgpr, rd, 0, rt);
        default: break;
    }
    if (rs & 0x10) {
        switch (w & 0x3F) {
            case 0x18: return make(kEret);
            case 0x1F: return make(kDeret);
            case 0x20: return make(kWait);
            default: return make(kReserved);  // no TLB on this core
        }
    }
    return make(kReserved);
}

Decoded special2(uint32_t w) {
    unsigned rs = (w >> 21) & 31, rt = (w >> 16) & 31, rd = (w >> 11) & 31;
    switch (w & 0x3F) {
        case 0x00: return make(kMadd, 0, rs, rt);
        case 0x01: return make(kMaddu, 0, rs, rt);
        case 0x02: return make(kMul, rd, rs, rt);
        case 0x04: return make(kMsub, 0, rs, rt);
        case 0x05: return make(kMsubu, 0, rs, rt);
        case 0x20: return make(kClz, rd, rs);
        case 0x21: return make(kClo, rd, rs);
        case 0x3F: return make(kSdbbp);
        default: return make(kReserved);
    }
}

Decoded special3(uint32_t w) {
    unsigned rs = (w >> 21) & 31, rt = (w >> 16) & 31, rd = (w >> 11) & 31, sa = (w >> 6) & 31;
    switch (w & 0x3F) {
        case 0x00: {  // ext rt, rs, pos = sa, size = rd + 1
            unsigned size = rd + 1;
            uint32_t mask = size >= 32 ? 0xFFFFFFFFu : (1u << size) - 1;
            return make(kExt, rt, rs, 0, sa, mask);
        }
        case 0x04: {  // ins rt, rs, pos = sa, size = rd - sa + 1
            if (rd < sa) return make(kReserved);
            unsigned size = rd - sa + 1;
            uint32_t mask = size >= 32 ? 0xFFFFFFFFu : ((1u << size) - 1) << sa;
            return make(kIns, rt, rs, rt, sa, mask);
        }
        case 0x20:
            switch (sa) {
                case 0x02: return make(kWsbh, rd, 0, rt);
                case 0x10: return make(kSeb, rd, 0, rt);
                case 0x18: return make(kSeh, rd, 0, rt);
                default: return make(kReserved);
            }
        case 0x3B: return make(kRdhwr, rt, 0, 0, rd);
        default: return make(kReserved);
    }
}

}  // namespace

Decoded decode(uint32_t w, uint32_t pc) {
    unsigned op = w >> 26;
    unsigned rs = (w >> 21) & 31, rt = (w >> 16) & 31;
    uint32_t simm = sext16(w), zimm = w & 0xFFFF;
    switch (op) {
        case 0x00: return special(w);
        case 0x01: return regimm(w, pc);
        case 0x02:
        case 0x03: {
            uint32_t target = (w & 0x03FFFFFF) << 2;
            if (op == 0x02 && (((pc + 4) & 0xF0000000u) | target) == pc) return make(kSpin);
            return make(op == 0x02 ? kJ : kJal, op == 0x03 ? 31 : 0, 0, 0, 0, target);
        }
        case 0x04:
            if (rs == rt) return (simm << 2) == uint32_t(-4) ? make(kSpin) : branch(kB, 0, 0, w);
            return branch(kBeq, rs, rt, w);
        case 0x05: return branch(kBne, rs, rt, w);
        case 0x06: return rt ? make(kReserved) : branch(kBlez, rs, 0, w);
        case 0x07: return rt ? make(kReserved) : branch(kBgtz, rs, 0, w);
        case 0x08: return make(kAddi, rt, rs, 0, 0, simm);
        case 0x09: return make(kAddiu, rt, rs, 0, 0, simm);
        case 0x0A: return make(kSlti, rt, rs, 0, 0, simm);
        case 0x0B: return make(kSltiu, rt, rs, 0, 0, simm);
        case 0x0C: return make(kAndi, rt, rs, 0, 0, zimm);
        case 0x0D: return make(kOri, rt, rs, 0, 0, zimm);
        case 0x0E: return make(kXori, rt, rs, 0, 0, zimm);
        case 0x0F: return make(kLui, rt, 0, 0, 0, zimm << 16);
        case 0x10: return cop0(w);
        case 0x11: return make(kCopUnusable, 0, 0, 0, 0, 1);
        case 0x12: return make(kCopUnusable, 0, 0, 0, 0, 2);
        case 0x13: return make(kCopUnusable, 0, 0, 0, 0, 1);  // COP1X
        case 0x14: return branch(kBeql, rs, rt, w);
        case 0x15: return branch(kBnel, rs, rt, w);
        case 0x16: return rt ? make(kReserved) : branch(kBlezl, rs, 0, w);
        case 0x17: return rt ? make(kReserved) : branch(kBgtzl, rs, 0, w);
        case 0x1C: return special2(w);
        case 0x1F: return special3(w);
        case 0x20: return make(kLb, rt, rs, 0, 0, simm);
        case 0x21: return make(kLh, rt, rs, 0, 0, simm);
        case 0x22: return make(kLwl, rt, rs, rt, 0, simm);
        case 0x23: return make(kLw, rt, rs, 0, 0, simm);
        case 0x24: return make(kLbu, rt, rs, 0, 0, simm);
        case 0x25: return make(kLhu, rt, rs, 0, 0, simm);
        case 0x26: return make(kLwr, rt, rs, rt, 0, simm);
        case 0x28: return make(kSb, 0, rs, rt, 0, simm);
        case 0x29: return make(kSh, 0, rs, rt, 0, simm);
        case 0x2A: return make(kSwl, 0, rs, rt, 0, simm);
        case 0x2B: return make(kSw, 0, rs, rt, 0, simm);
        case 0x2E: return make(kSwr, 0, rs, rt, 0, simm);
        case 0x2F: return make(kNop);  // cache: the core has none
        case 0x30: return make(kLl, rt, rs, 0, 0, simm);
        case 0x33: return make(kNop);  // pref
        case 0x38: return make(kSc, rt, rs, rt, 0, simm);
        case 0x31: case 0x35: case 0x39: case 0x3D: return make(kCopUnusable, 0, 0, 0, 0, 1);
        case 0x32: case 0x36: case 0x3A: case 0x3E: return make(kCopUnusable, 0, 0, 0, 0, 2);
        default: return make(kReserved);
    }
}

const char* opName(uint8_t op) {
    static const char* const names[] = {
        "(undecoded)", "(reserved)", "(coprocessor)", "nop",
        "sll", "srl", "sra", "rotr", "sllv", "srlv", "srav", "rotrv",
        "add", "addu", "sub", "subu", "and", "or", "xor", "nor", "slt", "sltu", "movz", "movn",
        "addi", "addiu", "slti", "sltiu", "andi", "ori", "xori", "lui",
        "mfhi", "mthi", "mflo", "mtlo", "mult", "multu", "div", "divu", "madd", "maddu", "msub", "msubu", "mul",
        "clz", "clo", "ext", "ins", "wsbh", "seb", "seh",
        "j", "jal", "jr", "jalr", "b", "beq", "bne", "blez", "bgtz", "bltz", "bgez", "bltzal", "bgezal",
        "beql", "bnel", "blezl", "bgtzl", "bltzl", "bgezl", "bltzall", "bgezall",
        "b .",
        "tge", "tgeu", "tlt", "tltu", "teq", "tne", "tgei", "tgeiu", "tlti", "tltiu", "teqi", "tnei",
        "syscall", "break", "sdbbp",
        "lb", "lbu", "lh", "lhu", "lw", "lwl", "lwr", "ll", "sb", "sh", "sw", "swl", "swr", "sc",
        "mfc0", "mfc0", "mtc0", "di", "ei", "rdpgpr", "wrpgpr", "eret", "deret", "wait", "rdhwr"};
    static_assert(std::size(names) == kOpCount, "one name per operation");
    return op < kOpCount ? names[op] : "?";
}

}  // namespace sim::mips
