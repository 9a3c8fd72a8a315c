// How a module reaches a special function register. Each register is an empty object whose
// address is a template argument: on the chip an access is one load or store of that
// address; on the host it goes to the virtual board.
#pragma once
#include <stdint.h>

#if defined(__mips__)
#define PLATFORM_TARGET 1
#else
#define PLATFORM_HOST 1
#endif

namespace platform {

#if defined(PLATFORM_TARGET)
inline uint32_t sfrRead(uint32_t address) { return *reinterpret_cast<volatile uint32_t*>(address); }
inline void sfrWrite(uint32_t address, uint32_t value) { *reinterpret_cast<volatile uint32_t*>(address) = value; }
#else
uint32_t sfrRead(uint32_t address);
void sfrWrite(uint32_t address, uint32_t value);
#endif

// A 32-bit SFR. Compound assignments are read-modify-writes of the whole register.
template <uint32_t Address>
struct Reg {
    static constexpr uint32_t address = Address;
    operator uint32_t() const { return sfrRead(Address); }
    const Reg& operator=(uint32_t v) const { sfrWrite(Address, v); return *this; }
    const Reg& operator|=(uint32_t v) const { sfrWrite(Address, sfrRead(Address) | v); return *this; }
    const Reg& operator&=(uint32_t v) const { sfrWrite(Address, sfrRead(Address) & v); return *this; }
    const Reg& operator^=(uint32_t v) const { sfrWrite(Address, sfrRead(Address) ^ v); return *this; }
};

// A bit field of an SFR: a read takes the field out of one load; a write is a
// read-modify-write of the whole register, as the data sheet's bit-field views are.
template <uint32_t Address, unsigned Pos, unsigned Width>
struct Field {
    static constexpr uint32_t mask = (Width >= 32 ? 0xFFFFFFFFu : ((1u << Width) - 1)) << Pos;
    operator uint32_t() const { return (sfrRead(Address) & mask) >> Pos; }
    const Field& operator=(uint32_t v) const {
        sfrWrite(Address, (sfrRead(Address) & ~mask) | ((v << Pos) & mask));
        return *this;
    }
};

}  // namespace platform

// A register with its CLR, SET and INV companions at +4, +8 and +C.
#define PIC32_SFR(name, addr)                                  \
    inline constexpr ::platform::Reg<(addr)> name{};           \
    inline constexpr ::platform::Reg<(addr) + 0x4> name##CLR{}; \
    inline constexpr ::platform::Reg<(addr) + 0x8> name##SET{}; \
    inline constexpr ::platform::Reg<(addr) + 0xC> name##INV{};
// A data register (transmit/receive buffers): no companions.
#define PIC32_DATA(name, addr) inline constexpr ::platform::Reg<(addr)> name{};

#define PIC32_BITS(name, addr, ...)                      \
    struct name##bits_t {                                \
        static constexpr uint32_t address_ = (addr);      \
        __VA_ARGS__                                      \
    };                                                   \
    inline constexpr name##bits_t name##bits{};
#define PIC32_FIELD(field, pos, width) static constexpr ::platform::Field<address_, pos, width> field{};
#define PIC32_PIN_FIELDS(p)                                                                                    \
    PIC32_FIELD(p##0, 0, 1) PIC32_FIELD(p##1, 1, 1) PIC32_FIELD(p##2, 2, 1) PIC32_FIELD(p##3, 3, 1)           \
    PIC32_FIELD(p##4, 4, 1) PIC32_FIELD(p##5, 5, 1) PIC32_FIELD(p##6, 6, 1) PIC32_FIELD(p##7, 7, 1)           \
    PIC32_FIELD(p##8, 8, 1) PIC32_FIELD(p##9, 9, 1) PIC32_FIELD(p##10, 10, 1) PIC32_FIELD(p##11, 11, 1)       \
    PIC32_FIELD(p##12, 12, 1) PIC32_FIELD(p##13, 13, 1) PIC32_FIELD(p##14, 14, 1) PIC32_FIELD(p##15, 15, 1)
