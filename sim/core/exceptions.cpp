// Exception, interrupt, NMI and debug entry, eret and deret, reset, and the core's side of
// coprocessor 0.
#include "sim/core/core_internal.h"

namespace sim {

namespace {

constexpr uint32_t kBootstrapVector = 0xBFC00380u;
constexpr uint32_t kDebugVector = 0xBFC00480u;

constexpr uint32_t kCauseBD = 1u << 31, kCauseIV = 1u << 23, kCauseRIPL = 0x3Fu << 10, kCauseExc = 0x1Fu << 2,
                   kCauseCE = 3u << 28;
constexpr uint32_t kDebugDM = 1u << 30, kDebugDBD = 1u << 31, kDebugDBp = 1u << 1;

}  // namespace

void MipsCore::reset() { coreReset(); }

void MipsCore::coreReset() {
    pc_ = core::kResetVector;
    npc_ = pc_ + 4;
    slot_ = false;
    llbit_ = false;
    debugMode_ = false;
    waiting_ = false;
    mduReady_ = divBusy_ = cycles_;
    timing_.lastFetchLine = 0xFFFFFFFF;
    trigPc_ = 0;
    ffRequest_ = false;
    refreshTiming();
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
    cyc += timing_.exception;
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
    cycles_ += timing_.exception;
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
    cyc += timing_.exception;
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
        pc_ = core::kResetVector;
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

}  // namespace sim
