#include "sim/chip/intc.h"

namespace sim {

Intc::Intc(SfrBus& bus) {
    intcon_ = &bus.add("INTCON", 0xBF881000, 0).writable(0x0000171F);
    bus.add("INTSTAT", 0xBF881010, 0).writable(0).onRead([this](uint32_t) {
        auto r = pending();
        return r ? (r->priority << 8) | (r->vector & 0x3F) : 0u;
    });
    bus.add("IPTMR", 0xBF881020, 0);
    for (unsigned w = 0; w < 2; ++w) {
        ifs_[w] = &bus.add(w ? "IFS1" : "IFS0", 0xBF881030 + 0x10 * w, 0).onWrite(
            [this, w](uint32_t before, uint32_t after) { flagsWritten(w, before, after); });
        iec_[w] = &bus.add(w ? "IEC1" : "IEC0", 0xBF881060 + 0x10 * w, 0);
    }
    for (unsigned n = 0; n < 12; ++n) {
        if (n == 10) continue;  // IPC10 is absent on this family
        ipc_[n] = &bus.add("IPC" + std::to_string(n), 0xBF881090 + 0x10 * n, 0).writable(0x1F1F1F1F);
    }
}

void Intc::flagsWritten(unsigned word, uint32_t before, uint32_t after) {
    uint32_t cleared = before & ~after;
    if (!cleared) return;
    for (auto& [irq, fn] : clearedHooks_)
        if (irq / 32 == word && (cleared >> (irq % 32) & 1u)) fn();
}

void Intc::raise(unsigned irq) { ifs_[irq / 32]->hwSet(1u << (irq % 32)); }
void Intc::lower(unsigned irq) { ifs_[irq / 32]->hwClear(1u << (irq % 32)); }
bool Intc::flag(unsigned irq) const { return ifs_[irq / 32]->bit(irq % 32); }
bool Intc::enabled(unsigned irq) const { return iec_[irq / 32]->bit(irq % 32); }
bool Intc::multiVector() const { return intcon_->bit(12); }

int Intc::vectorOf(unsigned irq) {
    static const int8_t table[64] = {
        0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15,   // 0..15
        16, 17, 18, 19, 20, 21, 22, 23, 23, 23, 24, 24, 24, 25, 25, 25,   // 16..31
        26, 27, 28, 29, 30, 31, 31, 31, 32, 32, 32, 33, 33, 33, 34, 35,   // 32..47
        36, 37, 38, 39, -1, -1, -1, -1, 44, 45, -1, -1, -1, -1, -1, -1};  // 48..63
    return irq < 64 ? table[irq] : -1;
}

unsigned Intc::priorityOf(unsigned vector) const {
    const Register* r = ipc_[vector / 4];
    return r ? r->field(8 * (vector % 4) + 2, 3) : 0;
}

unsigned Intc::subPriorityOf(unsigned vector) const {
    const Register* r = ipc_[vector / 4];
    return r ? r->field(8 * (vector % 4), 2) : 0;
}

std::optional<InterruptRequest> Intc::pending() const {
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
