// Coprocessor 0 of the M4K core as the board sees it: Count at half the system clock,
// Compare raising the core-timer request, and the registers start-up code programs.
#pragma once
#include <cstdint>
#include <map>

#include "sim/chip/model.h"
#include "sim/time/scheduler.h"

namespace sim {

class Intc;

namespace cp0reg {
constexpr unsigned BadVAddr = 8, Count = 9, Compare = 11, Status = 12, Cause = 13, EPC = 14, PRId = 15, Config = 16,
                   Debug = 23, DEPC = 24, ErrorEPC = 30;
}  // namespace cp0reg

namespace status {
constexpr uint32_t IE = 1u << 0, EXL = 1u << 1, ERL = 1u << 2, IPL_SHIFT = 10, IPL_MASK = 0x3Fu << 10,
                   NMI = 1u << 19, SR = 1u << 20, BEV = 1u << 22;
}  // namespace status

class Cp0 : public Model {
public:
    Cp0(Scheduler& sched, Intc& intc);

    uint32_t read(unsigned reg, unsigned sel);
    void write(unsigned reg, unsigned sel, uint32_t value);

    uint32_t count() const;
    // Count at time `t` (the core runs ahead of the scheduler between its events).
    uint32_t countAt(Cycles t) const { return countOffset_ + uint32_t(t / 2); }
    // Hardware update of a register the core sets itself (EPC, ErrorEPC, BadVAddr, DEPC,
    // Debug), past the software write masks.
    void hwWrite(unsigned reg, unsigned sel, uint32_t value);
    uint32_t status() const { return status_; }
    void setStatus(uint32_t v) { status_ = v; }
    uint32_t cause() const { return cause_; }
    void setCause(uint32_t v) { cause_ = v; }
    uint32_t ipl() const { return (status_ & status::IPL_MASK) >> status::IPL_SHIFT; }
    // The core would take an interrupt of `priority` now.
    bool accepts(unsigned priority) const;

    void reset() override;

private:
    Scheduler& sched_;
    Intc& intc_;
    uint32_t countOffset_ = 0;
    uint32_t compare_ = 0;
    uint32_t status_ = 0, cause_ = 0;
    Scheduler::Id compareEvent_ = 0;
    std::map<unsigned, uint32_t> other_;  // registers kept as written (EPC, EBase, IntCtl, ...)
    void scheduleCompare();
};

}  // namespace sim
