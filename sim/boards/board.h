// The virtual PIC32MX board: the chip's peripherals on one SFR bus, their pins as nets,
// and the core's coprocessor 0, all in one deterministic virtual time.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sim/boards/description.h"
#include "sim/chip/adc.h"
#include "sim/chip/cp0.h"
#include "sim/chip/i2c_master.h"
#include "sim/chip/intc.h"
#include "sim/wires/net.h"
#include "sim/chip/ports.h"
#include "sim/time/scheduler.h"
#include "sim/chip/sfr_bus.h"
#include "sim/chip/spi.h"
#include "sim/chip/system.h"
#include "sim/chip/timer.h"
#include "sim/chip/uart.h"

namespace sim {

struct BoardConfig {
    Chip chip = Chip::MX440F256H;
    ConfigWords config;
    uint64_t crystalHz = 8000000;
};

struct ResetRecord {
    Cycles time;
    std::string cause;
};

// Resets of the device in constant memory (a firmware may reset in a loop for ever): a
// count by cause and the first kKept records as they came.
class ResetLog {
public:
    static constexpr size_t kKept = 16;
    static constexpr size_t kCauses = 16;  // distinct causes counted by name

    uint64_t count() const { return count_; }
    bool empty() const { return count_ == 0; }
    const std::vector<ResetRecord>& first() const { return first_; }
    // In the order first seen; resets of further causes once the list is full are in
    // count() only.
    const std::vector<std::pair<std::string, uint64_t>>& byCause() const { return causes_; }
    uint64_t of(const std::string& cause) const;

    void add(const ResetRecord& r);

private:
    uint64_t count_ = 0;
    std::vector<ResetRecord> first_;
    std::vector<std::pair<std::string, uint64_t>> causes_;
};

// Callbacks that several parties register on the board; each is removed by the id that
// adding it returned. Called in the order they were added.
template <class... Args>
class Listeners {
public:
    using Id = uint64_t;
    Id add(std::function<void(Args...)> f) {
        list_.push_back({++lastId_, std::move(f)});
        return lastId_;
    }
    void remove(Id id) {
        std::erase_if(list_, [id](const auto& e) { return e.first == id; });
    }
    // A listener may add or remove listeners, or throw (the host backend unwinds the
    // firmware from here); the rest are then not called.
    void notify(Args... args) const {
        auto copy = list_;
        for (auto& [id, f] : copy) f(args...);
    }

private:
    std::vector<std::pair<Id, std::function<void(Args...)>>> list_;
    Id lastId_ = 0;
};

class Board {
public:
    explicit Board(const BoardConfig& cfg = {});
    Board(const Board&) = delete;
    Board& operator=(const Board&) = delete;

    const BoardConfig& config() const { return cfg_; }
    uint64_t sysclkHz() const { return sysclk_; }
    unsigned pbdiv() const { return system.pbdiv(); }
    uint64_t pbclkHz() const { return sysclk_ >> pbdiv(); }
    // The board this chip sits on: its nets, pins and device places.
    const BoardDescription& description() const { return desc_; }
    uint32_t ramBytes() const { return desc_.ramBytes; }
    uint32_t flashBytes() const { return desc_.flashBytes; }

    Cycles now() const { return sched.now(); }
    Cycles cycles(double seconds) const { return Cycles(seconds * double(sysclk_) + 0.5); }
    double seconds(Cycles c) const { return double(c) / double(sysclk_); }

    // Adds a device or peripheral model that lives as long as the board.
    template <class M, class... Args>
    M& add(Args&&... args) {
        auto m = std::make_unique<M>(std::forward<Args>(args)...);
        M& ref = *m;
        extra_.push_back(std::move(m));
        return ref;
    }

    // Resets of the device (software reset through RSWRST, a debugger's reset).
    const ResetLog& resets() const { return resets_; }
    // Told after the board has been reset: a processor restarts (the core at its next
    // instruction boundary, the host backend by unwinding the firmware).
    Listeners<const ResetRecord&> resetListeners;

    // Resets the device as RSWRST does, recorded with `cause` (a debugger's reset).
    void reset(const std::string& cause);

    // When virtual time reaches `at`, the stop listeners are told (from a scheduler event):
    // whoever runs the firmware ends its run there. A new limit replaces the old one.
    void stopAt(Cycles at);
    Listeners<> stopListeners;

private:
    const BoardDescription& desc_;

public:
    Scheduler sched;
    SfrBus bus;
    Nets nets;
    Intc intc;
    Cp0 cp0;
    SystemBlock system;
    Ports ports;
    Uart uart1, uart2;
    TypeBTimer timer2;
    I2cMaster i2c1;
    Spi spi2;
    Adc1 adc1;

private:
    BoardConfig cfg_;
    uint64_t sysclk_;
    std::vector<std::unique_ptr<Model>> extra_;
    ResetLog resets_;
    Scheduler::Id stopEvent_ = 0;
    std::vector<Model*> models();
    void softwareReset() { reset("software reset"); }
};

}  // namespace sim
