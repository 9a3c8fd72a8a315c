// One trace of everything asked for, in virtual-time order: a line per event, the time in
// microseconds with nanosecond digits, the source, the event.
//
//       2634.325 us  i2c   START
//       2645.963 us  pins  RD10  low
//
// Some sources decode after the fact (a UART byte is known at its stop bit, stamped at its
// start bit): each such source tells the trace how far back it may still stamp an event,
// and events are held until no source can put one before them. Memory stays within that
// window, whatever the length of the run.
#pragma once
#include <cstdint>
#include <cstdio>
#include <functional>
#include <queue>
#include <string>
#include <vector>

#include "sim/time/scheduler.h"

namespace sim {

class Trace {
public:
    using Source = unsigned;

    Trace(FILE* out, Scheduler& sched, uint64_t sysclkHz) : out_(out), sched_(sched), sysclk_(sysclkHz) {}
    ~Trace() { flush(true); }
    Trace(const Trace&) = delete;
    Trace& operator=(const Trace&) = delete;

    // `earliest` (for sources that decode late): the earliest time the source may still
    // stamp an event with; by default the scheduler's present.
    Source add(std::string name, std::function<Cycles()> earliest = {});
    void emit(Source s, Cycles time, std::string text);
    // Writes what no source can precede any more (everything with `all`, at the end).
    void flush(bool all = false);

    static std::string time(Cycles c, uint64_t sysclkHz);

private:
    struct Event {
        Cycles time;
        uint64_t seq;
        Source source;
        std::string text;
        bool operator>(const Event& o) const { return time != o.time ? time > o.time : seq > o.seq; }
    };
    FILE* out_;
    Scheduler& sched_;
    uint64_t sysclk_;
    std::vector<std::string> names_;
    std::vector<std::function<Cycles()>> earliest_;
    std::priority_queue<Event, std::vector<Event>, std::greater<Event>> held_;
    uint64_t seq_ = 0;
    Cycles written_ = 0;  // time of the last event written
};

}  // namespace sim
