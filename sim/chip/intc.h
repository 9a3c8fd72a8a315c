// Interrupt controller of the PIC32MX3xx/4xx: IFS/IEC flags and enables, IPC priorities,
// multi-vector mode, and the request the core sees.
#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "platform/interrupts.h"
#include "sim/chip/model.h"
#include "sim/chip/sfr_bus.h"

namespace sim {

// Interrupt request bits (IFS/IEC bit n; n >= 32 is IFS1/IEC1 bit n - 32), from the
// interrupt-source table.
namespace irq = ::platform::irq;

struct InterruptRequest {
    unsigned vector;
    unsigned priority;
    unsigned subPriority;
};

class Intc : public Model {
public:
    explicit Intc(SfrBus& bus);

    void raise(unsigned irq);
    // A model set a request flag that was clear (for traces).
    std::function<void(unsigned irq)> onRaise;
    void lower(unsigned irq);
    bool flag(unsigned irq) const;
    bool enabled(unsigned irq) const;

    // Hardware vector of an interrupt request bit, or -1 where the bit has no source.
    static int vectorOf(unsigned irq);
    unsigned priorityOf(unsigned vector) const;
    unsigned subPriorityOf(unsigned vector) const;
    bool multiVector() const;

    // Highest request: priority, then sub-priority, then lowest vector number. Worked out
    // again only when a flag, an enable, a priority or the vector mode has changed since.
    std::optional<InterruptRequest> pending() const;

    // Called when software clears the flag (level-type sources set it again).
    void onFlagCleared(unsigned irq, std::function<void()> fn) { clearedHooks_.push_back({irq, std::move(fn)}); }

private:
    Register* ifs_[2];
    Register* iec_[2];
    Register* ipc_[16] = {};
    Register* intcon_;
    std::vector<std::pair<unsigned, std::function<void()>>> clearedHooks_;
    void flagsWritten(unsigned word, uint32_t before, uint32_t after);
    std::optional<InterruptRequest> choose() const;

    // The last answer of pending(), for the active flags it was worked out from; a write
    // to an IPC register or to INTCON throws it away.
    mutable std::optional<InterruptRequest> cached_;
    mutable uint32_t cachedActive_[2] = {};
    mutable bool cacheValid_ = false;
};

}  // namespace sim
