// Card demo: brings up the console and an SD card on SPI2, then toggles the LED latch on
// RD1 once a second for ever. The current revision is the relocatable `main` module; the
// `carddemo` image carries the earlier one (CARDDEMO_EARLIER_REVISION), which leaves the
// JTAG port and AD1PCFG as reset left them, keeps no result and has no extra first toggle.
#include "drivers/sdmmc.h"
#include "drivers/system.h"
#include "drivers/uart.h"
#include "platform/config_words.h"
#include "platform/pic32mx.h"
#include "platform/plib.h"

// 80 MHz from the 8 MHz crystal (/2 x20 /1), PBCLK = SYSCLK, watchdog off, no code protection.
PIC32_CONFIG_WORDS(0xFFF879D9, 0xFF6F0AFB, 0x7FFFFFFF)

#if defined(PLATFORM_HOST)
// On the host `main` is renamed to the entry that the board runner calls; keep it unmangled.
extern "C" int main(int argc, char** argv);
#endif

int main(int argc, char** argv) {
    (void)argc;
    (void)argv;
    SYSTEMConfigPerformance(79999999);
    INTEnableSystemMultiVectoredInt();

#if defined(CARDDEMO_EARLIER_REVISION)
    initUART();
    initSD();
    initMedia();
#else
    DDPCONbits.JTAGEN = 0;  // the JTAG pins become port pins
    AD1PCFG = AD1PCFG_PCFG13;  // AN13 = RB13, the card select, digital; the other port B pins analog
    // The LED pin drives, without initDigitalIO and its console line.
    TRISDCLR = TRISD_TRISD1;
    int res = 0;
    initUART();
    initSD();
    res = initMedia();
    (void)res;  // the demo goes on whatever the card did
    LATDINV = LATD_LATD1;
#endif

    for (;;) {
        LATDINV = LATD_LATD1;
        delayms(1000);
    }
}
