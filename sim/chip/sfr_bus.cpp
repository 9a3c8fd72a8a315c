#include "sim/chip/sfr_bus.h"

#include <stdexcept>

namespace sim {

void Register::softwareWrite(uint32_t v) {
    uint32_t before = value_;
    uint32_t normal = writable_ & ~clearOnly_;
    uint32_t after = (before & ~normal) | (v & normal);
    after &= ~(clearOnly_ & ~v);  // a 0 written to a clear-only bit clears it
    value_ = after;
    if (writeHook_) writeHook_(before, after);
}

Register& SfrBus::add(const std::string& name, uint32_t address, uint32_t resetValue) {
    uint32_t a = toKseg1(address);
    Register& r = regs_[a];
    r.name_ = name;
    r.addr_ = a;
    r.reset_ = r.value_ = resetValue;
    r.companions_ = true;
    byName_[name] = a;
    return r;
}

Register& SfrBus::addData(const std::string& name, uint32_t address, uint32_t resetValue) {
    Register& r = add(name, address, resetValue);
    r.companions_ = false;
    return r;
}

Register* SfrBus::find(uint32_t address) {
    auto it = regs_.find(toKseg1(address));
    return it == regs_.end() ? nullptr : &it->second;
}

Register& SfrBus::at(const std::string& name) {
    auto it = byName_.find(name);
    if (it == byName_.end()) throw std::out_of_range("no register " + name);
    return regs_.at(it->second);
}

bool SfrBus::claims(uint32_t address) const {
    uint32_t a = toKseg1(address) & ~3u;
    if (regs_.count(a)) return true;
    auto it = regs_.find(a & ~0xFu);
    return it != regs_.end() && it->second.companions_;
}

void SfrBus::report(uint32_t address, bool write, uint32_t value) {
    UnclaimedAccess u{address, write, value};
    unclaimed_.push_back(u);
    if (onUnclaimed) onUnclaimed(u);
}

uint32_t SfrBus::read(uint32_t address) {
    uint32_t a = toKseg1(address) & ~3u;
    auto it = regs_.find(a);
    if (it != regs_.end()) {
        Register& r = it->second;
        return r.readHook_ ? r.readHook_(r.value_) : r.value_;
    }
    auto base = regs_.find(a & ~0xFu);
    if (base != regs_.end() && base->second.companions_) return 0;  // CLR/SET/INV read as 0
    report(address, false, 0);
    return 0;
}

void SfrBus::write(uint32_t address, uint32_t value) {
    uint32_t a = toKseg1(address) & ~3u;
    auto it = regs_.find(a);
    if (it != regs_.end()) {
        it->second.softwareWrite(value);
        return;
    }
    auto base = regs_.find(a & ~0xFu);
    if (base != regs_.end() && base->second.companions_) {
        Register& r = base->second;
        switch (a & 0xFu) {
            case 0x4: r.softwareWrite(r.value_ & ~value); return;
            case 0x8: r.softwareWrite(r.value_ | value); return;
            case 0xC: r.softwareWrite(r.value_ ^ value); return;
        }
    }
    report(address, true, value);
}

void SfrBus::resetAll() {
    for (auto& [a, r] : regs_) r.reset();
}

}  // namespace sim
