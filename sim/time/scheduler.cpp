#include "sim/time/scheduler.h"

#include <algorithm>
#include <cstddef>

namespace sim {

Scheduler::Id Scheduler::at(Cycles when, Action action) {
    Id id = nextId_++;
    queue_.push({std::max(when, now_), id});
    actions_.emplace_back(id, std::move(action));  // ids grow, so the vector stays sorted
    return id;
}

// A step's place among the events comes from the events' sequence, so that a step and an
// event due at the same cycle run in the order they were scheduled in, as two events would.
Scheduler::Id Scheduler::wiresFrom(Cycles first, WireStep step) {
    Id id = nextId_++;
    wires_.push_back({std::max(first, now_), id, id, std::move(step)});
    wiresNext_ = std::min(wiresNext_, wires_.back().when);
    return id;
}

void Scheduler::removeWires(size_t i) {
    wires_.erase(wires_.begin() + std::ptrdiff_t(i));
    wiresNext_ = kNever;
    for (const WireSource& w : wires_) wiresNext_ = std::min(wiresNext_, w.when);
}

std::vector<std::pair<Scheduler::Id, Scheduler::Action>>::iterator Scheduler::find(Id id) {
    return std::lower_bound(actions_.begin(), actions_.end(), id, [](const auto& p, Id v) { return p.first < v; });
}

void Scheduler::cancel(Id id) {
    if (id && id == running_) {
        runningCancelled_ = true;
        return;
    }
    for (size_t i = 0; i < wires_.size(); ++i)
        if (wires_[i].handle == id) {
            removeWires(i);
            return;
        }
    auto it = find(id);
    if (it != actions_.end() && it->first == id) {
        actions_.erase(it);
        ++stale_;  // its queue entry goes when it reaches the top
        if (id == liveTop_) liveTop_ = 0;
        // A cancelled event stays queued until its time comes. A model that re-arms a far
        // event on every device reset (the core timer's compare, 2^32 counts away) would
        // fill the queue in a reset loop: drop the cancelled ones once they outnumber the
        // pending.
        if (queue_.size() > 2 * actions_.size() + 64) {
            std::vector<Event> pending;
            pending.reserve(actions_.size());
            for (; !queue_.empty(); queue_.pop()) {
                auto live = find(queue_.top().id);
                if (live != actions_.end() && live->first == queue_.top().id) pending.push_back(queue_.top());
            }
            queue_ = decltype(queue_)(std::greater<Event>(), std::move(pending));
            stale_ = 0;
            liveTop_ = queue_.empty() ? 0 : queue_.top().id;
        }
    }
}

void Scheduler::dropStale() {
    while (!queue_.empty()) {
        auto it = find(queue_.top().id);
        if (it != actions_.end() && it->first == queue_.top().id) {
            liveTop_ = it->first;
            return;
        }
        queue_.pop();
        --stale_;
    }
    stale_ = 0;
}

void Scheduler::runTo(Cycles target) {
    while (true) {
        const Cycles next = nextEventTime();
        // The earliest source of wire steps, and whether its step comes before the next event.
        size_t w = wires_.size();
        for (size_t i = 0; i < wires_.size(); ++i)
            if (w == wires_.size() || wires_[i].when < wires_[w].when ||
                (wires_[i].when == wires_[w].when && wires_[i].order < wires_[w].order))
                w = i;
        if (w < wires_.size() && wires_[w].when <= target &&
            (queue_.empty() || wires_[w].when < next || (wires_[w].when == next && wires_[w].order < queue_.top().id))) {
            WireSource s = std::move(wires_[w]);
            removeWires(w);
            runWires(std::move(s), target);
            continue;
        }
        if (next > target) break;
        Event ev = queue_.top();
        queue_.pop();
        auto it = find(ev.id);
        Action action = std::move(it->second);
        actions_.erase(it);
        now_ = ev.when;
        ++eventsRun_;
        action();  // may schedule more events or throw to end the run
    }
    if (target > now_) now_ = target;
}

// Runs the source's steps for as long as nothing else is due first: its next step takes
// its place behind everything already scheduled, so an event or another source's step due
// at the same time goes first.
void Scheduler::runWires(WireSource s, Cycles target) {
    struct Running {
        Scheduler& sched;
        ~Running() { sched.running_ = 0; }
    } running{*this};
    running_ = s.handle;
    runningCancelled_ = false;
    for (;;) {
        now_ = s.when;
        ++wireStepsRun_;
        const Cycles next = s.step();
        if (next == kNever || runningCancelled_) break;
        s.when = std::max(next, now_);
        s.order = nextId_++;
        bool first = s.when <= target && s.when < nextEventTime();
        for (size_t i = 0; first && i < wires_.size(); ++i) first = wires_[i].when > s.when;
        if (!first) {
            wiresNext_ = std::min(wiresNext_, s.when);
            wires_.push_back(std::move(s));
            break;
        }
    }
}

void Scheduler::clear() {
    queue_ = {};
    actions_.clear();
    wires_.clear();
    wiresNext_ = kNever;
    runningCancelled_ = running_ != 0;
    stale_ = 0;
    liveTop_ = 0;
}

}  // namespace sim
