#include "sim/time/scheduler.h"

#include <algorithm>

namespace sim {

Scheduler::Id Scheduler::at(Cycles when, Action action) {
    Id id = nextId_++;
    queue_.push({std::max(when, now_), id});
    actions_.emplace_back(id, std::move(action));  // ids grow, so the vector stays sorted
    return id;
}

Scheduler::Action* Scheduler::find(Id id) {
    auto it = std::lower_bound(actions_.begin(), actions_.end(), id,
                               [](const auto& p, Id v) { return p.first < v; });
    return (it != actions_.end() && it->first == id) ? &it->second : nullptr;
}

void Scheduler::cancel(Id id) {
    auto it = std::lower_bound(actions_.begin(), actions_.end(), id,
                               [](const auto& p, Id v) { return p.first < v; });
    if (it != actions_.end() && it->first == id) actions_.erase(it);
    // A cancelled event stays queued until its time comes. A model that re-arms a far event
    // on every device reset (the core timer's compare, 2^32 counts away) would fill the
    // queue in a reset loop: drop the cancelled ones once they outnumber the pending.
    if (queue_.size() > 2 * actions_.size() + 64) {
        std::vector<Event> pending;
        pending.reserve(actions_.size());
        for (; !queue_.empty(); queue_.pop())
            if (find(queue_.top().id)) pending.push_back(queue_.top());
        queue_ = decltype(queue_)(std::greater<Event>(), std::move(pending));
    }
}

Cycles Scheduler::nextEventTime() {
    while (!queue_.empty() && !find(queue_.top().id)) queue_.pop();
    return queue_.empty() ? UINT64_MAX : queue_.top().when;
}

void Scheduler::advanceTo(Cycles target) {
    while (true) {
        Cycles next = nextEventTime();
        if (next > target) break;
        Event ev = queue_.top();
        queue_.pop();
        auto it = std::lower_bound(actions_.begin(), actions_.end(), ev.id,
                                   [](const auto& p, Id v) { return p.first < v; });
        Action action = std::move(it->second);
        actions_.erase(it);
        now_ = ev.when;
        action();  // may schedule more events or throw to end the run
    }
    if (target > now_) now_ = target;
}

void Scheduler::clear() {
    queue_ = {};
    actions_.clear();
}

}  // namespace sim
