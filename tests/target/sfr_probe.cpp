// Register accesses as the drivers write them, compiled for the chip and disassembled
// by check_sfr_access.cmake.
#include "platform/cp0.h"
#include "platform/pic32mx.h"
#include "platform/plib.h"

extern "C" void probe_store(void) { LATDINV = 2; }

extern "C" void probe_poll(void) {
    while (!UARTTransmissionHasCompleted(UART1)) {
    }
}

extern "C" void probe_field_write(void) { TRISDbits.TRISD13 = 0; }

extern "C" unsigned probe_count(void) { return platform::cp0::Count; }
