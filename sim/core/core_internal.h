// Shared by the core's own files (interpreter, exceptions, bus, fast-forward); not for
// users of MipsCore.
#pragma once
#include <bit>
#include <cstring>

#include "sim/core/mips_core.h"

namespace sim {

static_assert(std::endian::native == std::endian::little, "the simulated memories are kept in host byte order");

namespace core {

// Fast-forward: a loop is watched when the same poll comes round again within this many
// cycles, and only if one pass takes at most this many instructions.
constexpr Cycles kTriggerWindow = 2048;
constexpr unsigned kMaxLoopSteps = 64;
// Watching a loop and working out its exits costs about as much as running a few thousand
// instructions: it is tried only when the next event is at least this far away (a card
// byte at 400 kHz is 1600 cycles; the clock demo's polls wait longer).
constexpr Cycles kWorthSkipping = 512;

inline uint32_t ld32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
inline uint16_t ld16(const uint8_t* p) {
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}
inline void st32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }
inline void st16(uint8_t* p, uint16_t v) { std::memcpy(p, &v, 2); }

}  // namespace core

// Called on every poll the interpreter sees; cheap unless a loop comes round again.
inline void MipsCore::ffNote(uint32_t pc, Cycles cyc) {
    if (recording_) return;
    if (pc == trigPc_ && cyc - trigTime_ <= core::kTriggerWindow) {
        trigTime_ = cyc;
        auto it = backoff_.find(pc);
        if (it != backoff_.end() && cyc < it->second.retryAt) return;
        const Cycles next = board_.sched.nextEventTime();
        if (next <= cyc || next - cyc < core::kWorthSkipping) return;
        ffRequest_ = true;
        limit_ = 0;
        return;
    }
    if (trigPc_ == 0 || cyc - trigTime_ > core::kTriggerWindow) {
        trigPc_ = pc;
        trigTime_ = cyc;
    }
}

inline void MipsCore::ffInput(bool count, uint32_t address, uint32_t value, Cycles time) {
    if (!recording_) return;
    inputs_.push_back({unsigned(steps_.size() - 1), count, address, value, time});
}

}  // namespace sim
