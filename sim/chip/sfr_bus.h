// The SFR window of the chip: models declare their registers here, with reset value,
// the bits software may write and hooks; the bus adds the CLR/SET/INV companions.
#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace sim {

class SfrBus;

class Register {
public:
    using ReadHook = std::function<uint32_t(uint32_t stored)>;   // value the core sees
    using WriteHook = std::function<void(uint32_t before, uint32_t after)>;

    const std::string& name() const { return name_; }
    uint32_t address() const { return addr_; }
    uint32_t value() const { return value_; }

    // Hardware side: change bits regardless of the software write mask, no hooks.
    void hwSet(uint32_t bits) { value_ |= bits; }
    void hwClear(uint32_t bits) { value_ &= ~bits; }
    void hwPut(uint32_t bits, bool on) { on ? hwSet(bits) : hwClear(bits); }
    void hwWrite(uint32_t v) { value_ = v; }
    bool bit(unsigned n) const { return (value_ >> n) & 1u; }
    uint32_t field(unsigned pos, unsigned width) const {
        return (value_ >> pos) & ((width >= 32) ? 0xFFFFFFFFu : ((1u << width) - 1));
    }

    void reset() { value_ = reset_; }

    // Declaration helpers, chained from SfrBus::add.
    Register& writable(uint32_t mask) { writable_ = mask; return *this; }
    // Bits that software can only clear (writing 1 leaves them as they are).
    Register& clearOnly(uint32_t mask) { clearOnly_ = mask; return *this; }
    Register& onRead(ReadHook h) { readHook_ = std::move(h); return *this; }
    Register& onWrite(WriteHook h) { writeHook_ = std::move(h); return *this; }

private:
    friend class SfrBus;
    std::string name_;
    uint32_t addr_ = 0;
    uint32_t reset_ = 0;
    uint32_t value_ = 0;
    uint32_t writable_ = 0xFFFFFFFFu;
    uint32_t clearOnly_ = 0;
    bool companions_ = true;
    ReadHook readHook_;
    WriteHook writeHook_;

    void softwareWrite(uint32_t v);
};

struct UnclaimedAccess {
    uint32_t address;
    bool write;
    uint32_t value;
};

class SfrBus {
public:
    // A normal register, with CLR/SET/INV at +4/+8/+C.
    Register& add(const std::string& name, uint32_t kseg1Address, uint32_t resetValue);
    // A data register (transmit/receive buffers): read and written directly, no companions.
    Register& addData(const std::string& name, uint32_t kseg1Address, uint32_t resetValue = 0);

    bool claims(uint32_t address) const;
    uint32_t read(uint32_t address);
    void write(uint32_t address, uint32_t value);

    Register* find(uint32_t kseg1Address);
    Register& at(const std::string& name);
    void resetAll();

    // Accesses that no model claims: reported, never silently ignored.
    const std::vector<UnclaimedAccess>& unclaimed() const { return unclaimed_; }
    std::function<void(const UnclaimedAccess&)> onUnclaimed;

    static uint32_t toKseg1(uint32_t address) { return (address & 0x1FFFFFFFu) | 0xA0000000u; }

private:
    std::map<uint32_t, Register> regs_;
    std::map<std::string, uint32_t> byName_;
    std::vector<UnclaimedAccess> unclaimed_;
    void report(uint32_t address, bool write, uint32_t value);
};

}  // namespace sim
