// A serial terminal on a UART's pins: it decodes what the board transmits from the line
// itself (recording each byte with its time and measured bit period) and types bytes at a
// baud rate of its own, back to back if asked.
#pragma once
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "sim/wires/net.h"
#include "sim/time/scheduler.h"

namespace sim {

struct ConsoleByte {
    uint8_t value;
    Cycles start;      // falling edge of the start bit
    Cycles end;        // end of the stop bit
    double bitCycles;  // bit period measured from the edges of the frame
    bool framingError;
};

class Terminal {
public:
    // `sysclkHz` converts the terminal's baud rate into board cycles.
    Terminal(Scheduler& sched, Net& boardTx, Net& boardRx, uint64_t sysclkHz, double baud = 57600);

    // Bytes the board sent, in order.
    const std::vector<ConsoleByte>& received() const { return received_; }
    std::string text() const;
    void clear() { received_.clear(); }
    std::function<void(uint8_t)> onByte;
    // Every byte received with its timing, and every byte typed as its start bit begins.
    std::function<void(const ConsoleByte&)> onReceived;
    std::function<void(uint8_t, Cycles)> onSending;
    // The earliest start a byte not yet decoded may have.
    Cycles earliest() const { return inFrame_ ? frameStart_ : sched_.now(); }
    // Off: bytes go to the callbacks only and nothing is kept (a long run's console).
    void keepRecord(bool keep) { keep_ = keep; }

    // Types `bytes` from `when` on (default: now), each frame right after the previous one
    // plus `gapBits` idle bits.
    void send(const std::string& bytes, double gapBits = 0);
    void sendAt(Cycles when, const std::string& bytes, double gapBits = 0);
    void setBaud(double baud) { baud_ = baud; }
    double baud() const { return baud_; }
    bool sending() const { return !txQueue_.empty() || txBusy_; }
    uint64_t bytesSent() const { return sent_; }

private:
    Scheduler& sched_;
    Net& boardTx_;
    Net& boardRx_;
    int driver_;
    uint64_t sysclk_;
    double baud_;
    std::vector<ConsoleByte> received_;
    bool keep_ = true;
    // receiver
    bool inFrame_ = false;
    Cycles frameStart_ = 0;
    std::vector<Cycles> edges_;
    // transmitter
    struct Pending {
        uint8_t byte;
        double gapBits;
        Cycles notBefore;  // a burst typed for later waits for its time
    };
    std::deque<Pending> txQueue_;
    bool txBusy_ = false;
    Cycles txFree_ = 0;  // earliest start of the next frame
    uint64_t sent_ = 0;

    Cycles bitTime(unsigned n) const;  // n bit times at the terminal's rate, rounded
    void onEdge(bool level);
    void sampleFrame();
    void sendNext();
};

}  // namespace sim
