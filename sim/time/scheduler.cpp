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
