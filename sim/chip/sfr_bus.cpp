#include "sim/chip/sfr_bus.h"

#include <stdexcept>

namespace sim {

namespace reg {
const Info& named(std::string_view name) {
#define SIM_REG_ENTRY(n, addr, kind, fields) &n,
    static const Info* const all[] = {PIC32MX_REGISTERS(SIM_REG_ENTRY)};
#undef SIM_REG_ENTRY
    for (const Info* r : all)
        if (name == r->name) return *r;
    throw std::out_of_range("no register " + std::string(name) + " in the table");
}
}  // namespace reg

void Register::softwareWrite(uint32_t v) {
    uint32_t before = value_;
    uint32_t normal = writable_ & ~clearOnly_;
    uint32_t after = (before & ~normal) | (v & normal);
    after &= ~(clearOnly_ & ~v);  // a 0 written to a clear-only bit clears it
    value_ = after;
    if (writeHook_) writeHook_(before, after);
}

Register& SfrBus::add(const reg::Info& info, uint32_t resetValue) {
    uint32_t a = toKseg1(info.address);
    Register& r = regs_[a];
    r.name_ = info.name;
    r.addr_ = a;
    r.reset_ = r.value_ = resetValue;
    r.companions_ = info.companions;
    byName_[info.name] = a;
    return r;
}

// Polling loops ask for the same register again and again: the last one found is kept
// (registers are never removed, so the pointer stays good).
Register* SfrBus::lookup(uint32_t kseg1) {
    if (kseg1 == lastAddress_ && last_) return last_;
    auto it = regs_.find(kseg1);
    if (it == regs_.end()) return nullptr;
    lastAddress_ = kseg1;
    return last_ = &it->second;
}

Register* SfrBus::find(uint32_t address) { return lookup(toKseg1(address)); }

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

void UnclaimedLog::add(const UnclaimedAccess& u) {
    ++count_;
    const uint32_t slot = SfrBus::toKseg1(u.address) & ~3u;  // one register, however reached
    auto at = [&](size_t i) { return (SfrBus::toKseg1(addresses_[i].first.address) & ~3u) == slot; };
    size_t i = lastHit_;
    if (i >= addresses_.size() || !at(i)) {
        i = 0;
        while (i < addresses_.size() && !at(i)) ++i;
    }
    if (i == addresses_.size()) {
        if (addresses_.size() == kAddresses) return;
        if (addresses_.empty()) addresses_.reserve(kAddresses);
        addresses_.push_back({u});
    }
    lastHit_ = i;
    ++(u.write ? addresses_[i].writes : addresses_[i].reads);
}

uint64_t UnclaimedLog::elsewhere() const {
    uint64_t listed = 0;
    for (const Address& a : addresses_) listed += a.reads + a.writes;
    return count_ - listed;
}

void SfrBus::report(uint32_t address, bool write, uint32_t value) {
    UnclaimedAccess u{address, write, value};
    unclaimed_.add(u);
    if (onUnclaimed) onUnclaimed(u);
}

uint32_t SfrBus::read(uint32_t address) {
    uint32_t a = toKseg1(address) & ~3u;
    if (Register* found = lookup(a)) {
        Register& r = *found;
        return r.readHook_ ? r.readHook_(r.value_) : r.value_;
    }
    auto base = regs_.find(a & ~0xFu);
    if (base != regs_.end() && base->second.companions_) return 0;  // CLR/SET/INV read as 0
    report(address, false, 0);
    return 0;
}

void SfrBus::write(uint32_t address, uint32_t value) {
    uint32_t a = toKseg1(address) & ~3u;
    if (Register* found = lookup(a)) {
        found->softwareWrite(value);
        return;
    }
    auto base = regs_.find(a & ~0xFu);
    if (base != regs_.end() && base->second.companions_) {
        Register& r = base->second;
        switch (a & 0xFu) {
            case platform::kClrOffset: r.softwareWrite(r.value_ & ~value); return;
            case platform::kSetOffset: r.softwareWrite(r.value_ | value); return;
            case platform::kInvOffset: r.softwareWrite(r.value_ ^ value); return;
        }
    }
    report(address, true, value);
}

void SfrBus::resetAll() {
    for (auto& [a, r] : regs_) r.reset();
}

}  // namespace sim
