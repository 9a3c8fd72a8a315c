// UART1/UART2: baud from UxBRG and PBCLK, 4-deep transmit and receive buffers, 8N1 frames
// shifted bit by bit onto the TX net and sampled mid-bit from the RX net.
#pragma once
#include <cstdint>
#include <deque>
#include <string>

#include "sim/chip/model.h"
#include "sim/wires/net.h"
#include "sim/time/scheduler.h"
#include "sim/chip/sfr_bus.h"

namespace sim {

class Intc;

class Uart : public Model {
public:
    struct Config {
        unsigned index;        // 1 or 2
        unsigned irqError, irqRx, irqTx;
        std::string txNet, rxNet;  // the pins' nets
    };
    static constexpr unsigned kFifoDepth = 4;

    Uart(const Config& c, SfrBus& bus, Nets& nets, Scheduler& sched, Intc& intc,
         std::function<unsigned()> pbdiv);

    Net& txNet() { return *tx_; }
    Net& rxNet() { return *rx_; }
    // One bit in system-clock cycles at the programmed rate.
    Cycles bitCycles() const;
    // Characters lost to overrun: the one that found the buffer full and every one that
    // arrived while OERR was still set.
    uint64_t overruns() const { return overruns_; }

    void reset() override;

private:
    Config cfg_;
    Scheduler& sched_;
    Intc& intc_;
    std::function<unsigned()> pbdiv_;
    Register *mode_, *sta_, *txreg_, *rxreg_, *brg_;
    Net* tx_;
    Net* rx_;
    int txDriver_;
    std::deque<uint8_t> txFifo_;
    bool shifting_ = false;
    std::deque<uint8_t> rxFifo_;
    bool receiving_ = false;
    uint64_t overruns_ = 0;
    uint64_t txGeneration_ = 0;  // invalidates scheduled bits after a reset or a switch-off

    bool on() const { return mode_->bit(U1MODE_ON); }
    bool txEnabled() const { return on() && sta_->bit(U1STA_UTXEN); }
    bool rxEnabled() const { return on() && sta_->bit(U1STA_URXEN); }
    void updateStatus();
    void startNext();
    void driveTx(bool level);
    void rxEdge(bool level);
    void rxSample(unsigned bit, Cycles start, Cycles bitTime, uint16_t frame);
};

}  // namespace sim
