// Exception, interrupt, NMI and debug entry, eret and deret, reset, and the core's side of
// coprocessor 0.
#include "sim/core/core_internal.h"

namespace sim {

void MipsCore::reset() { coreReset(); }

void MipsCore::coreReset() {
    jump(vectors::Reset);
    entryOpen_ = false;
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
// Exceptions and interrupts: CP0 makes the entry (sim::Cp0::enterException and the like),
// the core goes to the vector and pays for it.

void MipsCore::jump(uint32_t target) {
    pc_ = target;
    npc_ = target + 4;
    slot_ = false;
}

void MipsCore::exception(unsigned code, uint32_t badVAddr) {
    Cycles& cyc = slowClock_;
    noteEntry(pcCountNow_, cyc, code, -1, curPc_, curSlot_, badVAddr, board_.cp0.status());
    jump(board_.cp0.enterException(code, curPc_, curSlot_, badVAddr, cpUnit_));
    cyc += timing_.exception;
    ++stats_.exceptions;
}

void MipsCore::takeInterrupt(unsigned vector, unsigned priority) {
    noteEntry(pcCount_, cycles_, exc::Int, int(vector), slot_ ? pc_ - 4 : pc_, slot_, 0, board_.cp0.status());
    if (dbg_.onInterrupt) dbg_.onInterrupt(cycles_, vector, priority, entry_.epc);
    jump(board_.cp0.enterInterrupt(vector, priority, pc_, slot_));
    waiting_ = false;
    cycles_ += timing_.exception;
    ++stats_.exceptions;
    ++stats_.interrupts;
}

void MipsCore::debugException() {
    Cycles& cyc = slowClock_;
    jump(board_.cp0.enterDebug(curPc_, curSlot_));
    debugMode_ = true;
    cyc += timing_.exception;
    ++stats_.exceptions;
}

void MipsCore::eret(Cycles cyc) {
    entryOpen_ = false;
    jump(board_.cp0.exceptionReturn());
    if (dbg_.onReturn) dbg_.onReturn(cyc, pc_);
    llbit_ = false;
    limit_ = 0;  // interrupts may be taken again
}

void MipsCore::deret() {
    jump(board_.cp0.debugReturn());
    debugMode_ = false;
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
        jump(board_.cp0.enterNmi(pc_, slot_));
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
