// Debugging: one instruction at a time with breakpoints, data watchpoints, single steps and
// the instruction trace; the record of the last exception entry and of the instructions
// before it, for fault reports.
#include <algorithm>
#include <cstring>

#include "sim/core/core_internal.h"

namespace sim {

using namespace mips;
using core::ld32;

namespace {
bool hasDelaySlot(uint8_t op) { return op >= kJ && op <= kSpin; }  // jumps and branches
}  // namespace

// The interpreter notes where each straight run of instructions began (its address and the
// count of the first); the instructions in between follow in sequence.
void MipsCore::historyAt(uint64_t count, uint32_t (&out)[8]) const {
    unsigned e = 0;  // entries back from the newest
    for (unsigned i = 8; i-- > 0;) {
        out[i] = 0;
        if (count < 8 - i) continue;
        uint64_t k = count - (8 - i);
        while (e < 8 && runs_[(runHead_ - e) & 7].count > k) ++e;
        if (e == 8) continue;
        const Run& r = runs_[(runHead_ - e) & 7];
        if (r.count == Run::kNone) continue;
        out[i] = r.pc + 4 * uint32_t(k - r.count);
    }
}

void MipsCore::pcHistory(uint32_t (&out)[8]) const { historyAt(pcCount_, out); }

bool MipsCore::fetchWord(uint32_t pc, uint32_t& word) const {
    uint32_t p;
    if ((pc & 3) || !toPhysical(pc, p)) return false;
    const MemoryMap& m = mem_;
    switch (m.layout().regionOf(p, 4)) {
        case Region::Ram: word = ld32(m.ram() + (p - phys::kRam)); return true;
        case Region::Flash: word = ld32(m.flash() + (p - phys::kFlash)); return true;
        case Region::Boot: word = ld32(m.boot() + (p - phys::kBoot)); return true;
        default: return false;
    }
}

void MipsCore::noteEntry(uint64_t count, Cycles time, unsigned code, int vector, uint32_t epc, bool bd, uint32_t badVAddr, uint32_t statusBefore) {
    entry_.time = time;
    entry_.code = code;
    entry_.vector = vector;
    entry_.epc = epc;
    entry_.badVAddr = badVAddr;
    entry_.status = statusBefore;
    entry_.delaySlot = bd;
    historyAt(count, entry_.pcHistory);
    entryOpen_ = true;
}

// Would the instruction at `pc` read or write a watched byte? For a branch, its delay slot
// is asked too: a stop is never made between the two.
bool MipsCore::watched(uint32_t pc, bool& write, uint32_t& address) {
    Decoded d;
    if (dbg_.watches.empty() || !peekDecoded(pc, d)) return false;
    if (hasDelaySlot(d.op) && watched(pc + 4, write, address)) return true;
    unsigned size;
    switch (d.op) {
        case kLb: case kLbu: case kSb: size = 1; break;
        case kLh: case kLhu: case kSh: size = 2; break;
        case kLw: case kLl: case kSw: case kSc: size = 4; break;
        case kLwl: case kLwr: case kSwl: case kSwr: size = 4; break;
        default: return false;
    }
    write = d.op == kSb || d.op == kSh || d.op == kSw || d.op == kSc || d.op == kSwl || d.op == kSwr;
    uint32_t ea = regs_[d.rs] + d.imm;
    if (d.op == kLwl || d.op == kLwr || d.op == kSwl || d.op == kSwr) ea &= ~3u;
    uint32_t a = samePlace(ea);
    for (const DataWatch& w : dbg_.watches) {
        if (!(write ? w.onWrite : w.onRead)) continue;
        uint32_t base = samePlace(w.address);
        if (a < base + w.length && base < a + size) {
            address = std::max(a, base) == a ? ea : w.address;
            return true;
        }
    }
    return false;
}

// One instruction with the debugger's checks. `first`: the instruction the run resumes at,
// whose breakpoint or watchpoint has just been reported.
StopReason MipsCore::debugStep(bool first) {
    if (!first && !waiting_ && !slot_) {  // a delay slot was checked with its branch
        uint32_t at = samePlace(pc_);
        for (uint32_t b : dbg_.breakpoints)
            if (samePlace(b) == at) return StopReason::Breakpoint;
        bool write;
        uint32_t address;
        if (watched(pc_, write, address)) {  // before the access, as MIPS watch registers do
            watchHit_ = address;
            watchHitWrite_ = write;
            return StopReason::Watchpoint;
        }
    }
    if (waiting_) return StopReason::TimeLimit;  // asleep: the run loop moves time on
    ExecutedInstruction e{cycles_, pc_, 0};
    uint32_t before[35];
    const bool trace = bool(dbg_.onInstruction);
    if (trace) {
        fetchWord(pc_, e.word);
        std::memcpy(before, regs_, 32 * sizeof(uint32_t));
        before[32] = hi_;
        before[33] = lo_;
    }
    limit_ = cycles_ + 1;
    ffRequest_ = false;
    execute();
    ffRequest_ = false;  // no fast-forward while debugging: it changes nothing that is seen
    if (trace) {
        for (int n = 1; n < 34; ++n) {
            uint32_t now = n < 32 ? regs_[n] : n == 32 ? hi_ : lo_;
            if (now != before[n]) {
                e.written = n;
                e.value = now;
                break;
            }
        }
        dbg_.onInstruction(e);
    }
    return dbg_.step ? StopReason::Step : StopReason::TimeLimit;
}

}  // namespace sim
