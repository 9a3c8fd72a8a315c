// The PIC32MX440F256H board of the clock demo and the card demo (64-pin package).
#include "sim/boards/description.h"

namespace sim {

namespace {

// Port pins of a package: a port letter and the bits that are bonded out.
void addPort(std::vector<NetDeclaration>& nets, char port, unsigned first, unsigned last) {
    for (unsigned b = first; b <= last; ++b) nets.push_back({Pin{port, b}.name()});
}

BoardDescription describe() {
    BoardDescription d;
    d.name = "PIC32MX440F256H demo board";
    d.chip = Chip::MX440F256H;
    d.ramBytes = 32 * 1024;
    d.flashBytes = 256 * 1024;
    // The ports model has every bit of ports A to G; the 64-pin package bonds out fewer,
    // and the ones that are not bonded out float.
    for (char p = 'A'; p <= 'G'; ++p) addPort(d.nets, p, 0, 15);
    d.uart1Tx = "U1TX";
    d.uart1Rx = "U1RX";
    d.uart2Tx = "U2TX";
    d.uart2Rx = "U2RX";
    for (const std::string& idle : {d.uart1Tx, d.uart1Rx, d.uart2Tx, d.uart2Rx}) d.nets.push_back({idle, Pull::Up});

    d.i2c1Sda = {'D', 9};
    d.i2c1Scl = {'D', 10};
    d.spi2Sck = {'G', 6};
    d.spi2Sdi = {'G', 7};
    d.spi2Sdo = {'G', 8};

    d.clockChipSda = d.i2c1Sda;
    d.clockChipScl = d.i2c1Scl;
    d.clockChipFitted = true;
    // The card's output drives SDI2; its input is SDO2; select on RB13.
    d.cardSlot = {"RB13", d.spi2Sck.name(), d.spi2Sdo.name(), d.spi2Sdi.name()};
    d.led = {'D', 1};

    // Pull-ups on the board: both I2C lines, and the card slot's data out, so that with no
    // card, or a card that lets go, the line reads 1.
    for (auto& n : d.nets)
        if (n.name == d.i2c1Sda.name() || n.name == d.i2c1Scl.name() || n.name == d.cardSlot.miso) n.pull = Pull::Up;
    return d;
}

}  // namespace

const BoardDescription& demoBoard() {
    static const BoardDescription d = describe();
    return d;
}

}  // namespace sim
