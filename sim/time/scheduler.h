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
    void cancel(Id id);

    // Moves time forward to `target`, running every event due on the way in order.
    void advanceTo(Cycles target);
    void advance(Cycles delta) { advanceTo(now_ + delta); }

    // Time of the next pending event, or UINT64_MAX.
    Cycles nextEventTime();

    void clear();

private:
    struct Event {
        Cycles when;
        Id id;
        bool operator>(const Event& o) const { return when != o.when ? when > o.when : id > o.id; }
    };
    std::priority_queue<Event, std::vector<Event>, std::greater<Event>> queue_;
    std::vector<std::pair<Id, Action>> actions_;  // sorted by id
    Cycles now_ = 0;
    Id nextId_ = 1;

    Action* find(Id id);
};

}  // namespace sim
