// The firmware's view of the special function registers, instantiated from the register
// table (platform/pic32mx_registers.h):
//   U1STA, U1STACLR, U1STASET, U1STAINV   the register and its companions (one load or store)
//   U1STAbits.OERR                        a field to read, or to change by read-modify-write
//   U1STA_OERR, AD1CON1_SSRC(7)           field values, combined with | into one store:
//                                         AD1CON1 = AD1CON1_SSRC(7) | AD1CON1_FORM(0)
// A register (or companion) takes only its own register's field values.
#pragma once
#include "platform/pic32mx_registers.h"
#include "platform/sfr.h"

#define PIC32_REGISTER_SFR(name, addr)                            \
    inline constexpr ::platform::Reg<(addr)> name{};               \
    inline constexpr ::platform::Reg<(addr) + ::platform::kClrOffset, (addr)> name##CLR{}; \
    inline constexpr ::platform::Reg<(addr) + ::platform::kSetOffset, (addr)> name##SET{}; \
    inline constexpr ::platform::Reg<(addr) + ::platform::kInvOffset, (addr)> name##INV{};
#define PIC32_REGISTER_DATA(name, addr) inline constexpr ::platform::Reg<(addr)> name{};
#define PIC32_BITS_MEMBER(r, f, pos, width) static constexpr ::platform::Field<address_, pos, width> f{};
#define PIC32_FIELD_VALUE(r, f, pos, width) inline constexpr ::platform::FieldOf<r.address, pos, width> r##_##f{};
#define PIC32_DECLARE_REGISTER(name, addr, kind, fields)           \
    PIC32_REGISTER_##kind(name, addr) struct name##bits_t {        \
        static constexpr uint32_t address_ = (addr);               \
        fields(PIC32_BITS_MEMBER, name)                            \
    };                                                             \
    inline constexpr name##bits_t name##bits{};                    \
    fields(PIC32_FIELD_VALUE, name)

PIC32MX_REGISTERS(PIC32_DECLARE_REGISTER)

#undef PIC32_DECLARE_REGISTER
#undef PIC32_FIELD_VALUE
#undef PIC32_BITS_MEMBER
#undef PIC32_REGISTER_DATA
#undef PIC32_REGISTER_SFR
