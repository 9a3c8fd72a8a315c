// The engine benchmark's workloads: the one the parameter block names, run `iterations`
// times; bench_main's result (the checksum) goes back to the host in v0.
#include <stdint.h>

#include "bench/engine_image/engine_image.h"
#include "measure/irmsmeter/irmsmeter.h"

extern "C" {
uint32_t bench_cb(uint32_t iterations, uint32_t* table);
uint32_t bench_cb_nostore(uint32_t iterations, uint32_t* table);
uint32_t bench_int(uint32_t iterations, uint32_t* table);
void bench_formatTimeLine(char* str, unsigned char hr, unsigned char mint, unsigned char sec, unsigned char wd,
                          unsigned char day, unsigned char month, unsigned char year);
uint32_t bench_main();

// Patched by the host; volatile, so that it is read at run time.
[[gnu::section(".rodata.bench_params"), gnu::used]] const volatile engine_image::Params bench_params = {
    engine_image::kMagic, engine_image::kCb, 1};
}

namespace {

uint32_t table[256];  // the cb loops' 1 KiB

// A 10-bit current waveform: two periods of a triangle around mid-scale with some LCG
// noise, fixed at build time, so that every pass of calcIrms takes the same path.
struct Samples {
    uint16_t count[engine_image::kIrmsSamples + 1];
};
constexpr Samples makeSamples() {
    Samples s{};
    uint32_t lcg = 1;
    for (int i = 0; i <= engine_image::kIrmsSamples; ++i) {
        int phase = i % 32;
        int triangle = phase < 16 ? phase * 32 : (32 - phase) * 32;
        lcg = lcg * 1103515245u + 12345u;
        s.count[i] = uint16_t(256 + triangle + (lcg >> 27));
    }
    return s;
}
constexpr Samples kSamples = makeSamples();
unsigned nextSample;

uint32_t irms(uint32_t iterations) {
    uint32_t sum = 0;
    for (uint32_t i = 0; i < iterations; ++i) {
        nextSample = 0;
        float r = calcIrms(0, engine_image::kIrmsSamples);
        sum = sum * 31 + __builtin_bit_cast(uint32_t, r);
    }
    return sum;
}

// The clock demo's first console line, formatted over and over.
uint32_t fmt(uint32_t iterations) {
    char line[100];
    line[0] = 0;
    for (uint32_t i = 0; i < iterations; ++i) bench_formatTimeLine(line, 2, 10, 5, 3, 3, 1, 14);
    uint32_t sum = 0;
    for (const char* c = line; *c; ++c) sum = sum * 31 + uint8_t(*c);
    return sum;
}

}  // namespace

// The ADC stands in as the fixed sample buffer: no converter, no peripheral access.
extern "C" int readADC(char) { return kSamples.count[nextSample++]; }

uint32_t bench_main() {
    const uint32_t n = bench_params.iterations;
    if (bench_params.magic != engine_image::kMagic || n == 0) return 0;
    switch (bench_params.workload) {
        case engine_image::kCb: return bench_cb(n, table);
        case engine_image::kCbNoStore: return bench_cb_nostore(n, table);
        case engine_image::kInt: return bench_int(n, table);
        case engine_image::kIrms: return irms(n);
        case engine_image::kFmt: return fmt(n);
        default: return 0;
    }
}
