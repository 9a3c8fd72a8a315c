// Electrical nets: every pin and bus line of the board. Drivers pull a net high or
// low or leave it (Z); with no driver the pull resistor decides. Listeners see edges.
#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "sim/time/scheduler.h"

namespace sim {

enum class Drive : uint8_t { Z, Low, High };
enum class Pull : uint8_t { None, Up, Down };

class Net {
public:
    using Listener = std::function<void(Net&, bool level)>;

    Net(std::string name, Pull pull) : name_(std::move(name)), pull_(pull) { recompute(false); }

    const std::string& name() const { return name_; }
    bool level() const { return level_; }
    bool driven() const { return lows_ || highs_; }

    // A new driver on this net; it starts released (Z).
    int addDriver();
    void drive(int driver, Drive d);
    Drive driveOf(int driver) const { return drivers_.at(driver); }
    void setPull(Pull p) { pull_ = p; recompute(true); }

    void listen(Listener l) { listeners_.push_back(std::move(l)); }

private:
    std::string name_;
    Pull pull_;
    std::vector<Drive> drivers_;
    unsigned lows_ = 0, highs_ = 0;  // drivers pulling each way
    std::vector<Listener> listeners_;
    bool level_ = false;
    void recompute(bool notify);
};

// A recorded level change on a named net.
struct PinChange {
    Cycles time;
    std::string net;
    bool level;
};

// A net a board has, with its pull resistor.
struct NetDeclaration {
    std::string name;
    Pull pull = Pull::None;
};

class Nets {
public:
    explicit Nets(Scheduler& s, const std::vector<NetDeclaration>& declared = {}) : sched_(s) {
        for (const NetDeclaration& n : declared) declare(n.name, n.pull);
    }
    // A net of the board, with its pull resistor; declaring one twice is an error.
    Net& declare(const std::string& name, Pull pull = Pull::None);
    // A declared net; a name the board does not have is an error (std::out_of_range).
    Net& get(const std::string& name);
    Net* find(const std::string& name);
    std::vector<std::string> names() const;

    // Every level change of every net, as it happens (nothing is kept).
    using Watcher = std::function<void(Cycles time, const Net& net, bool level)>;
    void watch(Watcher w) { watchers_.push_back(std::move(w)); }
    // Records every level change of the named net with its time stamp, for tests that read
    // the record afterwards; the record grows with the run.
    void record(const std::string& name);
    void recordAll();
    const std::vector<PinChange>& changes() const { return changes_; }
    std::vector<PinChange> changesOf(const std::string& name) const;
    void clearRecord() { changes_.clear(); }

private:
    Scheduler& sched_;
    std::map<std::string, std::unique_ptr<Net>> nets_;
    std::map<std::string, bool> recorded_;
    bool recordAll_ = false;
    std::vector<PinChange> changes_;
    std::vector<Watcher> watchers_;
    void hook(Net& n);
};

}  // namespace sim
