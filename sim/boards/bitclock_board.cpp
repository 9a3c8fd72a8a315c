// The PIC32MX795F512L board of the bit-banged clock driver (100-pin package): the clock
// chip on RD9 (SDA) and RD10 (SCL), driven through the TRIS bits against the pull-ups.
#include "sim/boards/description.h"

namespace sim {

namespace {

BoardDescription describe() {
    BoardDescription d = demoBoard();  // the same peripherals at the same pins
    d.name = "PIC32MX795F512L bit-banged clock board";
    d.chip = Chip::MX795F512L;
    d.ramBytes = 128 * 1024;
    d.flashBytes = 512 * 1024;
    d.clockChipFitted = false;  // on this board the driver under test brings its own bus
    return d;
}

}  // namespace

const BoardDescription& bitclockBoard() {
    static const BoardDescription d = describe();
    return d;
}

const BoardDescription& boardFor(Chip chip) { return chip == Chip::MX795F512L ? bitclockBoard() : demoBoard(); }

}  // namespace sim
