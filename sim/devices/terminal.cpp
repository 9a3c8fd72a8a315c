#include "sim/devices/terminal.h"

#include <algorithm>
#include <cmath>

namespace sim {

Terminal::Terminal(Scheduler& sched, Net& boardTx, Net& boardRx, uint64_t sysclkHz, double baud)
    : sched_(sched), boardTx_(boardTx), boardRx_(boardRx), sysclk_(sysclkHz), baud_(baud) {
    driver_ = boardRx_.addDriver();
    boardRx_.drive(driver_, Drive::High);  // an idle line is high
    boardTx_.listen([this](Net&, bool level) { onEdge(level); });
}

Cycles Terminal::bitTime(unsigned n) const { return Cycles(std::llround(double(sysclk_) * n / baud_)); }

std::string Terminal::text() const {
    std::string s;
    for (const auto& b : received_) s.push_back(char(b.value));
    return s;
}

void Terminal::onEdge(bool level) {
    if (inFrame_) {
        edges_.push_back(sched_.now());
        return;
    }
    if (level) return;
    inFrame_ = true;
    frameStart_ = sched_.now();
    edges_.clear();
    // Decode once the stop bit has been sampled, from the line levels at mid-bit.
    sched_.at(frameStart_ + bitTime(19) / 2, [this] { sampleFrame(); });
}

void Terminal::sampleFrame() {
    // Level at time t, from the edges seen since the start bit (each edge toggles it).
    auto levelAt = [this](Cycles t) {
        bool level = false;
        for (Cycles e : edges_)
            if (e <= t) level = !level;
        return level;
    };
    uint8_t value = 0;
    for (unsigned i = 0; i < 8; ++i)
        if (levelAt(frameStart_ + bitTime(2 * i + 3) / 2)) value |= uint8_t(1u << i);
    bool stop = levelAt(frameStart_ + bitTime(19) / 2);
    // Bit period from the last edge inside the frame, located to the nearest bit boundary.
    double nominal = double(sysclk_) / baud_;
    double period = nominal;
    for (Cycles e : edges_) {
        double bits = std::round(double(e - frameStart_) / nominal);
        if (bits >= 1 && bits <= 9) period = double(e - frameStart_) / bits;
    }
    ConsoleByte b{value, frameStart_, frameStart_ + Cycles(std::llround(period * 10)), period, !stop};
    if (keep_) received_.push_back(b);
    if (onReceived) onReceived(b);
    inFrame_ = false;
    // Edges after the stop bit's middle belong to the next frame.
    Cycles cut = frameStart_ + bitTime(19) / 2;
    std::vector<Cycles> later;
    for (Cycles e : edges_)
        if (e > cut) later.push_back(e);
    edges_.clear();
    if (onByte) onByte(value);
    if (!later.empty() && !boardTx_.level()) {
        // The next start bit began before we decoded this frame.
        inFrame_ = true;
        frameStart_ = later.front();
        for (size_t i = 1; i < later.size(); ++i) edges_.push_back(later[i]);
        sched_.at(frameStart_ + bitTime(19) / 2, [this] { sampleFrame(); });
    }
}

void Terminal::send(const std::string& bytes, double gapBits) { sendAt(sched_.now(), bytes, gapBits); }

void Terminal::sendAt(Cycles when, const std::string& bytes, double gapBits) {
    for (char c : bytes) txQueue_.push_back({uint8_t(c), gapBits, when});
    if (!txBusy_) {
        txBusy_ = true;
        sched_.at(std::max(txFree_, when), [this] { sendNext(); });
    }
}

void Terminal::sendNext() {
    if (txQueue_.empty()) {
        txBusy_ = false;
        return;
    }
    if (sched_.now() < txQueue_.front().notBefore) {
        sched_.at(txQueue_.front().notBefore, [this] { sendNext(); });
        return;
    }
    Pending p = txQueue_.front();
    txQueue_.pop_front();
    Cycles start = sched_.now();
    uint16_t frame = uint16_t(p.byte) << 1 | 0x200;
    boardRx_.drive(driver_, Drive::Low);
    if (onSending) onSending(p.byte, start);
    for (unsigned i = 1; i < 10; ++i) {
        bool level = frame >> i & 1u;
        if (level != bool(frame >> (i - 1) & 1u))
            sched_.at(start + bitTime(i), [this, level] { boardRx_.drive(driver_, level ? Drive::High : Drive::Low); });
    }
    ++sent_;
    txFree_ = start + Cycles(std::llround(double(sysclk_) * (10 + p.gapBits) / baud_));
    sched_.at(txFree_, [this] { sendNext(); });
}

}  // namespace sim
