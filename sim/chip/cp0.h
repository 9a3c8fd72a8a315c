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

// Cause.ExcCode values.
namespace exc {
constexpr unsigned Int = 0, AdEL = 4, AdES = 5, IBE = 6, DBE = 7, Sys = 8, Bp = 9, RI = 10, CpU = 11, Ov = 12, Tr = 13;
}

// Fixed entry points in boot flash (KSEG1).
namespace vectors {
constexpr uint32_t Reset = 0xBFC00000u, Bootstrap = 0xBFC00380u, Debug = 0xBFC00480u;
}

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

    // Exception entry as the core's hardware makes it, for every processor that drives the
    // board. Each sets the registers and returns the address execution goes on at. `pc` is
    // the instruction that raised it or was interrupted; in a branch delay slot
    // (`delaySlot`) the return address is its branch, with Cause.BD (Debug.DBD).
    //
    // General exception `code`: Cause.ExcCode, Cause.CE = `unit` for CpU, BadVAddr =
    // `badVAddr` for an address error; EPC and BD unless Status.EXL is already set (a
    // nested exception keeps the first one's return address); then EXL.
    uint32_t enterException(unsigned code, uint32_t pc, bool delaySlot, uint32_t badVAddr = 0, unsigned unit = 0);
    // Interrupt (external controller mode) of `priority` through `vector`: Cause.RIPL,
    // ExcCode Int, BD, EPC, EXL.
    uint32_t enterInterrupt(unsigned vector, unsigned priority, uint32_t pc, bool delaySlot);
    // Non-maskable interrupt: ErrorEPC, Status ERL, NMI and BEV, SR cleared; the reset vector.
    uint32_t enterNmi(uint32_t pc, bool delaySlot);
    // Debug exception (sdbbp): Debug.DM and DBp, DEPC.
    uint32_t enterDebug(uint32_t pc, bool delaySlot);
    // eret: clears ERL and returns ErrorEPC, or clears EXL and returns EPC.
    uint32_t exceptionReturn();
    // deret: leaves debug mode and returns DEPC.
    uint32_t debugReturn();

    // General exception entry: EBase + 0x180, 0xBFC00380 while Status.BEV = 1.
    uint32_t generalVector() const;
    // Entry of interrupt `vector`: EBase + 0x200 + vector x IntCtl.VS x 32 bytes with
    // Cause.IV = 1 and Status.BEV = 0, else the general exception entry.
    uint32_t interruptVector(unsigned vector) const;

    void reset() override;

private:
    Scheduler& sched_;
    Intc& intc_;
    uint32_t countOffset_ = 0;
    uint32_t compare_ = 0;
    uint32_t status_ = 0, cause_ = 0;
    Scheduler::Id compareEvent_ = 0;
    std::map<unsigned, uint32_t> other_;  // registers kept as written (EPC, EBase, IntCtl, ...)
    uint32_t kept(unsigned key) const {
        auto it = other_.find(key);
        return it == other_.end() ? 0 : it->second;
    }
    void scheduleCompare();
};

}  // namespace sim
