// The SFR window of the chip: models declare their registers here, with reset value,
// the bits software may write and hooks; the bus adds the CLR/SET/INV companions.
// Names, addresses and fields come from the register table (platform/pic32mx_registers.h):
// bus.add(reg::U1STA, reset), sta->hwSet(U1STA_OERR), sta->field(U1STA_URXISEL).
#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/pic32mx.h"

namespace sim {

// A register of the table: name, KSEG1 address, and whether it has CLR/SET/INV companions.
namespace reg {
struct Info {
    const char* name;
    uint32_t address;
    bool companions;
};
#define SIM_REG_COMPANIONS_SFR true
#define SIM_REG_COMPANIONS_DATA false
#define SIM_REG_INFO(name, addr, kind, fields) inline constexpr Info name{#name, addr, SIM_REG_COMPANIONS_##kind};
PIC32MX_REGISTERS(SIM_REG_INFO)
#undef SIM_REG_INFO
#undef SIM_REG_COMPANIONS_DATA
#undef SIM_REG_COMPANIONS_SFR
// For models with several instances ("U" + n + "STA"); throws std::out_of_range.
const Info& named(std::string_view name);
}  // namespace reg

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
    // The same by the table's field names. Instances share a layout (UART2 uses U1STA_...).
    template <uint32_t A>
    void hwSet(platform::Bits<A> b) { hwSet(b.value); }
    template <uint32_t A>
    void hwClear(platform::Bits<A> b) { hwClear(b.value); }
    template <uint32_t A>
    void hwPut(platform::Bits<A> b, bool on) { hwPut(b.value, on); }
    template <uint32_t A>
    bool bit(platform::Bits<A> b) const { return value_ & b.value; }
    template <uint32_t A, unsigned P, unsigned W>
    uint32_t field(platform::FieldOf<A, P, W>) const { return field(P, W); }

    void reset() { value_ = reset_; }

    // Declaration helpers, chained from SfrBus::add.
    Register& writable(uint32_t mask) { writable_ = mask; return *this; }
    // Bits that software can only clear (writing 1 leaves them as they are).
    Register& clearOnly(uint32_t mask) { clearOnly_ = mask; return *this; }
    template <uint32_t A>
    Register& clearOnly(platform::Bits<A> b) { return clearOnly(b.value); }
    // A read takes something away (pops a receive buffer, clears a flag, starts a reset).
    Register& readHasSideEffects() { readSideEffects_ = true; return *this; }
    // The value moves with time between events (a count worked out when it is read).
    Register& changesWithTime() { timeVarying_ = true; return *this; }
    bool hasReadSideEffects() const { return readSideEffects_; }
    bool isTimeVarying() const { return timeVarying_; }
    bool hasCompanions() const { return companions_; }
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
    bool readSideEffects_ = false;
    bool timeVarying_ = false;
    ReadHook readHook_;
    WriteHook writeHook_;

    void softwareWrite(uint32_t v);
};

struct UnclaimedAccess {
    uint32_t address;
    bool write;
    uint32_t value;
};

// Accesses that no model claims, in constant memory (a firmware may poll such an address
// for ever): a total, and for each of the first kAddresses distinct register addresses
// the first access there and how many reads and writes it had.
class UnclaimedLog {
public:
    static constexpr size_t kAddresses = 32;
    struct Address {
        UnclaimedAccess first;
        uint64_t reads = 0, writes = 0;
    };

    uint64_t count() const { return count_; }
    bool empty() const { return count_ == 0; }
    // In the order first seen; accesses elsewhere once the list is full are in count() only.
    const std::vector<Address>& byAddress() const { return addresses_; }
    uint64_t elsewhere() const;

    void add(const UnclaimedAccess& u);

private:
    uint64_t count_ = 0;
    size_t lastHit_ = 0;
    std::vector<Address> addresses_;
};

class SfrBus {
public:
    // A register of the table, with its CLR/SET/INV companions where it has them.
    Register& add(const reg::Info& r, uint32_t resetValue = 0);
    template <uint32_t A>
    Register& add(const reg::Info& r, platform::Bits<A> resetValue) { return add(r, resetValue.value); }

    bool claims(uint32_t address) const;
    uint32_t read(uint32_t address);
    void write(uint32_t address, uint32_t value);

    Register* find(uint32_t kseg1Address);
    Register& at(const std::string& name);
    void resetAll();

    // Accesses that no model claims: reported, never silently ignored.
    const UnclaimedLog& unclaimed() const { return unclaimed_; }
    std::function<void(const UnclaimedAccess&)> onUnclaimed;

    static uint32_t toKseg1(uint32_t address) { return (address & 0x1FFFFFFFu) | 0xA0000000u; }

private:
    std::map<uint32_t, Register> regs_;
    std::map<std::string, uint32_t> byName_;
    UnclaimedLog unclaimed_;
    void report(uint32_t address, bool write, uint32_t value);
    Register* lookup(uint32_t kseg1Address);
    uint32_t lastAddress_ = 0;
    Register* last_ = nullptr;
};

}  // namespace sim
