// The built firmware images booted on the virtual board by the core simulator. An image
// that is not there fails the test with what to build, rather than skipping it.
#pragma once
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "sim/wires/i2c_bus.h"
#include "sim/chip/spi.h"
#include "tools/image_board.h"

namespace systemtest {

inline const std::string kImages = IMAGES_DIR;
inline const std::string kTestImages = TEST_IMAGES_DIR;

inline std::string imagePath(const std::string& dir, const std::string& name) {
    std::string path = dir + "/" + name;
    if (!std::filesystem::exists(path))
        throw std::runtime_error("image " + path +
                                 " is missing: build the target preset first "
                                 "(cmake --preset target && cmake --build --preset target)");
    return path;
}

inline sim::Image readImage(const std::string& dir, const std::string& name) {
    return tools::ImageBoard::read(imagePath(dir, name));
}

// An image on the board with every pin recorded and analysers on both buses.
struct Booted : tools::ImageBoard {
    explicit Booted(const sim::Image& image, const tools::ImageBoardOptions& options = {})
        : ImageBoard(image, options),
          i2c(board.add<sim::I2cAnalyser>(board.sched, sim::RtcChip::busOf(board), board.sysclkHz())),
          spi(std::make_unique<sim::SpiAnalyser>(board.nets, board.sched, board.sysclkHz(), board.description().cardSlot)) {
        board.nets.recordAll();
    }

    std::string console() const { return terminal.text(); }
    // Console lines without their "\r\n" (an unfinished last line is left out).
    std::vector<std::string> lines() const {
        std::vector<std::string> out;
        std::string text = console();
        for (size_t at = 0, end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2)
            out.push_back(text.substr(at, end - at));
        return out;
    }

    sim::I2cAnalyser& i2c;
    std::unique_ptr<sim::SpiAnalyser> spi;
};

}  // namespace systemtest
