#include "drivers/adc.h"

#include <stdint.h>

#include "drivers/profile.h"
#include "drivers/uart.h"
#include "platform/pic32mx.h"

extern "C" void initADC(void) {
    AD1CON1CLR = 0x8000;  // off while it is reconfigured
    AD1CON1 = 0x00E0;     // integer result, auto-convert, sampling started by SAMP
    AD1CON2 = 0;          // AVDD/AVSS references, no scanning, one result per event, MUX A
    AD1CON3 = 0x0F01;     // PBCLK-derived TAD = 4 TPB, 15 TAD of sampling
    AD1CON1SET = 0x8000;
    if constexpr (kCardDemoProfile) writeString(UART1, "init ADC\r\n");
}

extern "C" int readADC(char analogPIN) {
    // Sign-extended on purpose: a negative number also sets CH0NA (negative input AN1)
    // and the unused multiplexer-B fields.
    const int32_t pin = static_cast<signed char>(analogPIN);
    AD1CHS = static_cast<uint32_t>(pin) << 16;
    AD1CON1bits.SAMP = 1;
    // The converter ends sampling itself and clears SAMP; only then does DONE belong to
    // this conversion (until the conversion starts it still shows the previous one).
    while (AD1CON1bits.SAMP) {
    }
    while (!AD1CON1bits.DONE) {
    }
    return static_cast<int>(static_cast<uint32_t>(ADC1BUF0));
}
