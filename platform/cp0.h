// Coprocessor 0 of the M4K core: Count, Compare, Status, IntCtl, Cause, EBase, Config.
#pragma once
#include <stdint.h>

#include "platform/sfr.h"

namespace platform {

#if defined(PLATFORM_HOST)
uint32_t cp0Read(unsigned reg, unsigned sel);
void cp0Write(unsigned reg, unsigned sel, uint32_t value);
uint32_t cp0DisableInterrupts();  // di: returns the previous Status
void cp0EnableInterrupts();       // ei
#endif

template <unsigned Reg, unsigned Sel>
struct Cp0Reg {
#if defined(PLATFORM_TARGET)
    operator uint32_t() const {
        uint32_t v;
        __asm__ volatile("mfc0 %0, $%1, %2" : "=r"(v) : "i"(Reg), "i"(Sel));
        return v;
    }
    const Cp0Reg& operator=(uint32_t v) const {
        __asm__ volatile("mtc0 %0, $%1, %2\n\tehb" : : "r"(v), "i"(Reg), "i"(Sel));
        return *this;
    }
#else
    operator uint32_t() const { return cp0Read(Reg, Sel); }
    const Cp0Reg& operator=(uint32_t v) const { cp0Write(Reg, Sel, v); return *this; }
#endif
};

namespace cp0 {
inline constexpr Cp0Reg<9, 0> Count{};
inline constexpr Cp0Reg<11, 0> Compare{};
inline constexpr Cp0Reg<12, 0> Status{};
inline constexpr Cp0Reg<12, 1> IntCtl{};
inline constexpr Cp0Reg<12, 2> SRSCtl{};
inline constexpr Cp0Reg<13, 0> Cause{};
inline constexpr Cp0Reg<14, 0> EPC{};
inline constexpr Cp0Reg<15, 1> EBase{};
inline constexpr Cp0Reg<16, 0> Config{};

constexpr uint32_t StatusIE = 1u << 0;
constexpr uint32_t StatusBEV = 1u << 22;
constexpr uint32_t CauseIV = 1u << 23;

// Interrupts off; returns the Status from before.
inline uint32_t disableInterrupts() {
#if defined(PLATFORM_TARGET)
    uint32_t s;
    __asm__ volatile("di %0\n\tehb" : "=r"(s)::"memory");
    return s;
#else
    return cp0DisableInterrupts();
#endif
}

inline void enableInterrupts() {
#if defined(PLATFORM_TARGET)
    __asm__ volatile("ei\n\tehb" ::: "memory");
#else
    cp0EnableInterrupts();
#endif
}
}  // namespace cp0

}  // namespace platform
