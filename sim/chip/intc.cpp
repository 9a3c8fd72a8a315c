#include "sim/chip/intc.h"

namespace sim {

Intc::Intc(SfrBus& bus) {
    intcon_ = &bus.add(reg::INTCON).writable((INTCON_INTEP | INTCON_TPC | INTCON_MVEC).value).onWrite([this](uint32_t, uint32_t) {
        cacheValid_ = false;
    });
    bus.add(reg::INTSTAT).writable(0).onRead([this](uint32_t) {
        auto r = pending();
        return r ? (INTSTAT_SRIPL(r->priority) | INTSTAT_VEC(r->vector)).value : 0u;
    });
    bus.add(reg::IPTMR);
    for (unsigned w = 0; w < 2; ++w) {
        ifs_[w] = &bus.add(w ? reg::IFS1 : reg::IFS0).onWrite(
            [this, w](uint32_t before, uint32_t after) { flagsWritten(w, before, after); });
        iec_[w] = &bus.add(w ? reg::IEC1 : reg::IEC0);
    }
    for (unsigned n = 0; n < 12; ++n) {
        if (!platform::kIpcAddress[n]) continue;  // IPC10 is absent on this family
        // Priority and sub-priority of four vectors, five bits in each byte.
        ipc_[n] = &bus.add(reg::named("IPC" + std::to_string(n))).writable(0x1F1F1F1F).onWrite([this](uint32_t, uint32_t) {
            cacheValid_ = false;
        });
    }
}

void Intc::flagsWritten(unsigned word, uint32_t before, uint32_t after) {
    uint32_t cleared = before & ~after;
    if (!cleared) return;
    for (auto& [irq, fn] : clearedHooks_)
        if (irq / 32 == word && (cleared >> (irq % 32) & 1u)) fn();
}

void Intc::raise(unsigned irq) {
    bool was = flag(irq);
    ifs_[irq / 32]->hwSet(1u << (irq % 32));
    if (!was && onRaise) onRaise(irq);
}
void Intc::lower(unsigned irq) { ifs_[irq / 32]->hwClear(1u << (irq % 32)); }
bool Intc::flag(unsigned irq) const { return ifs_[irq / 32]->bit(irq % 32); }
bool Intc::enabled(unsigned irq) const { return iec_[irq / 32]->bit(irq % 32); }
bool Intc::multiVector() const { return intcon_->bit(INTCON_MVEC); }

int Intc::vectorOf(unsigned irq) { return platform::vectorOfRequest(irq); }

unsigned Intc::priorityOf(unsigned vector) const {
    const Register* r = ipc_[vector / 4];
    return r ? (r->value() >> platform::priorityShift(vector)) & platform::kPriorityMask : 0;
}

unsigned Intc::subPriorityOf(unsigned vector) const {
    const Register* r = ipc_[vector / 4];
    return r ? (r->value() >> platform::subPriorityShift(vector)) & platform::kSubPriorityMask : 0;
}

std::optional<InterruptRequest> Intc::pending() const {
    uint32_t a0 = ifs_[0]->value() & iec_[0]->value(), a1 = ifs_[1]->value() & iec_[1]->value();
    if (cacheValid_ && a0 == cachedActive_[0] && a1 == cachedActive_[1]) return cached_;
    cached_ = choose();
    cachedActive_[0] = a0;
    cachedActive_[1] = a1;
    cacheValid_ = true;
    return cached_;
}

std::optional<InterruptRequest> Intc::choose() const {
    std::optional<InterruptRequest> best;
    for (unsigned w = 0; w < 2; ++w) {
        uint32_t active = ifs_[w]->value() & iec_[w]->value();
        while (active) {
            unsigned bit = __builtin_ctz(active);
            active &= active - 1;
            int v = vectorOf(32 * w + bit);
            if (v < 0) continue;
            InterruptRequest r{unsigned(v), priorityOf(v), subPriorityOf(v)};
            if (r.priority == 0) continue;  // priority 0 disables the vector
            if (!best || r.priority > best->priority ||
                (r.priority == best->priority && (r.subPriority > best->subPriority ||
                                                  (r.subPriority == best->subPriority && r.vector < best->vector))))
                best = r;
        }
    }
    if (best && !multiVector()) best->vector = 0;  // single-vector mode: one entry for all
    return best;
}

}  // namespace sim
