// carddemo.elf booted from the reset vector on the core simulator, with the cards the
// slot can hold: the console says "init UART" and nothing else, and the SPI trace shows
// the card's reset (CMD0) and, when the card took it, its initialisation (CMD1).
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tests/system/system_fixture.h"

namespace {

using systemtest::Booted;

// Commands and responses on the bus: "CMD0 0x01 CMD1 0x00", "none" for no response.
std::string exchange(const sim::SpiAnalyser& spi) {
    std::string out;
    char b[16];
    for (const auto& e : spi.events()) {
        if (e.kind == sim::SpiEvent::Kind::Command)
            std::snprintf(b, sizeof b, "CMD%u ", e.command);
        else if (e.kind == sim::SpiEvent::Kind::Response)
            std::snprintf(b, sizeof b, "0x%02X ", e.response);
        else if (e.kind == sim::SpiEvent::Kind::NoResponse)
            std::snprintf(b, sizeof b, "none ");
        else
            continue;
        out += b;
    }
    if (!out.empty()) out.pop_back();
    return out;
}

struct CardCase {
    const char* name;
    sim::SdCard::Kind kind;
    unsigned busyAttempts;
    const char* exchange;
};

class CardDemoImage : public ::testing::TestWithParam<CardCase> {};

TEST_P(CardDemoImage, PrintsInitUartAndPutsTheCardsHandshakeOnTheBus) {
    const CardCase& c = GetParam();
    tools::ImageBoardOptions o;
    sim::SdCard::Options card;
    card.kind = c.kind;
    card.busyAttempts = c.busyAttempts;
    o.card = card;
    Booted d(systemtest::readImage(systemtest::kImages, "carddemo.elf"), o);
    d.runUntil(0.5);

    EXPECT_EQ(d.console(), "init UART\r\n");
    EXPECT_EQ(exchange(*d.spi), c.exchange) << d.spi->text();
    auto commands = d.spi->commands();
    ASSERT_FALSE(commands.empty());
    EXPECT_EQ(commands[0].argument, 0u);
    EXPECT_EQ(commands[0].crc, 0x95);
    // Identification runs at 400 kHz: SPI2BRG = 99 at the 80 MHz the image configures.
    auto bytes = d.spi->bytes();
    ASSERT_FALSE(bytes.empty());
    EXPECT_NEAR(bytes.front().sckHz, 400e3, 1e3);
    EXPECT_TRUE(d.board.resets().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cards, CardDemoImage,
    ::testing::Values(CardCase{"ReadyAtOnce", sim::SdCard::Kind::Standard, 0, "CMD0 0x01 CMD1 0x00"},
                      CardCase{"ReadyAfterTwoAttempts", sim::SdCard::Kind::Standard, 2,
                               "CMD0 0x01 CMD1 0x01 CMD1 0x01 CMD1 0x00"},
                      // initMedia's 0x80 path: no CMD1 after a CMD0 that did not give 0x01.
                      CardCase{"NoCard", sim::SdCard::Kind::Absent, 0, "CMD0 none"},
                      CardCase{"NotIdleAfterReset", sim::SdCard::Kind::BadIdle, 0, "CMD0 0x00"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
