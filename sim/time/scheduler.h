// Virtual time of the board: system-clock cycles and an ordered list of events.
#pragma once
#include <cstdint>
#include <functional>
#include <queue>
#include <vector>

namespace sim {

using Cycles = uint64_t;

class Scheduler {
public:
    using Action = std::function<void()>;
    using Id = uint64_t;

    Cycles now() const { return now_; }

    // Runs `action` when virtual time reaches `at` (never earlier than now).
    Id at(Cycles at, Action action);
    Id after(Cycles delay, Action action) { return at(now_ + delay, std::move(action)); }
    // Steps that only move wires (a clock edge, the data bit it shifts, what devices on the
    // wires do about it): `step` runs at `first`, then at each time it returns, until it
    // returns kNever or is cancelled. Each step runs in the order an event scheduled when
    // the step before it returned would have, but is not an event: nextEventTime() does not
    // report it, so whoever runs the board does not stop for it. The processor sees wires
    // only through SFR reads, and the board catches up to the time of each access before it
    // is made, so every step has run by then, at its own time. A step that changes anything
    // else the processor sees (a flag, an interrupt request) needs an event of its own at
    // that time, and a source keeps an event at or after its next step.
    using WireStep = std::function<Cycles()>;
    static constexpr Cycles kNever = UINT64_MAX;
    Id wiresFrom(Cycles first, WireStep step);
    // Cancels an event or a source of wire steps.
    void cancel(Id id);

    // Moves time forward to `target`, running every event and wire step due on the way in
    // order.
    void advanceTo(Cycles target) {
        if (target < nextEventTime() && target < wiresNext_) {  // nothing due on the way
            if (target > now_) now_ = target;
            return;
        }
        runTo(target);
    }
    void advance(Cycles delta) { advanceTo(now_ + delta); }

    // Time of the next pending event (wire steps aside), or UINT64_MAX.
    Cycles nextEventTime() {
        if (stale_ && (queue_.empty() || queue_.top().id != liveTop_)) dropStale();
        return queue_.empty() ? UINT64_MAX : queue_.top().when;
    }

    // How many events and wire steps have run.
    uint64_t eventsRun() const { return eventsRun_; }
    uint64_t wireStepsRun() const { return wireStepsRun_; }

    void clear();

private:
    struct Event {
        Cycles when;
        Id id;
        bool operator>(const Event& o) const { return when != o.when ? when > o.when : id > o.id; }
    };
    struct WireSource {
        Cycles when;  // of its next step
        Id order;     // that step's place among events due at the same time
        Id handle;
        WireStep step;
    };
    std::priority_queue<Event, std::vector<Event>, std::greater<Event>> queue_;
    std::vector<std::pair<Id, Action>> actions_;  // sorted by id
    size_t stale_ = 0;                            // cancelled events still in the queue
    Id liveTop_ = 0;                              // the top of the queue, last seen not cancelled
    std::vector<WireSource> wires_;               // a few at a time, in no order
    Cycles wiresNext_ = kNever;                   // the earliest of their steps
    Id running_ = 0;                              // the source whose step is running
    bool runningCancelled_ = false;
    Cycles now_ = 0;
    Id nextId_ = 1;
    uint64_t eventsRun_ = 0, wireStepsRun_ = 0;

    std::vector<std::pair<Id, Action>>::iterator find(Id id);
    void dropStale();
    void runTo(Cycles target);
    void runWires(WireSource s, Cycles target);
    void removeWires(size_t i);
};

}  // namespace sim
