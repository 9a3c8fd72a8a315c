#include "drivers/sdmmc.h"

#include "platform/pic32mx.h"
#include "platform/plib.h"

namespace {

// On, master, 8-bit, mode 0: the clock idles low (CKP = 0), data changes on the falling
// edge (CKE = 1) and is sampled on the rising one.
constexpr auto kSpiConfig = SPI2CON_ON | SPI2CON_MSTEN | SPI2CON_CKE;
constexpr unsigned kIdentificationHz = 400000;
constexpr unsigned kResponsePolls = 8;      // the card answers within 8 bytes (NCR)
constexpr unsigned kInitAttempts = 10000;
// CRC byte of CMD0 with argument 0; the card checks no other command's CRC in SPI mode.
constexpr uint8_t kFrameCrc = 0x95;

void local_selectCard() { PORTBbits.RB13 = 0; }

// Eight more clocks after the select line goes high let the card release its output.
void local_releaseCard() {
    PORTBbits.RB13 = 1;
    writeSPI(0xFF);
}

}  // namespace

extern "C" void initSD(void) {
    PORTBbits.RB13 = 1;  // high before the pin turns into an output, so the card stays released
    TRISBbits.TRISB13 = 0;
    SPI2CON = kSpiConfig;
    SPI2BRG = peripheralBusClock() / (2 * kIdentificationHz) - 1;
}

extern "C" uint8_t writeSPI(uint8_t b) {
    SPI2BUF = b;
    while (!SPI2STATbits.SPIRBF) {
    }
    return uint8_t(SPI2BUF);
}

extern "C" int sendSDCmd(uint8_t c, uint32_t a) {
    local_selectCard();
    writeSPI(uint8_t(c | 0x40));
    writeSPI(uint8_t(a >> 24));
    writeSPI(uint8_t(a >> 16));
    writeSPI(uint8_t(a >> 8));
    writeSPI(uint8_t(a));
    writeSPI(kFrameCrc);
    int r = 0xFF;
    for (unsigned i = 0; i < kResponsePolls; ++i) {
        r = writeSPI(0xFF);
        if (r != 0xFF) break;
    }
    return r;
}

extern "C" int initMedia(void) {
    // At least 74 clocks with the card released before its first command: 11 bytes, 88.
    local_releaseCard();
    for (unsigned i = 0; i < 10; ++i) writeSPI(0xFF);

    local_selectCard();
    int r = sendSDCmd(0, 0);  // GO_IDLE_STATE
    local_releaseCard();
    if (r != 0x01) return SD_ERR_NOT_IDLE;

    unsigned attempt;
    for (attempt = 0; attempt < kInitAttempts; ++attempt) {
        r = sendSDCmd(1, 0);  // SEND_OP_COND
        local_releaseCard();
        if (r == 0x00) break;
    }
    if (attempt == kInitAttempts) return SD_ERR_INIT_TIMEOUT;

    // Identification is over: the fastest clock, PBCLK / 2.
    SPI2CON = 0;
    SPI2BRG = 0;
    SPI2CON = kSpiConfig;
    return 0;
}
