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
    uint32_t osccon = pllodiv << 27 | fpbdiv << 19 | pllmult << 16 | cosc << 12 | cosc << 8 | sosc << 1;
    osccon_ = &bus.add("OSCCON", 0xBF80F000, osccon).onWrite([this](uint32_t before, uint32_t after) {
        if (!unlocked()) {
            osccon_->hwWrite(before);  // locked: the write is ignored
            return;
        }
        if (((before ^ after) >> 19 & 3) && onClockChange) onClockChange();
    });
    bus.add("OSCTUN", 0xBF80F010, 0);
    bus.add("WDTCON", 0xBF800000, 0);
    bus.add("DDPCON", 0xBF80F200, 0x00000008);  // JTAGEN set at reset
    bus.add("DEVID", 0xBF80F220, 0x00952053).writable(0);
    bus.addData("SYSKEY", 0xBF80F230, 0).onWrite([this](uint32_t, uint32_t v) {
        if (v == 0) unlockStep_ = 1;
        else if (v == 0xAA996655u && unlockStep_ == 1) unlockStep_ = 2;
        else if (v == 0x556699AAu && unlockStep_ == 2) unlockStep_ = 3;
        else unlockStep_ = 0;
    });
    bus.add("RCON", 0xBF80F600, 0x00000003);
    rswrst_ = &bus.add("RSWRST", 0xBF80F610, 0).onWrite([this](uint32_t before, uint32_t) {
        if (!unlocked()) rswrst_->hwWrite(before);  // SWRST is armed only after the unlock
    });
    rswrst_->onRead([this](uint32_t v) {
        if ((v & 1) && onSoftwareReset) onSoftwareReset();
        return v;
    });
    dmacon_ = &bus.add("DMACON", 0xBF883000, 0).writable(0x00009000);  // ON, SUSPEND; DMABUSY reads 0
    bus.add("DMASTAT", 0xBF883010, 0).writable(0);
    bus.add("DMAADDR", 0xBF883020, 0).writable(0);
    bus.add("CHECON", 0xBF884000, 0x00000007).writable(0x00010337);
    bus.add("BMXCON", 0xBF882000, 0x001F0041).writable(0x001F0047);
}

}  // namespace sim
