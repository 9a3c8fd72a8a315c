// Oscillator, system unlock, software reset, DMA suspend, prefetch cache, bus matrix and
// debug-port control of the chip.
#pragma once
#include <array>
#include <cstdint>
#include <functional>

#include "sim/chip/model.h"
#include "sim/chip/sfr_bus.h"

namespace sim {

// The four configuration words, DEVCFG3..DEVCFG0 at the top of boot flash.
struct ConfigWords {
    uint32_t devcfg3 = 0xFFFFFFFF;
    uint32_t devcfg2 = 0xFFF879D9;
    uint32_t devcfg1 = 0xFF6F0AFB;
    uint32_t devcfg0 = 0x7FFFFFFF;
};

// System clock that the configuration words select from the crystal (primary with or
// without PLL, or the 8 MHz FRC).
uint64_t systemClockFromConfig(const ConfigWords& cfg, uint64_t crystalHz);

class SystemBlock : public Model {
public:
    SystemBlock(SfrBus& bus, const ConfigWords& cfg);

    unsigned pbdiv() const { return osccon_->field(OSCCON_PBDIV); }
    bool unlocked() const { return unlockStep_ == 3; }
    bool dmaSuspended() const { return dmacon_->bit(DMACON_SUSPEND); }

    // Called when a read of RSWRST completes the software reset sequence.
    std::function<void()> onSoftwareReset;
    std::function<void()> onClockChange;

    void reset() override { unlockStep_ = 0; }

private:
    Register* osccon_;
    Register* dmacon_;
    Register* rswrst_;
    int unlockStep_ = 0;  // 0 locked, 1 after 0, 2 after the first key, 3 unlocked
};

}  // namespace sim
