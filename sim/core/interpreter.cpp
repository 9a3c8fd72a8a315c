// The interpreter: the run loop and the direct-threaded execution of decoded instructions.
#include <algorithm>
#include <cstring>

#include "sim/core/core_internal.h"

namespace sim {

using namespace mips;
using core::ld16;
using core::ld32;
using core::st16;
using core::st32;

// Direct-threaded: every handler fetches the next instruction and jumps to its handler
// itself, so that each has its own (well predicted) indirect jump.
void MipsCore::execute() {
    uint32_t* const r = regs_;
    uint8_t* const ram = mem_.ram();
    const uint32_t ramSize = mem_.layout().ramBytes;

    uint32_t pc = pc_, npc = npc_;
    bool slot = slot_;
    Cycles cyc = cycles_;
    uint64_t instret = 0;

    uint32_t fbase = fw_.base, fwords = fw_.size / 4;
    Decoded* fdec = fw_.decoded;
    Cycles fcost = fw_.cost;

    uint32_t cur = 0, idx = 0;
    bool bd = false;
    Decoded* dp = nullptr;
    Decoded d{};
    uint32_t* const ring = pcRing_;  // the last instructions' addresses, for fault reports
    const uint64_t ringBase = pcCount_;

    static void* const handlers[kOpCount] = {
#define MIPS_OP_LABEL(name) &&op_##name,
        MIPS_OPS(MIPS_OP_LABEL)
#undef MIPS_OP_LABEL
    };

// Fetch: the next instruction from the current window, or the slow path for a new one.
#define BEGIN()                        \
    do {                               \
        d = *dp;                       \
        bd = slot;                     \
        slot = false;                  \
        pc = npc;                      \
        npc = pc + 4;                  \
        cyc += fcost;                  \
        ring[(ringBase + instret) & 7] = cur; \
        ++instret;                     \
        goto* handlers[d.op];          \
    } while (0)
#define NEXT()                                                          \
    do {                                                                \
        if (cyc >= limit_) goto done;                                   \
        cur = pc;                                                       \
        idx = std::rotr(cur - fbase, 2); /* misaligned: never inside */ \
        if (idx >= fwords) [[unlikely]] goto refetch;                   \
        dp = &fdec[idx];                                                \
        BEGIN();                                                        \
    } while (0)
// The state before the instruction, for exceptions raised in helpers.
#define SAVE_CUR() (curPc_ = cur, curSlot_ = bd, pcCountNow_ = ringBase + instret)
#define RELOAD_PC() (pc = pc_, npc = npc_, slot = slot_)
#define RAISE(code)             \
    do {                        \
        SAVE_CUR();             \
        exception((code), cyc); \
        RELOAD_PC();            \
        NEXT();                 \
    } while (0)
#define BRANCH(cond)                \
    do {                            \
        if (cond) npc = pc + d.imm; \
        slot = true;                \
        NEXT();                     \
    } while (0)
#define BRANCH_LIKELY(cond)           \
    do {                              \
        if (cond) {                   \
            npc = pc + d.imm;         \
            slot = true;              \
        } else {                      \
            pc = npc; /* nullified */ \
            npc = pc + 4;             \
        }                             \
        NEXT();                       \
    } while (0)
#define RAM_OFFSET(a) (((a) & 0xDFFFFFFFu) - 0x80000000u)
#define OP(name) op_##name:

    NEXT();

refetch:
    if ((cur & 3) || !setFetchWindow(cur, cyc)) {
        curPc_ = cur;
        curSlot_ = slot;
        pcCountNow_ = ringBase + instret;
        exception((cur & 3) ? exc::AdEL : exc::IBE, cyc, cur);
        RELOAD_PC();
        NEXT();
    }
    fbase = fw_.base;
    fwords = fw_.size / 4;
    fdec = fw_.decoded;
    fcost = fw_.cost;
    idx = (cur - fbase) >> 2;
    dp = &fdec[idx];
    BEGIN();

OP(Undecoded) {
    *dp = decode(ld32(fw_.bytes + idx * 4), cur);
    d = *dp;
    goto* handlers[d.op];
}
OP(Nop) NEXT();

// shifts
OP(Sll) r[d.rd] = r[d.rt] << d.sa; NEXT();
OP(Srl) r[d.rd] = r[d.rt] >> d.sa; NEXT();
OP(Sra) r[d.rd] = uint32_t(int32_t(r[d.rt]) >> d.sa); NEXT();
OP(Rotr) r[d.rd] = std::rotr(r[d.rt], d.sa); NEXT();
OP(Sllv) r[d.rd] = r[d.rt] << (r[d.rs] & 31); NEXT();
OP(Srlv) r[d.rd] = r[d.rt] >> (r[d.rs] & 31); NEXT();
OP(Srav) r[d.rd] = uint32_t(int32_t(r[d.rt]) >> (r[d.rs] & 31)); NEXT();
OP(Rotrv) r[d.rd] = std::rotr(r[d.rt], int(r[d.rs] & 31)); NEXT();

// ALU
OP(Add) {
    int32_t v;
    if (__builtin_add_overflow(int32_t(r[d.rs]), int32_t(r[d.rt]), &v)) RAISE(exc::Ov);
    r[d.rd] = uint32_t(v);
    NEXT();
}
OP(Addu) r[d.rd] = r[d.rs] + r[d.rt]; NEXT();
OP(Sub) {
    int32_t v;
    if (__builtin_sub_overflow(int32_t(r[d.rs]), int32_t(r[d.rt]), &v)) RAISE(exc::Ov);
    r[d.rd] = uint32_t(v);
    NEXT();
}
OP(Subu) r[d.rd] = r[d.rs] - r[d.rt]; NEXT();
OP(And) r[d.rd] = r[d.rs] & r[d.rt]; NEXT();
OP(Or) r[d.rd] = r[d.rs] | r[d.rt]; NEXT();
OP(Xor) r[d.rd] = r[d.rs] ^ r[d.rt]; NEXT();
OP(Nor) r[d.rd] = ~(r[d.rs] | r[d.rt]); NEXT();
OP(Slt) r[d.rd] = int32_t(r[d.rs]) < int32_t(r[d.rt]); NEXT();
OP(Sltu) r[d.rd] = r[d.rs] < r[d.rt]; NEXT();
OP(Movz) if (r[d.rt] == 0) r[d.rd] = r[d.rs]; NEXT();
OP(Movn) if (r[d.rt] != 0) r[d.rd] = r[d.rs]; NEXT();
OP(Addi) {
    int32_t v;
    if (__builtin_add_overflow(int32_t(r[d.rs]), int32_t(d.imm), &v)) RAISE(exc::Ov);
    r[d.rd] = uint32_t(v);
    NEXT();
}
OP(Addiu) r[d.rd] = r[d.rs] + d.imm; NEXT();
OP(Slti) r[d.rd] = int32_t(r[d.rs]) < int32_t(d.imm); NEXT();
OP(Sltiu) r[d.rd] = r[d.rs] < d.imm; NEXT();
OP(Andi) r[d.rd] = r[d.rs] & d.imm; NEXT();
OP(Ori) r[d.rd] = r[d.rs] | d.imm; NEXT();
OP(Xori) r[d.rd] = r[d.rs] ^ d.imm; NEXT();
OP(Lui) r[d.rd] = d.imm; NEXT();

// multiply and divide
OP(Mfhi) {
    if (cyc < mduReady_) cyc = mduReady_;
    r[d.rd] = hi_;
    NEXT();
}
OP(Mflo) {
    if (cyc < mduReady_) cyc = mduReady_;
    r[d.rd] = lo_;
    NEXT();
}
OP(Mthi) {
    if (cyc < mduReady_) cyc = mduReady_;
    hi_ = r[d.rs];
    NEXT();
}
OP(Mtlo) {
    if (cyc < mduReady_) cyc = mduReady_;
    lo_ = r[d.rs];
    NEXT();
}
OP(Mult) {
    if (cyc < divBusy_) cyc = divBusy_;
    int64_t p = int64_t(int32_t(r[d.rs])) * int32_t(r[d.rt]);
    lo_ = uint32_t(p);
    hi_ = uint32_t(uint64_t(p) >> 32);
    mduReady_ = cyc + multiplyLatency(r[d.rt], true);
    NEXT();
}
OP(Multu) {
    if (cyc < divBusy_) cyc = divBusy_;
    uint64_t p = uint64_t(r[d.rs]) * r[d.rt];
    lo_ = uint32_t(p);
    hi_ = uint32_t(p >> 32);
    mduReady_ = cyc + multiplyLatency(r[d.rt], false);
    NEXT();
}
OP(Madd)
OP(Msub) {
    if (cyc < divBusy_) cyc = divBusy_;
    uint64_t p = uint64_t(int64_t(int32_t(r[d.rs])) * int32_t(r[d.rt]));
    uint64_t acc = uint64_t(hi_) << 32 | lo_;
    acc = d.op == kMadd ? acc + p : acc - p;
    lo_ = uint32_t(acc);
    hi_ = uint32_t(acc >> 32);
    mduReady_ = cyc + multiplyLatency(r[d.rt], true);
    NEXT();
}
OP(Maddu)
OP(Msubu) {
    if (cyc < divBusy_) cyc = divBusy_;
    uint64_t p = uint64_t(r[d.rs]) * r[d.rt];
    uint64_t acc = uint64_t(hi_) << 32 | lo_;
    acc = d.op == kMaddu ? acc + p : acc - p;
    lo_ = uint32_t(acc);
    hi_ = uint32_t(acc >> 32);
    mduReady_ = cyc + multiplyLatency(r[d.rt], false);
    NEXT();
}
OP(Mul) {
    if (cyc < divBusy_) cyc = divBusy_;
    cyc += mulStall(r[d.rt]);
    r[d.rd] = uint32_t(int32_t(r[d.rs]) * int64_t(int32_t(r[d.rt])));
    NEXT();
}
OP(Div) {
    if (cyc < divBusy_) cyc = divBusy_;
    int32_t a = int32_t(r[d.rs]), b = int32_t(r[d.rt]);
    // Division by zero leaves HI/LO unpredictable on the chip; here LO = rs, HI = 0.
    if (b == 0 || (a == INT32_MIN && b == -1)) {
        lo_ = uint32_t(a);
        hi_ = 0;
    } else {
        lo_ = uint32_t(a / b);
        hi_ = uint32_t(a % b);
    }
    mduReady_ = divBusy_ = cyc + divideLatency(uint32_t(a), true);
    NEXT();
}
OP(Divu) {
    if (cyc < divBusy_) cyc = divBusy_;
    uint32_t a = r[d.rs], b = r[d.rt];
    if (b == 0) {
        lo_ = a;
        hi_ = 0;
    } else {
        lo_ = a / b;
        hi_ = a % b;
    }
    mduReady_ = divBusy_ = cyc + divideLatency(a, false);
    NEXT();
}

// bit manipulation
OP(Clz) r[d.rd] = uint32_t(std::countl_zero(r[d.rs])); NEXT();
OP(Clo) r[d.rd] = uint32_t(std::countl_one(r[d.rs])); NEXT();
OP(Ext) r[d.rd] = (r[d.rs] >> d.sa) & d.imm; NEXT();
OP(Ins) r[d.rd] = (r[d.rt] & ~d.imm) | ((r[d.rs] << d.sa) & d.imm); NEXT();
OP(Wsbh) {
    uint32_t v = r[d.rt];
    r[d.rd] = ((v & 0x00FF00FFu) << 8) | ((v >> 8) & 0x00FF00FFu);
    NEXT();
}
OP(Seb) r[d.rd] = uint32_t(int32_t(int8_t(r[d.rt]))); NEXT();
OP(Seh) r[d.rd] = uint32_t(int32_t(int16_t(r[d.rt]))); NEXT();

// jumps and branches: pc holds the delay slot now
OP(J) {
    npc = (pc & 0xF0000000u) | d.imm;
    slot = true;
    NEXT();
}
OP(Jal) {
    r[31] = pc + 4;
    npc = (pc & 0xF0000000u) | d.imm;
    slot = true;
    NEXT();
}
OP(Jr) {
    npc = r[d.rs];
    slot = true;
    NEXT();
}
OP(Jalr) {
    uint32_t t = r[d.rs];
    r[d.rd] = pc + 4;
    npc = t;
    slot = true;
    NEXT();
}
OP(B) BRANCH(true);
OP(Spin) {
    npc = cur;
    slot = true;
    if (opt_.fastForward) ffNote(cur, cyc);
    NEXT();
}
OP(Beq) BRANCH(r[d.rs] == r[d.rt]);
OP(Bne) BRANCH(r[d.rs] != r[d.rt]);
OP(Blez) BRANCH(int32_t(r[d.rs]) <= 0);
OP(Bgtz) BRANCH(int32_t(r[d.rs]) > 0);
OP(Bltz) BRANCH(int32_t(r[d.rs]) < 0);
OP(Bgez) BRANCH(int32_t(r[d.rs]) >= 0);
OP(Bltzal) {
    bool c = int32_t(r[d.rs]) < 0;
    r[31] = pc + 4;
    BRANCH(c);
}
OP(Bgezal) {
    bool c = int32_t(r[d.rs]) >= 0;
    r[31] = pc + 4;
    BRANCH(c);
}
OP(Beql) BRANCH_LIKELY(r[d.rs] == r[d.rt]);
OP(Bnel) BRANCH_LIKELY(r[d.rs] != r[d.rt]);
OP(Blezl) BRANCH_LIKELY(int32_t(r[d.rs]) <= 0);
OP(Bgtzl) BRANCH_LIKELY(int32_t(r[d.rs]) > 0);
OP(Bltzl) BRANCH_LIKELY(int32_t(r[d.rs]) < 0);
OP(Bgezl) BRANCH_LIKELY(int32_t(r[d.rs]) >= 0);
OP(Bltzall) {
    bool c = int32_t(r[d.rs]) < 0;
    r[31] = pc + 4;
    BRANCH_LIKELY(c);
}
OP(Bgezall) {
    bool c = int32_t(r[d.rs]) >= 0;
    r[31] = pc + 4;
    BRANCH_LIKELY(c);
}

// traps
OP(Tge) if (int32_t(r[d.rs]) >= int32_t(r[d.rt])) RAISE(exc::Tr); NEXT();
OP(Tgeu) if (r[d.rs] >= r[d.rt]) RAISE(exc::Tr); NEXT();
OP(Tlt) if (int32_t(r[d.rs]) < int32_t(r[d.rt])) RAISE(exc::Tr); NEXT();
OP(Tltu) if (r[d.rs] < r[d.rt]) RAISE(exc::Tr); NEXT();
OP(Teq) if (r[d.rs] == r[d.rt]) RAISE(exc::Tr); NEXT();
OP(Tne) if (r[d.rs] != r[d.rt]) RAISE(exc::Tr); NEXT();
OP(Tgei) if (int32_t(r[d.rs]) >= int32_t(d.imm)) RAISE(exc::Tr); NEXT();
OP(Tgeiu) if (r[d.rs] >= d.imm) RAISE(exc::Tr); NEXT();
OP(Tlti) if (int32_t(r[d.rs]) < int32_t(d.imm)) RAISE(exc::Tr); NEXT();
OP(Tltiu) if (r[d.rs] < d.imm) RAISE(exc::Tr); NEXT();
OP(Teqi) if (r[d.rs] == d.imm) RAISE(exc::Tr); NEXT();
OP(Tnei) if (r[d.rs] != d.imm) RAISE(exc::Tr); NEXT();
OP(Syscall) RAISE(exc::Sys);
OP(Break) RAISE(exc::Bp);
OP(Reserved) RAISE(exc::RI);
OP(CopUnusable) {
    cpUnit_ = d.imm;
    RAISE(exc::CpU);
}
OP(Sdbbp) {
    if (opt_.debugProbe) {  // the probe stops here; the sdbbp runs again on resume
        npc = pc;
        pc = cur;
        slot = bd;
        cyc -= fcost;
        --instret;
        breakpoint_ = true;
        goto done;
    }
    SAVE_CUR();
    debugException(cyc);
    RELOAD_PC();
    NEXT();
}

// loads
OP(Lw)
OP(Ll) {
    uint32_t a = r[d.rs] + d.imm, o = RAM_OFFSET(a);
    if (o < ramSize && !(a & 3)) {
        r[d.rd] = ld32(ram + o);
        cyc += timing_.ramData();
    } else {
        uint32_t v;
        SAVE_CUR();
        if (!loadSlow(a, 4, v, cyc)) {
            RELOAD_PC();
            NEXT();
        }
        r[d.rd] = v;
    }
    if (d.op == kLl) llbit_ = true;
    NEXT();
}
OP(Lb)
OP(Lbu) {
    uint32_t a = r[d.rs] + d.imm, o = RAM_OFFSET(a), v;
    if (o < ramSize) {
        v = ram[o];
        cyc += timing_.ramData();
    } else {
        SAVE_CUR();
        if (!loadSlow(a, 1, v, cyc)) {
            RELOAD_PC();
            NEXT();
        }
    }
    r[d.rd] = d.op == kLb ? uint32_t(int32_t(int8_t(v))) : v;
    NEXT();
}
OP(Lh)
OP(Lhu) {
    uint32_t a = r[d.rs] + d.imm, o = RAM_OFFSET(a), v;
    if (o < ramSize && !(a & 1)) {
        v = ld16(ram + o);
        cyc += timing_.ramData();
    } else {
        SAVE_CUR();
        if (!loadSlow(a, 2, v, cyc)) {
            RELOAD_PC();
            NEXT();
        }
    }
    r[d.rd] = d.op == kLh ? uint32_t(int32_t(int16_t(v))) : v;
    NEXT();
}
OP(Lwl)
OP(Lwr) {
    uint32_t a = r[d.rs] + d.imm, o = RAM_OFFSET(a & ~3u), w;
    if (o < ramSize) {
        w = ld32(ram + o);
        cyc += timing_.ramData();
    } else {
        SAVE_CUR();
        if (!loadSlow(a & ~3u, 4, w, cyc)) {
            RELOAD_PC();
            NEXT();
        }
    }
    unsigned b = a & 3;
    uint32_t old = r[d.rt];
    if (d.op == kLwl) {  // the word's high bytes, from the addressed byte down
        unsigned sh = 8 * (3 - b);
        r[d.rd] = (w << sh) | (b == 3 ? 0 : old & (0xFFFFFFFFu >> (8 * (b + 1))));
    } else {  // the low bytes, from the addressed byte up
        unsigned sh = 8 * b;
        r[d.rd] = (w >> sh) | (b == 0 ? 0 : old & ~(0xFFFFFFFFu >> sh));
    }
    NEXT();
}

// stores: a store to RAM throws away the decoded instruction there
OP(Sw) {
    uint32_t a = r[d.rs] + d.imm, o = RAM_OFFSET(a);
    if (o < ramSize && !(a & 3)) {
        st32(ram + o, r[d.rt]);
        decRam_[o >> 2].op = kUndecoded;
        cyc += timing_.ramData();
    } else {
        SAVE_CUR();
        if (!storeSlow(a, 4, r[d.rt], cyc)) RELOAD_PC();
    }
    NEXT();
}
OP(Sc) {
    if (!llbit_) {
        r[d.rd] = 0;
        NEXT();
    }
    uint32_t a = r[d.rs] + d.imm, o = RAM_OFFSET(a), v = r[d.rt];
    if (o < ramSize && !(a & 3)) {
        st32(ram + o, v);
        decRam_[o >> 2].op = kUndecoded;
        cyc += timing_.ramData();
    } else {
        SAVE_CUR();
        if (!storeSlow(a, 4, v, cyc)) {
            RELOAD_PC();
            NEXT();
        }
    }
    llbit_ = false;
    r[d.rd] = 1;
    NEXT();
}
OP(Sb) {
    uint32_t a = r[d.rs] + d.imm, o = RAM_OFFSET(a);
    if (o < ramSize) {
        ram[o] = uint8_t(r[d.rt]);
        decRam_[o >> 2].op = kUndecoded;
        cyc += timing_.ramData();
    } else {
        SAVE_CUR();
        if (!storeSlow(a, 1, r[d.rt] & 0xFF, cyc)) RELOAD_PC();
    }
    NEXT();
}
OP(Sh) {
    uint32_t a = r[d.rs] + d.imm, o = RAM_OFFSET(a);
    if (o < ramSize && !(a & 1)) {
        st16(ram + o, uint16_t(r[d.rt]));
        decRam_[o >> 2].op = kUndecoded;
        cyc += timing_.ramData();
    } else {
        SAVE_CUR();
        if (!storeSlow(a, 2, r[d.rt] & 0xFFFF, cyc)) RELOAD_PC();
    }
    NEXT();
}
OP(Swl)
OP(Swr) {
    uint32_t a = r[d.rs] + d.imm, v = r[d.rt];
    unsigned b = a & 3;
    // Bytes written: swl the register's high bytes into a..a&~3, swr its low bytes into
    // a..a|3.
    uint32_t mask, data;
    if (d.op == kSwl) {
        unsigned sh = 8 * (3 - b);
        mask = 0xFFFFFFFFu >> sh;
        data = v >> sh;
    } else {
        unsigned sh = 8 * b;
        mask = 0xFFFFFFFFu << sh;
        data = v << sh;
    }
    uint32_t o = RAM_OFFSET(a & ~3u);
    if (o < ramSize) {
        st32(ram + o, (ld32(ram + o) & ~mask) | (data & mask));
        decRam_[o >> 2].op = kUndecoded;
        cyc += timing_.ramData();
        NEXT();
    }
    SAVE_CUR();
    for (unsigned i = 0; i < 4; ++i) {
        if (!(mask >> (8 * i) & 0xFF)) continue;
        if (!storeSlow((a & ~3u) + i, 1, (data >> (8 * i)) & 0xFF, cyc)) {
            RELOAD_PC();
            break;
        }
    }
    NEXT();
}

// coprocessor 0
OP(Mfc0Count) {
    uint32_t v = board_.cp0.countAt(cyc);
    r[d.rd] = v;
    if (opt_.fastForward) {
        ffInput(true, 0, v, cyc);
        ffNote(cur, cyc);
    }
    NEXT();
}
OP(Mfc0) r[d.rd] = cp0Read(d.sa, d.imm, cyc); NEXT();
OP(Mtc0) {
    SAVE_CUR();
    cp0Write(d.sa, d.imm, r[d.rt], cyc);
    NEXT();
}
OP(Di) {
    uint32_t st = board_.cp0.status();
    board_.cp0.setStatus(st & ~status::IE);
    r[d.rd] = st;
    NEXT();
}
OP(Ei) {
    uint32_t st = board_.cp0.status();
    board_.cp0.setStatus(st | status::IE);
    r[d.rd] = st;
    limit_ = 0;
    NEXT();
}
OP(Rdpgpr)  // one register set: the previous set is the current one
OP(Wrpgpr) r[d.rd] = r[d.rt]; NEXT();
OP(Eret) {
    SAVE_CUR();
    eret(cyc);
    RELOAD_PC();
    NEXT();
}
OP(Deret) {
    if (!debugMode_) RAISE(exc::RI);
    deret();
    RELOAD_PC();
    NEXT();
}
OP(Wait) {
    waiting_ = true;
    limit_ = 0;
    NEXT();
}
OP(Rdhwr) {
    switch (d.sa) {
        case 0: r[d.rd] = 0; break;  // CPUNum
        case 1: r[d.rd] = 0; break;  // SYNCI step: no caches
        case 2: {
            uint32_t v = board_.cp0.countAt(cyc);
            r[d.rd] = v;
            if (opt_.fastForward) {
                ffInput(true, 0, v, cyc);
                ffNote(cur, cyc);
            }
            break;
        }
        case 3: r[d.rd] = 2; break;  // Count resolution: every second cycle
        default: RAISE(exc::RI);
    }
    NEXT();
}

done:
    pc_ = pc;
    npc_ = npc;
    slot_ = slot;
    cycles_ = cyc;
    stats_.instructions += instret;
    pcCount_ = ringBase + instret;
#undef BEGIN
#undef NEXT
#undef SAVE_CUR
#undef RELOAD_PC
#undef RAISE
#undef BRANCH
#undef BRANCH_LIKELY
#undef RAM_OFFSET
#undef OP
}

StopReason MipsCore::run(Cycles until) {
    if (mem_.generation() != memGeneration_) invalidateDecoded();
    if (cycles_ < board_.now()) cycles_ = board_.now();  // the board ran on without the core
    refreshTiming();  // CHECON, BMXCON, Config may have been set from outside
    stopRequested_ = false;
    breakpoint_ = false;
    limitReached_ = false;
    recording_ = false;
    StopReason reason = StopReason::TimeLimit;
    bool first = true;  // the instruction the run starts at
    for (;;) {
        service();
        if (breakpoint_) {
            reason = StopReason::Breakpoint;
            break;
        }
        if (limitReached_ || cycles_ >= until) break;
        if (stopRequested_) {
            reason = StopReason::Stopped;
            break;
        }
        Cycles next = std::min(until, board_.sched.nextEventTime());
        if (waiting_) {  // asleep until an event wakes it
            if (next == UINT64_MAX) break;
            cycles_ = std::max(cycles_, next);
            continue;
        }
        if (dbg_.active()) {
            StopReason r = debugStep(first);
            first = false;
            if (r == StopReason::Breakpoint || r == StopReason::Watchpoint) {
                reason = r;
                break;
            }
            if (r == StopReason::Step) {
                service();  // an interrupt taken now shows at its vector, as on the chip
                reason = r;
                break;
            }
            continue;
        }
        if (ffRequest_) {
            ffRequest_ = false;
            tryFastForward(until);
            continue;
        }
        limit_ = next;
        execute();
        if (breakpoint_) {  // reported before anything else moves the core
            reason = StopReason::Breakpoint;
            break;
        }
    }
    if (!limitReached_) syncScheduler(cycles_);
    return reason;
}

}  // namespace sim
