// Value change dump of the board's nets, as logic analysers' viewers (PulseView, GTKWave,
// sigrok-cli) read it: one 1-bit wire per net, named as the net, a value for every wire at
// time 0, then each change as it happens. The time scale holds a system-clock cycle exactly
// (100 ps at 80 MHz), so that edges one cycle apart (12.5 ns) stay apart. Written as the run goes: nothing is kept.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "sim/wires/net.h"

namespace sim {

class VcdWriter {
public:
    // Dumps `only` (every net of the board if empty; an unknown name is an error) to `out`,
    // which stays the caller's. Starts at the current time of `nets`' scheduler.
    VcdWriter(FILE* out, Nets& nets, Cycles now, uint64_t sysclkHz, const std::vector<std::string>& only = {});
    // Writes the closing time stamp (the end of the run) and flushes.
    void finish(Cycles end);

private:
    FILE* out_;
    uint64_t sysclk_;
    uint64_t lastPs_ = ~0ull;  // in units of the time scale
    uint64_t unitPs_ = 1;
    bool finished_ = false;
    std::vector<std::string> ids_;  // by watched-net index
    std::vector<const Net*> nets_;
    uint64_t units(Cycles c) const;
    void stamp(Cycles c);
};

}  // namespace sim
