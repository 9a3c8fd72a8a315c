#include "platform/host/host_backend.h"

#include <cstdio>
#include <stdexcept>

#include "platform/cp0.h"
#include "platform/isr.h"
#include "platform/plib.h"
#include "platform/sfr.h"
#include "runtime/startup_cp0.h"

// Handlers bound with PLATFORM_ISR define platform_vector_N; the others stay null.
#define PLATFORM_WEAK_VECTOR(n) extern "C" const ::platform::VectorBinding platform_vector_##n __attribute__((weak));
#define PLATFORM_8(m, b) m(b##0) m(b##1) m(b##2) m(b##3) m(b##4) m(b##5) m(b##6) m(b##7)
PLATFORM_WEAK_VECTOR(0) PLATFORM_WEAK_VECTOR(1) PLATFORM_WEAK_VECTOR(2) PLATFORM_WEAK_VECTOR(3)
PLATFORM_WEAK_VECTOR(4) PLATFORM_WEAK_VECTOR(5) PLATFORM_WEAK_VECTOR(6) PLATFORM_WEAK_VECTOR(7)
PLATFORM_WEAK_VECTOR(8) PLATFORM_WEAK_VECTOR(9)
PLATFORM_8(PLATFORM_WEAK_VECTOR, 1) PLATFORM_WEAK_VECTOR(18) PLATFORM_WEAK_VECTOR(19)
PLATFORM_8(PLATFORM_WEAK_VECTOR, 2) PLATFORM_WEAK_VECTOR(28) PLATFORM_WEAK_VECTOR(29)
PLATFORM_8(PLATFORM_WEAK_VECTOR, 3) PLATFORM_WEAK_VECTOR(38) PLATFORM_WEAK_VECTOR(39)
PLATFORM_8(PLATFORM_WEAK_VECTOR, 4) PLATFORM_WEAK_VECTOR(48) PLATFORM_WEAK_VECTOR(49)
PLATFORM_8(PLATFORM_WEAK_VECTOR, 5) PLATFORM_WEAK_VECTOR(58) PLATFORM_WEAK_VECTOR(59)
PLATFORM_WEAK_VECTOR(60) PLATFORM_WEAK_VECTOR(61) PLATFORM_WEAK_VECTOR(62) PLATFORM_WEAK_VECTOR(63)

namespace platform::host {
namespace {

sim::Board* g_board = nullptr;
AccessCost g_cost;

#define PLATFORM_ADDR(n) &platform_vector_##n,
const VectorBinding* const kVectors[64] = {
    PLATFORM_ADDR(0) PLATFORM_ADDR(1) PLATFORM_ADDR(2) PLATFORM_ADDR(3) PLATFORM_ADDR(4) PLATFORM_ADDR(5)
    PLATFORM_ADDR(6) PLATFORM_ADDR(7) PLATFORM_ADDR(8) PLATFORM_ADDR(9)
    PLATFORM_8(PLATFORM_ADDR, 1) PLATFORM_ADDR(18) PLATFORM_ADDR(19)
    PLATFORM_8(PLATFORM_ADDR, 2) PLATFORM_ADDR(28) PLATFORM_ADDR(29)
    PLATFORM_8(PLATFORM_ADDR, 3) PLATFORM_ADDR(38) PLATFORM_ADDR(39)
    PLATFORM_8(PLATFORM_ADDR, 4) PLATFORM_ADDR(48) PLATFORM_ADDR(49)
    PLATFORM_8(PLATFORM_ADDR, 5) PLATFORM_ADDR(58) PLATFORM_ADDR(59)
    PLATFORM_ADDR(60) PLATFORM_ADDR(61) PLATFORM_ADDR(62) PLATFORM_ADDR(63)};

// The run-time's reset path for an interrupt without a handler or an exception:
// interrupts off, system unlock, SWRST armed and a read of RSWRST, until it takes.
[[noreturn]] void resetDevice() {
    for (;;) {
        cp0::disableInterrupts();
        SYSTEMUnlock();
        RSWRSTSET = 1;
        (void)static_cast<uint32_t>(RSWRST);
    }
}

// Firmware on the host is unwound, up to run() or runFor(), when the board's run limit is
// reached or the device resets.
struct RunLimitReached {};
struct DeviceReset {};

// The board's limit and reset reach the firmware for as long as one run lasts.
class Unwinding {
public:
    Unwinding(sim::Board& b, sim::Cycles until) : b_(b) {
        reset_ = b.resetListeners.add([](const sim::ResetRecord&) { throw DeviceReset{}; });
        stop_ = b.stopListeners.add([] { throw RunLimitReached{}; });
        b.stopAt(until);
    }
    ~Unwinding() {
        b_.stopAt(UINT64_MAX);
        b_.resetListeners.remove(reset_);
        b_.stopListeners.remove(stop_);
    }
    Unwinding(const Unwinding&) = delete;
    Unwinding& operator=(const Unwinding&) = delete;

private:
    sim::Board& b_;
    sim::Listeners<const sim::ResetRecord&>::Id reset_;
    sim::Listeners<>::Id stop_;
};

int g_depth = 0;
unsigned g_levelMismatches = 0;

void noteLevelMismatch(unsigned vector, unsigned bound, unsigned programmed) {
    if (g_levelMismatches++ == 0)
        std::fprintf(stderr, "warning: vector %u: handler bound at level %u, priority programmed %u\n", vector,
                     bound, programmed);
}

// Takes the highest pending request if the core would: CP0 makes the entry as the core's
// hardware does (EXL, RIPL) and names the vector; the handler's wrapper saves EPC and
// Status, clears EXL, raises IPL to its level and lets higher levels nest; on exit it
// restores Status.
void takeInterrupts() {
    sim::Board& b = *g_board;
    while (true) {
        auto req = b.intc.pending();
        if (!req || !b.cp0.accepts(req->priority)) return;
        uint32_t saved = b.cp0.status();
        // Firmware on the host has no program counter to return to: EPC reads 0.
        uint32_t entry = b.cp0.enterInterrupt(req->vector, req->priority, 0, false);
        bool vectored = entry != b.cp0.generalVector();
        const VectorBinding* binding = vectored ? kVectors[req->vector] : nullptr;
        b.sched.advance(g_cost.interrupt / 2);
        if (!binding) resetDevice();  // _DefaultInterrupt or the general exception
        // The entry code raises the priority to the level of the request it serves; the
        // level a handler is bound at must be the one its driver programs.
        if (binding->level != req->priority) noteLevelMismatch(req->vector, binding->level, req->priority);
        uint32_t s = saved & ~0xFFFEu;
        b.cp0.setStatus(s | (req->priority << 10));
        ++g_depth;
        try {
            binding->handler();
        } catch (...) {
            --g_depth;
            throw;
        }
        --g_depth;
        b.sched.advance(g_cost.interrupt / 2);
        b.cp0.setStatus(saved);
    }
}

inline void step(sim::Cycles cost) {
    if (!g_board) throw std::logic_error("firmware access with no board attached");
    g_board->sched.advance(cost);
    takeInterrupts();
}

}  // namespace

void attach(sim::Board* b) { g_board = b; }

void runtimeStartup() {
    sim::Cp0& c = board().cp0;
    c.write(sim::cp0reg::Count, 0, STARTUP_COUNT);
    c.write(sim::cp0reg::Compare, 0, STARTUP_COMPARE);
    c.write(15, 1, STARTUP_EBASE);
    c.write(12, 1, STARTUP_INTCTL);
    c.write(sim::cp0reg::Cause, 0, STARTUP_CAUSE);
    c.setStatus(c.status() & STARTUP_STATUS_KEEP);
    c.setStatus(c.status() & ~(1u << STARTUP_BEV_BIT));
}
sim::Board& board() {
    if (!g_board) throw std::logic_error("no board attached");
    return *g_board;
}
AccessCost& cost() { return g_cost; }
unsigned levelMismatches() { return g_levelMismatches; }

void idle(sim::Cycles cycles) {
    sim::Cycles end = board().now() + cycles;
    while (g_board->now() < end) {
        sim::Cycles next = std::min(end, g_board->sched.nextEventTime());
        g_board->sched.advanceTo(next);
        takeInterrupts();
    }
}

bool runFor(const std::function<void()>& body, sim::Cycles until) {
    Unwinding unwinding(board(), until);
    bool completed = false;
    try {
        body();
        completed = true;
    } catch (const RunLimitReached&) {
    } catch (const DeviceReset&) {
        g_depth = 0;
    }
    return completed;
}

unsigned run(const std::function<void()>& entry, sim::Cycles until, unsigned maxResets) {
    Unwinding unwinding(board(), until);
    unsigned resets = 0;
    for (;;) {
        try {
            runtimeStartup();
            entry();
            // main returned: the run-time idles until the end of the run
            for (;;) step(1000);
        } catch (const RunLimitReached&) {
            break;
        } catch (const DeviceReset&) {
            g_depth = 0;
            if (++resets > maxResets) break;
        }
    }
    return resets;
}

uint32_t sfrRead(uint32_t address) {
    step(g_cost.sfr);
    uint32_t v = g_board->bus.read(address);
    takeInterrupts();
    return v;
}

void sfrWrite(uint32_t address, uint32_t value) {
    step(g_cost.sfr);
    g_board->bus.write(address, value);
    takeInterrupts();  // an access can raise or enable a request, taken before the next one
}

}  // namespace platform::host

namespace platform {

uint32_t sfrRead(uint32_t address) { return host::sfrRead(address); }
void sfrWrite(uint32_t address, uint32_t value) { host::sfrWrite(address, value); }

uint32_t cp0Read(unsigned reg, unsigned sel) {
    host::step(host::g_cost.cp0);
    return host::g_board->cp0.read(reg, sel);
}

void cp0Write(unsigned reg, unsigned sel, uint32_t value) {
    host::step(host::g_cost.cp0);
    host::g_board->cp0.write(reg, sel, value);
    host::takeInterrupts();
}

uint32_t cp0DisableInterrupts() {
    host::step(host::g_cost.cp0);
    uint32_t s = host::g_board->cp0.status();
    host::g_board->cp0.setStatus(s & ~cp0::StatusIE);
    return s;
}

void cp0EnableInterrupts() {
    host::step(host::g_cost.cp0);
    host::g_board->cp0.setStatus(host::g_board->cp0.status() | cp0::StatusIE);
    host::takeInterrupts();
}

}  // namespace platform
