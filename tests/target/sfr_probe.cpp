// Register accesses as the drivers write them, compiled for the chip and disassembled
// by check_sfr_access.cmake.
#include "platform/cp0.h"
#include "platform/pic32mx.h"
#include "platform/plib.h"

extern "C" void probe_store(void) { LATDINV = LATD_LATD1; }

extern "C" void probe_poll(void) {
    while (!UARTTransmissionHasCompleted(UART1)) {
    }
}

extern "C" void probe_field_write(void) { TRISDbits.TRISD13 = 0; }

extern "C" unsigned probe_count(void) { return platform::cp0::Count; }

// Several fields of one register in one store, as drivers write a configuration.
extern "C" void probe_multi_field_write(void) { AD1CON1 = AD1CON1_SSRC(7) | AD1CON1_FORM(4) | AD1CON1_ASAM; }

// A register takes its own fields' values only; its companions take the same.
template <class R, class V>
concept Assignable = requires(R r, V v) { r = v; };
static_assert(Assignable<decltype(AD1CON1), decltype(AD1CON1_SSRC(7) | AD1CON1_ASAM)>);
static_assert(Assignable<decltype(U1STACLR), decltype(U1STA_OERR)>);
static_assert(!Assignable<decltype(U1STA), decltype(AD1CON1_SSRC(7))>);
static_assert(!Assignable<decltype(U2STACLR), decltype(U1STA_OERR)>);
template <class A, class B>
concept Combinable = requires(A a, B b) { a | b; };
static_assert(!Combinable<decltype(AD1CON1_SSRC(7)), decltype(AD1CON2_VCFG(1))>);
