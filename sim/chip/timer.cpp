#include "sim/chip/timer.h"

#include "sim/chip/intc.h"

namespace sim {

TypeBTimer::TypeBTimer(unsigned index, unsigned irq, SfrBus& bus, Scheduler& sched, Intc& intc,
                       std::function<unsigned()> pbdiv)
    : irq_(irq), sched_(sched), intc_(intc), pbdiv_(std::move(pbdiv)) {
    std::string n = std::to_string(index);
    con_ = &bus.add(reg::named("T" + n + "CON")).writable(0xA0FA);
    // The count is worked out from the time when it is read, not kept up by events.
    tmr_ = &bus.add(reg::named("TMR" + n)).writable(0xFFFF).changesWithTime();
    pr_ = &bus.add(reg::named("PR" + n), 0xFFFF).writable(0xFFFF);
    // The control register is written after the count it froze or let run was taken.
    con_->onWrite([this](uint32_t before, uint32_t) {
        bool wasOn = before & T2CON_ON.mask;
        uint32_t c = baseCount_;
        if (wasOn) {
            uint32_t saved = con_->value();
            con_->hwWrite(before);
            c = count();
            con_->hwWrite(saved);
        }
        rebase(c);
    });
    tmr_->onWrite([this](uint32_t, uint32_t v) { rebase(v); });
    tmr_->onRead([this](uint32_t) { return count(); });
    pr_->onWrite([this](uint32_t, uint32_t) { rebase(count()); });
}

Cycles TypeBTimer::tickCycles() const {
    static const unsigned prescale[8] = {1, 2, 4, 8, 16, 32, 64, 256};
    return Cycles(prescale[con_->field(T2CON_TCKPS)]) << pbdiv_();
}

uint32_t TypeBTimer::count() const {
    if (!on()) return baseCount_;
    uint64_t ticks = (sched_.now() - baseTime_) / tickCycles();
    uint64_t period = uint64_t(pr_->value()) + 1;
    if (baseCount_ > pr_->value()) {  // above the period: counts up to 0xFFFF and wraps to 0 first
        uint64_t toWrap = 0x10000 - baseCount_;
        if (ticks < toWrap) return uint32_t(baseCount_ + ticks);
        return uint32_t((ticks - toWrap) % period);
    }
    return uint32_t((baseCount_ + ticks) % period);
}

void TypeBTimer::rebase(uint32_t c) {
    if (event_) sched_.cancel(event_);
    event_ = 0;
    baseCount_ = c & 0xFFFF;
    // Keep the phase within the current count so that reads in between stay exact.
    Cycles tick = tickCycles();
    baseTime_ = sched_.now();
    tmr_->hwWrite(baseCount_);
    if (!on()) return;
    uint32_t pr = pr_->value();
    uint64_t ticksToRollover = baseCount_ <= pr ? uint64_t(pr) + 1 - baseCount_ : 0x10000 - baseCount_;
    event_ = sched_.at(baseTime_ + ticksToRollover * tick, [this] {
        event_ = 0;
        if (baseCount_ <= pr_->value()) intc_.raise(irq_);  // TMR matched PR and restarted
        rebase(0);
    });
}

void TypeBTimer::reset() {
    if (event_) sched_.cancel(event_);
    event_ = 0;
    baseCount_ = 0;
    baseTime_ = sched_.now();
}

}  // namespace sim
