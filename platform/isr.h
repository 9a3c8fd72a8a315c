// Binding of an interrupt handler to a hardware vector at a priority level.
//
//   PLATFORM_ISR(24, 2, intUart1Handler) { ...body... }
//
// declares `intUart1Handler` with C linkage and places it on vector 24; the handler's entry
// raises the core's priority to the level given, which must be the level that the driver
// programs into the vector's IPC field.
#pragma once
#include <stdint.h>

#include "platform/sfr.h"

namespace platform {
struct VectorBinding {
    void (*handler)(void);
    unsigned level;
};
}  // namespace platform

#if defined(PLATFORM_TARGET)
// The run-time's vector table takes the handler from the `.vector_N` section; the
// interrupt attribute gives it the entry and exit sequence of an exception handler.
#define PLATFORM_ISR(vector, level, name)                                                        \
    extern "C" void name(void) __attribute__((interrupt("eic"), used));                           \
    extern "C" const ::platform::VectorBinding platform_vector_##vector                           \
        __attribute__((section(".vector_binding." #vector), used)) = {name, level};               \
    extern "C" void name(void)
#else
#define PLATFORM_ISR(vector, level, name)                                                        \
    extern "C" void name(void);                                                                   \
    extern "C" const ::platform::VectorBinding platform_vector_##vector = {name, level};          \
    extern "C" void name(void)
#endif
