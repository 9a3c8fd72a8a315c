#include "sim/wires/net.h"

#include <stdexcept>

namespace sim {

int Net::addDriver() {
    drivers_.push_back(Drive::Z);
    return static_cast<int>(drivers_.size()) - 1;
}

void Net::drive(int driver, Drive d) {
    Drive& was = drivers_.at(driver);
    if (was == d) return;
    lows_ -= was == Drive::Low;
    highs_ -= was == Drive::High;
    lows_ += d == Drive::Low;
    highs_ += d == Drive::High;
    was = d;
    recompute(true);
}

void Net::recompute(bool notify) {
    // A low driver wins: open-drain buses are wired-AND, and a push-pull fight reads low.
    bool level = lows_ ? false : highs_ ? true : pull_ == Pull::Up;
    if (level == level_ || !notify) {
        level_ = level;
        return;
    }
    level_ = level;
    for (size_t i = 0; i < listeners_.size(); ++i) listeners_[i](*this, level_);
}

Net& Nets::declare(const std::string& name, Pull pull) {
    if (nets_.count(name)) throw std::logic_error("net " + name + " declared twice");
    auto& n = nets_[name] = std::make_unique<Net>(name, pull);
    hook(*n);
    return *n;
}

Net& Nets::get(const std::string& name) {
    auto it = nets_.find(name);
    if (it == nets_.end()) throw std::out_of_range("the board has no net " + name);
    return *it->second;
}

std::vector<std::string> Nets::names() const {
    std::vector<std::string> out;
    for (const auto& [name, net] : nets_) out.push_back(name);
    return out;
}

Net* Nets::find(const std::string& name) {
    auto it = nets_.find(name);
    return it == nets_.end() ? nullptr : it->second.get();
}

void Nets::hook(Net& n) {
    n.listen([this](Net& net, bool level) {
        if (recordAll_ || recorded_.count(net.name())) changes_.push_back({sched_.now(), net.name(), level});
        for (const Watcher& w : watchers_) w(sched_.now(), net, level);
    });
}

void Nets::record(const std::string& name) { recorded_[name] = true; }
void Nets::recordAll() { recordAll_ = true; }

std::vector<PinChange> Nets::changesOf(const std::string& name) const {
    std::vector<PinChange> out;
    for (const auto& c : changes_)
        if (c.net == name) out.push_back(c);
    return out;
}

}  // namespace sim
