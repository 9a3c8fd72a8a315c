// Type B timer (Timer2..Timer5), 16-bit: counts PBCLK / prescaler up to PRx, then
// restarts from 0 and raises its interrupt flag.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "sim/chip/model.h"
#include "sim/time/scheduler.h"
#include "sim/chip/sfr_bus.h"

namespace sim {

class Intc;

class TypeBTimer : public Model {
public:
    TypeBTimer(unsigned index, unsigned irq, SfrBus& bus, Scheduler& sched, Intc& intc,
               std::function<unsigned()> pbdiv);

    uint32_t count() const;
    // System-clock cycles per timer count.
    Cycles tickCycles() const;

    void reset() override;
    void clockChanged() override { rebase(count()); }

private:
    unsigned irq_;
    Scheduler& sched_;
    Intc& intc_;
    std::function<unsigned()> pbdiv_;
    Register *con_, *tmr_, *pr_;
    uint32_t baseCount_ = 0;
    Cycles baseTime_ = 0;
    Scheduler::Id event_ = 0;

    bool on() const { return con_->bit(T2CON_ON); }
    void rebase(uint32_t count);
};

}  // namespace sim
