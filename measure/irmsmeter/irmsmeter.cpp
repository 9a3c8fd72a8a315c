#include "measure/irmsmeter/irmsmeter.h"

#include <math.h>

#include "drivers/adc.h"

// The results are defined bit for bit: IEEE single precision, every step rounded on its
// own. Fused multiply-adds are kept out by -ffp-contract=off; these catch the rest.
#if defined(__FAST_MATH__)
#error "calcIrms needs IEEE arithmetic: do not build it with -ffast-math"
#endif
#if !defined(__FLT_EVAL_METHOD__) || __FLT_EVAL_METHOD__ != 0
#error "calcIrms needs float evaluated as float (FLT_EVAL_METHOD 0), not in wider precision"
#endif

extern "C" float calcIrms(int pin, int nombreEchantillonnages) {
    const float supplyVoltage = 3.3f;
    const float ICAL = 30.0f;
    int n = 0;
    float sqI = 0.0f;
    float sumI = 0.0f;
    float Irms = 0.0f;
    float filteredI = 0.0f;
    float lastFilteredI;
    int lastSampleI;

    // The priming conversion only stands in as the previous sample of the first pass, so
    // that a constant bias gives the filter no start-up step.
    int sampleI = readADC(static_cast<char>(pin));

    while (n < nombreEchantillonnages) {
        lastSampleI = sampleI;
        lastFilteredI = filteredI;
        sampleI = readADC(static_cast<char>(pin));
        // y(k) = 0.996 (y(k-1) + x(k) - x(k-1)): the addition first, then the subtraction,
        // in floats; the sample difference is not formed in integers.
        const float sum = static_cast<float>(sampleI) + lastFilteredI;
        const float difference = sum - static_cast<float>(lastSampleI);
        filteredI = 0.996f * difference;
        sqI = filteredI * filteredI;
        sumI = sumI + sqI;
        n = n + 1;
    }

    // Counts to volts (3.3 V over 1024 steps), volts to current.
    const float I_RATIO = (supplyVoltage / 1024.0f) * ICAL;
    const float meanSquare = sumI / static_cast<float>(nombreEchantillonnages);
    Irms = sqrtf(meanSquare) * I_RATIO;
    return Irms;
}
