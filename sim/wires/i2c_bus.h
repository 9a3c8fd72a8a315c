// The I2C bus as wires: SDA and SCL are open-drain nets with pull-ups, so any number of
// masters and devices can sit on them (the I2C1 peripheral, a bit-banged master on port
// pins, the clock chip, the analyser). Everything here reacts to edges only.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sim/chip/model.h"
#include "sim/wires/net.h"
#include "sim/time/scheduler.h"

namespace sim {

// The two wires of a bus.
struct I2cLines {
    Net& sda;
    Net& scl;
};


// The bus on the named nets, with the board's pull-up resistors on both wires.
I2cLines i2cBus(Nets& nets, const std::string& sda, const std::string& scl);

// Follows the wires and reports bus conditions and clock edges, as every I2C
// receiver does: SDA falling while SCL is high is a START, SDA rising while SCL is high
// a STOP; data is valid on the rising edge of SCL.
class I2cWatcher {
public:
    struct Handlers {
        std::function<void()> start;          // START or repeated START
        std::function<void()> stop;
        std::function<void(bool sda)> rise;   // SCL rose; SDA as sampled there
        std::function<void()> fall;           // SCL fell
    };
    I2cWatcher(I2cLines lines, Handlers h);
    // The nets keep pointers to it: it stays where it was built.
    I2cWatcher(const I2cWatcher&) = delete;
    I2cWatcher& operator=(const I2cWatcher&) = delete;

private:
    I2cLines lines_;
    Handlers h_;
};

// One event on the bus as a logic analyser decodes it.
struct I2cEvent {
    enum class Kind : uint8_t { Start, RepeatedStart, Stop, Byte, Partial };
    Kind kind;
    Cycles time;          // conditions: the SDA edge; bytes: rising edge of their first clock
    uint8_t value = 0;    // Byte: the eight bits; Partial: the bits seen, right-aligned
    bool address = false; // the first byte after a START or repeated START
    bool ack = false;     // SDA low on the ninth clock
    unsigned bits = 8;    // Partial: how many bits came before the condition (2 to 8)
};

// A logic analyser on SDA and SCL: turns the wires into a time-stamped, diffable trace,
// one event per line:
//
//       105.000 us  START
//       115.000 us  0xA2 (0x51 W) ACK
//       205.600 us  0x02 ACK
//       301.000 us  STOP
class I2cAnalyser : public Model {
public:
    I2cAnalyser(Scheduler& sched, I2cLines lines, uint64_t sysclkHz);

    const std::vector<I2cEvent>& events() const { return events_; }
    // The trace, with or without the time stamps (microseconds of virtual time).
    std::string text(bool withTimes = true) const;
    std::vector<std::string> lines(bool withTimes = false) const;
    void clear() { events_.clear(); }
    // Called with every trace line (time stamp included) as it is decoded.
    std::function<void(const std::string&)> onLine;
    // Called with every event as it is decoded.
    std::function<void(const I2cEvent&)> onEvent;
    // The earliest time a later event may still carry (a byte is stamped at its first bit).
    Cycles earliest() const { return count_ ? byteStart_ : sched_.now(); }
    // Off: events go to the callbacks only and nothing is kept (a long run's trace).
    void keepRecord(bool keep) { keep_ = keep; }

    static std::string describe(const I2cEvent& e);
    std::string format(const I2cEvent& e, bool withTime) const;

private:
    Scheduler& sched_;
    uint64_t sysclk_;
    I2cWatcher watcher_;
    std::vector<I2cEvent> events_;
    bool keep_ = true;
    bool inTransfer_ = false;  // a START seen and no STOP since
    bool expectAddress_ = false;
    unsigned count_ = 0;       // bits of the current byte seen so far
    uint8_t shift_ = 0;
    Cycles byteStart_ = 0;

    void emit(const I2cEvent& e);
    void flushPartial();
    void start();
    void stop();
    void rise(bool sda);
};

}  // namespace sim
