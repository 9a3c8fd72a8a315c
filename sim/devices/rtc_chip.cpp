#include "sim/devices/rtc_chip.h"

#include "sim/boards/board.h"

namespace sim {

namespace {
constexpr unsigned fromBcd(uint8_t v) { return (v >> 4) * 10u + (v & 0x0Fu); }
constexpr uint8_t toBcd(unsigned v) { return uint8_t((v / 10) << 4 | (v % 10)); }

unsigned daysInMonth(unsigned month, unsigned year) {
    switch (month) {
        case 2: return year % 4 == 0 ? 29 : 28;  // year 00 counts as a leap year too
        case 4:
        case 6:
        case 9:
        case 11: return 30;
        default: return 31;
    }
}

// Power-on contents: VL set, alarms disabled, CLKOUT on, timer off.
constexpr std::array<uint8_t, 16> kPowerOn = {0x08, 0x00, 0x80, 0x00, 0x00, 0x01, 0x00, 0x01,
                                               0x00, 0x80, 0x80, 0x80, 0x80, 0x80, 0x03, 0x00};
}  // namespace

RtcChip::RtcChip(Scheduler& sched, I2cLines lines, uint64_t sysclkHz, Cycles firstTick)
    : sched_(sched),
      lines_(lines),
      sysclk_(sysclkHz),
      sda_(lines.sda.addDriver()),
      scl_(lines.scl.addDriver()),
      faultSda_(lines.sda.addDriver()),
      faultScl_(lines.scl.addDriver()),
      watcher_(lines, {[this] { start(); }, [this] { stop(); }, [this](bool sda) { rise(sda); }, [this] { fall(); }}),
      regs_(kPowerOn),
      nextTick_(firstTick ? firstTick : sched.now() + sysclkHz) {
    sched_.at(nextTick_, [this] { tick(); });
}

I2cLines RtcChip::busOf(Board& board) {
    const BoardDescription& d = board.description();
    return i2cBus(board.nets, d.clockChipSda.name(), d.clockChipScl.name());
}

RtcChip& RtcChip::attach(Board& board, Cycles firstTick) {
    return board.add<RtcChip>(board.sched, busOf(board), board.sysclkHz(), firstTick);
}

void RtcChip::holdSdaLow(Cycles duration) {
    lines_.sda.drive(faultSda_, Drive::Low);
    sched_.after(duration, [this] { lines_.sda.drive(faultSda_, Drive::Z); });
}

void RtcChip::holdBus(Cycles duration) {
    lines_.scl.drive(faultScl_, Drive::Low);
    lines_.sda.drive(faultSda_, Drive::Low);
    sched_.after(duration, [this] {
        lines_.sda.drive(faultSda_, Drive::Z);
        lines_.scl.drive(faultScl_, Drive::Z);
    });
}

// ---------------------------------------------------------------- time keeping

void RtcChip::tick() {
    nextTick_ += sysclk_;
    sched_.at(nextTick_, [this] { tick(); });
    if (regs_[0] & 0x20) return;  // STOP bit: the divider chain is held
    if (held_) {
        pending_ = true;  // one increment is kept; a second one in the same access is lost
        return;
    }
    addSecond();
}

void RtcChip::addSecond() {
    // Each field counts in BCD within its bits; the bits around it stay as they are.
    auto put = [this](unsigned r, uint8_t mask, unsigned v) { regs_[r] = uint8_t((regs_[r] & ~mask) | toBcd(v)); };
    unsigned sec = fromBcd(regs_[2] & 0x7F) + 1;
    if (sec < 60) return put(2, 0x7F, sec);
    put(2, 0x7F, 0);
    unsigned min = fromBcd(regs_[3] & 0x7F) + 1;
    if (min < 60) return put(3, 0x7F, min);
    put(3, 0x7F, 0);
    unsigned hour = fromBcd(regs_[4] & 0x3F) + 1;
    if (hour < 24) return put(4, 0x3F, hour);
    put(4, 0x3F, 0);
    unsigned wd = regs_[6] & 0x07;
    regs_[6] = uint8_t((regs_[6] & ~0x07) | (wd >= 6 ? 0 : wd + 1));
    unsigned month = fromBcd(regs_[7] & 0x1F), year = fromBcd(regs_[8]);
    unsigned day = fromBcd(regs_[5] & 0x3F) + 1;
    if (day <= daysInMonth(month, year)) return put(5, 0x3F, day);
    put(5, 0x3F, 1);
    if (++month <= 12) return put(7, 0x1F, month);
    put(7, 0x1F, 1);
    if (++year <= 99) return put(8, 0xFF, year);
    put(8, 0xFF, 0);
    regs_[7] ^= 0x80;  // century flag
}

// ---------------------------------------------------------------- I2C slave

void RtcChip::start() {
    held_ = true;  // counting stops for the whole access
    drive(true);
    state_ = State::Receive;
    bits_ = 0;
    shift_ = 0;
    byteIndex_ = 0;
}

void RtcChip::stop() {
    drive(true);
    state_ = State::Idle;
    if (held_) {
        held_ = false;
        if (pending_) addSecond();
        pending_ = false;
    }
}

void RtcChip::rise(bool sda) {
    switch (state_) {
        case State::Receive:
            if (bits_ < 8) {
                shift_ = uint8_t(shift_ << 1 | (sda ? 1 : 0));
                ++bits_;
            }
            break;
        case State::Send: ++bits_; break;
        case State::AckIn: masterAck_ = !sda; break;
        default: break;
    }
}

void RtcChip::fall() {
    switch (state_) {
        case State::Receive:
            if (bits_ == 8) byteReceived();
            break;
        case State::AckOut: endOfAcknowledge(); break;
        case State::Send:
            if (bits_ < 8) {
                sendBit();
            } else {
                drive(true);  // the master acknowledges
                pointer_ = (pointer_ + 1) & 0x0F;
                state_ = State::AckIn;
            }
            break;
        case State::AckIn:
            if (masterAck_) {
                endOfAcknowledge();
            } else {
                state_ = State::Ignore;  // not acknowledged: the master ends the read
            }
            break;
        default: break;
    }
}

// The eighth clock is over: decide on the acknowledge and take the byte.
void RtcChip::byteReceived() {
    unsigned index = byteIndex_++;
    bool ack = !faults.absent && int(index) != faults.nackAtByte;
    if (index == 0) {
        ack = ack && (shift_ >> 1) == kAddress;
        read_ = shift_ & 1;
    } else if (ack) {
        if (index == 1) {
            pointer_ = shift_ & 0x0F;
        } else {
            regs_[pointer_] = shift_;
            pointer_ = (pointer_ + 1) & 0x0F;
        }
    }
    if (!ack) {
        state_ = State::Ignore;  // SDA stays released: NACK, and nothing more until a START
        return;
    }
    drive(false);
    state_ = State::AckOut;
}

void RtcChip::sendBit() { drive(regs_[pointer_] >> (7 - bits_) & 1u); }

// The acknowledge clock has ended: the next byte follows, after an optional stretch.
void RtcChip::endOfAcknowledge() {
    drive(true);
    bits_ = 0;
    shift_ = 0;
    if (read_) {
        state_ = State::Send;
        sendBit();
    } else {
        state_ = State::Receive;
    }
    if (faults.stretch && faults.stretchCount != 0) {
        if (faults.stretchCount > 0) --faults.stretchCount;
        lines_.scl.drive(scl_, Drive::Low);
        sched_.after(faults.stretch, [this] { lines_.scl.drive(scl_, Drive::Z); });
    }
}

}  // namespace sim
