// The clock demo: sets the real-time clock chip once, then every second toggles the LED
// on RD1 and prints the chip's time and date on the console, followed by "ok".
#include <stdio.h>
#include <string.h>

#include "drivers/digitalIO.h"
#include "drivers/i2c.h"
#include "drivers/rtc.h"
#include "drivers/system.h"
#include "drivers/uart.h"
#include "platform/config_words.h"
#include "platform/plib.h"

// 8 MHz crystal, PLL 8 / 2 x 20 / 1 = 80 MHz, PBCLK divider 1, watchdog off, no debugger.
PIC32_CONFIG_WORDS(0xFFF879D9, 0xFF6F0AFB, 0x7FFFFFFF)

namespace {

// The console line: hours, minutes, seconds, weekday, day, month, year, no padding. At
// most 27 characters, well inside the 100-byte buffer. Kept apart so that the formatter
// can be exchanged without touching the loop.
void local_formatTimeLine(char* str, unsigned char hr, unsigned char mint, unsigned char sec, unsigned char wd,
                          unsigned char day, unsigned char month, unsigned char year) {
    sprintf(str, "%d:%d:%d-%d-%d/%d/%d", hr, mint, sec, wd, day, month, year);
}

}  // namespace

#if defined(PLATFORM_HOST)
// On the host `main` is renamed to the entry that the board runner calls; keep it unmangled.
extern "C" int main(int argc, char** argv);
#endif

int main(int argc, char** argv) {
    (void)argc;
    (void)argv;
    SYSTEMConfigPerformance(79999999);
    INTEnableSystemMultiVectoredInt();

    initDigitalIO();
    initUART();
    initI2C(I2C1);
    setTimeDate(5, 10, 2, 3, 3, 1, 14);

    for (;;) {
        LATDINV = LATD_LATD1;  // the LED on RD1 changes state once a line

        unsigned char sec = 0, mint = 0, hr = 0, day = 0, wd = 0, month = 0, year = 0;
        getTimeDate(&sec, &mint, &hr, &day, &wd, &month, &year);

        char str[100];
        memset(str, 0, sizeof str);
        local_formatTimeLine(str, hr, mint, sec, wd, day, month, year);
        writeString(UART1, str);
        writeString(UART1, "ok\r\n");

        delayms(1000);
    }
}
