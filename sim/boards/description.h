// What a board is: its chip and memories, every net it has (the chip's pins and the board's
// wires, with their pull resistors), where the chip's peripherals meet those nets, and where
// each device that can be fitted sits. One description per board, in this folder; the
// models, devices, tools and test fixtures all take their pins from it.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "sim/wires/net.h"

namespace sim {

enum class Chip { MX440F256H, MX795F512L };

// A pin of a port: RD9 is {'D', 9}.
struct Pin {
    char port;
    unsigned bit;
    std::string name() const { return std::string("R") + port + std::to_string(bit); }
};

// The nets of an SPI bus with one select line, as a device on it sees them.
struct SpiWiring {
    std::string select, sck, mosi, miso;
};

struct BoardDescription {
    std::string name;
    Chip chip;
    uint32_t ramBytes, flashBytes;
    std::vector<NetDeclaration> nets;

    // The chip's peripherals on the pins.
    std::string uart1Tx, uart1Rx, uart2Tx, uart2Rx;
    Pin i2c1Sda, i2c1Scl;
    Pin spi2Sck, spi2Sdi, spi2Sdo;

    // Where devices sit.
    Pin clockChipSda, clockChipScl;  // the PCF8563-map clock chip's bus
    bool clockChipFitted;            // fitted unless a run says otherwise
    SpiWiring cardSlot;              // the SD card slot
    Pin led;
    // The console terminal is on UART1's lines.
};

// The PIC32MX440F256H board of the demos.
const BoardDescription& demoBoard();
// The PIC32MX795F512L board of the bit-banged clock driver.
const BoardDescription& bitclockBoard();
const BoardDescription& boardFor(Chip chip);

}  // namespace sim
