#include "drivers/adc.h"

#include <stdint.h>

#include "drivers/profile.h"
#include "drivers/uart.h"
#include "platform/pic32mx.h"

extern "C" void initADC(void) {
    AD1CON1CLR = AD1CON1_ON;  // off while it is reconfigured
    // Integer result, auto-convert; sampling started by SAMP (ASAM = 0).
    AD1CON1 = AD1CON1_FORM(0) | AD1CON1_SSRC(7);
    AD1CON2 = 0;  // AVDD/AVSS references, no scanning, one result per event, MUX A
    // PBCLK-derived TAD (ADRC = 0) = 2 x (ADCS + 1) TPB = 4 TPB, 15 TAD of sampling.
    AD1CON3 = AD1CON3_ADCS(1) | AD1CON3_SAMC(15);
    AD1CON1SET = AD1CON1_ON;
    if constexpr (kCardDemoProfile) writeString(UART1, "init ADC\r\n");
}

extern "C" int readADC(char analogPIN) {
    // Sign-extended on purpose: a negative number also sets CH0NA (negative input AN1)
    // and the unused multiplexer-B fields.
    const int32_t pin = static_cast<signed char>(analogPIN);
    AD1CHS = static_cast<uint32_t>(pin) << AD1CHS_CH0SA.pos;
    AD1CON1bits.SAMP = 1;
    // The converter ends sampling itself and clears SAMP; only then does DONE belong to
    // this conversion (until the conversion starts it still shows the previous one).
    while (AD1CON1bits.SAMP) {
    }
    while (!AD1CON1bits.DONE) {
    }
    return static_cast<int>(static_cast<uint32_t>(ADC1BUF0));
}
