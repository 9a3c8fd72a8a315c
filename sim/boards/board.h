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

// Thrown out of the firmware when a run ends at its time limit.
struct RunLimitReached {};
// Thrown out of the firmware on the host when the device resets.
struct DeviceReset {};

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

    // Resets of the device, in order (software reset through RSWRST).
    const std::vector<ResetRecord>& resets() const { return resets_; }
    // Called after the board has been reset; the host runner unwinds the firmware from here.
    std::function<void(const ResetRecord&)> onReset;

    // Ends the run (RunLimitReached) when virtual time reaches `at`.
    void stopAt(Cycles at);

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
    std::vector<ResetRecord> resets_;
    Scheduler::Id stopEvent_ = 0;
    std::vector<Model*> models();
    void softwareReset();
};

}  // namespace sim
