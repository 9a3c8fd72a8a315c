// The core simulator as the GDB server's target: registers and CP0 as gdb numbers them,
// memory over the simulated map (RAM, program and boot flash; SFRs through the bus, so a
// read of a register with read side effects, such as U1RXREG, has them), breakpoints and
// watchpoints kept by the core. Virtual time moves only while the target runs; the run
// ends at `end`.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "sim/core/mips_core.h"
#include "sim/debug/gdb_target.h"

namespace sim::debug {

class CoreTarget : public GdbTarget {
public:
    CoreTarget(MipsCore& core, Cycles end) : core_(core), end_(end) {}

    bool killed() const { return killed_; }
    bool detached() const { return detached_; }

    uint32_t readRegister(unsigned n) override;
    bool writeRegister(unsigned n, uint32_t value) override;
    size_t readMemory(uint32_t address, uint8_t* out, size_t length) override;
    bool writeMemory(uint32_t address, const uint8_t* bytes, size_t length) override;
    bool insertBreakpoint(uint32_t address) override;
    bool removeBreakpoint(uint32_t address) override;
    bool insertWatchpoint(WatchKind kind, uint32_t address, uint32_t length) override;
    bool removeWatchpoint(WatchKind kind, uint32_t address, uint32_t length) override;
    StopEvent step() override;
    StopEvent run(uint64_t maxInstructions) override;
    void reset() override;
    bool monitor(std::string_view command, std::string& out) override;
    void kill() override { killed_ = true; }
    void detach() override { detached_ = true; }

private:
    struct Watch {
        WatchKind kind;
        uint32_t address, length;
    };
    MipsCore& core_;
    Cycles end_;
    std::vector<Watch> watches_;
    bool killed_ = false, detached_ = false;
    void syncWatches();
    StopEvent stopOf(StopReason why);
    bool sfrWindow(uint32_t address, uint32_t& physical) const;
};

}  // namespace sim::debug
