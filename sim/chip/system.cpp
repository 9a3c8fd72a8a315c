#include "sim/chip/system.h"

namespace sim {

uint64_t systemClockFromConfig(const ConfigWords& cfg, uint64_t crystalHz) {
    static const unsigned idiv[8] = {1, 2, 3, 4, 5, 6, 10, 12};
    static const unsigned mul[8] = {15, 16, 17, 18, 19, 20, 21, 24};
    static const unsigned odiv[8] = {1, 2, 4, 8, 16, 32, 64, 256};
    unsigned fnosc = cfg.devcfg1 & 7;
    switch (fnosc) {
        case 1:  // FRC with PLL
        case 3: {  // primary oscillator with PLL
            uint64_t in = fnosc == 3 ? crystalHz : 8000000;
            return in / idiv[cfg.devcfg2 & 7] * mul[(cfg.devcfg2 >> 4) & 7] / odiv[(cfg.devcfg2 >> 16) & 7];
        }
        case 2: return crystalHz;         // primary oscillator
        case 4: return 32768;             // secondary oscillator
        case 5: return 31250;             // LPRC
        default: return 8000000;          // FRC
    }
}

SystemBlock::SystemBlock(SfrBus& bus, const ConfigWords& cfg) {
    uint32_t pllmult = (cfg.devcfg2 >> 4) & 7, pllodiv = (cfg.devcfg2 >> 16) & 7;
    uint32_t cosc = cfg.devcfg1 & 7, fpbdiv = (cfg.devcfg1 >> 12) & 3;
    uint32_t sosc = (cfg.devcfg1 >> 5) & 1;
    auto osccon = OSCCON_PLLODIV(pllodiv) | OSCCON_PBDIV(fpbdiv) | OSCCON_PLLMULT(pllmult) | OSCCON_COSC(cosc) |
                  OSCCON_NOSC(cosc) | OSCCON_SOSCEN(sosc);
    osccon_ = &bus.add(reg::OSCCON, osccon).onWrite([this](uint32_t before, uint32_t after) {
        if (!unlocked()) {
            osccon_->hwWrite(before);  // locked: the write is ignored
            return;
        }
        if (((before ^ after) & OSCCON_PBDIV.mask) && onClockChange) onClockChange();
    });
    bus.add(reg::OSCTUN);
    bus.add(reg::WDTCON);
    bus.add(reg::DDPCON, DDPCON_JTAGEN);  // JTAG on at reset
    bus.add(reg::DEVID, 0x00952053).writable(0);
    bus.add(reg::SYSKEY).onWrite([this](uint32_t, uint32_t v) {
        if (v == 0) unlockStep_ = 1;
        else if (v == 0xAA996655u && unlockStep_ == 1) unlockStep_ = 2;
        else if (v == 0x556699AAu && unlockStep_ == 2) unlockStep_ = 3;
        else unlockStep_ = 0;
    });
    bus.add(reg::RCON, 0x00000003);  // POR, BOR
    // A read of an armed RSWRST resets the device.
    rswrst_ = &bus.add(reg::RSWRST).readHasSideEffects().onWrite([this](uint32_t before, uint32_t) {
        if (!unlocked()) rswrst_->hwWrite(before);  // SWRST is armed only after the unlock
    });
    rswrst_->onRead([this](uint32_t v) {
        if ((v & RSWRST_SWRST.mask) && onSoftwareReset) onSoftwareReset();
        return v;
    });
    dmacon_ = &bus.add(reg::DMACON).writable((DMACON_ON | DMACON_SUSPEND).value);  // DMABUSY reads 0
    bus.add(reg::DMASTAT).writable(0);
    bus.add(reg::DMAADDR).writable(0);
    bus.add(reg::CHECON, CHECON_PFMWS(7)).writable(0x00010337);
    bus.add(reg::BMXCON, 0x001F0041).writable(0x001F0047);
}

}  // namespace sim
