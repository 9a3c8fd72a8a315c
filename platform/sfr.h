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

// The CLR, SET and INV companions of a normal register: writing 1s clears, sets or inverts
// those bits of the register.
inline constexpr uint32_t kClrOffset = 0x4, kSetOffset = 0x8, kInvOffset = 0xC;

// A value for the register at Owner: one or more of its fields, combined with |. A value
// of one register does not convert to another's, nor silently to a number.
template <uint32_t Owner>
struct Bits {
    uint32_t value;
    friend constexpr Bits operator|(Bits a, Bits b) { return {a.value | b.value}; }
};

// A named field of the register at Owner. As a value it is the field's mask (all its bits
// set: a flag to set or clear); called with a number it is that number in the field.
template <uint32_t Owner, unsigned Pos, unsigned Width>
struct FieldOf : Bits<Owner> {
    static constexpr unsigned pos = Pos, width = Width;
    static constexpr uint32_t mask = (Width >= 32 ? 0xFFFFFFFFu : ((1u << Width) - 1)) << Pos;
    constexpr FieldOf() : Bits<Owner>{mask} {}
    constexpr Bits<Owner> operator()(uint32_t v) const { return {(v << Pos) & mask}; }
};

// A 32-bit SFR; Owner is the register whose field values it takes (itself, or the register
// a CLR/SET/INV companion acts on). Compound assignments are read-modify-writes.
template <uint32_t Address, uint32_t Owner = Address>
struct Reg {
    static constexpr uint32_t address = Address;
    operator uint32_t() const { return sfrRead(Address); }
    const Reg& operator=(uint32_t v) const { sfrWrite(Address, v); return *this; }
    const Reg& operator=(Bits<Owner> b) const { sfrWrite(Address, b.value); return *this; }
    const Reg& operator|=(uint32_t v) const { sfrWrite(Address, sfrRead(Address) | v); return *this; }
    const Reg& operator|=(Bits<Owner> b) const { sfrWrite(Address, sfrRead(Address) | b.value); return *this; }
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

