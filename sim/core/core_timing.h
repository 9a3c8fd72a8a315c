// What the M4K core's instructions and accesses cost beyond one cycle an instruction, in
// system-clock cycles. Every cost the core charges is worked out here: the memory wait
// states from CHECON, BMXCON and Config.K0, the peripheral-bus and exception-entry
// penalties, and the multiply/divide unit's latencies.
#pragma once
#include <bit>
#include <cstdint>

#include "sim/time/scheduler.h"

namespace sim {

struct AccessTiming {
    bool k0Cached = false;          // Config.K0 = 3: KSEG0 flash goes through the prefetch cache
    unsigned flashWait = 7;         // CHECON.PFMWS
    bool prefetchUncached = false;  // CHECON.PREFEN = 1x: predictive prefetch for uncached regions too
    Cycles ramWait = 1;             // BMXCON.BMXWSDRM
    Cycles sfr = 3;                 // a load or store over the peripheral bus
    Cycles exception = 3;           // exception and interrupt entry
    uint32_t lastFetchLine = 0xFFFFFFFF;  // the 16-byte flash line of the last uncached fetch

    void configure(unsigned flashWaitStates, bool prefetchUncachedToo, bool ramWaitState, bool k0Cacheable,
                   Cycles sfrCycles, Cycles exceptionCycles) {
        flashWait = flashWaitStates;
        prefetchUncached = prefetchUncachedToo;
        ramWait = ramWaitState;
        k0Cached = k0Cacheable;
        sfr = sfrCycles;
        exception = exceptionCycles;
    }

    // Per instruction fetched from data RAM.
    Cycles ramFetch() const { return 1 + ramWait; }
    // A data load or store to RAM.
    Cycles ramData() const { return ramWait; }
    // A data load from program or boot flash; every access through the cache hits.
    Cycles flashLoad(bool cached) const { return cached ? 0 : flashWait; }
    // An uncached fetch from flash line `line` waits unless it stays in the line, or it is
    // the next line and predictive prefetch had it read.
    Cycles flashFetch(uint32_t line) {
        Cycles wait = line != lastFetchLine && !(prefetchUncached && line == lastFetchLine + 1) ? flashWait : 0;
        lastFetchLine = line;
        return wait;
    }
};

inline bool fits16s(uint32_t v) { return int32_t(v) == int32_t(int16_t(v)); }

// Fast MDU: HI/LO of mult/madd/msub one cycle after issue when rt fits in 16 bits, else two.
inline Cycles multiplyLatency(uint32_t rt, bool isSigned) { return (isSigned ? fits16s(rt) : rt <= 0xFFFF) ? 1 : 2; }
// mul writes a general register: it stalls the pipeline for the same time.
inline Cycles mulStall(uint32_t rt) { return fits16s(rt) ? 1 : 2; }

// Early-in division: the divider finishes sooner when the dividend has fewer bits.
inline Cycles divideLatency(uint32_t dividend, bool isSigned) {
    uint32_t m = (isSigned && int32_t(dividend) < 0) ? ~dividend : dividend;
    unsigned bits = 32 - unsigned(std::countl_zero(m));
    if (isSigned) ++bits;
    return bits <= 8 ? 12 : bits <= 16 ? 19 : bits <= 24 ? 26 : 33;
}

}  // namespace sim
