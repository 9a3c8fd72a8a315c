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
    // Only the instruction stream's own state lives in locals; the rest is read through
    // `this`, which keeps the hot state in host registers.
    uint32_t pc = pc_, npc = npc_;
    bool slot = slot_, bd = false;
    Cycles cyc = cycles_;
    uint64_t instret = pcCount_;  // also indexes the ring of the last 8 PCs
    const uint64_t instretStart = instret;
    uint32_t cur = 0, idx = 0;
    Decoded* dp = nullptr;
    bool slowOk = false;

    static void* const handlers[kOpCount] = {
#define MIPS_OP_LABEL(name) &&op_##name,
        MIPS_OPS(MIPS_OP_LABEL)
#undef MIPS_OP_LABEL
    };

// On to the entry dp points at: the instruction at pc.
#define DISPATCH()               \
    do {                         \
        pc = npc;                \
        npc = pc + 4;            \
        cyc += fw_.cost;         \
        ++instret;               \
        goto* handlers[dp->op];  \
    } while (0)
// Fetch: the next instruction from the current window, or the slow path for a new one.
#define BEGIN()                                 \
    do {                                        \
        bd = slot;                              \
        slot = false;                           \
        runs_[++runHead_ & 7] = {cur, instret}; \
        DISPATCH();                             \
    } while (0)
#define NEXT()                                                          \
    do {                                                                \
        if (cyc >= limit_) goto done;                                   \
        cur = pc;                                                       \
        idx = std::rotr(cur - fw_.base, 2); /* misaligned: never inside */ \
        if (idx >= fw_.words) [[unlikely]] goto refetch;                   \
        dp = &fw_.decoded[idx];                                            \
        BEGIN();                                                        \
    } while (0)
// After an instruction that does not change the flow: the next entry of the window, unless
// this one ended a delay slot (the branch target follows) or the window ends here.
#define NEXT_SEQ()                                                     \
    do {                                                               \
        if (cyc >= limit_) goto done;                                  \
        if (bd) [[unlikely]] goto far;                                 \
        cur = pc;                                                      \
        if (uintptr_t(++dp) >= fw_.end) [[unlikely]] goto lookup;      \
        DISPATCH();                                                    \
    } while (0)
// After a branch or jump: its delay slot is the next entry (and the same straight run).
#define NEXT_SLOT()                                                    \
    do {                                                               \
        if (cyc >= limit_) goto done;                                  \
        cur = pc;                                                      \
        if (uintptr_t(++dp) >= fw_.end) [[unlikely]] goto lookup;      \
        bd = true;                                                     \
        slot = false;                                                  \
        DISPATCH();                                                    \
    } while (0)
// The state before the instruction, for exceptions raised in helpers.
#define SAVE_CUR() (curPc_ = cur, curSlot_ = bd, pcCountNow_ = instret)
#define RELOAD_PC() (pc = pc_, npc = npc_, slot = slot_)
#define RAISE(code)             \
    do {                        \
        SAVE_CUR();             \
        slowClock_ = cyc;       \
        exception((code));      \
        cyc = slowClock_;       \
        RELOAD_PC();            \
        NEXT();                 \
    } while (0)
#define BRANCH(cond)                \
    do {                            \
        if (cond) npc = pc + dp->imm; \
        slot = true;                \
        NEXT_SLOT();                \
    } while (0)
#define BRANCH_LIKELY(cond)           \
    do {                              \
        if (cond) {                   \
            npc = pc + dp->imm;         \
            slot = true;              \
        } else {                      \
            pc = npc; /* nullified */ \
            npc = pc + 4;             \
        }                             \
        NEXT();                       \
    } while (0)
// The slow paths keep time in slowClock_; `cyc` itself stays in a host register.
#define LOAD_SLOW(...) (slowClock_ = cyc, slowOk = loadSlow(__VA_ARGS__), cyc = slowClock_, slowOk)
#define STORE_SLOW(...) (slowClock_ = cyc, slowOk = storeSlow(__VA_ARGS__), cyc = slowClock_, slowOk)
#define RAM_OFFSET(a) (((a) & 0xDFFFFFFFu) - 0x80000000u)
#define OP(name) op_##name:

    NEXT();

far:
    cur = pc;
lookup:
    idx = std::rotr(cur - fw_.base, 2);
    if (idx < fw_.words) {
        dp = &fw_.decoded[idx];
        BEGIN();
    }
refetch:
    slowClock_ = cyc;
    if ((cur & 3) || !setFetchWindow(cur)) {
        curPc_ = cur;
        curSlot_ = slot;
        pcCountNow_ = instret;
        exception((cur & 3) ? exc::AdEL : exc::IBE, cur);
        cyc = slowClock_;
        RELOAD_PC();
        NEXT();
    }
    cyc = slowClock_;
    idx = (cur - fw_.base) >> 2;
    dp = &fw_.decoded[idx];
    BEGIN();

OP(Undecoded) {
    *dp = decode(ld32(fw_.bytes + (dp - fw_.decoded) * 4), cur);
    goto* handlers[dp->op];
}
OP(Nop) NEXT_SEQ();

// shifts
OP(Sll) regs_[dp->rd] = regs_[dp->rt] << dp->sa; NEXT_SEQ();
OP(Srl) regs_[dp->rd] = regs_[dp->rt] >> dp->sa; NEXT_SEQ();
OP(Sra) regs_[dp->rd] = uint32_t(int32_t(regs_[dp->rt]) >> dp->sa); NEXT_SEQ();
OP(Rotr) regs_[dp->rd] = std::rotr(regs_[dp->rt], dp->sa); NEXT_SEQ();
OP(Sllv) regs_[dp->rd] = regs_[dp->rt] << (regs_[dp->rs] & 31); NEXT_SEQ();
OP(Srlv) regs_[dp->rd] = regs_[dp->rt] >> (regs_[dp->rs] & 31); NEXT_SEQ();
OP(Srav) regs_[dp->rd] = uint32_t(int32_t(regs_[dp->rt]) >> (regs_[dp->rs] & 31)); NEXT_SEQ();
OP(Rotrv) regs_[dp->rd] = std::rotr(regs_[dp->rt], int(regs_[dp->rs] & 31)); NEXT_SEQ();

// ALU
OP(Add) {
    int32_t v;
    if (__builtin_add_overflow(int32_t(regs_[dp->rs]), int32_t(regs_[dp->rt]), &v)) RAISE(exc::Ov);
    regs_[dp->rd] = uint32_t(v);
    NEXT_SEQ();
}
OP(Addu) asm volatile("# ADDU_BEGIN"); regs_[dp->rd] = regs_[dp->rs] + regs_[dp->rt]; NEXT_SEQ();
OP(Sub) {
    int32_t v;
    if (__builtin_sub_overflow(int32_t(regs_[dp->rs]), int32_t(regs_[dp->rt]), &v)) RAISE(exc::Ov);
    regs_[dp->rd] = uint32_t(v);
    NEXT_SEQ();
}
OP(Subu) regs_[dp->rd] = regs_[dp->rs] - regs_[dp->rt]; NEXT_SEQ();
OP(And) regs_[dp->rd] = regs_[dp->rs] & regs_[dp->rt]; NEXT_SEQ();
OP(Or) regs_[dp->rd] = regs_[dp->rs] | regs_[dp->rt]; NEXT_SEQ();
OP(Xor) regs_[dp->rd] = regs_[dp->rs] ^ regs_[dp->rt]; NEXT_SEQ();
OP(Nor) regs_[dp->rd] = ~(regs_[dp->rs] | regs_[dp->rt]); NEXT_SEQ();
OP(Slt) regs_[dp->rd] = int32_t(regs_[dp->rs]) < int32_t(regs_[dp->rt]); NEXT_SEQ();
OP(Sltu) regs_[dp->rd] = regs_[dp->rs] < regs_[dp->rt]; NEXT_SEQ();
OP(Movz) if (regs_[dp->rt] == 0) regs_[dp->rd] = regs_[dp->rs]; NEXT_SEQ();
OP(Movn) if (regs_[dp->rt] != 0) regs_[dp->rd] = regs_[dp->rs]; NEXT_SEQ();
OP(Addi) {
    int32_t v;
    if (__builtin_add_overflow(int32_t(regs_[dp->rs]), int32_t(dp->imm), &v)) RAISE(exc::Ov);
    regs_[dp->rd] = uint32_t(v);
    NEXT_SEQ();
}
OP(Addiu) regs_[dp->rd] = regs_[dp->rs] + dp->imm; NEXT_SEQ();
OP(Slti) regs_[dp->rd] = int32_t(regs_[dp->rs]) < int32_t(dp->imm); NEXT_SEQ();
OP(Sltiu) regs_[dp->rd] = regs_[dp->rs] < dp->imm; NEXT_SEQ();
OP(Andi) regs_[dp->rd] = regs_[dp->rs] & dp->imm; NEXT_SEQ();
OP(Ori) regs_[dp->rd] = regs_[dp->rs] | dp->imm; NEXT_SEQ();
OP(Xori) regs_[dp->rd] = regs_[dp->rs] ^ dp->imm; NEXT_SEQ();
OP(Lui) regs_[dp->rd] = dp->imm; NEXT_SEQ();

// multiply and divide
OP(Mfhi) {
    if (cyc < mduReady_) cyc = mduReady_;
    regs_[dp->rd] = hi_;
    NEXT_SEQ();
}
OP(Mflo) {
    if (cyc < mduReady_) cyc = mduReady_;
    regs_[dp->rd] = lo_;
    NEXT_SEQ();
}
OP(Mthi) {
    if (cyc < mduReady_) cyc = mduReady_;
    hi_ = regs_[dp->rs];
    NEXT_SEQ();
}
OP(Mtlo) {
    if (cyc < mduReady_) cyc = mduReady_;
    lo_ = regs_[dp->rs];
    NEXT_SEQ();
}
OP(Mult) {
    if (cyc < divBusy_) cyc = divBusy_;
    int64_t p = int64_t(int32_t(regs_[dp->rs])) * int32_t(regs_[dp->rt]);
    lo_ = uint32_t(p);
    hi_ = uint32_t(uint64_t(p) >> 32);
    mduReady_ = cyc + multiplyLatency(regs_[dp->rt], true);
    NEXT_SEQ();
}
OP(Multu) {
    if (cyc < divBusy_) cyc = divBusy_;
    uint64_t p = uint64_t(regs_[dp->rs]) * regs_[dp->rt];
    lo_ = uint32_t(p);
    hi_ = uint32_t(p >> 32);
    mduReady_ = cyc + multiplyLatency(regs_[dp->rt], false);
    NEXT_SEQ();
}
OP(Madd)
OP(Msub) {
    if (cyc < divBusy_) cyc = divBusy_;
    uint64_t p = uint64_t(int64_t(int32_t(regs_[dp->rs])) * int32_t(regs_[dp->rt]));
    uint64_t acc = uint64_t(hi_) << 32 | lo_;
    acc = dp->op == kMadd ? acc + p : acc - p;
    lo_ = uint32_t(acc);
    hi_ = uint32_t(acc >> 32);
    mduReady_ = cyc + multiplyLatency(regs_[dp->rt], true);
    NEXT_SEQ();
}
OP(Maddu)
OP(Msubu) {
    if (cyc < divBusy_) cyc = divBusy_;
    uint64_t p = uint64_t(regs_[dp->rs]) * regs_[dp->rt];
    uint64_t acc = uint64_t(hi_) << 32 | lo_;
    acc = dp->op == kMaddu ? acc + p : acc - p;
    lo_ = uint32_t(acc);
    hi_ = uint32_t(acc >> 32);
    mduReady_ = cyc + multiplyLatency(regs_[dp->rt], false);
    NEXT_SEQ();
}
OP(Mul) {
    if (cyc < divBusy_) cyc = divBusy_;
    cyc += mulStall(regs_[dp->rt]);
    regs_[dp->rd] = uint32_t(int32_t(regs_[dp->rs]) * int64_t(int32_t(regs_[dp->rt])));
    NEXT_SEQ();
}
OP(Div) {
    if (cyc < divBusy_) cyc = divBusy_;
    int32_t a = int32_t(regs_[dp->rs]), b = int32_t(regs_[dp->rt]);
    // Division by zero leaves HI/LO unpredictable on the chip; here LO = rs, HI = 0.
    if (b == 0 || (a == INT32_MIN && b == -1)) {
        lo_ = uint32_t(a);
        hi_ = 0;
    } else {
        lo_ = uint32_t(a / b);
        hi_ = uint32_t(a % b);
    }
    mduReady_ = divBusy_ = cyc + divideLatency(uint32_t(a), true);
    NEXT_SEQ();
}
OP(Divu) {
    if (cyc < divBusy_) cyc = divBusy_;
    uint32_t a = regs_[dp->rs], b = regs_[dp->rt];
    if (b == 0) {
        lo_ = a;
        hi_ = 0;
    } else {
        lo_ = a / b;
        hi_ = a % b;
    }
    mduReady_ = divBusy_ = cyc + divideLatency(a, false);
    NEXT_SEQ();
}

// bit manipulation
OP(Clz) regs_[dp->rd] = uint32_t(std::countl_zero(regs_[dp->rs])); NEXT_SEQ();
OP(Clo) regs_[dp->rd] = uint32_t(std::countl_one(regs_[dp->rs])); NEXT_SEQ();
OP(Ext) regs_[dp->rd] = (regs_[dp->rs] >> dp->sa) & dp->imm; NEXT_SEQ();
OP(Ins) regs_[dp->rd] = (regs_[dp->rt] & ~dp->imm) | ((regs_[dp->rs] << dp->sa) & dp->imm); NEXT_SEQ();
OP(Wsbh) {
    uint32_t v = regs_[dp->rt];
    regs_[dp->rd] = ((v & 0x00FF00FFu) << 8) | ((v >> 8) & 0x00FF00FFu);
    NEXT_SEQ();
}
OP(Seb) regs_[dp->rd] = uint32_t(int32_t(int8_t(regs_[dp->rt]))); NEXT_SEQ();
OP(Seh) regs_[dp->rd] = uint32_t(int32_t(int16_t(regs_[dp->rt]))); NEXT();

// jumps and branches: pc holds the delay slot now
OP(J) {
    npc = (pc & 0xF0000000u) | dp->imm;
    slot = true;
    NEXT_SLOT();
}
OP(Jal) {
    regs_[31] = pc + 4;
    npc = (pc & 0xF0000000u) | dp->imm;
    slot = true;
    NEXT_SLOT();
}
OP(Jr) {
    npc = regs_[dp->rs];
    slot = true;
    NEXT_SLOT();
}
OP(Jalr) {
    uint32_t t = regs_[dp->rs];
    regs_[dp->rd] = pc + 4;
    npc = t;
    slot = true;
    NEXT_SLOT();
}
OP(B) BRANCH(true);
OP(Spin) {
    npc = cur;
    slot = true;
    if (opt_.fastForward) ffNote(cur, cyc);
    NEXT();
}
OP(Beq) BRANCH(regs_[dp->rs] == regs_[dp->rt]);
OP(Bne) BRANCH(regs_[dp->rs] != regs_[dp->rt]);
OP(Blez) BRANCH(int32_t(regs_[dp->rs]) <= 0);
OP(Bgtz) BRANCH(int32_t(regs_[dp->rs]) > 0);
OP(Bltz) BRANCH(int32_t(regs_[dp->rs]) < 0);
OP(Bgez) BRANCH(int32_t(regs_[dp->rs]) >= 0);
OP(Bltzal) {
    bool c = int32_t(regs_[dp->rs]) < 0;
    regs_[31] = pc + 4;
    BRANCH(c);
}
OP(Bgezal) {
    bool c = int32_t(regs_[dp->rs]) >= 0;
    regs_[31] = pc + 4;
    BRANCH(c);
}
OP(Beql) BRANCH_LIKELY(regs_[dp->rs] == regs_[dp->rt]);
OP(Bnel) BRANCH_LIKELY(regs_[dp->rs] != regs_[dp->rt]);
OP(Blezl) BRANCH_LIKELY(int32_t(regs_[dp->rs]) <= 0);
OP(Bgtzl) BRANCH_LIKELY(int32_t(regs_[dp->rs]) > 0);
OP(Bltzl) BRANCH_LIKELY(int32_t(regs_[dp->rs]) < 0);
OP(Bgezl) BRANCH_LIKELY(int32_t(regs_[dp->rs]) >= 0);
OP(Bltzall) {
    bool c = int32_t(regs_[dp->rs]) < 0;
    regs_[31] = pc + 4;
    BRANCH_LIKELY(c);
}
OP(Bgezall) {
    bool c = int32_t(regs_[dp->rs]) >= 0;
    regs_[31] = pc + 4;
    BRANCH_LIKELY(c);
}

// traps
OP(Tge) if (int32_t(regs_[dp->rs]) >= int32_t(regs_[dp->rt])) RAISE(exc::Tr); NEXT_SEQ();
OP(Tgeu) if (regs_[dp->rs] >= regs_[dp->rt]) RAISE(exc::Tr); NEXT_SEQ();
OP(Tlt) if (int32_t(regs_[dp->rs]) < int32_t(regs_[dp->rt])) RAISE(exc::Tr); NEXT_SEQ();
OP(Tltu) if (regs_[dp->rs] < regs_[dp->rt]) RAISE(exc::Tr); NEXT_SEQ();
OP(Teq) if (regs_[dp->rs] == regs_[dp->rt]) RAISE(exc::Tr); NEXT_SEQ();
OP(Tne) if (regs_[dp->rs] != regs_[dp->rt]) RAISE(exc::Tr); NEXT_SEQ();
OP(Tgei) if (int32_t(regs_[dp->rs]) >= int32_t(dp->imm)) RAISE(exc::Tr); NEXT_SEQ();
OP(Tgeiu) if (regs_[dp->rs] >= dp->imm) RAISE(exc::Tr); NEXT_SEQ();
OP(Tlti) if (int32_t(regs_[dp->rs]) < int32_t(dp->imm)) RAISE(exc::Tr); NEXT_SEQ();
OP(Tltiu) if (regs_[dp->rs] < dp->imm) RAISE(exc::Tr); NEXT_SEQ();
OP(Teqi) if (regs_[dp->rs] == dp->imm) RAISE(exc::Tr); NEXT_SEQ();
OP(Tnei) if (regs_[dp->rs] != dp->imm) RAISE(exc::Tr); NEXT_SEQ();
OP(Syscall) RAISE(exc::Sys);
OP(Break) RAISE(exc::Bp);
OP(Reserved) RAISE(exc::RI);
OP(CopUnusable) {
    cpUnit_ = dp->imm;
    RAISE(exc::CpU);
}
OP(Sdbbp) {
    if (opt_.debugProbe) {  // the probe stops here; the sdbbp runs again on resume
        npc = pc;
        pc = cur;
        slot = bd;
        cyc -= fw_.cost;
        --instret;
        breakpoint_ = true;
        goto done;
    }
    SAVE_CUR();
    slowClock_ = cyc;
    debugException();
    cyc = slowClock_;
    RELOAD_PC();
    NEXT();
}

// loads
OP(Lw)
OP(Ll) {
    uint32_t a = regs_[dp->rs] + dp->imm, o = RAM_OFFSET(a);
    if (o < ramBytes_ && !(a & 3)) {
        regs_[dp->rd] = ld32(ram_ + o);
        cyc += timing_.ramData();
    } else {
        uint32_t v;
        SAVE_CUR();
        if (!LOAD_SLOW(a, 4, v)) {
            RELOAD_PC();
            NEXT();
        }
        regs_[dp->rd] = v;
    }
    if (dp->op == kLl) llbit_ = true;
    NEXT_SEQ();
}
OP(Lb)
OP(Lbu) {
    uint32_t a = regs_[dp->rs] + dp->imm, o = RAM_OFFSET(a), v;
    if (o < ramBytes_) {
        v = ram_[o];
        cyc += timing_.ramData();
    } else {
        SAVE_CUR();
        if (!LOAD_SLOW(a, 1, v)) {
            RELOAD_PC();
            NEXT();
        }
    }
    regs_[dp->rd] = dp->op == kLb ? uint32_t(int32_t(int8_t(v))) : v;
    NEXT_SEQ();
}
OP(Lh)
OP(Lhu) {
    uint32_t a = regs_[dp->rs] + dp->imm, o = RAM_OFFSET(a), v;
    if (o < ramBytes_ && !(a & 1)) {
        v = ld16(ram_ + o);
        cyc += timing_.ramData();
    } else {
        SAVE_CUR();
        if (!LOAD_SLOW(a, 2, v)) {
            RELOAD_PC();
            NEXT();
        }
    }
    regs_[dp->rd] = dp->op == kLh ? uint32_t(int32_t(int16_t(v))) : v;
    NEXT_SEQ();
}
OP(Lwl)
OP(Lwr) {
    uint32_t a = regs_[dp->rs] + dp->imm, o = RAM_OFFSET(a & ~3u), w;
    if (o < ramBytes_) {
        w = ld32(ram_ + o);
        cyc += timing_.ramData();
    } else {
        SAVE_CUR();
        if (!LOAD_SLOW(a & ~3u, 4, w)) {
            RELOAD_PC();
            NEXT();
        }
    }
    unsigned b = a & 3;
    uint32_t old = regs_[dp->rt];
    if (dp->op == kLwl) {  // the word's high bytes, from the addressed byte down
        unsigned sh = 8 * (3 - b);
        regs_[dp->rd] = (w << sh) | (b == 3 ? 0 : old & (0xFFFFFFFFu >> (8 * (b + 1))));
    } else {  // the low bytes, from the addressed byte up
        unsigned sh = 8 * b;
        regs_[dp->rd] = (w >> sh) | (b == 0 ? 0 : old & ~(0xFFFFFFFFu >> sh));
    }
    NEXT_SEQ();
}

// stores: a store to RAM throws away the decoded instruction there
OP(Sw) {
    uint32_t a = regs_[dp->rs] + dp->imm, o = RAM_OFFSET(a);
    if (o < ramBytes_ && !(a & 3)) {
        st32(ram_ + o, regs_[dp->rt]);
        decRam_[o >> 2].op = kUndecoded;
        cyc += timing_.ramData();
    } else {
        SAVE_CUR();
        if (!STORE_SLOW(a, 4, regs_[dp->rt])) {
            RELOAD_PC();
            NEXT();
        }
    }
    NEXT_SEQ();
}
OP(Sc) {
    if (!llbit_) {
        regs_[dp->rd] = 0;
        NEXT_SEQ();
    }
    uint32_t a = regs_[dp->rs] + dp->imm, o = RAM_OFFSET(a), v = regs_[dp->rt];
    if (o < ramBytes_ && !(a & 3)) {
        st32(ram_ + o, v);
        decRam_[o >> 2].op = kUndecoded;
        cyc += timing_.ramData();
    } else {
        SAVE_CUR();
        if (!STORE_SLOW(a, 4, v)) {
            RELOAD_PC();
            NEXT();
        }
    }
    llbit_ = false;
    regs_[dp->rd] = 1;
    NEXT_SEQ();
}
OP(Sb) {
    uint32_t a = regs_[dp->rs] + dp->imm, o = RAM_OFFSET(a);
    if (o < ramBytes_) {
        ram_[o] = uint8_t(regs_[dp->rt]);
        decRam_[o >> 2].op = kUndecoded;
        cyc += timing_.ramData();
    } else {
        SAVE_CUR();
        if (!STORE_SLOW(a, 1, regs_[dp->rt] & 0xFF)) {
            RELOAD_PC();
            NEXT();
        }
    }
    NEXT_SEQ();
}
OP(Sh) {
    uint32_t a = regs_[dp->rs] + dp->imm, o = RAM_OFFSET(a);
    if (o < ramBytes_ && !(a & 1)) {
        st16(ram_ + o, uint16_t(regs_[dp->rt]));
        decRam_[o >> 2].op = kUndecoded;
        cyc += timing_.ramData();
    } else {
        SAVE_CUR();
        if (!STORE_SLOW(a, 2, regs_[dp->rt] & 0xFFFF)) {
            RELOAD_PC();
            NEXT();
        }
    }
    NEXT_SEQ();
}
OP(Swl)
OP(Swr) {
    uint32_t a = regs_[dp->rs] + dp->imm, v = regs_[dp->rt];
    unsigned b = a & 3;
    // Bytes written: swl the register's high bytes into a..a&~3, swr its low bytes into
    // a..a|3.
    uint32_t mask, data;
    if (dp->op == kSwl) {
        unsigned sh = 8 * (3 - b);
        mask = 0xFFFFFFFFu >> sh;
        data = v >> sh;
    } else {
        unsigned sh = 8 * b;
        mask = 0xFFFFFFFFu << sh;
        data = v << sh;
    }
    uint32_t o = RAM_OFFSET(a & ~3u);
    if (o < ramBytes_) {
        st32(ram_ + o, (ld32(ram_ + o) & ~mask) | (data & mask));
        decRam_[o >> 2].op = kUndecoded;
        cyc += timing_.ramData();
        NEXT_SEQ();
    }
    SAVE_CUR();
    for (unsigned i = 0; i < 4; ++i) {
        if (!(mask >> (8 * i) & 0xFF)) continue;
        if (!STORE_SLOW((a & ~3u) + i, 1, (data >> (8 * i)) & 0xFF)) {
            RELOAD_PC();
            NEXT();
        }
    }
    NEXT_SEQ();
}

// coprocessor 0
OP(Mfc0Count) {
    uint32_t v = board_.cp0.countAt(cyc);
    regs_[dp->rd] = v;
    if (opt_.fastForward) {
        ffInput(true, 0, v, cyc);
        ffNote(cur, cyc);
    }
    NEXT();
}
OP(Mfc0) regs_[dp->rd] = cp0Read(dp->sa, dp->imm, cyc); NEXT();
OP(Mtc0) {
    SAVE_CUR();
    cp0Write(dp->sa, dp->imm, regs_[dp->rt], cyc);
    NEXT();
}
OP(Di) {
    uint32_t st = board_.cp0.status();
    board_.cp0.setStatus(st & ~status::IE);
    regs_[dp->rd] = st;
    NEXT();
}
OP(Ei) {
    uint32_t st = board_.cp0.status();
    board_.cp0.setStatus(st | status::IE);
    regs_[dp->rd] = st;
    limit_ = 0;
    NEXT();
}
OP(Rdpgpr)  // one register set: the previous set is the current one
OP(Wrpgpr) regs_[dp->rd] = regs_[dp->rt]; NEXT_SEQ();
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
    switch (dp->sa) {
        case 0: regs_[dp->rd] = 0; break;  // CPUNum
        case 1: regs_[dp->rd] = 0; break;  // SYNCI step: no caches
        case 2: {
            uint32_t v = board_.cp0.countAt(cyc);
            regs_[dp->rd] = v;
            if (opt_.fastForward) {
                ffInput(true, 0, v, cyc);
                ffNote(cur, cyc);
            }
            break;
        }
        case 3: regs_[dp->rd] = 2; break;  // Count resolution: every second cycle
        default: RAISE(exc::RI);
    }
    NEXT();
}

done:
    pc_ = pc;
    npc_ = npc;
    slot_ = slot;
    cycles_ = cyc;
    stats_.instructions += instret - instretStart;
    pcCount_ = instret;
#undef DISPATCH
#undef BEGIN
#undef NEXT
#undef NEXT_SEQ
#undef NEXT_SLOT
#undef SAVE_CUR
#undef RELOAD_PC
#undef RAISE
#undef BRANCH
#undef BRANCH_LIKELY
#undef LOAD_SLOW
#undef STORE_SLOW
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
