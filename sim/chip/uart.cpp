#include "sim/chip/uart.h"

#include "sim/chip/intc.h"

namespace sim {

namespace {
// UxSTA bits (UART2 has UART1's layout)
constexpr uint32_t UTXBF = U1STA_UTXBF.mask, TRMT = U1STA_TRMT.mask, RIDLE = U1STA_RIDLE.mask,
                   FERR = U1STA_FERR.mask, OERR = U1STA_OERR.mask, URXDA = U1STA_URXDA.mask;
}

Uart::Uart(const Config& c, SfrBus& bus, Nets& nets, Scheduler& sched, Intc& intc,
           std::function<unsigned()> pbdiv)
    : cfg_(c), sched_(sched), intc_(intc), pbdiv_(std::move(pbdiv)) {
    std::string n = "U" + std::to_string(c.index);
    mode_ = &bus.add(reg::named(n + "MODE")).writable(0xBFFF).onWrite([this](uint32_t before, uint32_t after) {
        if ((before ^ after) & U1MODE_ON.mask) {
            if (!on()) {  // switching off resets the buffers and the shifters
                txFifo_.clear();
                rxFifo_.clear();
                shifting_ = receiving_ = false;
                ++txGeneration_;
                sta_->hwClear(OERR | FERR);
            }
            driveTx(true);
        }
        updateStatus();
        startNext();
    });
    // UTXBF, TRMT, RIDLE, PERR, FERR and URXDA are status; OERR can only be cleared.
    sta_ = &bus.add(reg::named(n + "STA"), TRMT | RIDLE).writable(0x01FFFEE2).clearOnly(OERR);
    sta_->onWrite([this](uint32_t before, uint32_t after) {
        if ((before & OERR) && !(after & OERR)) rxFifo_.clear();  // clearing OERR empties the buffer
        if ((before ^ after) & U1STA_UTXEN.mask) driveTx(true);
        updateStatus();
        startNext();
    });
    txreg_ = &bus.add(reg::named(n + "TXREG")).onWrite([this](uint32_t, uint32_t v) {
        if (!on() || txFifo_.size() >= kFifoDepth) return;  // nowhere to go: the byte is lost
        txFifo_.push_back(uint8_t(v));
        updateStatus();
        startNext();
    });
    rxreg_ = &bus.add(reg::named(n + "RXREG")).writable(0).readHasSideEffects().onRead([this](uint32_t last) {
        if (rxFifo_.empty()) return last;
        uint32_t v = rxFifo_.front();
        rxFifo_.pop_front();
        rxreg_->hwWrite(v);
        // With URXISEL = 00 the next buffered character raises the receive flag again.
        if (!rxFifo_.empty() && sta_->field(U1STA_URXISEL) == 0) intc_.raise(cfg_.irqRx);
        updateStatus();
        return v;
    });
    brg_ = &bus.add(reg::named(n + "BRG")).writable(0xFFFF);

    tx_ = &nets.get(c.txNet);
    rx_ = &nets.get(c.rxNet);
    txDriver_ = tx_->addDriver();
    rx_->listen([this](Net&, bool level) { rxEdge(level); });
}

Cycles Uart::bitCycles() const {
    Cycles perBit = (mode_->bit(U1MODE_BRGH) ? 4 : 16) * (Cycles(brg_->value()) + 1);
    return perBit << pbdiv_();
}

void Uart::reset() {
    txFifo_.clear();
    rxFifo_.clear();
    shifting_ = receiving_ = false;
    ++txGeneration_;
    tx_->drive(txDriver_, Drive::Z);
}

void Uart::updateStatus() {
    sta_->hwPut(UTXBF, txFifo_.size() >= kFifoDepth);
    sta_->hwPut(TRMT, txFifo_.empty() && !shifting_);
    sta_->hwPut(URXDA, !rxFifo_.empty());
    sta_->hwPut(RIDLE, !receiving_);
}

void Uart::driveTx(bool level) {
    if (!txEnabled()) {
        tx_->drive(txDriver_, Drive::Z);  // the pin falls back to the port; the pull-up keeps it idle
        return;
    }
    tx_->drive(txDriver_, level ? Drive::High : Drive::Low);
}

void Uart::startNext() {
    if (shifting_ || txFifo_.empty() || !txEnabled()) return;
    uint8_t byte = txFifo_.front();
    txFifo_.pop_front();
    shifting_ = true;
    updateStatus();
    // UTXISEL = 00: the transmit flag rises while the buffer has room.
    if (sta_->field(U1STA_UTXISEL) == 0) intc_.raise(cfg_.irqTx);
    Cycles bit = bitCycles();
    Cycles start = sched_.now();
    uint64_t gen = txGeneration_;
    uint16_t frame = uint16_t(byte) << 1 | 0x200;  // start bit 0, data LSB first, stop bit 1
    driveTx(false);
    for (unsigned i = 1; i < 10; ++i) {
        bool level = frame >> i & 1u;
        if (level != bool(frame >> (i - 1) & 1u))
            sched_.at(start + i * bit, [this, gen, level] {
                if (gen == txGeneration_) driveTx(level);
            });
    }
    sched_.at(start + 10 * bit, [this, gen] {
        if (gen != txGeneration_) return;
        shifting_ = false;
        updateStatus();
        startNext();
    });
}

void Uart::rxEdge(bool level) {
    if (level || receiving_ || !rxEnabled()) return;
    receiving_ = true;
    updateStatus();
    Cycles bit = bitCycles();
    rxSample(0, sched_.now(), bit, 0);
}

// Samples bit `bit` of the frame in the middle of its bit time.
void Uart::rxSample(unsigned bit, Cycles start, Cycles bitTime, uint16_t frame) {
    uint64_t gen = txGeneration_;
    sched_.at(start + bitTime * bit + bitTime / 2, [=, this] {
        if (gen != txGeneration_ || !rxEnabled()) {
            receiving_ = false;
            return;
        }
        bool level = rx_->level();
        if (bit == 0 && level) {  // a glitch, not a start bit
            receiving_ = false;
            updateStatus();
            return;
        }
        uint16_t f = frame | uint16_t(level) << bit;
        if (bit < 9) {
            rxSample(bit + 1, start, bitTime, f);
            return;
        }
        receiving_ = false;
        uint8_t byte = uint8_t(f >> 1);
        if (rxFifo_.size() >= kFifoDepth || (sta_->value() & OERR)) {
            // The character is lost; nothing reaches the buffer until OERR is cleared.
            sta_->hwSet(OERR);
            ++overruns_;
        } else {
            rxFifo_.push_back(byte);
            sta_->hwPut(FERR, !level);
            const uint32_t urxisel = sta_->field(U1STA_URXISEL);
            if (urxisel == 0 || rxFifo_.size() >= (urxisel == 1 ? 3u : 4u))
                intc_.raise(cfg_.irqRx);
        }
        updateStatus();
    });
}

}  // namespace sim
