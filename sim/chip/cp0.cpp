#include "sim/chip/cp0.h"

#include "sim/chip/intc.h"

namespace sim {

namespace {
constexpr unsigned key(unsigned reg, unsigned sel) { return reg * 8 + sel; }

constexpr uint32_t kCauseBD = 1u << 31, kCauseIV = 1u << 23, kCauseRIPL = 0x3Fu << 10, kCauseExc = 0x1Fu << 2,
                   kCauseCE = 3u << 28;
constexpr uint32_t kDebugDM = 1u << 30, kDebugDBD = 1u << 31, kDebugDBp = 1u << 1;
constexpr unsigned kIntCtl = key(12, 1), kEBase = key(15, 1);

constexpr uint32_t returnAddress(uint32_t pc, bool delaySlot) { return delaySlot ? pc - 4 : pc; }
}  // namespace

Cp0::Cp0(Scheduler& sched, Intc& intc) : sched_(sched), intc_(intc) { reset(); }

void Cp0::reset() {
    if (compareEvent_) sched_.cancel(compareEvent_);
    compareEvent_ = 0;
    status_ = status::BEV | status::ERL;
    cause_ = 0;
    other_.clear();
    other_[key(15, 0)] = 0x00018765;            // PRId: MIPS Technologies, M4K
    other_[key(15, 1)] = 0x80000000;            // EBase
    other_[key(16, 0)] = 0x80000082;            // Config: Config1 present, K0 = uncached
    other_[key(16, 1)] = 0x00000000;
    countOffset_ = 0 - uint32_t(sched_.now() / 2);
    compare_ = 0;
}

uint32_t Cp0::count() const { return countOffset_ + uint32_t(sched_.now() / 2); }

bool Cp0::accepts(unsigned priority) const {
    return (status_ & status::IE) && !(status_ & (status::EXL | status::ERL)) && priority > ipl();
}

void Cp0::scheduleCompare() {
    if (compareEvent_) sched_.cancel(compareEvent_);
    uint32_t delta = compare_ - count();
    uint64_t ticks = delta ? delta : (1ull << 32);
    Cycles when = (sched_.now() / 2 + ticks) * 2;
    compareEvent_ = sched_.at(when, [this] {
        compareEvent_ = 0;
        intc_.raise(irq::CoreTimer);
        scheduleCompare();
    });
}

uint32_t Cp0::read(unsigned reg, unsigned sel) {
    if (sel == 0) switch (reg) {
            case cp0reg::Count: return count();
            case cp0reg::Compare: return compare_;
            case cp0reg::Status: return status_;
            case cp0reg::Cause: return cause_;
        }
    auto it = other_.find(key(reg, sel));
    return it == other_.end() ? 0 : it->second;
}

void Cp0::write(unsigned reg, unsigned sel, uint32_t v) {
    if (sel == 0) switch (reg) {
            case cp0reg::Count:
                countOffset_ = v - uint32_t(sched_.now() / 2);
                scheduleCompare();
                return;
            case cp0reg::Compare:
                compare_ = v;
                intc_.lower(irq::CoreTimer);  // writing Compare acknowledges the timer
                scheduleCompare();
                return;
            case cp0reg::Status: status_ = v & 0x1A78FF17u; return;
            case cp0reg::Cause: cause_ = (cause_ & ~0x08C00300u) | (v & 0x08C00300u); return;  // DC, IV, IP1..0
        }
    if ((reg == cp0reg::BadVAddr && sel == 0) || (reg == 15 && sel == 0) || (reg == 16 && sel >= 1) ||
        (reg == 12 && sel == 2))
        return;  // read-only: BadVAddr, PRId, Config1..3, SRSCtl (no shadow register sets)
    if (reg == 12 && sel == 1) v = (other_[key(12, 1)] & ~0x3E0u) | (v & 0x3E0u);  // IntCtl: VS only
    if (reg == 15 && sel == 1) v = 0x80000000u | (v & 0x3FFFF000u);  // EBase: bits 29:12 writable
    if (reg == 16 && sel == 0) v = (other_[key(16, 0)] & ~7u) | (v & 7u);  // Config: K0 only
    other_[key(reg, sel)] = v;
}

void Cp0::hwWrite(unsigned reg, unsigned sel, uint32_t v) { other_[key(reg, sel)] = v; }

uint32_t Cp0::generalVector() const {
    if (status_ & status::BEV) return vectors::Bootstrap;
    return (kept(kEBase) & 0xFFFFF000u) + 0x180;
}

uint32_t Cp0::interruptVector(unsigned vector) const {
    if (!(cause_ & kCauseIV) || (status_ & status::BEV)) return generalVector();
    uint32_t spacing = ((kept(kIntCtl) >> 5) & 0x1F) << 5;  // IntCtl.VS x 32 bytes
    return (kept(kEBase) & 0xFFFFF000u) + 0x200 + vector * spacing;
}

uint32_t Cp0::enterException(unsigned code, uint32_t pc, bool delaySlot, uint32_t badVAddr, unsigned unit) {
    if (code == exc::AdEL || code == exc::AdES) hwWrite(cp0reg::BadVAddr, 0, badVAddr);
    uint32_t cause = (cause_ & ~(kCauseExc | kCauseCE)) | code << 2;
    if (code == exc::CpU) cause |= (unit & 3) << 28;
    if (!(status_ & status::EXL)) {
        hwWrite(cp0reg::EPC, 0, returnAddress(pc, delaySlot));
        cause = delaySlot ? cause | kCauseBD : cause & ~kCauseBD;
    }
    cause_ = cause;
    status_ |= status::EXL;
    return generalVector();
}

uint32_t Cp0::enterInterrupt(unsigned vector, unsigned priority, uint32_t pc, bool delaySlot) {
    uint32_t cause = cause_ & ~(kCauseExc | kCauseRIPL | kCauseBD | kCauseCE);
    cause |= (priority & 0x3F) << 10;
    if (delaySlot) cause |= kCauseBD;
    hwWrite(cp0reg::EPC, 0, returnAddress(pc, delaySlot));
    cause_ = cause;
    status_ |= status::EXL;
    return interruptVector(vector);
}

uint32_t Cp0::enterNmi(uint32_t pc, bool delaySlot) {
    hwWrite(cp0reg::ErrorEPC, 0, returnAddress(pc, delaySlot));
    status_ = (status_ & ~status::SR) | status::BEV | status::NMI | status::ERL;
    return vectors::Reset;
}

uint32_t Cp0::enterDebug(uint32_t pc, bool delaySlot) {
    uint32_t dbg = read(cp0reg::Debug, 0) & ~(kDebugDBD | 0x3Fu);
    dbg |= kDebugDM | kDebugDBp | (delaySlot ? kDebugDBD : 0);
    hwWrite(cp0reg::Debug, 0, dbg);
    hwWrite(cp0reg::DEPC, 0, returnAddress(pc, delaySlot));
    return vectors::Debug;
}

uint32_t Cp0::exceptionReturn() {
    if (status_ & status::ERL) {
        status_ &= ~status::ERL;
        return read(cp0reg::ErrorEPC, 0);
    }
    status_ &= ~status::EXL;
    return read(cp0reg::EPC, 0);
}

uint32_t Cp0::debugReturn() {
    hwWrite(cp0reg::Debug, 0, read(cp0reg::Debug, 0) & ~kDebugDM);
    return read(cp0reg::DEPC, 0);
}

}  // namespace sim
