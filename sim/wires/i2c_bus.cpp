#include "sim/wires/i2c_bus.h"

#include <cstdio>

namespace sim {

I2cLines i2cBus(Nets& nets, const std::string& sda, const std::string& scl) {
    return {nets.get(sda), nets.get(scl)};
}

I2cWatcher::I2cWatcher(I2cLines lines, Handlers h) : lines_(lines), h_(std::move(h)) {
    // Levels are read from the nets, not shadowed: a listener may change the other wire
    // while this edge is still being delivered.
    lines_.sda.listen([this](Net&, bool level) {
        if (!lines_.scl.level()) return;  // data changes while SCL is low
        if (!level) {
            if (h_.start) h_.start();
        } else if (h_.stop) {
            h_.stop();
        }
    });
    lines_.scl.listen([this](Net&, bool level) {
        if (level) {
            if (h_.rise) h_.rise(lines_.sda.level());
        } else if (h_.fall) {
            h_.fall();
        }
    });
}

I2cAnalyser::I2cAnalyser(Scheduler& sched, I2cLines lines, uint64_t sysclkHz)
    : sched_(sched),
      sysclk_(sysclkHz),
      watcher_(lines, {[this] { start(); }, [this] { stop(); }, [this](bool sda) { rise(sda); }, nullptr}) {}

void I2cAnalyser::emit(const I2cEvent& e) {
    if (keep_) events_.push_back(e);
    if (onLine) onLine(format(e, true));
    if (onEvent) onEvent(e);
}

// A condition in the middle of a byte: show the bits that came before it. One clock
// before a condition is how a master sets up a STOP or a repeated START, not data.
void I2cAnalyser::flushPartial() {
    if (count_ <= 1) {
        count_ = 0;
        return;
    }
    I2cEvent e{I2cEvent::Kind::Partial, byteStart_};
    e.value = shift_;
    e.bits = count_;
    e.address = expectAddress_;
    emit(e);
    count_ = 0;
    shift_ = 0;
}

void I2cAnalyser::start() {
    flushPartial();
    emit({inTransfer_ ? I2cEvent::Kind::RepeatedStart : I2cEvent::Kind::Start, sched_.now()});
    inTransfer_ = true;
    expectAddress_ = true;
}

void I2cAnalyser::stop() {
    flushPartial();
    emit({I2cEvent::Kind::Stop, sched_.now()});
    inTransfer_ = false;
}

void I2cAnalyser::rise(bool sda) {
    if (!inTransfer_) return;  // clocks outside a transfer carry nothing
    if (count_ == 0) {
        byteStart_ = sched_.now();
        shift_ = 0;
    }
    if (count_ < 8) {
        shift_ = uint8_t(shift_ << 1 | (sda ? 1 : 0));
        ++count_;
        return;
    }
    I2cEvent e{I2cEvent::Kind::Byte, byteStart_};
    e.value = shift_;
    e.address = expectAddress_;
    e.ack = !sda;
    count_ = 0;
    shift_ = 0;
    expectAddress_ = false;
    emit(e);
}

std::string I2cAnalyser::describe(const I2cEvent& e) {
    char buf[64];
    switch (e.kind) {
        case I2cEvent::Kind::Start: return "START";
        case I2cEvent::Kind::RepeatedStart: return "Sr";
        case I2cEvent::Kind::Stop: return "STOP";
        case I2cEvent::Kind::Partial:
            std::snprintf(buf, sizeof buf, "partial byte: %u bit%s 0x%02X", e.bits, e.bits == 1 ? "" : "s", e.value);
            return buf;
        case I2cEvent::Kind::Byte:
            if (e.address)
                std::snprintf(buf, sizeof buf, "0x%02X (0x%02X %c) %s", e.value, e.value >> 1, (e.value & 1) ? 'R' : 'W',
                              e.ack ? "ACK" : "NACK");
            else
                std::snprintf(buf, sizeof buf, "0x%02X %s", e.value, e.ack ? "ACK" : "NACK");
            return buf;
    }
    return "?";
}

std::string I2cAnalyser::format(const I2cEvent& e, bool withTime) const {
    if (!withTime) return describe(e);
    char buf[48];
    std::snprintf(buf, sizeof buf, "%12.3f us  ", double(e.time) * 1e6 / double(sysclk_));
    return buf + describe(e);
}

std::vector<std::string> I2cAnalyser::lines(bool withTimes) const {
    std::vector<std::string> out;
    for (const auto& e : events_) out.push_back(format(e, withTimes));
    return out;
}

std::string I2cAnalyser::text(bool withTimes) const {
    std::string s;
    for (const auto& e : events_) s += format(e, withTimes) + "\n";
    return s;
}

}  // namespace sim
