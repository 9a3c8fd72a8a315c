#pragma once

#ifdef __cplusplus
extern "C" {
#endif

// RMS current on analog input `pin` over `nombreEchantillonnages` back-to-back samples,
// bias removed by a first-order high-pass filter, scaled by ICAL = 30 per volt. The
// converter must be on (initADC). A count of 0 gives NaN, a negative count -0.
float calcIrms(int pin, int nombreEchantillonnages);

#ifdef __cplusplus
}
#endif
