// A real-time clock chip with the PCF8563 register map on the I2C wires (7-bit address
// 0x51). It decodes SDA and SCL as the chip does: a 4-bit register pointer set by the
// first byte of a write, auto-increment with wrap from 0x0F to 0x00, BCD time registers
// 0x02..0x08 counting once a second of virtual time, held from START to STOP with one
// pending second applied after the STOP, the VL bit and the century flag.
//
// Faults for tests and demos: the chip absent, a byte left unacknowledged, SCL stretched
// after each acknowledge, SDA held low, or both lines held so that the next START collides.
#pragma once
#include <array>
#include <cstdint>

#include "sim/wires/i2c_bus.h"
#include "sim/chip/model.h"
#include "sim/time/scheduler.h"

namespace sim {

class Board;

class RtcChip : public Model {
public:
    static constexpr uint8_t kAddress = 0x51;

    // Seconds roll over at `firstTick` and every second of virtual time after it
    // (0: one second after the chip is attached).
    RtcChip(Scheduler& sched, I2cLines lines, uint64_t sysclkHz, Cycles firstTick = 0);
    // The chip in its place on the board (the demo board's I2C1 bus).
    static RtcChip& attach(Board& board, Cycles firstTick = 0);
    // The wires of the clock chip's place on the board.
    static I2cLines busOf(Board& board);

    struct Faults {
        bool absent = false;  // nothing answers: every address byte goes unacknowledged
        int nackAtByte = -1;  // this byte of each transaction is not acknowledged (0: the address)
        Cycles stretch = 0;   // SCL held low this long after each acknowledge clock
        int stretchCount = -1;  // how many acknowledges are stretched (-1: every one)
    };
    Faults faults;

    // SDA held low from now on for `duration`: on an idle bus that is a START, and its
    // release a STOP, for every device and master that watches.
    void holdSdaLow(Cycles duration);
    // SCL and then SDA pulled low from now on for `duration` (and let go in the reverse
    // order): no START or STOP is seen, but a master that starts meanwhile collides.
    void holdBus(Cycles duration);

    // The register as stored, all eight bits (the data sheet's "x" bits read back as they
    // were written).
    uint8_t reg(unsigned r) const { return regs_[r & 0x0F]; }
    // Presets a register, e.g. a time kept on the chip's battery, or junk in its unused bits.
    void poke(unsigned r, uint8_t value) { regs_[r & 0x0F] = value; }
    // Supply dropped below the chip's minimum: VL (bit 7 of seconds) is set.
    void lowVoltage() { regs_[2] |= 0x80; }
    bool counting() const { return !held_; }

    // Chip state is kept over a reset of the processor.
    void reset() override {}

private:
    enum class State { Idle, Receive, AckOut, Send, AckIn, Ignore };

    Scheduler& sched_;
    I2cLines lines_;
    uint64_t sysclk_;
    int sda_, scl_;                // the chip's open-drain outputs
    int faultSda_, faultScl_;      // whatever holds the lines in a fault
    I2cWatcher watcher_;
    std::array<uint8_t, 16> regs_{};
    uint8_t pointer_ = 0;
    Cycles nextTick_;
    bool held_ = false;            // between START and STOP
    bool pending_ = false;         // one second came while held

    State state_ = State::Idle;
    unsigned bits_ = 0;            // bits of the current byte clocked so far
    uint8_t shift_ = 0;
    unsigned byteIndex_ = 0;       // bytes of this transaction received so far
    bool read_ = false;
    bool masterAck_ = false;

    void tick();
    void addSecond();
    void start();
    void stop();
    void rise(bool sda);
    void fall();
    void byteReceived();
    void sendBit();
    void endOfAcknowledge();
    void drive(bool release) { lines_.sda.drive(sda_, release ? Drive::Z : Drive::Low); }
};

}  // namespace sim
