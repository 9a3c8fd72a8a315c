#include "sim/wires/trace.h"

#include <algorithm>
#include <cassert>

namespace sim {

std::string Trace::time(Cycles c, uint64_t hz) {
    char b[32];
    std::snprintf(b, sizeof b, "%14.3f us", double(c) * 1e6 / double(hz));
    return b;
}

Trace::Source Trace::add(std::string name, std::function<Cycles()> earliest) {
    names_.push_back(std::move(name));
    earliest_.push_back(std::move(earliest));
    return Source(names_.size() - 1);
}

void Trace::emit(Source s, Cycles t, std::string text) {
    held_.push({t, seq_++, s, std::move(text)});
    flush();
}

void Trace::flush(bool all) {
    Cycles limit = sched_.now();
    if (!all)  // the final flush asks no source: they may be gone already
        for (const auto& e : earliest_)
            if (e) limit = std::min(limit, e());
    while (!held_.empty() && (all || held_.top().time <= limit)) {
        const Event& e = held_.top();
        assert(e.time >= written_);
        written_ = e.time;
        std::fprintf(out_, "%s  %-5s %s\n", time(e.time, sysclk_).c_str(), names_[e.source].c_str(), e.text.c_str());
        held_.pop();
    }
    if (all) std::fflush(out_);
}

}  // namespace sim
