// The core's side of the buses: the fetch windows of the interpreter, where a data access
// lands, the SFR byte lanes, and what each access costs (core_timing.h).
#include <cstring>

#include "sim/core/core_internal.h"

namespace sim {

using namespace mips;
using core::ld32;

// CHECON, BMXCON and Config.K0 as they are now; read again whenever one may have changed.
void MipsCore::refreshTiming() {
    // Without the registers on the bus: the reset values, 7 wait states and the RAM one.
    unsigned flashWait = checon_ ? checon_->field(CHECON_PFMWS) : 7;
    bool prefetchUncached = checon_ && (checon_->field(CHECON_PREFEN) & 2);  // PREFEN = 1x
    bool ramWait = bmxcon_ ? bmxcon_->bit(BMXCON_BMXWSDRM) : true;
    timing_.configure(flashWait, prefetchUncached, ramWait, (board_.cp0.read(cp0reg::Config, 0) & 7) == 3,
                      opt_.sfrCycles, opt_.exceptionCycles);
    fw_.close();
}

// and what each fetch in it costs.
bool MipsCore::setFetchWindow(uint32_t pc) {
    Cycles& cyc = slowClock_;
    uint32_t p;
    if (!toPhysical(pc, p)) return false;
    const MemoryLayout& l = mem_.layout();
    bool kseg0 = !(pc & 0x20000000u);
    switch (l.regionOf(p, 4)) {
        case Region::Ram:
            fw_.open(pc - (p - phys::kRam), l.ramBytes, decRam_.data(), mem_.ram(), timing_.ramFetch());
            return true;
        case Region::Flash:
        case Region::Boot: {
            bool boot = p >= phys::kBoot;
            uint32_t regionBase = boot ? phys::kBoot : phys::kFlash;
            Decoded* dec = boot ? decBoot_.data() : decFlash_.data();
            const uint8_t* bytes = boot ? mem_.boot() : mem_.flash();
            if (kseg0 && timing_.k0Cached) {
                fw_.open(pc - (p - regionBase), boot ? phys::kBootBytes : l.flashBytes, dec, bytes, 1);
                return true;
            }
            uint32_t line = p >> 4;
            cyc += timing_.flashFetch(line);
            uint32_t lineOffset = (p & ~15u) - regionBase;
            fw_.open(pc & ~15u, 16, dec + lineOffset / 4, bytes + lineOffset, 1);
            return true;
        }
        default: return false;
    }
}


// ---------------------------------------------------------------------------------------
// Data accesses: the slow paths of the interpreter

// The board catches up with the core; a reset or the run limit on the way is noted by the
// core's listeners and taken at the next instruction boundary.
void MipsCore::syncScheduler(Cycles cyc) { board_.sched.advanceTo(cyc); }

bool MipsCore::classify(uint32_t va, Access& a) const {
    uint32_t p;
    if (!toPhysical(va, p)) return false;
    const MemoryLayout& l = mem_.layout();
    a.cached = !(va & 0x20000000u) && timing_.k0Cached;
    a.region = l.regionOf(p, 1);
    switch (a.region) {
        case Region::Ram: a.offset = p - phys::kRam; return true;
        case Region::Flash: a.offset = p - phys::kFlash; return true;
        case Region::Boot: a.offset = p - phys::kBoot; return true;
        case Region::Sfr: a.offset = p; return true;
        default: return false;
    }
}

uint32_t MipsCore::sfrRead(uint32_t p, unsigned size, Cycles& cyc) {
    cyc += timing_.sfr;
    syncScheduler(cyc);
    const uint32_t a = 0xA0000000u | (p & ~3u);
    uint32_t word = board_.bus.read(a);
    // A read that takes something away (a flag, a buffered byte, a reset) may change what
    // the board does next; any other read leaves the interpreter running.
    const Register* reg = board_.bus.find(a);
    if (!reg || reg->hasReadSideEffects()) limit_ = 0;
    uint32_t v = word >> (8 * (p & 3));
    if (size == 1) v &= 0xFF;
    else if (size == 2) v &= 0xFFFF;
    if (dbg_.onSfr) dbg_.onSfr(cyc, p, false, v, curPc_);
    if (opt_.fastForward) {
        ffInput(false, p, v, cyc);
        ffNote(curPc_, cyc);
    }
    return v;
}

void MipsCore::sfrWrite(uint32_t p, unsigned size, uint32_t value, Cycles& cyc) {
    cyc += timing_.sfr;
    syncScheduler(cyc);
    uint32_t a = 0xA0000000u | (p & ~3u);
    SfrBus& bus = board_.bus;
    if (dbg_.onSfr) dbg_.onSfr(cyc, p, true, value, curPc_);
    if (size == 4) {
        bus.write(a, value);
    } else {
        unsigned shift = 8 * (p & 3);
        uint32_t mask = (size == 1 ? 0xFFu : 0xFFFFu) << shift;
        uint32_t v = (value << shift) & mask;
        Register* reg = bus.find(a);
        if (reg && bus.claims(a + 4) && !bus.find(a + 4)) v |= reg->value() & ~mask;  // other lanes unchanged
        bus.write(a, v);
    }
    refreshTiming();
    limit_ = 0;
}

bool MipsCore::loadSlow(uint32_t va, unsigned size, uint32_t& value) {
    Cycles& cyc = slowClock_;
    if (va & (size - 1)) {
        exception(exc::AdEL, va);
        return false;
    }
    Access a;
    if (!classify(va, a)) {
        exception(exc::DBE);
        return false;
    }
    const uint8_t* base = nullptr;
    switch (a.region) {
        case Region::Ram:
            base = mem_.ram();
            cyc += timing_.ramData();
            break;
        case Region::Flash:
            base = mem_.flash();
            cyc += timing_.flashLoad(a.cached);
            break;
        case Region::Boot:
            base = mem_.boot();
            cyc += timing_.flashLoad(a.cached);
            break;
        case Region::Sfr: value = sfrRead(a.offset, size, cyc); return true;
        default: break;
    }
    value = 0;
    std::memcpy(&value, base + a.offset, size);
    return true;
}

bool MipsCore::storeSlow(uint32_t va, unsigned size, uint32_t value) {
    Cycles& cyc = slowClock_;
    if (va & (size - 1)) {
        exception(exc::AdES, va);
        return false;
    }
    Access a;
    if (!classify(va, a) || a.region == Region::Flash || a.region == Region::Boot) {
        exception(exc::DBE);  // unmapped, or flash: read-only to the core
        return false;
    }
    if (a.region == Region::Sfr) {
        sfrWrite(a.offset, size, value, cyc);
        return true;
    }
    std::memcpy(mem_.ram() + a.offset, &value, size);
    decRam_[a.offset / 4].op = kUndecoded;
    cyc += timing_.ramData();
    return true;
}

}  // namespace sim
