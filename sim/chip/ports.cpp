#include "sim/chip/ports.h"

namespace sim {

Ports::Ports(SfrBus& bus, Nets& nets) {
    for (unsigned k = 0; k < kPorts; ++k) {
        char p = char('A' + k);
        std::string s(1, p);
        Port& port = ports_[k];
        port.tris = &bus.add(reg::named("TRIS" + s), 0xFFFF).writable(0xFFFF);
        port.port = &bus.add(reg::named("PORT" + s)).writable(0xFFFF);
        port.lat = &bus.add(reg::named("LAT" + s)).writable(0xFFFF);
        port.odc = &bus.add(reg::named("ODC" + s)).writable(0xFFFF);
        auto changed = [this, k](uint32_t, uint32_t) { update(k); };
        port.tris->onWrite(changed);
        port.odc->onWrite(changed);
        port.lat->onWrite(changed);
        // A write to PORT lands in LAT. PORT keeps a copy of LAT so that its CLR/SET/INV
        // companions act on the latch; a read returns the pin levels.
        port.port->onWrite([this, k](uint32_t, uint32_t v) {
            ports_[k].lat->hwWrite(v);
            update(k);
        });
        port.port->onRead([this, k, p](uint32_t) {
            uint32_t v = 0;
            for (unsigned b = 0; b < 16; ++b) v |= uint32_t(readPin(p, b)) << b;
            (void)k;
            return v;
        });
        for (unsigned b = 0; b < 16; ++b) {
            pins_[k][b] = &nets.get(pinName(p, b));
            driver_[k][b] = pins_[k][b]->addDriver();
        }
    }
    ad1pcfg_ = &bus.add(reg::AD1PCFG).writable(0xFFFF);
}

bool Ports::readPin(char port, unsigned bit) const {
    if (analog(port, bit)) return false;
    return pins_[port - 'A'][bit]->level();
}

void Ports::claim(char port, unsigned bit, bool claimed) {
    unsigned k = port - 'A';
    claimed_[k] = claimed ? (claimed_[k] | 1u << bit) : (claimed_[k] & ~(1u << bit));
    update(k);
}

void Ports::update(unsigned k) {
    Port& p = ports_[k];
    p.port->hwWrite(p.lat->value());
    for (unsigned b = 0; b < 16; ++b) {
        Drive d = Drive::Z;
        if (!p.tris->bit(b) && !(claimed_[k] >> b & 1u)) {
            bool high = p.lat->bit(b);
            d = high ? (p.odc->bit(b) ? Drive::Z : Drive::High) : Drive::Low;
        }
        pins_[k][b]->drive(driver_[k][b], d);
    }
}

void Ports::reset() {
    claimed_.fill(0);
    for (unsigned k = 0; k < kPorts; ++k) update(k);
}

}  // namespace sim
