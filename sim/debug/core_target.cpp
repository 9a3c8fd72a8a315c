#include "sim/debug/core_target.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

namespace sim::debug {

uint32_t CoreTarget::readRegister(unsigned n) {
    Cp0& cp0 = core_.board().cp0;
    if (n < 32) return core_.reg(n);
    switch (n) {
        case gdbreg::Status: return cp0.status();
        case gdbreg::Lo: return core_.lo();
        case gdbreg::Hi: return core_.hi();
        case gdbreg::BadVAddr: return cp0.read(cp0reg::BadVAddr, 0);
        case gdbreg::Cause: return cp0.cause();
        case gdbreg::Pc: return core_.pc();
        default: return 0;
    }
}

bool CoreTarget::writeRegister(unsigned n, uint32_t value) {
    if (n < 32) {
        core_.setReg(n, value);
        return true;
    }
    switch (n) {
        case gdbreg::Lo: core_.setLo(value); return true;
        case gdbreg::Hi: core_.setHi(value); return true;
        case gdbreg::Pc: core_.setPc(value); return true;
        case gdbreg::Status: core_.board().cp0.setStatus(value); return true;
        case gdbreg::Cause: core_.board().cp0.write(cp0reg::Cause, 0, value); return true;
        default: return false;
    }
}

bool CoreTarget::sfrWindow(uint32_t address, uint32_t& physical) const {
    return toPhysical(address, physical) && physical >= phys::kSfr && physical < phys::kSfrEnd;
}

size_t CoreTarget::readMemory(uint32_t address, uint8_t* out, size_t length) {
    for (size_t i = 0; i < length;) {
        uint32_t a = address + uint32_t(i), p;
        if (sfrWindow(a, p)) {
            // One read of the whole register for the bytes of it asked for, as a load does.
            uint32_t word = core_.board().bus.read(p & ~3u);
            for (unsigned lane = p & 3; lane < 4 && i < length; ++lane, ++i) out[i] = uint8_t(word >> (8 * lane));
            continue;
        }
        if (!toPhysical(a, p) || !core_.memory().read(p, out + i, 1)) return i;
        ++i;
    }
    return length;
}

bool CoreTarget::writeMemory(uint32_t address, const uint8_t* bytes, size_t length) {
    // All or nothing: every byte must land somewhere first.
    for (size_t i = 0; i < length; ++i) {
        uint32_t a = address + uint32_t(i), p;
        uint8_t probe;
        if (!sfrWindow(a, p) && !(toPhysical(a, p) && core_.memory().read(p, &probe, 1))) return false;
    }
    for (size_t i = 0; i < length;) {
        uint32_t a = address + uint32_t(i), p;
        if (sfrWindow(a, p)) {
            // The bytes written replace those lanes; the others keep the register's value.
            uint32_t word = core_.board().bus.read(p & ~3u);
            for (unsigned lane = p & 3; lane < 4 && i < length; ++lane, ++i)
                word = (word & ~(0xFFu << (8 * lane))) | uint32_t(bytes[i]) << (8 * lane);
            core_.board().bus.write(p & ~3u, word);
            continue;
        }
        toPhysical(a, p);
        core_.memory().write(p, bytes + i, 1);
        ++i;
    }
    return true;
}

bool CoreTarget::insertBreakpoint(uint32_t address) {
    auto& b = core_.debug().breakpoints;
    if (std::find(b.begin(), b.end(), address) == b.end()) b.push_back(address);
    return true;
}

bool CoreTarget::removeBreakpoint(uint32_t address) {
    std::erase(core_.debug().breakpoints, address);
    return true;
}

void CoreTarget::syncWatches() {
    auto& w = core_.debug().watches;
    w.clear();
    for (const Watch& x : watches_)
        w.push_back({x.address, x.length, x.kind != WatchKind::Write, x.kind != WatchKind::Read});
}

bool CoreTarget::insertWatchpoint(WatchKind kind, uint32_t address, uint32_t length) {
    if (length == 0) return false;
    watches_.push_back({kind, address, length});
    syncWatches();
    return true;
}

bool CoreTarget::removeWatchpoint(WatchKind kind, uint32_t address, uint32_t length) {
    std::erase_if(watches_, [&](const Watch& w) { return w.kind == kind && w.address == address && w.length == length; });
    syncWatches();
    return true;
}

StopEvent CoreTarget::stopOf(StopReason why) {
    StopEvent e;
    switch (why) {
        case StopReason::Breakpoint: e.kind = StopEvent::Kind::Breakpoint; return e;
        case StopReason::Step: e.kind = StopEvent::Kind::StepDone; return e;
        case StopReason::Watchpoint: {
            e.kind = StopEvent::Kind::Watchpoint;
            e.dataAddress = core_.watchHit();
            uint32_t hit = samePlace(core_.watchHit());
            for (const Watch& w : watches_) {
                uint32_t base = samePlace(w.address);
                bool fits = w.kind == WatchKind::Access || (w.kind == WatchKind::Write) == core_.watchHitWasWrite();
                if (fits && hit >= base && hit < base + w.length) {
                    e.watch = w.kind;
                    break;
                }
            }
            return e;
        }
        case StopReason::Stopped: e.kind = StopEvent::Kind::Ended; return e;
        case StopReason::TimeLimit: break;
    }
    e.kind = core_.cycles() >= end_ ? StopEvent::Kind::Ended : StopEvent::Kind::SliceEnded;
    return e;
}

StopEvent CoreTarget::step() {
    if (core_.cycles() >= end_) return stopOf(StopReason::TimeLimit);
    core_.debug().step = true;
    StopReason why = core_.run(end_);
    core_.debug().step = false;
    return stopOf(why);
}

StopEvent CoreTarget::run(uint64_t maxInstructions) {
    if (core_.cycles() >= end_) return stopOf(StopReason::TimeLimit);
    // An instruction takes a cycle at least: the budget in cycles bounds the slice.
    Cycles until = std::min<Cycles>(end_, core_.cycles() + std::max<uint64_t>(1, maxInstructions));
    StopReason why = core_.run(until);
    if (why == StopReason::TimeLimit && core_.inDelaySlot() && core_.cycles() < end_) {
        core_.debug().step = true;  // never stop between a branch and its slot
        why = core_.run(end_);
        core_.debug().step = false;
        if (why == StopReason::Step) why = StopReason::TimeLimit;
    }
    return stopOf(why);
}

void CoreTarget::reset() {
    core_.board().reset("debugger reset");
    core_.reset();
}

bool CoreTarget::monitor(std::string_view command, std::string& out) {
    if (command == "reset") {
        reset();
        out = "the board was reset; the core is at the reset vector\n";
        return true;
    }
    if (command == "time") {
        char b[96];
        Cycles c = core_.cycles();
        std::snprintf(b, sizeof b, "%" PRIu64 " cycles, %.3f us\n", uint64_t(c),
                      double(c) * 1e6 / double(core_.board().sysclkHz()));
        out = b;
        return true;
    }
    if (command == "help" || command.empty()) {
        out = "monitor reset  resets the board (as RSWRST does)\n"
              "monitor time   virtual time in cycles and microseconds\n";
        return true;
    }
    return false;
}

}  // namespace sim::debug
