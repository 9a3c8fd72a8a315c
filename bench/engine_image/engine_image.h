// What the engine benchmark's image and its host agree on: the parameter block the host
// patches into the image before a run, the workloads by number, and the instruction count
// of one iteration of each assembly loop (loops.S).
#pragma once
#include <stdint.h>

namespace engine_image {

enum Workload : uint32_t { kCb, kCbNoStore, kInt, kIrms, kFmt, kWorkloads };

// In boot flash at the symbol `bench_params`; the host finds it through the ELF symbols.
struct Params {
    uint32_t magic;
    uint32_t workload;
    uint32_t iterations;
};
constexpr uint32_t kMagic = 0x48434E42;  // "BNCH"

// One pass of each loop, its branch delay slot included.
constexpr uint32_t kCbInstructions = 15, kCbNoStoreInstructions = 14, kIntInstructions = 10;

// calcIrms takes this many samples a call, plus the priming one.
constexpr int kIrmsSamples = 64;

}  // namespace engine_image
