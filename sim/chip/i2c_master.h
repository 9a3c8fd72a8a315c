// I2C1 in master mode: SCL from I2CxBRG and PBCLK, the START, repeated START, STOP,
// transmit, receive and acknowledge sequences driven open-drain onto the SDA and SCL
// nets, with the status bits the data sheet gives them. The module only sees the wires:
// S and P follow any START or STOP on the bus, a device may stretch the clock, and a
// line that does not follow the master is a bus collision.
#pragma once
#include <cstdint>
#include <functional>

#include "sim/wires/i2c_bus.h"
#include "sim/boards/description.h"
#include "sim/chip/model.h"
#include "sim/wires/net.h"
#include "sim/time/scheduler.h"
#include "sim/chip/sfr_bus.h"

namespace sim {

class Intc;
class Ports;

class I2cMaster : public Model {
public:
    struct Config {
        unsigned index;               // 1 or 2
        unsigned irqBus, irqMaster;   // I2CxB (collision) and I2CxM (master event)
        Pin sda, scl;                 // taken over while the module is on
    };

    I2cMaster(const Config& c, SfrBus& bus, Nets& nets, Ports& ports, Scheduler& sched, Intc& intc,
              std::function<unsigned()> pbdiv);

    I2cLines lines() const { return lines_; }
    // One baud-rate-generator period, TBRG = (I2CxBRG + 2) PBCLK cycles, in system-clock
    // cycles: half an SCL period.
    Cycles halfPeriod() const;
    bool on() const { return con_->bit(I2C1CON_ON); }

    void reset() override;

private:
    enum class Op { None, Start, Restart, Stop, Transmit, Receive, Ack };

    Config cfg_;
    Ports& ports_;
    Scheduler& sched_;
    Intc& intc_;
    std::function<unsigned()> pbdiv_;
    I2cLines lines_;
    int sdaDriver_, sclDriver_;
    I2cWatcher watcher_;
    Register *con_, *stat_, *brg_, *trn_, *rcv_;

    Op op_ = Op::None;
    uint64_t generation_ = 0;             // invalidates the steps of an aborted sequence
    std::function<void()> whenSclHigh_;   // a step waiting for a stretched clock
    uint8_t shift_ = 0;

    void controlWritten(uint32_t before, uint32_t after);
    void switchedOff();
    void begin(uint32_t bit);
    void done(uint32_t conBit);
    void collision();

    void sda(bool release);
    void scl(bool release);
    void after(Cycles delay, std::function<void()> step);
    void releaseScl(std::function<void()> whenHigh);
    void sendBit(unsigned i);
    void receiveBit(unsigned i);
};

}  // namespace sim
