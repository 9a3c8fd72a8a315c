// What the GDB server drives: a halted MIPS32 M4K (little-endian, no FPU) that can be
// inspected, changed and resumed. The simulator keeps breakpoints and watchpoints itself;
// flash is never patched. Virtual time passes only inside step() and run().
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace sim::debug {

// Register numbers in gdb's MIPS order (the classic 'g' layout without the FPU).
namespace gdbreg {
constexpr unsigned Zero = 0, Sp = 29, Ra = 31;  // 0..31: the general registers
constexpr unsigned Status = 32, Lo = 33, Hi = 34, BadVAddr = 35, Cause = 36, Pc = 37;
constexpr unsigned Count = 38;
}  // namespace gdbreg

enum class WatchKind { Write, Read, Access };  // Z2, Z3, Z4

struct StopEvent {
    enum class Kind {
        Breakpoint,  // about to execute an instruction of the breakpoint set
        Watchpoint,  // a load or store is about to touch a watched range; pc is at it
        StepDone,    // step() executed its one instruction
        SliceEnded,  // run() used its instruction budget; nothing else happened
        Ended,       // the target cannot go on (exitCode says why)
    };
    Kind kind = Kind::SliceEnded;
    WatchKind watch = WatchKind::Write;  // Watchpoint: which kind fired
    uint32_t dataAddress = 0;            // Watchpoint: the address accessed
    unsigned exitCode = 0;               // Ended
};

class GdbTarget {
public:
    virtual ~GdbTarget() = default;

    // n < gdbreg::Count. Writes to $zero are ignored; false for a register that cannot
    // be written.
    virtual uint32_t readRegister(unsigned n) = 0;
    virtual bool writeRegister(unsigned n, uint32_t value) = 0;

    // Byte ranges at virtual addresses. Returns how many bytes from `address` on could be
    // read (it stops at the first one that cannot).
    virtual size_t readMemory(uint32_t address, uint8_t* out, size_t length) = 0;
    // All or nothing: false leaves memory unchanged.
    virtual bool writeMemory(uint32_t address, const uint8_t* bytes, size_t length) = 0;

    // Execution breakpoints (software and hardware alike), by instruction address.
    virtual bool insertBreakpoint(uint32_t address) = 0;
    virtual bool removeBreakpoint(uint32_t address) = 0;
    // Data watchpoints on [address, address + length).
    virtual bool insertWatchpoint(WatchKind kind, uint32_t address, uint32_t length) = 0;
    virtual bool removeWatchpoint(WatchKind kind, uint32_t address, uint32_t length) = 0;

    // One instruction, whatever it touches. A taken branch stops in its delay slot (pc =
    // the slot, the branch still pending); the next step runs the slot and stops at the
    // branch target.
    virtual StopEvent step() = 0;
    // Up to `maxInstructions` (a branch's delay slot may go past the budget). A breakpoint
    // at the pc run() starts from does not stop it: that instruction is executed first.
    // A watched access stops before the load or store executes (gdb steps over it with the
    // watchpoint removed and then compares the old and new value). run() never stops
    // between a branch and its delay slot: gdb steps in software on MIPS (a breakpoint on
    // the next pc it works out), which from a delay slot would lose the branch, so a stop
    // caused by a slot is reported at the branch, as EPC with Cause.BD on the chip.
    virtual StopEvent run(uint64_t maxInstructions) = 0;

    virtual void reset() = 0;
    // `monitor CMD`: false if the command is unknown. `out` is shown to the user.
    virtual bool monitor(std::string_view command, std::string& out) = 0;
    // The debugger went away: kill ends the target, detach lets it go on by itself.
    virtual void kill() = 0;
    virtual void detach() = 0;
};

}  // namespace sim::debug
