// The M4K core of the PIC32MX: a MIPS32 release 2 integer interpreter on the virtual board.
// It fetches from its own copy of the chip's flash and RAM (memory()), reaches the
// peripherals through the board's SFR bus, takes interrupts from the board's interrupt
// controller and keeps its time in the board's scheduler. Instructions are decoded once
// per word and run by a direct-threaded interpreter.
//
// Interrupts (external controller mode): the highest request of board.intc is taken when
// Status.IE = 1, EXL = ERL = 0, not in debug mode, and its priority is above Status.IPL;
// Cause.RIPL = priority, EPC = the interrupted instruction (its branch, with Cause.BD, in
// a delay slot). Vector: EBase + 0x200 + vector x IntCtl.VS x 32 with Cause.IV = 1 and
// Status.BEV = 0, else the general exception entry (EBase + 0x180, 0xBFC00380 with BEV).
// A software reset (RSWRST, a board reset listener) restarts the core at 0xBFC00000 at its
// next instruction boundary; nmi() enters there with Status.NMI, ErrorEPC set.
// Not modelled: shadow register sets (SRSCtl reads 0; rdpgpr/wrpgpr use the one set), user
// mode (the core always runs in kernel mode), MIPS16e (a jump to an odd address raises
// AdEL), the software interrupts of Cause.IP1..0, nested exceptions in debug mode (they
// take the general vector).
//
// Timing, per instruction: 1 cycle, plus
//  - multiply/divide (fast MDU): mult/multu/madd/maddu/msub/msubu deliver HI/LO 1 cycle
//    after issue when rt fits in 16 bits, 2 cycles otherwise; mul takes 2 or 3 cycles;
//    div/divu deliver after 12/19/26/33 cycles by the significant bits of rs (8/16/24/32)
//    and block the next MDU operation until then; mfhi/mflo/mthi/mtlo wait for the result;
//  - flash (program or boot): through KSEG0 with Config.K0 = 3 (cacheable) every access
//    hits the prefetch cache (its 16-line capacity is not modelled); uncached, an
//    instruction fetch that enters another 16-byte flash line waits CHECON.PFMWS cycles
//    unless it is the next line and predictive prefetch covers uncached regions
//    (CHECON.PREFEN bit 1), and a data load waits CHECON.PFMWS cycles;
//  - data RAM: one wait state per access while BMXCON.BMXWSDRM is set (fetches too);
//  - SFR load or store: `CoreOptions::sfrCycles` more (the peripheral bus);
//  - exception and interrupt entry: `CoreOptions::exceptionCycles` more.
// Count advances at half the system clock (sim::Cp0).
//
// Memory: KSEG0 and KSEG1 map the low 512 MiB; data RAM, program flash and boot flash are
// memory, 0x1F800000..0x1F8FFFFF is the SFR bus; anything else is a bus error (IBE on a
// fetch, DBE on data), and so is a store to flash.
// SFR accesses narrower than a word: a load reads the whole register once and picks its
// byte lane; a store writes one word in which the other lanes keep the register's
// current value (on a CLR/SET/INV companion and a data register they are 0), so only the
// addressed lane changes, as on the chip's peripheral bus.
//
// Fast-forward: when the core repeats a loop that only polls (SFRs whose values change
// only in scheduled events, Count, memory it does not write) the whole iterations up to
// the board's next event are skipped in one step; Count-dependent exits are worked out
// exactly, so every trace is the same as without it. A `wait` sleeps to the next event
// in any case.
#pragma once
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "sim/boards/board.h"
#include "sim/core/core_timing.h"
#include "sim/core/memory_map.h"
#include "sim/core/mips_decode.h"

namespace sim {

struct CoreOptions {
    bool fastForward = true;  // off: every instruction runs
    // A debug probe is attached: sdbbp stops run() at the sdbbp instead of taking the
    // debug exception.
    bool debugProbe = false;
    Cycles sfrCycles = 3;
    Cycles exceptionCycles = 3;
};

// Breakpoint: an sdbbp with a probe attached, or one of the debugger's breakpoints.
enum class StopReason { TimeLimit, Breakpoint, Stopped, Step, Watchpoint };

// Debugging: breakpoints, data watchpoints, single steps and the instruction trace. While
// one of them is in use the core runs one instruction at a time and checks each; virtual
// time and everything on the pins stay as without them.
struct DataWatch {
    uint32_t address, length;  // virtual addresses; KSEG0 and KSEG1 of a byte are the same
    bool onRead, onWrite;
};
struct ExecutedInstruction {
    Cycles time;  // when it started
    uint32_t pc, word;
    int written = -1;  // the register it changed (0..31, 32 = HI, 33 = LO), or -1
    uint32_t value = 0;
};
// An exception or interrupt entry not yet returned from with eret: if the device resets
// before that, the entry is what led to it.
struct ExceptionEntry {
    Cycles time;
    unsigned code;    // Cause.ExcCode
    int vector;       // an interrupt's vector, or -1
    uint32_t epc, badVAddr, status;  // as they were at the entry (Status before it)
    bool delaySlot;
    uint32_t pcHistory[8];  // the last instructions run, oldest first (0: none)
};
struct CoreDebug {
    std::vector<uint32_t> breakpoints;  // instruction addresses
    std::vector<DataWatch> watches;
    bool step = false;  // stop after the next instruction
    std::function<void(const ExecutedInstruction&)> onInstruction;
    // Seen as they happen, without slowing the core down: interrupt entries (vector,
    // priority, EPC), erets (the address returned to) and SFR accesses (physical address,
    // write or read, value, the instruction's address), at the core's time.
    std::function<void(Cycles, unsigned vector, unsigned priority, uint32_t epc)> onInterrupt;
    std::function<void(Cycles, uint32_t to)> onReturn;
    std::function<void(Cycles, uint32_t address, bool write, uint32_t value, uint32_t pc)> onSfr;
    bool active() const { return step || onInstruction || !breakpoints.empty() || !watches.empty(); }
};

struct CoreStats {
    uint64_t instructions = 0;         // executed
    uint64_t skippedInstructions = 0;  // covered by fast-forward
    uint64_t fastForwardAttempts = 0;  // loops watched
    uint64_t fastForwards = 0;         // of them, skipped
    Cycles skippedCycles = 0;
    uint64_t exceptions = 0;  // interrupts included
    uint64_t interrupts = 0;
    uint64_t resets = 0;
};

class MipsCore {
public:
    explicit MipsCore(Board& board, const CoreOptions& options = {});
    ~MipsCore();
    MipsCore(const MipsCore&) = delete;
    MipsCore& operator=(const MipsCore&) = delete;

    Board& board() { return board_; }
    MemoryMap& memory() { return mem_; }
    CoreOptions& options() { return opt_; }
    const CoreStats& stats() const { return stats_; }

    // Runs until virtual time reaches `until` (at an instruction boundary), or a stop. A
    // limit set with Board::stopAt also ends it, at the next instruction boundary.
    StopReason run(Cycles until);
    // Ends the current run() at the next instruction boundary (from a model's callback).
    void requestStop();
    // Non-maskable interrupt: taken at the next instruction boundary.
    void nmi();
    // The core's reset (as the chip's reset of the core): reset vector, no pending state.
    // The board's own reset, with CP0, is the board's.
    void reset();

    Cycles cycles() const { return cycles_; }
    uint32_t pc() const { return pc_; }
    void setPc(uint32_t pc);
    uint32_t reg(unsigned n) const { return n < 32 ? regs_[n] : 0; }
    void setReg(unsigned n, uint32_t v) {
        if (n && n < 32) regs_[n] = v;
    }
    uint32_t hi() const { return hi_; }
    uint32_t lo() const { return lo_; }
    void setHi(uint32_t v) { hi_ = v; }
    void setLo(uint32_t v) { lo_ = v; }
    bool inDebugMode() const { return debugMode_; }
    bool inDelaySlot() const { return slot_; }

    // The debugger's view: what to stop at, and why the last run() stopped there.
    CoreDebug& debug() { return dbg_; }
    uint32_t watchHit() const { return watchHit_; }  // the address of a Watchpoint stop
    bool watchHitWasWrite() const { return watchHitWrite_; }
    // The newest exception or interrupt entry that has not returned (eret), if any.
    const ExceptionEntry* openEntry() const { return entryOpen_ ? &entry_ : nullptr; }
    // The last instructions run, oldest first (0 where fewer ran).
    void pcHistory(uint32_t (&out)[8]) const;
    // Reads an instruction word (false outside the memories).
    bool fetchWord(uint32_t pc, uint32_t& word) const;

private:
    struct FetchWindow {
        uint32_t base = 0, size = 0;  // virtual addresses [base, base + size)
        uint32_t words = 0;           // size / 4
        uintptr_t end = 0;            // past the last entry of `decoded`; 0: no window
        mips::Decoded* decoded = nullptr;
        const uint8_t* bytes = nullptr;
        Cycles cost = 1;  // per instruction
        void open(uint32_t at, uint32_t bytes_, mips::Decoded* dec, const uint8_t* data, Cycles perInstruction) {
            base = at;
            size = bytes_;
            words = bytes_ / 4;
            decoded = dec;
            end = uintptr_t(dec + words);
            bytes = data;
            cost = perInstruction;
        }
        void close() { size = words = 0, end = 0; }
    };
    // Where a data access lands.
    struct Access {
        Region region;
        uint32_t offset;  // within the region (physical address for the SFR window)
        bool cached;
    };
    // One instruction of a loop being watched for fast-forward, with the state before it.
    struct Step {
        uint32_t pc;
        mips::Decoded d;
        uint32_t regs[33];
        uint32_t hi, lo;
        Cycles time;
        Cycles mduReady;
        uint32_t fetchLine;
    };
    enum class Recorded { Done, Ended };
    struct Input {  // an SFR or Count read in a watched loop
        unsigned step;
        bool count;
        uint32_t address, value;
        Cycles time;
    };

    Board& board_;
    CoreOptions opt_;
    MemoryMap mem_;
    CoreStats stats_;

    // Architectural state.
    uint32_t regs_[33] = {};  // 32 is the sink for writes to $zero
    uint32_t hi_ = 0, lo_ = 0;
    uint32_t pc_ = 0, npc_ = 0;  // next instruction and the one after it
    bool slot_ = false;          // pc_ is in a branch delay slot
    bool llbit_ = false;
    bool debugMode_ = false;

    // Time.
    Cycles cycles_ = 0;
    Cycles limit_ = 0;     // the inner loop returns when cycles_ reaches it
    Cycles slowClock_ = 0;  // the time inside a slow path of the interpreter
    Cycles mduReady_ = 0;  // HI/LO valid from here
    Cycles divBusy_ = 0;   // the divider takes no new operation before here
    bool waiting_ = false;

    // Pending requests from outside the instruction stream.
    bool resetPending_ = false;
    bool nmiPending_ = false;
    bool stopRequested_ = false;
    bool limitReached_ = false;  // Board::stopAt fired
    bool breakpoint_ = false;

    // The instruction being executed, for exceptions raised in helpers.
    uint32_t curPc_ = 0;
    bool curSlot_ = false;
    uint32_t cpUnit_ = 0;  // Cause.CE of a coprocessor-unusable exception

    // What accesses cost, from CHECON, BMXCON, Config.K0 and the options.
    AccessTiming timing_;
    Register* checon_ = nullptr;
    Register* bmxcon_ = nullptr;

    // Data RAM, for the interpreter's fast paths.
    uint8_t* ram_ = nullptr;
    uint32_t ramBytes_ = 0;

    // Decoded instructions, one per word of each memory.
    std::vector<mips::Decoded> decRam_, decFlash_, decBoot_;
    uint64_t memGeneration_ = ~0ull;
    FetchWindow fw_;

    // Debugging.
    CoreDebug dbg_;
    uint32_t watchHit_ = 0;
    bool watchHitWrite_ = false;
    struct Run {  // a straight run of instructions: where it began, and the first one's count
        static constexpr uint64_t kNone = ~0ull;
        uint32_t pc = 0;
        uint64_t count = kNone;
    };
    Run runs_[8];  // the newest at runHead_ (each run holds at least one instruction)
    unsigned runHead_ = 0;
    uint64_t pcCount_ = 0;     // instructions run
    uint64_t pcCountNow_ = 0;  // the same, at an exception raised inside the interpreter
    ExceptionEntry entry_{};
    bool entryOpen_ = false;
    void noteEntry(uint64_t count, Cycles time, unsigned code, int vector, uint32_t epc, bool bd, uint32_t badVAddr, uint32_t statusBefore);
    void historyAt(uint64_t count, uint32_t (&out)[8]) const;
    StopReason debugStep(bool first);
    bool watched(uint32_t pc, bool& write, uint32_t& address);

    // Fast-forward.
    uint32_t trigPc_ = 0;
    Cycles trigTime_ = 0;
    bool ffRequest_ = false;
    bool recording_ = false;
    std::vector<Step> steps_;
    std::vector<Input> inputs_;
    struct Backoff {
        unsigned failures = 0;
        uint64_t retryAt = 0;
    };
    std::unordered_map<uint32_t, Backoff> backoff_;

    Listeners<const ResetRecord&>::Id resetListener_ = 0;  // on the board
    Listeners<>::Id stopListener_ = 0;

    void execute();
    void service();
    void coreReset();
    void refreshTiming();
    void invalidateDecoded();
    bool setFetchWindow(uint32_t pc);

    // Exceptions: state of the faulting instruction comes from curPc_/curSlot_; `badVAddr`
    // is the address of an address error. These slow paths, and those of the data
    // accesses, keep time in slowClock_: the interpreter's clock while it is in one
    // (cycles_ stays the time the current run of instructions started from, as traces read it).
    void jump(uint32_t target);
    void exception(unsigned code, uint32_t badVAddr = 0);
    void takeInterrupt(unsigned vector, unsigned priority);

    // Data access slow paths: false when an exception was raised.
    bool classify(uint32_t va, Access& a) const;
    bool loadSlow(uint32_t va, unsigned size, uint32_t& value);
    bool storeSlow(uint32_t va, unsigned size, uint32_t value);
    uint32_t sfrRead(uint32_t physical, unsigned size, Cycles& cyc);
    void sfrWrite(uint32_t physical, unsigned size, uint32_t value, Cycles& cyc);
    void syncScheduler(Cycles cyc);

    uint32_t cp0Read(unsigned reg, unsigned sel, Cycles cyc);
    void cp0Write(unsigned reg, unsigned sel, uint32_t value, Cycles cyc);
    void eret(Cycles cyc);
    void deret();
    void debugException();

    // Fast-forward helpers.
    void ffNote(uint32_t pc, Cycles cyc);
    void ffInput(bool count, uint32_t address, uint32_t value, Cycles time);
    void tryFastForward(Cycles until);
    bool stepOnce(Cycles until, Cycles eventAt);
    Recorded recordIteration(uint32_t head, uint32_t headNpc, bool headSlot, Cycles until, Cycles eventAt);
    bool peekDecoded(uint32_t pc, mips::Decoded& d);
    bool stableSfr(uint32_t physical);
    void ffFailed(uint32_t pc, Cycles now);
};

}  // namespace sim
