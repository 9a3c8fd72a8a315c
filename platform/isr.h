// Binding of an interrupt handler to a hardware vector at a priority level.
//
//   PLATFORM_ISR(UART_1, 2, intUart1Handler) { ...body... }
//
// declares `intUart1Handler` with C linkage and places it on the vector named UART_1 in the
// interrupt table (hardware vector 24, the library's INT_UART_1_VECTOR); a name the table
// does not have, or a vector no source requests, does not compile. The handler's entry
// raises the core's priority to the level given, which must be the level that the driver
// programs into the vector's IPC field.
#pragma once
#include <stdint.h>

#include "platform/interrupts.h"
#include "platform/sfr.h"

namespace platform {
struct VectorBinding {
    void (*handler)(void);
    unsigned level;
};
}  // namespace platform

#define PLATFORM_ISR_STRING_(x) #x
#define PLATFORM_ISR_STRING(x) PLATFORM_ISR_STRING_(x)
#define PLATFORM_ISR_CONCAT_(a, b) a##b
#define PLATFORM_ISR_CONCAT(a, b) PLATFORM_ISR_CONCAT_(a, b)
#define PLATFORM_ISR_CHECK(vector) \
    static_assert(::platform::vectorHasSource(PIC32_VECTOR_##vector), "no interrupt source uses vector " #vector);

#if defined(PLATFORM_TARGET)
// GCC's MIPS interrupt attribute gives the handler the entry and exit of an exception
// handler: save EPC and Status, clear EXL and ERL and raise the priority field to the
// level of the request being served (Cause.RIPL: the priority the driver programmed, which
// must be `level`), so that only higher levels nest; save exactly the registers the body
// uses; on exit restore them, disable interrupts, restore EPC and Status, eret.
// The run-time's vector N jumps to __vector_target_N, which this defines.
#define PLATFORM_ISR(vector, level, name)                                                  \
    PLATFORM_ISR_CHECK(vector)                                                               \
    extern "C" void name(void) __attribute__((interrupt("eic"), used));                      \
    __asm__(".globl __vector_target_" PLATFORM_ISR_STRING(PIC32_VECTOR_##vector) "\n"        \
            ".set __vector_target_" PLATFORM_ISR_STRING(PIC32_VECTOR_##vector) ", " #name "\n"); \
    extern "C" void name(void)
#else
#define PLATFORM_ISR(vector, level, name)                                                        \
    PLATFORM_ISR_CHECK(vector)                                                                     \
    extern "C" void name(void);                                                                   \
    extern "C" const ::platform::VectorBinding PLATFORM_ISR_CONCAT(platform_vector_, PIC32_VECTOR_##vector) = { \
        name, level};                                                                             \
    extern "C" void name(void)
#endif
