// Fast-forward of polling loops.
//
// A poll (an SFR read, a Count read, a branch to itself) that comes round again at the
// same address marks a loop. The core then records two passes of it, one instruction at a
// time, exactly as it would run them. The loop can be skipped when a pass stores nothing,
// writes no SFR or CP0 register, takes no exception, reads only SFRs whose value changes
// in scheduled events, and leaves every register it reads before writing as it found it:
// then every further pass is the same as the last, except where Count decides. Values
// derived from Count are followed as Count + constant (or constant - Count); each branch
// or comparison on them holds for an interval of Count, and the first pass that leaves an
// interval is computed. The core jumps over whole passes, no further than the board's
// next event, and runs the last pass before the exit for real so that every register ends
// up as it would have.
#include <algorithm>

#include "sim/core/core_internal.h"

namespace sim {

using namespace mips;
using core::ld32;

void MipsCore::ffFailed(uint32_t pc, Cycles now) {
    Backoff& b = backoff_[pc];
    b.failures = std::min(b.failures + 1, 14u);
    b.retryAt = now + (Cycles(64) << b.failures);
}

bool MipsCore::peekDecoded(uint32_t pc, Decoded& d) {
    uint32_t p;
    if ((pc & 3) || !toPhysical(pc, p)) return false;
    Decoded* table;
    const uint8_t* bytes;
    switch (mem_.layout().regionOf(p, 4)) {
        case Region::Ram: table = &decRam_[(p - phys::kRam) / 4]; bytes = mem_.ram() + (p - phys::kRam); break;
        case Region::Flash: table = &decFlash_[(p - phys::kFlash) / 4]; bytes = mem_.flash() + (p - phys::kFlash); break;
        case Region::Boot: table = &decBoot_[(p - phys::kBoot) / 4]; bytes = mem_.boot() + (p - phys::kBoot); break;
        default: return false;
    }
    if (table->op == kUndecoded) *table = decode(ld32(bytes), pc);
    d = *table;
    return true;
}

// One instruction as run() would run it, between the same checks; false when something
// other than the instruction stream needs the core (an event, the end of the run, a
// reset, an interrupt or exception).
bool MipsCore::stepOnce(Cycles until, Cycles eventAt) {
    if (cycles_ >= until || cycles_ >= eventAt) return false;
    if (stopRequested_ || limitReached_ || resetPending_ || nmiPending_ || waiting_ || breakpoint_ || debugMode_)
        return false;
    uint64_t exceptions = stats_.exceptions, resets = stats_.resets;
    limit_ = cycles_ + 1;
    execute();
    if (breakpoint_) return false;
    service();
    // An exception or interrupt, a reset, or an access that scheduled or cancelled an event
    // ends the watch.
    return stats_.exceptions == exceptions && stats_.resets == resets && cycles_ < eventAt &&
           board_.sched.nextEventTime() == eventAt;
}

MipsCore::Recorded MipsCore::recordIteration(uint32_t head, uint32_t headNpc, bool headSlot, Cycles until,
                                             Cycles eventAt) {
    for (unsigned n = 0;; ++n) {
        if (n >= core::kMaxLoopSteps) return Recorded::Ended;
        Step s;
        s.pc = pc_;
        if (!peekDecoded(pc_, s.d)) return Recorded::Ended;
        std::memcpy(s.regs, regs_, sizeof regs_);
        s.hi = hi_;
        s.lo = lo_;
        s.time = cycles_;
        s.mduReady = std::max(mduReady_, divBusy_);
        s.fetchLine = timing_.lastFetchLine;
        steps_.push_back(s);
        if (!stepOnce(until, eventAt)) return Recorded::Ended;
        if (pc_ == head && npc_ == headNpc && slot_ == headSlot) return Recorded::Done;
    }
}

bool MipsCore::stableSfr(uint32_t physical) {
    SfrBus& bus = board_.bus;
    uint32_t a = 0xA0000000u | (physical & ~3u);
    Register* reg = bus.find(a);
    if (!reg) return bus.claims(a);  // a CLR/SET/INV companion reads 0; nothing else is quiet
    return !reg->hasReadSideEffects() && !reg->isTimeVarying();
}

namespace {

// A value derived from one Count read: slope x Count + constant (mod 2^32).
struct SymVal {
    int id = -1;
    int slope = 0;
};

struct Interval {  // [start, start + length) on the 2^32 circle
    uint32_t start;
    uint64_t length;
};

Interval unsignedLess(uint32_t x, bool outcome) {  // y <u x
    return outcome ? Interval{0, x} : Interval{x, (1ull << 32) - x};
}
Interval unsignedGreater(uint32_t x, bool outcome) {  // y >u x
    return outcome ? Interval{x + 1, (1ull << 32) - x - 1} : Interval{0, uint64_t(x) + 1};
}
Interval toSigned(Interval i) { return {i.start + 0x80000000u, i.length}; }
Interval equalTo(uint32_t x, bool outcome) { return outcome ? Interval{x, 1} : Interval{x + 1, (1ull << 32) - 1}; }

}  // namespace

void MipsCore::tryFastForward(Cycles until) {
    const uint32_t trig = trigPc_;
    const Cycles eventAt = board_.sched.nextEventTime();
    ++stats_.fastForwardAttempts;
    // A pass starts at the poll, so that what it reads is not carried from the pass before.
    for (unsigned n = 0; pc_ != trig; ++n)
        if (n >= core::kMaxLoopSteps || !stepOnce(until, eventAt)) {
            trigPc_ = 0;
            return;
        }
    const uint32_t head = pc_, headNpc = npc_;
    const bool headSlot = slot_;
    steps_.clear();
    inputs_.clear();
    recording_ = true;
    const Cycles t0 = cycles_;
    Recorded ra = recordIteration(head, headNpc, headSlot, until, eventAt);
    const Cycles tA = cycles_;
    const size_t bStep = steps_.size(), bInput = inputs_.size();
    Recorded rb = ra == Recorded::Done ? recordIteration(head, headNpc, headSlot, until, eventAt) : ra;
    recording_ = false;
    if (rb != Recorded::Done) {
        // The loop ended (or was left for an event, an interrupt, a long way round).
        trigPc_ = 0;
        if (ra != Recorded::Done || steps_.size() - bStep >= core::kMaxLoopSteps) ffFailed(trig, cycles_);
        return;
    }
    const Cycles period = tA - t0;
    const size_t len = steps_.size() - bStep;
    auto fail = [&] { ffFailed(trig, cycles_); };

    // Both passes alike: same instructions, same time, same SFR values.
    if (cycles_ - tA != period || len != bStep || inputs_.size() - bInput != bInput) return fail();
    for (size_t i = 0; i < len; ++i)
        if (steps_[i].pc != steps_[bStep + i].pc) return fail();
    for (size_t i = 0; i < bInput; ++i) {
        const Input &a = inputs_[i], &b = inputs_[bInput + i];
        if (a.count != b.count || a.step + bStep != b.step || a.address != b.address || a.time - t0 != b.time - tA)
            return fail();
        if (!a.count && a.value != b.value) return fail();
    }
    // The timing state repeats: fetch line, multiply/divide unit idle.
    const Step& first = steps_[bStep];
    if (first.fetchLine != timing_.lastFetchLine || first.mduReady > first.time || std::max(mduReady_, divBusy_) > cycles_)
        return fail();

    // Follow one pass.
    constexpr unsigned kHi = 33, kLo = 34;  // 32 is the $zero sink
    uint64_t liveIn = 0, written = 0;
    SymVal sym[35];
    struct Symbol {
        uint32_t value;
        Cycles time;
        uint64_t distance;  // Count increments before the first interval is left
    };
    std::vector<Symbol> symbols;
    size_t nextInput = bInput;
    bool ok = true;

    for (size_t i = bStep; i < steps_.size() && ok; ++i) {
        const Step& s = steps_[i];
        const Decoded& d = s.d;
        const uint32_t* R = s.regs;
        auto use = [&](unsigned reg) {
            if (reg != 0 && reg != kScratchReg && !(written >> reg & 1)) liveIn |= 1ull << reg;
        };
        auto def = [&](unsigned reg, SymVal v = {}) {
            if (reg == 0 || reg == kScratchReg) return;
            written |= 1ull << reg;
            sym[reg] = v;
        };
        auto sv = [&](unsigned reg) { return reg == 0 || reg == kScratchReg ? SymVal{} : sym[reg]; };
        // Adds the constraint "the comparison of this value comes out the same".
        auto constrain = [&](unsigned reg, Interval y) {
            SymVal v = sv(reg);
            Symbol& c = symbols[v.id];
            uint32_t k = v.slope > 0 ? R[reg] - c.value : R[reg] + c.value;
            Interval ci = v.slope > 0 ? Interval{y.start - k, y.length}
                                      : Interval{uint32_t(k - y.start - uint32_t(y.length) + 1), y.length};
            if (ci.length >= (1ull << 32)) return;
            uint64_t into = uint32_t(c.value - ci.start);
            if (into >= ci.length) {  // cannot happen for the recorded outcome
                ok = false;
                return;
            }
            c.distance = std::min(c.distance, ci.length - into);
        };
        // A comparison with one symbolic side; both symbolic is too hard.
        auto compare = [&](uint32_t rbValue, bool rbSym, bool isSigned, bool raLeft, bool outcome, unsigned raReg) {
            if (rbSym) {
                ok = false;
                return;
            }
            Interval y = raLeft ? unsignedLess(isSigned ? rbValue ^ 0x80000000u : rbValue, outcome)
                                : unsignedGreater(isSigned ? rbValue ^ 0x80000000u : rbValue, outcome);
            if (isSigned) y = toSigned(y);
            constrain(raReg, y);
        };
        auto combine = [&](SymVal a, int ka, SymVal b, int kb) -> SymVal {
            if (a.id < 0 && b.id < 0) return {};
            if (b.id < 0) return {a.id, a.slope * ka};
            if (a.id < 0) return {b.id, b.slope * kb};
            int slope = a.slope * ka + b.slope * kb;
            if (a.id != b.id || slope != 0) ok = false;
            return {};
        };
        auto passThrough = [&](unsigned src, bool identity) -> SymVal {
            SymVal v = sv(src);
            if (v.id >= 0 && !identity) ok = false;
            return identity ? v : SymVal{};
        };
        auto plain = [&](std::initializer_list<unsigned> srcs) {
            for (unsigned reg : srcs) {
                use(reg);
                if (sv(reg).id >= 0) ok = false;
            }
        };
        auto branchOn = [&](unsigned reg, bool taken, Interval (*setFor)(bool)) {
            use(reg);
            if (sv(reg).id >= 0) constrain(reg, setFor(taken));
        };
        int32_t srs = int32_t(R[d.rs]);

        switch (d.op) {
            case kNop: case kB: case kSpin: case kJ: break;
            case kJal: def(31); break;
            case kJr: plain({d.rs}); break;
            case kJalr: plain({d.rs}); def(d.rd); break;
            case kAddu: use(d.rs); use(d.rt); def(d.rd, combine(sv(d.rs), 1, sv(d.rt), 1)); break;
            case kSubu: use(d.rs); use(d.rt); def(d.rd, combine(sv(d.rs), 1, sv(d.rt), -1)); break;
            case kAddiu: use(d.rs); def(d.rd, sv(d.rs)); break;
            case kOr:
            case kXor: {
                use(d.rs);
                use(d.rt);
                SymVal a = sv(d.rs), b = sv(d.rt);
                if (a.id >= 0 && b.id >= 0) ok = false;
                SymVal v = a.id >= 0 ? (R[d.rt] == 0 ? a : (ok = false, SymVal{}))
                                     : b.id >= 0 ? (R[d.rs] == 0 ? b : (ok = false, SymVal{})) : SymVal{};
                def(d.rd, v);
                break;
            }
            case kAnd: {
                use(d.rs);
                use(d.rt);
                SymVal a = sv(d.rs), b = sv(d.rt);
                if (a.id >= 0 && b.id >= 0) ok = false;
                SymVal v{};
                if (a.id >= 0) v = R[d.rt] == 0xFFFFFFFFu ? a : R[d.rt] == 0 ? SymVal{} : (ok = false, SymVal{});
                if (b.id >= 0) v = R[d.rs] == 0xFFFFFFFFu ? b : R[d.rs] == 0 ? SymVal{} : (ok = false, SymVal{});
                def(d.rd, v);
                break;
            }
            case kOri: case kXori: use(d.rs); def(d.rd, passThrough(d.rs, d.imm == 0)); break;
            case kAndi: plain({d.rs}); def(d.rd); break;
            case kSll: case kSrl: case kSra: case kRotr: use(d.rt); def(d.rd, passThrough(d.rt, d.sa == 0)); break;
            case kLui: def(d.rd); break;
            case kSlt:
            case kSltu: {
                use(d.rs);
                use(d.rt);
                SymVal a = sv(d.rs), b = sv(d.rt);
                bool isSigned = d.op == kSlt;
                bool outcome = isSigned ? int32_t(R[d.rs]) < int32_t(R[d.rt]) : R[d.rs] < R[d.rt];
                if (a.id >= 0) compare(R[d.rt], b.id >= 0, isSigned, true, outcome, d.rs);
                else if (b.id >= 0) compare(R[d.rs], false, isSigned, false, outcome, d.rt);
                def(d.rd);
                break;
            }
            case kSlti:
            case kSltiu: {
                use(d.rs);
                bool isSigned = d.op == kSlti;
                bool outcome = isSigned ? srs < int32_t(d.imm) : R[d.rs] < d.imm;
                if (sv(d.rs).id >= 0) compare(d.imm, false, isSigned, true, outcome, d.rs);
                def(d.rd);
                break;
            }
            case kMovz:
            case kMovn: {
                use(d.rs);
                use(d.rt);
                use(d.rd);
                bool zero = R[d.rt] == 0;
                bool moved = d.op == kMovz ? zero : !zero;
                if (sv(d.rt).id >= 0) constrain(d.rt, equalTo(0, zero));
                def(d.rd, moved ? sv(d.rs) : sv(d.rd));
                break;
            }
            case kBeq: case kBne: case kBeql: case kBnel: {
                use(d.rs);
                use(d.rt);
                SymVal a = sv(d.rs), b = sv(d.rt);
                bool equal = R[d.rs] == R[d.rt];
                if (a.id >= 0 && b.id >= 0) {
                    if (a.id != b.id || a.slope != b.slope) ok = false;  // else the difference is fixed
                } else if (a.id >= 0) {
                    constrain(d.rs, equalTo(R[d.rt], equal));
                } else if (b.id >= 0) {
                    constrain(d.rt, equalTo(R[d.rs], equal));
                }
                break;
            }
            case kBltz: case kBltzl:
                branchOn(d.rs, srs < 0, [](bool t) { return t ? Interval{0x80000000u, 1ull << 31} : Interval{0, 1ull << 31}; });
                break;
            case kBgez: case kBgezl:
                branchOn(d.rs, srs >= 0, [](bool t) { return t ? Interval{0, 1ull << 31} : Interval{0x80000000u, 1ull << 31}; });
                break;
            case kBlez: case kBlezl:
                branchOn(d.rs, srs <= 0, [](bool t) { return t ? Interval{0x80000000u, (1ull << 31) + 1} : Interval{1, (1ull << 31) - 1}; });
                break;
            case kBgtz: case kBgtzl:
                branchOn(d.rs, srs > 0, [](bool t) { return t ? Interval{1, (1ull << 31) - 1} : Interval{0x80000000u, (1ull << 31) + 1}; });
                break;
            case kBltzal: case kBltzall:
                branchOn(d.rs, srs < 0, [](bool t) { return t ? Interval{0x80000000u, 1ull << 31} : Interval{0, 1ull << 31}; });
                def(31);
                break;
            case kBgezal: case kBgezall:
                branchOn(d.rs, srs >= 0, [](bool t) { return t ? Interval{0, 1ull << 31} : Interval{0x80000000u, 1ull << 31}; });
                def(31);
                break;
            case kSllv: case kSrlv: case kSrav: case kRotrv: case kNor: case kMul:
                plain({d.rs, d.rt});
                def(d.rd);
                break;
            case kClz: case kClo: case kExt: plain({d.rs}); def(d.rd); break;
            case kIns: plain({d.rs, d.rt}); def(d.rd); break;
            case kWsbh: case kSeb: case kSeh: plain({d.rt}); def(d.rd); break;
            case kMfhi: use(kHi); def(d.rd); break;
            case kMflo: use(kLo); def(d.rd); break;
            case kMthi: plain({d.rs}); def(kHi); break;
            case kMtlo: plain({d.rs}); def(kLo); break;
            case kMult: case kMultu: case kDiv: case kDivu:
                plain({d.rs, d.rt});
                def(kHi);
                def(kLo);
                break;
            case kMadd: case kMaddu: case kMsub: case kMsubu:
                plain({d.rs, d.rt});
                use(kHi);
                use(kLo);
                def(kHi);
                def(kLo);
                break;
            case kLb: case kLbu: case kLh: case kLhu: case kLw: case kLwl: case kLwr: {
                plain({d.rs});
                if (d.op == kLwl || d.op == kLwr) plain({d.rt});
                uint32_t a = R[d.rs] + d.imm, p;
                if (!toPhysical(a, p)) {
                    ok = false;
                    break;
                }
                if (mem_.layout().regionOf(p, 1) == Region::Sfr) {
                    if (!stableSfr(p) || nextInput >= inputs_.size() || inputs_[nextInput].step != i ||
                        inputs_[nextInput].count) {
                        ok = false;
                        break;
                    }
                    ++nextInput;
                }
                def(d.rd);
                break;
            }
            case kMfc0Count:
            case kRdhwr: {
                if (d.op == kRdhwr && d.sa != 2) {
                    def(d.rd);
                    break;
                }
                if (nextInput >= inputs_.size() || inputs_[nextInput].step != i || !inputs_[nextInput].count) {
                    ok = false;
                    break;
                }
                const Input& in = inputs_[nextInput++];
                symbols.push_back({in.value, in.time, 1ull << 32});
                def(d.rd, SymVal{int(symbols.size() - 1), 1});
                break;
            }
            case kMfc0: def(d.rd); break;
            default: ok = false; break;  // stores, CP0 writes, traps, anything with an effect
        }
    }
    if (!ok || nextInput != inputs_.size()) return fail();

    // Every register the pass reads before writing is as the pass found it.
    for (unsigned reg = 1; reg < 35; ++reg) {
        if (reg == kScratchReg || !(liveIn >> reg & 1)) continue;
        uint32_t before = reg == kHi ? first.hi : reg == kLo ? first.lo : first.regs[reg];
        uint32_t after = reg == kHi ? hi_ : reg == kLo ? lo_ : regs_[reg];
        if (before != after) return fail();
    }

    // Passes after the last recorded one (j = 1, 2, ...) take the same way while every Count
    // read stays in its intervals; pass j reads Count at time + j x period.
    uint64_t exitPass = UINT64_MAX;
    for (const Symbol& c : symbols) {
        if (c.distance >= (1ull << 32)) continue;
        uint64_t need = 2 * (c.time / 2) + 2 * c.distance - c.time;  // cycles until Count has moved `distance`
        exitPass = std::min(exitPass, (need + period - 1) / period);
    }
    Cycles limit = std::min(until, board_.sched.nextEventTime());
    uint64_t skip = limit > cycles_ ? (limit - cycles_) / period : 0;
    if (exitPass != UINT64_MAX) skip = std::min(skip, exitPass >= 2 ? exitPass - 2 : 0);
    skip = std::min<uint64_t>(skip, (1ull << 40) / period);
    backoff_.erase(trig);
    if (skip == 0) return;
    cycles_ += skip * period;
    ++stats_.fastForwards;
    stats_.skippedInstructions += skip * len;
    stats_.skippedCycles += skip * period;
}

}  // namespace sim
