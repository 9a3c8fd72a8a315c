// A firmware image on the virtual board, booted by the M4K core from the reset vector:
// the board built from the image's own configuration words (so a wrong word gives a wrong
// clock), the clock chip on I2C1, an SD card in the SPI2 slot if wanted, a terminal on the
// console. pic32sim and the system tests put images on the board through this.
#pragma once
#include <optional>
#include <string>

#include "sim/boards/board.h"
#include "sim/core/image_loader.h"
#include "sim/core/mips_core.h"
#include "sim/devices/rtc_chip.h"
#include "sim/devices/sd_card.h"
#include "sim/devices/terminal.h"

namespace tools {

struct ImageBoardOptions {
    sim::Chip chip = sim::Chip::MX440F256H;
    std::optional<bool> rtc;                 // the clock chip; unset: as the board is fitted
    std::optional<sim::SdCard::Options> card;  // unset: the slot is empty
    bool fastForward = true;
};

class ImageBoard {
public:
    // Reads an ELF or Intel HEX file against the chip's memory map (sim::ImageError when it
    // is malformed or does not fit).
    static sim::Image read(const std::string& path, sim::Chip chip = sim::Chip::MX440F256H) {
        return sim::readImage(path, sim::MemoryLayout::forChip(chip));
    }

    ImageBoard(const sim::Image& image, const ImageBoardOptions& options = {})
        : board(boardConfig(image, options.chip)),
          terminal(board.sched, board.uart1.txNet(), board.uart1.rxNet(), board.sysclkHz()),
          core(board, coreOptions(options)) {
        if (options.rtc.value_or(board.description().clockChipFitted)) rtc = &sim::RtcChip::attach(board);
        if (options.card) card = &sim::SdCard::insert(board, *options.card);
        sim::loadImage(core.memory(), image);
    }

    // Runs the core until virtual time reaches `seconds` after power-up.
    sim::StopReason runUntil(double seconds) { return core.run(board.cycles(seconds)); }

    sim::Board board;
    sim::Terminal terminal;
    sim::MipsCore core;
    sim::RtcChip* rtc = nullptr;
    sim::SdCard* card = nullptr;

private:
    static sim::BoardConfig boardConfig(const sim::Image& image, sim::Chip chip) {
        sim::BoardConfig cfg;
        cfg.chip = chip;
        cfg.config = image.configWords();
        return cfg;
    }
    static sim::CoreOptions coreOptions(const ImageBoardOptions& options) {
        sim::CoreOptions o;
        o.fastForward = options.fastForward;
        return o;
    }
};

}  // namespace tools
