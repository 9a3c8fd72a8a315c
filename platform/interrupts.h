// The interrupt-source table (platform/pic32mx_interrupts.h) for C++: each source's request
// bit and its flag, enable and priority registers, for the library, the handler binding and
// the board's interrupt controller alike.
#pragma once
#include <stdint.h>

#include "platform/pic32mx.h"
#include "platform/pic32mx_interrupts.h"

namespace platform {

// Request bit of each source (IFS/IEC bit n; n >= 32 is IFS1/IEC1 bit n - 32).
namespace irq {
#define PIC32_IRQ_BIT(name, bit, vector, ...) inline constexpr unsigned name = bit;
PIC32MX_INTERRUPT_SOURCES(PIC32_IRQ_BIT)
#undef PIC32_IRQ_BIT
inline constexpr unsigned Count = 64;
}  // namespace irq

struct VectorOfRequest {
    int8_t of[irq::Count];
};
// Hardware vector of each request bit, -1 where the bit has no source.
inline constexpr VectorOfRequest kVectorOfRequest = [] {
    VectorOfRequest t{};
    for (auto& v : t.of) v = -1;
#define PIC32_IRQ_VECTOR(name, bit, vector, ...) t.of[bit] = PIC32_VECTOR_##vector;
    PIC32MX_INTERRUPT_SOURCES(PIC32_IRQ_VECTOR)
#undef PIC32_IRQ_VECTOR
    return t;
}();

// The data sheet's name of each request bit ("U1RX"), nullptr where the bit has no source.
struct RequestNames {
    const char* of[irq::Count];
};
inline constexpr RequestNames kRequestNames = [] {
    RequestNames t{};
#define PIC32_IRQ_NAME(name, bit, vector, ...) t.of[bit] = #name;
    PIC32MX_INTERRUPT_SOURCES(PIC32_IRQ_NAME)
#undef PIC32_IRQ_NAME
    return t;
}();

constexpr int vectorOfRequest(unsigned bit) { return bit < irq::Count ? kVectorOfRequest.of[bit] : -1; }

constexpr bool vectorHasSource(unsigned vector) {
    for (int v : kVectorOfRequest.of)
        if (v == int(vector)) return true;
    return false;
}

// Flag and enable registers of a request bit; the priority register of a vector.
constexpr uint32_t ifsAddress(unsigned bit) { return bit < 32 ? IFS0.address : IFS1.address; }
constexpr uint32_t iecAddress(unsigned bit) { return bit < 32 ? IEC0.address : IEC1.address; }
inline constexpr uint32_t kIpcAddress[12] = {IPC0.address, IPC1.address, IPC2.address, IPC3.address,
                                             IPC4.address, IPC5.address, IPC6.address, IPC7.address,
                                             IPC8.address, IPC9.address, 0,            IPC11.address};
constexpr uint32_t ipcAddress(unsigned vector) { return kIpcAddress[vector / 4]; }
// A vector's priority (3 bits) and sub-priority (2 bits) in its IPC register.
constexpr unsigned priorityShift(unsigned vector) { return 8 * (vector % 4) + 2; }
constexpr unsigned subPriorityShift(unsigned vector) { return 8 * (vector % 4); }
inline constexpr uint32_t kPriorityMask = 7, kSubPriorityMask = 3;

}  // namespace platform
