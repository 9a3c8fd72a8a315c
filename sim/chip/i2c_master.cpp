#include "sim/chip/i2c_master.h"

#include "sim/chip/intc.h"
#include "sim/chip/ports.h"

namespace sim {

namespace {
// I2CxCON and I2CxSTAT bits (both modules have I2C1's layout)
constexpr uint32_t SEN = I2C1CON_SEN.mask, RSEN = I2C1CON_RSEN.mask, PEN = I2C1CON_PEN.mask,
                   RCEN = I2C1CON_RCEN.mask, ACKEN = I2C1CON_ACKEN.mask, ACKDT = I2C1CON_ACKDT.mask,
                   ON = I2C1CON_ON.mask;
constexpr uint32_t kEvents = SEN | RSEN | PEN | RCEN | ACKEN;
constexpr uint32_t TBF = I2C1STAT_TBF.mask, RBF = I2C1STAT_RBF.mask, S = I2C1STAT_S.mask, P = I2C1STAT_P.mask,
                   I2COV = I2C1STAT_I2COV.mask, IWCOL = I2C1STAT_IWCOL.mask, BCL = I2C1STAT_BCL.mask,
                   TRSTAT = I2C1STAT_TRSTAT.mask, ACKSTAT = I2C1STAT_ACKSTAT.mask;
constexpr uint32_t kErrors = BCL | IWCOL | I2COV;
}  // namespace

I2cMaster::I2cMaster(const Config& c, SfrBus& bus, Nets& nets, Ports& ports, Scheduler& sched, Intc& intc,
                     std::function<unsigned()> pbdiv)
    : cfg_(c),
      ports_(ports),
      sched_(sched),
      intc_(intc),
      pbdiv_(std::move(pbdiv)),
      lines_(i2cBus(nets, c.sda.name(), c.scl.name())),
      sdaDriver_(lines_.sda.addDriver()),
      sclDriver_(lines_.scl.addDriver()),
      watcher_(lines_, {[this] {
                            if (on()) stat_->hwWrite((stat_->value() | S) & ~P);
                        },
                        [this] {
                            if (on()) stat_->hwWrite((stat_->value() | P) & ~S);
                        },
                        [this](bool) {
                            if (auto step = std::move(whenSclHigh_)) {
                                whenSclHigh_ = nullptr;
                                step();
                            }
                        },
                        nullptr}) {
    std::string n = "I2C" + std::to_string(c.index);
    con_ = &bus.add(reg::named(n + "CON"), I2C1CON_SCLREL).writable(0xBFFF).onWrite([this](uint32_t b, uint32_t a) {
        controlWritten(b, a);
    });
    // Status is the hardware's; software can only clear the three error flags.
    stat_ = &bus.add(reg::named(n + "STAT")).writable(0).clearOnly(kErrors);
    bus.add(reg::named(n + "ADD")).writable(0x3FF);
    bus.add(reg::named(n + "MSK")).writable(0x3FF);
    brg_ = &bus.add(reg::named(n + "BRG")).writable(0xFFF);  // 12-bit generator
    trn_ = &bus.add(reg::named(n + "TRN")).writable(0xFF).onWrite([this](uint32_t, uint32_t v) {
        // The module queues nothing: a byte written while it is busy is refused.
        if (!on() || op_ != Op::None || (stat_->value() & TBF)) {
            stat_->hwSet(IWCOL);
            return;
        }
        shift_ = uint8_t(v);
        stat_->hwSet(TBF | TRSTAT);
        op_ = Op::Transmit;
        sendBit(0);
    });
    rcv_ = &bus.add(reg::named(n + "RCV")).writable(0).readHasSideEffects().onRead([this](uint32_t v) {
        stat_->hwClear(RBF);
        return v;
    });
}

Cycles I2cMaster::halfPeriod() const { return (Cycles(brg_->value()) + 2) << pbdiv_(); }

void I2cMaster::reset() {
    ++generation_;
    whenSclHigh_ = nullptr;
    op_ = Op::None;
    sda(true);
    scl(true);
    ports_.claim(cfg_.sda.port, cfg_.sda.bit, false);
    ports_.claim(cfg_.scl.port, cfg_.scl.bit, false);
}

void I2cMaster::sda(bool release) { lines_.sda.drive(sdaDriver_, release ? Drive::Z : Drive::Low); }
void I2cMaster::scl(bool release) { lines_.scl.drive(sclDriver_, release ? Drive::Z : Drive::Low); }

void I2cMaster::after(Cycles delay, std::function<void()> step) {
    uint64_t gen = generation_;
    sched_.after(delay, [this, gen, step = std::move(step)] {
        if (gen == generation_) step();
    });
}

// Lets SCL go and continues once it is high: a device holding it low stretches the clock,
// and the generator counts the high time only from the rising edge.
void I2cMaster::releaseScl(std::function<void()> whenHigh) {
    scl(true);
    if (lines_.scl.level()) {
        whenHigh();
        return;
    }
    uint64_t gen = generation_;
    whenSclHigh_ = [this, gen, whenHigh = std::move(whenHigh)] {
        if (gen == generation_) whenHigh();
    };
}

void I2cMaster::controlWritten(uint32_t before, uint32_t after) {
    if ((before ^ after) & ON) {
        if (!(after & ON)) {
            switchedOff();
            return;
        }
        ports_.claim(cfg_.sda.port, cfg_.sda.bit, true);
        ports_.claim(cfg_.scl.port, cfg_.scl.bit, true);
        sda(true);
        scl(true);
    }
    uint32_t requested = after & ~before & kEvents;
    if (!requested || !on()) return;
    // One event at a time, and none while another is on the bus: the request is dropped.
    if (op_ != Op::None || (requested & (requested - 1))) {
        con_->hwClear(requested);
        return;
    }
    begin(requested);
}

void I2cMaster::switchedOff() {
    ++generation_;
    whenSclHigh_ = nullptr;
    op_ = Op::None;
    con_->hwClear(kEvents);
    stat_->hwWrite(stat_->value() & (kErrors | ACKSTAT));
    sda(true);
    scl(true);
    ports_.claim(cfg_.sda.port, cfg_.sda.bit, false);
    ports_.claim(cfg_.scl.port, cfg_.scl.bit, false);
}

void I2cMaster::begin(uint32_t bit) {
    const Cycles t = halfPeriod();
    switch (bit) {
        case SEN:
            // Both lines must be high when the START begins, and SCL still high when SDA
            // is pulled down one TBRG later.
            if (!lines_.sda.level() || !lines_.scl.level()) {
                collision();
                return;
            }
            op_ = Op::Start;
            after(t, [this, t] {
                if (!lines_.sda.level() || !lines_.scl.level()) {
                    collision();
                    return;
                }
                sda(false);
                after(t, [this] {
                    scl(false);
                    done(SEN);
                });
            });
            return;
        case RSEN:
            op_ = Op::Restart;
            sda(true);
            after(t, [this, t] {
                releaseScl([this, t] {
                    after(t, [this, t] {
                        if (!lines_.sda.level()) {
                            collision();
                            return;
                        }
                        sda(false);
                        after(t, [this] {
                            scl(false);
                            done(RSEN);
                        });
                    });
                });
            });
            return;
        case PEN:
            op_ = Op::Stop;
            sda(false);
            after(t, [this, t] {
                releaseScl([this, t] {
                    after(t, [this, t] {
                        sda(true);
                        if (!lines_.sda.level()) {
                            collision();
                            return;
                        }
                        after(t, [this] { done(PEN); });
                    });
                });
            });
            return;
        case RCEN:
            op_ = Op::Receive;
            shift_ = 0;
            sda(true);
            receiveBit(0);
            return;
        case ACKEN:
            op_ = Op::Ack;
            sda(con_->value() & ACKDT);
            after(t, [this, t] {
                releaseScl([this, t] {
                    after(t, [this] {
                        scl(false);
                        sda(true);
                        done(ACKEN);
                    });
                });
            });
            return;
    }
}

void I2cMaster::done(uint32_t conBit) {
    con_->hwClear(conBit);
    op_ = Op::None;
    intc_.raise(cfg_.irqMaster);
}

// Lost arbitration or a line that did not follow: the module lets both lines go, ends
// whatever it was doing and flags BCL.
void I2cMaster::collision() {
    ++generation_;
    whenSclHigh_ = nullptr;
    op_ = Op::None;
    con_->hwClear(kEvents);
    stat_->hwClear(TBF | TRSTAT);
    stat_->hwSet(BCL);
    sda(true);
    scl(true);
    intc_.raise(cfg_.irqBus);
}

// Bit i of the byte in the shift register, MSB first; the ninth clock reads the acknowledge.
void I2cMaster::sendBit(unsigned i) {
    const Cycles t = halfPeriod();
    if (i == 8) {
        stat_->hwClear(TBF);
        sda(true);
        after(t, [this, t] {
            releaseScl([this, t] {
                stat_->hwPut(ACKSTAT, lines_.sda.level());
                after(t, [this] {
                    scl(false);
                    stat_->hwClear(TRSTAT);
                    done(0);
                });
            });
        });
        return;
    }
    bool bit = shift_ >> (7 - i) & 1u;
    sda(bit);
    after(t, [this, t, i, bit] {
        releaseScl([this, t, i, bit] {
            if (bit && !lines_.sda.level()) {  // someone else holds SDA low
                collision();
                return;
            }
            after(t, [this, i] {
                scl(false);
                sendBit(i + 1);
            });
        });
    });
}

void I2cMaster::receiveBit(unsigned i) {
    const Cycles t = halfPeriod();
    if (i == 8) {
        // A byte that arrives while the previous one is still unread is lost.
        if (stat_->value() & RBF) {
            stat_->hwSet(I2COV);
        } else {
            rcv_->hwWrite(shift_);
            stat_->hwSet(RBF);
        }
        done(RCEN);
        return;
    }
    after(t, [this, t, i] {
        releaseScl([this, t, i] {
            bool bit = lines_.sda.level();
            after(t, [this, i, bit] {
                shift_ = uint8_t(shift_ << 1 | (bit ? 1 : 0));
                scl(false);
                receiveBit(i + 1);
            });
        });
    });
}

}  // namespace sim
