#include "sim/core/mips_core.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace sim {

using namespace mips;

static_assert(std::endian::native == std::endian::little, "the simulated memories are kept in host byte order");

namespace {

constexpr uint32_t kResetVector = 0xBFC00000u;
constexpr uint32_t kBootstrapVector = 0xBFC00380u;
constexpr uint32_t kDebugVector = 0xBFC00480u;

constexpr uint32_t kCauseBD = 1u << 31, kCauseIV = 1u << 23, kCauseRIPL = 0x3Fu << 10, kCauseExc = 0x1Fu << 2,
                   kCauseCE = 3u << 28;
constexpr uint32_t kDebugDM = 1u << 30, kDebugDBD = 1u << 31, kDebugDBp = 1u << 1;

// Fast-forward: a loop is watched when the same poll comes round again within this many
// cycles, and only if one pass takes at most this many instructions.
constexpr Cycles kTriggerWindow = 2048;
constexpr unsigned kMaxLoopSteps = 64;

inline uint32_t ld32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
inline uint16_t ld16(const uint8_t* p) {
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}
inline void st32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }
inline void st16(uint8_t* p, uint16_t v) { std::memcpy(p, &v, 2); }

inline bool fits16s(uint32_t v) { return int32_t(v) == int32_t(int16_t(v)); }

// Early-in division: the divider finishes sooner when the dividend has fewer bits.
inline Cycles divideLatency(uint32_t dividend, bool isSigned) {
    uint32_t m = (isSigned && int32_t(dividend) < 0) ? ~dividend : dividend;
    unsigned bits = 32 - unsigned(std::countl_zero(m));
    if (isSigned) ++bits;
    return bits <= 8 ? 12 : bits <= 16 ? 19 : bits <= 24 ? 26 : 33;
}

}  // namespace

MipsCore::MipsCore(Board& board, const CoreOptions& options)
    : board_(board), opt_(options), mem_(MemoryLayout::of(board)) {
    decRam_.resize(mem_.layout().ramBytes / 4);
    decFlash_.resize(mem_.layout().flashBytes / 4);
    decBoot_.resize(phys::kBootBytes / 4);
    checon_ = board.bus.find(0xBF884000);
    bmxcon_ = board.bus.find(0xBF882000);
    previousOnReset_ = board.onReset;
    // The device reset comes out of an SFR access (RSWRST) or an event: the core restarts
    // at its next instruction boundary.
    board.onReset = [this](const ResetRecord&) {
        resetPending_ = true;
        limit_ = 0;
    };
    cycles_ = board.now();
    steps_.reserve(2 * kMaxLoopSteps + 2);
    coreReset();
}

MipsCore::~MipsCore() { board_.onReset = previousOnReset_; }

void MipsCore::reset() { coreReset(); }

void MipsCore::coreReset() {
    pc_ = kResetVector;
    npc_ = pc_ + 4;
    slot_ = false;
    llbit_ = false;
    debugMode_ = false;
    waiting_ = false;
    mduReady_ = divBusy_ = cycles_;
    lastFetchLine_ = 0xFFFFFFFF;
    trigPc_ = 0;
    ffRequest_ = false;
    refreshTiming();
}

void MipsCore::setPc(uint32_t pc) {
    pc_ = pc;
    npc_ = pc + 4;
    slot_ = false;
    waiting_ = false;
}

void MipsCore::requestStop() {
    stopRequested_ = true;
    limit_ = 0;
}

void MipsCore::nmi() {
    nmiPending_ = true;
    limit_ = 0;
}

void MipsCore::refreshTiming() {
    uint32_t checon = checon_ ? checon_->value() : 7;
    pfmws_ = checon & 7;
    prefetchUncached_ = (checon >> 5) & 1;  // PREFEN = 1x: non-cacheable regions too
    uint32_t bmxcon = bmxcon_ ? bmxcon_->value() : 0x40;
    ramWait_ = (bmxcon >> 6) & 1;  // BMXWSDRM
    k0Cached_ = (board_.cp0.read(cp0reg::Config, 0) & 7) == 3;
    fw_.size = 0;
}

void MipsCore::invalidateDecoded() {
    std::fill(decRam_.begin(), decRam_.end(), Decoded{});
    std::fill(decFlash_.begin(), decFlash_.end(), Decoded{});
    std::fill(decBoot_.begin(), decBoot_.end(), Decoded{});
    memGeneration_ = mem_.generation();
    fw_.size = 0;
}

// The stretch of memory around `pc` that the inner loop fetches from without asking again,
// and what each fetch in it costs.
bool MipsCore::setFetchWindow(uint32_t pc, Cycles& cyc) {
    uint32_t p;
    if (!toPhysical(pc, p)) return false;
    const MemoryLayout& l = mem_.layout();
    bool kseg0 = !(pc & 0x20000000u);
    switch (l.regionOf(p, 4)) {
        case Region::Ram:
            fw_.base = pc - (p - phys::kRam);
            fw_.size = l.ramBytes;
            fw_.decoded = decRam_.data();
            fw_.bytes = mem_.ram();
            fw_.cost = 1 + ramWait_;
            return true;
        case Region::Flash:
        case Region::Boot: {
            bool boot = p >= phys::kBoot;
            uint32_t regionBase = boot ? phys::kBoot : phys::kFlash;
            Decoded* dec = boot ? decBoot_.data() : decFlash_.data();
            const uint8_t* bytes = boot ? mem_.boot() : mem_.flash();
            fw_.cost = 1;
            if (kseg0 && k0Cached_) {
                fw_.base = pc - (p - regionBase);
                fw_.size = boot ? phys::kBootBytes : l.flashBytes;
                fw_.decoded = dec;
                fw_.bytes = bytes;
                return true;
            }
            uint32_t line = p >> 4;
            if (line != lastFetchLine_ && !(prefetchUncached_ && line == lastFetchLine_ + 1)) cyc += pfmws_;
            lastFetchLine_ = line;
            uint32_t lineOffset = (p & ~15u) - regionBase;
            fw_.base = pc & ~15u;
            fw_.size = 16;
            fw_.decoded = dec + lineOffset / 4;
            fw_.bytes = bytes + lineOffset;
            return true;
        }
        default: return false;
    }
}

// ---------------------------------------------------------------------------------------
// Exceptions and interrupts

uint32_t MipsCore::generalVector() const {
    if (board_.cp0.status() & status::BEV) return kBootstrapVector;
    return (board_.cp0.read(15, 1) & 0xFFFFF000u) + 0x180;
}

void MipsCore::exception(unsigned code, Cycles& cyc) { exceptionAt(code, curPc_, curSlot_, cyc); }

void MipsCore::exceptionAt(unsigned code, uint32_t pc, bool bd, Cycles& cyc) {
    Cp0& c = board_.cp0;
    uint32_t st = c.status(), cause = c.cause() & ~(kCauseExc | kCauseCE);
    cause |= code << 2;
    if (code == exc::CpU) cause |= (cpUnit_ & 3) << 28;
    if (!(st & status::EXL)) {  // a nested exception keeps the first one's return address
        c.hwWrite(cp0reg::EPC, 0, bd ? pc - 4 : pc);
        cause = bd ? cause | kCauseBD : cause & ~kCauseBD;
    }
    c.setCause(cause);
    c.setStatus(st | status::EXL);
    pc_ = generalVector();
    npc_ = pc_ + 4;
    slot_ = false;
    cyc += opt_.exceptionCycles;
    ++stats_.exceptions;
}

void MipsCore::takeInterrupt(unsigned vector, unsigned priority) {
    Cp0& c = board_.cp0;
    uint32_t st = c.status();
    uint32_t cause = c.cause() & ~(kCauseExc | kCauseRIPL | kCauseBD | kCauseCE);
    cause |= (priority & 0x3F) << 10;
    if (slot_) cause |= kCauseBD;
    c.hwWrite(cp0reg::EPC, 0, slot_ ? pc_ - 4 : pc_);
    c.setCause(cause);
    c.setStatus(st | status::EXL);
    uint32_t target;
    if ((cause & kCauseIV) && !(st & status::BEV)) {
        uint32_t spacing = ((c.read(12, 1) >> 5) & 0x1F) << 5;  // IntCtl.VS x 32 bytes
        target = (c.read(15, 1) & 0xFFFFF000u) + 0x200 + vector * spacing;
    } else {
        target = generalVector();
    }
    pc_ = target;
    npc_ = target + 4;
    slot_ = false;
    waiting_ = false;
    cycles_ += opt_.exceptionCycles;
    ++stats_.exceptions;
    ++stats_.interrupts;
}

void MipsCore::debugException(Cycles& cyc) {
    Cp0& c = board_.cp0;
    uint32_t dbg = c.read(cp0reg::Debug, 0) & ~(kDebugDBD | 0x3Fu);
    dbg |= kDebugDM | kDebugDBp | (curSlot_ ? kDebugDBD : 0);
    c.hwWrite(cp0reg::Debug, 0, dbg);
    c.hwWrite(cp0reg::DEPC, 0, curSlot_ ? curPc_ - 4 : curPc_);
    debugMode_ = true;
    pc_ = kDebugVector;
    npc_ = pc_ + 4;
    slot_ = false;
    cyc += opt_.exceptionCycles;
    ++stats_.exceptions;
}

void MipsCore::eret(Cycles&) {
    Cp0& c = board_.cp0;
    uint32_t st = c.status();
    if (st & status::ERL) {
        pc_ = c.read(cp0reg::ErrorEPC, 0);
        st &= ~status::ERL;
    } else {
        pc_ = c.read(cp0reg::EPC, 0);
        st &= ~status::EXL;
    }
    c.setStatus(st);
    npc_ = pc_ + 4;
    slot_ = false;
    llbit_ = false;
    limit_ = 0;  // interrupts may be taken again
}

void MipsCore::deret() {
    Cp0& c = board_.cp0;
    pc_ = c.read(cp0reg::DEPC, 0);
    npc_ = pc_ + 4;
    slot_ = false;
    debugMode_ = false;
    c.hwWrite(cp0reg::Debug, 0, c.read(cp0reg::Debug, 0) & ~kDebugDM);
    limit_ = 0;
}

// Between instructions: the board catches up with the core, then resets, NMIs and
// interrupts are taken.
void MipsCore::service() {
    syncScheduler(cycles_);
    if (resetPending_) {
        resetPending_ = false;
        ++stats_.resets;
        coreReset();
    }
    if (nmiPending_) {
        nmiPending_ = false;
        Cp0& c = board_.cp0;
        c.hwWrite(cp0reg::ErrorEPC, 0, slot_ ? pc_ - 4 : pc_);
        c.setStatus((c.status() & ~status::SR) | status::BEV | status::NMI | status::ERL);
        pc_ = kResetVector;
        npc_ = pc_ + 4;
        slot_ = false;
        waiting_ = false;
        debugMode_ = false;
        refreshTiming();
    }
    if (debugMode_) return;  // debug mode masks interrupts
    auto req = board_.intc.pending();
    if (!req) return;
    if (waiting_ && req->priority > board_.cp0.ipl()) waiting_ = false;
    if (board_.cp0.accepts(req->priority)) takeInterrupt(req->vector, req->priority);
}

// ---------------------------------------------------------------------------------------
// Memory slow paths

// The board catches up with the core. A run limit set on the board (Board::stopAt) ends
// the run at the next instruction boundary instead of unwinding through the core.
void MipsCore::syncScheduler(Cycles cyc) {
    for (;;) {
        try {
            board_.sched.advanceTo(cyc);
            return;
        } catch (const RunLimitReached&) {
            limitReached_ = true;
            limit_ = 0;
        }
    }
}

bool MipsCore::classify(uint32_t va, Access& a) const {
    uint32_t p;
    if (!toPhysical(va, p)) return false;
    const MemoryLayout& l = mem_.layout();
    a.cached = !(va & 0x20000000u) && k0Cached_;
    a.region = l.regionOf(p, 1);
    switch (a.region) {
        case Region::Ram: a.offset = p - phys::kRam; return true;
        case Region::Flash: a.offset = p - phys::kFlash; return true;
        case Region::Boot: a.offset = p - phys::kBoot; return true;
        case Region::Sfr: a.offset = p; return true;
        default: return false;
    }
}

uint32_t MipsCore::sfrRead(uint32_t p, unsigned size, Cycles& cyc) {
    cyc += opt_.sfrCycles;
    syncScheduler(cyc);
    uint32_t word = board_.bus.read(0xA0000000u | (p & ~3u));
    limit_ = 0;  // the read may have changed the board (flags, a reset)
    uint32_t v = word >> (8 * (p & 3));
    if (size == 1) v &= 0xFF;
    else if (size == 2) v &= 0xFFFF;
    if (opt_.fastForward) {
        ffInput(false, p, v, cyc);
        ffNote(curPc_, cyc);
    }
    return v;
}

void MipsCore::sfrWrite(uint32_t p, unsigned size, uint32_t value, Cycles& cyc) {
    cyc += opt_.sfrCycles;
    syncScheduler(cyc);
    uint32_t a = 0xA0000000u | (p & ~3u);
    SfrBus& bus = board_.bus;
    if (size == 4) {
        bus.write(a, value);
    } else {
        unsigned shift = 8 * (p & 3);
        uint32_t mask = (size == 1 ? 0xFFu : 0xFFFFu) << shift;
        uint32_t v = (value << shift) & mask;
        Register* reg = bus.find(a);
        if (reg && bus.claims(a + 4) && !bus.find(a + 4)) v |= reg->value() & ~mask;  // other lanes unchanged
        bus.write(a, v);
    }
    refreshTiming();
    limit_ = 0;
}

bool MipsCore::loadSlow(uint32_t va, unsigned size, uint32_t& value, Cycles& cyc) {
    if (va & (size - 1)) {
        board_.cp0.hwWrite(cp0reg::BadVAddr, 0, va);
        exception(exc::AdEL, cyc);
        return false;
    }
    Access a;
    if (!classify(va, a)) {
        exception(exc::DBE, cyc);
        return false;
    }
    const uint8_t* base = nullptr;
    switch (a.region) {
        case Region::Ram:
            base = mem_.ram();
            cyc += ramWait_;
            break;
        case Region::Flash:
            base = mem_.flash();
            if (!a.cached) cyc += pfmws_;
            break;
        case Region::Boot:
            base = mem_.boot();
            if (!a.cached) cyc += pfmws_;
            break;
        case Region::Sfr: value = sfrRead(a.offset, size, cyc); return true;
        default: break;
    }
    value = 0;
    std::memcpy(&value, base + a.offset, size);
    return true;
}

bool MipsCore::storeSlow(uint32_t va, unsigned size, uint32_t value, Cycles& cyc) {
    if (va & (size - 1)) {
        board_.cp0.hwWrite(cp0reg::BadVAddr, 0, va);
        exception(exc::AdES, cyc);
        return false;
    }
    Access a;
    if (!classify(va, a) || a.region == Region::Flash || a.region == Region::Boot) {
        exception(exc::DBE, cyc);  // unmapped, or flash: read-only to the core
        return false;
    }
    if (a.region == Region::Sfr) {
        sfrWrite(a.offset, size, value, cyc);
        return true;
    }
    std::memcpy(mem_.ram() + a.offset, &value, size);
    decRam_[a.offset / 4] = Decoded{};
    cyc += ramWait_;
    return true;
}

// ---------------------------------------------------------------------------------------
// Coprocessor 0

uint32_t MipsCore::cp0Read(unsigned reg, unsigned sel, Cycles cyc) {
    if (reg == cp0reg::Count && sel == 0) return board_.cp0.countAt(cyc);
    return board_.cp0.read(reg, sel);
}

void MipsCore::cp0Write(unsigned reg, unsigned sel, uint32_t value, Cycles cyc) {
    syncScheduler(cyc);  // Count and Compare are set against the board's time
    if (reg == cp0reg::Debug && sel == 0) {
        uint32_t old = board_.cp0.read(reg, 0);
        board_.cp0.hwWrite(reg, 0, (old & ~0x10000000u) | (value & 0x10000000u));  // only CountDM is writable
    } else {
        board_.cp0.write(reg, sel, value);
    }
    if (reg == cp0reg::Config) refreshTiming();
    limit_ = 0;
}

// ---------------------------------------------------------------------------------------
// The interpreter

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
#define SAVE_CUR() (curPc_ = cur, curSlot_ = bd)
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
        if (cur & 3) board_.cp0.hwWrite(cp0reg::BadVAddr, 0, cur);
        exception((cur & 3) ? exc::AdEL : exc::IBE, cyc);
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
    mduReady_ = cyc + (fits16s(r[d.rt]) ? 1 : 2);
    NEXT();
}
OP(Multu) {
    if (cyc < divBusy_) cyc = divBusy_;
    uint64_t p = uint64_t(r[d.rs]) * r[d.rt];
    lo_ = uint32_t(p);
    hi_ = uint32_t(p >> 32);
    mduReady_ = cyc + (r[d.rt] <= 0xFFFF ? 1 : 2);
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
    mduReady_ = cyc + (fits16s(r[d.rt]) ? 1 : 2);
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
    mduReady_ = cyc + (r[d.rt] <= 0xFFFF ? 1 : 2);
    NEXT();
}
OP(Mul) {
    if (cyc < divBusy_) cyc = divBusy_;
    cyc += fits16s(r[d.rt]) ? 1 : 2;
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
        cyc += ramWait_;
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
        cyc += ramWait_;
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
        cyc += ramWait_;
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
        cyc += ramWait_;
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
        cyc += ramWait_;
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
        cyc += ramWait_;
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
        cyc += ramWait_;
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
        cyc += ramWait_;
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
        cyc += ramWait_;
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

// ---------------------------------------------------------------------------------------
// Fast-forward
//
// A poll (an SFR read, a Count read, a branch to itself) that comes round again at the
// same address marks a loop. The core then records two passes of it, one instruction at a
// time, exactly as it would run them. The loop can be skipped when a pass stores nothing,
// writes no SFR or CP0 register, takes no exception, reads only SFRs whose value changes
// in scheduled events, and leaves every register it reads before writing as it found it:
// then every further pass is the same as the last, except where Count decides. Values
// derived from Count are followed as Count + constant (or constant - Count); each branch
// or comparison on them holds for an interval of Count, and the first pass that leaves an
// interval is computed. The core jumps over whole passes, no further than the board's
// next event, and runs the last pass before the exit for real so that every register ends
// up as it would have.

void MipsCore::ffNote(uint32_t pc, Cycles cyc) {
    if (recording_) return;
    if (pc == trigPc_ && cyc - trigTime_ <= kTriggerWindow) {
        trigTime_ = cyc;
        auto it = backoff_.find(pc);
        if (it != backoff_.end() && cyc < it->second.retryAt) return;
        ffRequest_ = true;
        limit_ = 0;
        return;
    }
    if (trigPc_ == 0 || cyc - trigTime_ > kTriggerWindow) {
        trigPc_ = pc;
        trigTime_ = cyc;
    }
}

void MipsCore::ffInput(bool count, uint32_t address, uint32_t value, Cycles time) {
    if (!recording_) return;
    inputs_.push_back({unsigned(steps_.size() - 1), count, address, value, time});
}

void MipsCore::ffFailed(uint32_t pc, Cycles now) {
    Backoff& b = backoff_[pc];
    b.failures = std::min(b.failures + 1, 14u);
    b.retryAt = now + (Cycles(64) << b.failures);
}

bool MipsCore::peekDecoded(uint32_t pc, Decoded& d) {
    uint32_t p;
    if ((pc & 3) || !toPhysical(pc, p)) return false;
    Decoded* table;
    const uint8_t* bytes;
    switch (mem_.layout().regionOf(p, 4)) {
        case Region::Ram: table = &decRam_[(p - phys::kRam) / 4]; bytes = mem_.ram() + (p - phys::kRam); break;
        case Region::Flash: table = &decFlash_[(p - phys::kFlash) / 4]; bytes = mem_.flash() + (p - phys::kFlash); break;
        case Region::Boot: table = &decBoot_[(p - phys::kBoot) / 4]; bytes = mem_.boot() + (p - phys::kBoot); break;
        default: return false;
    }
    if (table->op == kUndecoded) *table = decode(ld32(bytes), pc);
    d = *table;
    return true;
}

// One instruction as run() would run it, between the same checks; false when something
// other than the instruction stream needs the core (an event, the end of the run, a
// reset, an interrupt or exception).
bool MipsCore::stepOnce(Cycles until, Cycles eventAt) {
    if (cycles_ >= until || cycles_ >= eventAt) return false;
    if (stopRequested_ || limitReached_ || resetPending_ || nmiPending_ || waiting_ || breakpoint_ || debugMode_)
        return false;
    uint64_t exceptions = stats_.exceptions, resets = stats_.resets;
    limit_ = cycles_ + 1;
    execute();
    if (breakpoint_) return false;
    service();
    // An exception or interrupt, a reset, or an access that scheduled or cancelled an event
    // ends the watch.
    return stats_.exceptions == exceptions && stats_.resets == resets && cycles_ < eventAt &&
           board_.sched.nextEventTime() == eventAt;
}

MipsCore::Recorded MipsCore::recordIteration(uint32_t head, uint32_t headNpc, bool headSlot, Cycles until,
                                             Cycles eventAt) {
    for (unsigned n = 0;; ++n) {
        if (n >= kMaxLoopSteps) return Recorded::Ended;
        Step s;
        s.pc = pc_;
        if (!peekDecoded(pc_, s.d)) return Recorded::Ended;
        std::memcpy(s.regs, regs_, sizeof regs_);
        s.hi = hi_;
        s.lo = lo_;
        s.time = cycles_;
        s.mduReady = std::max(mduReady_, divBusy_);
        s.fetchLine = lastFetchLine_;
        steps_.push_back(s);
        if (!stepOnce(until, eventAt)) return Recorded::Ended;
        if (pc_ == head && npc_ == headNpc && slot_ == headSlot) return Recorded::Done;
    }
}

bool MipsCore::stableSfr(uint32_t physical) {
    SfrBus& bus = board_.bus;
    uint32_t a = 0xA0000000u | (physical & ~3u);
    Register* reg = bus.find(a);
    if (!reg) return bus.claims(a);  // a CLR/SET/INV companion reads 0; nothing else is quiet
    return !reg->hasReadSideEffects() && !reg->isTimeVarying();
}

namespace {

// A value derived from one Count read: slope x Count + constant (mod 2^32).
struct SymVal {
    int id = -1;
    int slope = 0;
};

struct Interval {  // [start, start + length) on the 2^32 circle
    uint32_t start;
    uint64_t length;
};

Interval unsignedLess(uint32_t x, bool outcome) {  // y <u x
    return outcome ? Interval{0, x} : Interval{x, (1ull << 32) - x};
}
Interval unsignedGreater(uint32_t x, bool outcome) {  // y >u x
    return outcome ? Interval{x + 1, (1ull << 32) - x - 1} : Interval{0, uint64_t(x) + 1};
}
Interval toSigned(Interval i) { return {i.start + 0x80000000u, i.length}; }
Interval equalTo(uint32_t x, bool outcome) { return outcome ? Interval{x, 1} : Interval{x + 1, (1ull << 32) - 1}; }

}  // namespace

void MipsCore::tryFastForward(Cycles until) {
    const uint32_t trig = trigPc_;
    const Cycles eventAt = board_.sched.nextEventTime();
    // A pass starts at the poll, so that what it reads is not carried from the pass before.
    for (unsigned n = 0; pc_ != trig; ++n)
        if (n >= kMaxLoopSteps || !stepOnce(until, eventAt)) {
            trigPc_ = 0;
            return;
        }
    const uint32_t head = pc_, headNpc = npc_;
    const bool headSlot = slot_;
    steps_.clear();
    inputs_.clear();
    recording_ = true;
    const Cycles t0 = cycles_;
    Recorded ra = recordIteration(head, headNpc, headSlot, until, eventAt);
    const Cycles tA = cycles_;
    const size_t bStep = steps_.size(), bInput = inputs_.size();
    Recorded rb = ra == Recorded::Done ? recordIteration(head, headNpc, headSlot, until, eventAt) : ra;
    recording_ = false;
    if (rb != Recorded::Done) {
        // The loop ended (or was left for an event, an interrupt, a long way round).
        trigPc_ = 0;
        if (ra != Recorded::Done || steps_.size() - bStep >= kMaxLoopSteps) ffFailed(trig, cycles_);
        return;
    }
    const Cycles period = tA - t0;
    const size_t len = steps_.size() - bStep;
    auto fail = [&] { ffFailed(trig, cycles_); };

    // Both passes alike: same instructions, same time, same SFR values.
    if (cycles_ - tA != period || len != bStep || inputs_.size() - bInput != bInput) return fail();
    for (size_t i = 0; i < len; ++i)
        if (steps_[i].pc != steps_[bStep + i].pc) return fail();
    for (size_t i = 0; i < bInput; ++i) {
        const Input &a = inputs_[i], &b = inputs_[bInput + i];
        if (a.count != b.count || a.step + bStep != b.step || a.address != b.address || a.time - t0 != b.time - tA)
            return fail();
        if (!a.count && a.value != b.value) return fail();
    }
    // The timing state repeats: fetch line, multiply/divide unit idle.
    const Step& first = steps_[bStep];
    if (first.fetchLine != lastFetchLine_ || first.mduReady > first.time || std::max(mduReady_, divBusy_) > cycles_)
        return fail();

    // Follow one pass.
    constexpr unsigned kHi = 33, kLo = 34;  // 32 is the $zero sink
    uint64_t liveIn = 0, written = 0;
    SymVal sym[35];
    struct Symbol {
        uint32_t value;
        Cycles time;
        uint64_t distance;  // Count increments before the first interval is left
    };
    std::vector<Symbol> symbols;
    size_t nextInput = bInput;
    bool ok = true;

    for (size_t i = bStep; i < steps_.size() && ok; ++i) {
        const Step& s = steps_[i];
        const Decoded& d = s.d;
        const uint32_t* R = s.regs;
        auto use = [&](unsigned reg) {
            if (reg != 0 && reg != kScratchReg && !(written >> reg & 1)) liveIn |= 1ull << reg;
        };
        auto def = [&](unsigned reg, SymVal v = {}) {
            if (reg == 0 || reg == kScratchReg) return;
            written |= 1ull << reg;
            sym[reg] = v;
        };
        auto sv = [&](unsigned reg) { return reg == 0 || reg == kScratchReg ? SymVal{} : sym[reg]; };
        // Adds the constraint "the comparison of this value comes out the same".
        auto constrain = [&](unsigned reg, Interval y) {
            SymVal v = sv(reg);
            Symbol& c = symbols[v.id];
            uint32_t k = v.slope > 0 ? R[reg] - c.value : R[reg] + c.value;
            Interval ci = v.slope > 0 ? Interval{y.start - k, y.length}
                                      : Interval{uint32_t(k - y.start - uint32_t(y.length) + 1), y.length};
            if (ci.length >= (1ull << 32)) return;
            uint64_t into = uint32_t(c.value - ci.start);
            if (into >= ci.length) {  // cannot happen for the recorded outcome
                ok = false;
                return;
            }
            c.distance = std::min(c.distance, ci.length - into);
        };
        // A comparison with one symbolic side; both symbolic is too hard.
        auto compare = [&](uint32_t rbValue, bool rbSym, bool isSigned, bool raLeft, bool outcome, unsigned raReg) {
            if (rbSym) {
                ok = false;
                return;
            }
            Interval y = raLeft ? unsignedLess(isSigned ? rbValue ^ 0x80000000u : rbValue, outcome)
                                : unsignedGreater(isSigned ? rbValue ^ 0x80000000u : rbValue, outcome);
            if (isSigned) y = toSigned(y);
            constrain(raReg, y);
        };
        auto combine = [&](SymVal a, int ka, SymVal b, int kb) -> SymVal {
            if (a.id < 0 && b.id < 0) return {};
            if (b.id < 0) return {a.id, a.slope * ka};
            if (a.id < 0) return {b.id, b.slope * kb};
            int slope = a.slope * ka + b.slope * kb;
            if (a.id != b.id || slope != 0) ok = false;
            return {};
        };
        auto passThrough = [&](unsigned src, bool identity) -> SymVal {
            SymVal v = sv(src);
            if (v.id >= 0 && !identity) ok = false;
            return identity ? v : SymVal{};
        };
        auto plain = [&](std::initializer_list<unsigned> srcs) {
            for (unsigned reg : srcs) {
                use(reg);
                if (sv(reg).id >= 0) ok = false;
            }
        };
        auto branchOn = [&](unsigned reg, bool taken, Interval (*setFor)(bool)) {
            use(reg);
            if (sv(reg).id >= 0) constrain(reg, setFor(taken));
        };
        int32_t srs = int32_t(R[d.rs]);

        switch (d.op) {
            case kNop: case kB: case kSpin: case kJ: break;
            case kJal: def(31); break;
            case kJr: plain({d.rs}); break;
            case kJalr: plain({d.rs}); def(d.rd); break;
            case kAddu: use(d.rs); use(d.rt); def(d.rd, combine(sv(d.rs), 1, sv(d.rt), 1)); break;
            case kSubu: use(d.rs); use(d.rt); def(d.rd, combine(sv(d.rs), 1, sv(d.rt), -1)); break;
            case kAddiu: use(d.rs); def(d.rd, sv(d.rs)); break;
            case kOr:
            case kXor: {
                use(d.rs);
                use(d.rt);
                SymVal a = sv(d.rs), b = sv(d.rt);
                if (a.id >= 0 && b.id >= 0) ok = false;
                SymVal v = a.id >= 0 ? (R[d.rt] == 0 ? a : (ok = false, SymVal{}))
                                     : b.id >= 0 ? (R[d.rs] == 0 ? b : (ok = false, SymVal{})) : SymVal{};
                def(d.rd, v);
                break;
            }
            case kAnd: {
                use(d.rs);
                use(d.rt);
                SymVal a = sv(d.rs), b = sv(d.rt);
                if (a.id >= 0 && b.id >= 0) ok = false;
                SymVal v{};
                if (a.id >= 0) v = R[d.rt] == 0xFFFFFFFFu ? a : R[d.rt] == 0 ? SymVal{} : (ok = false, SymVal{});
                if (b.id >= 0) v = R[d.rs] == 0xFFFFFFFFu ? b : R[d.rs] == 0 ? SymVal{} : (ok = false, SymVal{});
                def(d.rd, v);
                break;
            }
            case kOri: case kXori: use(d.rs); def(d.rd, passThrough(d.rs, d.imm == 0)); break;
            case kAndi: plain({d.rs}); def(d.rd); break;
            case kSll: case kSrl: case kSra: case kRotr: use(d.rt); def(d.rd, passThrough(d.rt, d.sa == 0)); break;
            case kLui: def(d.rd); break;
            case kSlt:
            case kSltu: {
                use(d.rs);
                use(d.rt);
                SymVal a = sv(d.rs), b = sv(d.rt);
                bool isSigned = d.op == kSlt;
                bool outcome = isSigned ? int32_t(R[d.rs]) < int32_t(R[d.rt]) : R[d.rs] < R[d.rt];
                if (a.id >= 0) compare(R[d.rt], b.id >= 0, isSigned, true, outcome, d.rs);
                else if (b.id >= 0) compare(R[d.rs], false, isSigned, false, outcome, d.rt);
                def(d.rd);
                break;
            }
            case kSlti:
            case kSltiu: {
                use(d.rs);
                bool isSigned = d.op == kSlti;
                bool outcome = isSigned ? srs < int32_t(d.imm) : R[d.rs] < d.imm;
                if (sv(d.rs).id >= 0) compare(d.imm, false, isSigned, true, outcome, d.rs);
                def(d.rd);
                break;
            }
            case kMovz:
            case kMovn: {
                use(d.rs);
                use(d.rt);
                use(d.rd);
                bool zero = R[d.rt] == 0;
                bool moved = d.op == kMovz ? zero : !zero;
                if (sv(d.rt).id >= 0) constrain(d.rt, equalTo(0, zero));
                def(d.rd, moved ? sv(d.rs) : sv(d.rd));
                break;
            }
            case kBeq: case kBne: case kBeql: case kBnel: {
                use(d.rs);
                use(d.rt);
                SymVal a = sv(d.rs), b = sv(d.rt);
                bool equal = R[d.rs] == R[d.rt];
                if (a.id >= 0 && b.id >= 0) {
                    if (a.id != b.id || a.slope != b.slope) ok = false;  // else the difference is fixed
                } else if (a.id >= 0) {
                    constrain(d.rs, equalTo(R[d.rt], equal));
                } else if (b.id >= 0) {
                    constrain(d.rt, equalTo(R[d.rs], equal));
                }
                break;
            }
            case kBltz: case kBltzl:
                branchOn(d.rs, srs < 0, [](bool t) { return t ? Interval{0x80000000u, 1ull << 31} : Interval{0, 1ull << 31}; });
                break;
            case kBgez: case kBgezl:
                branchOn(d.rs, srs >= 0, [](bool t) { return t ? Interval{0, 1ull << 31} : Interval{0x80000000u, 1ull << 31}; });
                break;
            case kBlez: case kBlezl:
                branchOn(d.rs, srs <= 0, [](bool t) { return t ? Interval{0x80000000u, (1ull << 31) + 1} : Interval{1, (1ull << 31) - 1}; });
                break;
            case kBgtz: case kBgtzl:
                branchOn(d.rs, srs > 0, [](bool t) { return t ? Interval{1, (1ull << 31) - 1} : Interval{0x80000000u, (1ull << 31) + 1}; });
                break;
            case kBltzal: case kBltzall:
                branchOn(d.rs, srs < 0, [](bool t) { return t ? Interval{0x80000000u, 1ull << 31} : Interval{0, 1ull << 31}; });
                def(31);
                break;
            case kBgezal: case kBgezall:
                branchOn(d.rs, srs >= 0, [](bool t) { return t ? Interval{0, 1ull << 31} : Interval{0x80000000u, 1ull << 31}; });
                def(31);
                break;
            case kSllv: case kSrlv: case kSrav: case kRotrv: case kNor: case kMul:
                plain({d.rs, d.rt});
                def(d.rd);
                break;
            case kClz: case kClo: case kExt: plain({d.rs}); def(d.rd); break;
            case kIns: plain({d.rs, d.rt}); def(d.rd); break;
            case kWsbh: case kSeb: case kSeh: plain({d.rt}); def(d.rd); break;
            case kMfhi: use(kHi); def(d.rd); break;
            case kMflo: use(kLo); def(d.rd); break;
            case kMthi: plain({d.rs}); def(kHi); break;
            case kMtlo: plain({d.rs}); def(kLo); break;
            case kMult: case kMultu: case kDiv: case kDivu:
                plain({d.rs, d.rt});
                def(kHi);
                def(kLo);
                break;
            case kMadd: case kMaddu: case kMsub: case kMsubu:
                plain({d.rs, d.rt});
                use(kHi);
                use(kLo);
                def(kHi);
                def(kLo);
                break;
            case kLb: case kLbu: case kLh: case kLhu: case kLw: case kLwl: case kLwr: {
                plain({d.rs});
                if (d.op == kLwl || d.op == kLwr) plain({d.rt});
                uint32_t a = R[d.rs] + d.imm, p;
                if (!toPhysical(a, p)) {
                    ok = false;
                    break;
                }
                if (mem_.layout().regionOf(p, 1) == Region::Sfr) {
                    if (!stableSfr(p) || nextInput >= inputs_.size() || inputs_[nextInput].step != i ||
                        inputs_[nextInput].count) {
                        ok = false;
                        break;
                    }
                    ++nextInput;
                }
                def(d.rd);
                break;
            }
            case kMfc0Count:
            case kRdhwr: {
                if (d.op == kRdhwr && d.sa != 2) {
                    def(d.rd);
                    break;
                }
                if (nextInput >= inputs_.size() || inputs_[nextInput].step != i || !inputs_[nextInput].count) {
                    ok = false;
                    break;
                }
                const Input& in = inputs_[nextInput++];
                symbols.push_back({in.value, in.time, 1ull << 32});
                def(d.rd, SymVal{int(symbols.size() - 1), 1});
                break;
            }
            case kMfc0: def(d.rd); break;
            default: ok = false; break;  // stores, CP0 writes, traps, anything with an effect
        }
    }
    if (!ok || nextInput != inputs_.size()) return fail();

    // Every register the pass reads before writing is as the pass found it.
    for (unsigned reg = 1; reg < 35; ++reg) {
        if (reg == kScratchReg || !(liveIn >> reg & 1)) continue;
        uint32_t before = reg == kHi ? first.hi : reg == kLo ? first.lo : first.regs[reg];
        uint32_t after = reg == kHi ? hi_ : reg == kLo ? lo_ : regs_[reg];
        if (before != after) return fail();
    }

    // Passes after the last recorded one (j = 1, 2, ...) take the same way while every Count
    // read stays in its intervals; pass j reads Count at time + j x period.
    uint64_t exitPass = UINT64_MAX;
    for (const Symbol& c : symbols) {
        if (c.distance >= (1ull << 32)) continue;
        uint64_t need = 2 * (c.time / 2) + 2 * c.distance - c.time;  // cycles until Count has moved `distance`
        exitPass = std::min(exitPass, (need + period - 1) / period);
    }
    Cycles limit = std::min(until, board_.sched.nextEventTime());
    uint64_t skip = limit > cycles_ ? (limit - cycles_) / period : 0;
    if (exitPass != UINT64_MAX) skip = std::min(skip, exitPass >= 2 ? exitPass - 2 : 0);
    skip = std::min<uint64_t>(skip, (1ull << 40) / period);
    backoff_.erase(trig);
    if (skip == 0) return;
    cycles_ += skip * period;
    ++stats_.fastForwards;
    stats_.skippedInstructions += skip * len;
    stats_.skippedCycles += skip * period;
}

}  // namespace sim
