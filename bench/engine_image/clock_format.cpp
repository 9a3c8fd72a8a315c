// The clock demo's time formatter, from the demo's own source: its main is renamed
// (main=clockdemo_main, as on the host) and dropped by the linker, its configuration words
// stay and clock the virtual board as the demo's image does.
#include "apps/clockdemo/main.cpp"

extern "C" void bench_formatTimeLine(char* str, unsigned char hr, unsigned char mint, unsigned char sec,
                                     unsigned char wd, unsigned char day, unsigned char month, unsigned char year) {
    local_formatTimeLine(str, hr, mint, sec, wd, day, month, year);
}
