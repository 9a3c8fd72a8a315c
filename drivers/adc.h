#pragma once

#ifdef __cplusplus
extern "C" {
#endif

// ADC1: software-started single conversions, auto-convert after 15 TAD of sampling,
// TAD = 4 TPB (50 ns at 80 MHz): about 1.35 us of converter time per conversion.
void initADC(void);
// Converts AN0..AN15 against AVSS and returns the 10-bit count. Blocks until done; needs
// initADC first, and the pin in analog mode as an input.
int readADC(char analogPIN);

#ifdef __cplusplus
}
#endif
