// The SD card bring-up on the virtual board, read from the SPI bus: the select line, the
// frames byte for byte, the response polls, the clock rates and the result codes.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "drivers/sdmmc.h"
#include "platform/host/host_backend.h"
#include "platform/pic32mx.h"
#include "sim/boards/board.h"
#include "sim/devices/sd_card.h"
#include "sim/chip/spi.h"

namespace {

using Kind = sim::SdCard::Kind;
using Bytes = std::vector<uint8_t>;

sim::SdCard::Options card(Kind kind, unsigned busy = 0, unsigned ncr = 1, uint8_t cmd0Response = 0) {
    sim::SdCard::Options o;
    o.kind = kind;
    o.busyAttempts = busy;
    o.responseDelay = ncr;
    o.cmd0Response = cmd0Response;
    return o;
}

// A board with a card in the slot and the analyser on the bus, attached to the drivers.
struct Bench {
    explicit Bench(const sim::SdCard::Options& o, unsigned fpbdiv = 0)
        : board(config(fpbdiv)), card(sim::SdCard::insert(board, o)), spi(board.nets, board.sched, board.sysclkHz(), board.description().cardSlot) {
        platform::host::attach(&board);
    }
    ~Bench() { platform::host::attach(nullptr); }
    static sim::BoardConfig config(unsigned fpbdiv) {
        sim::BoardConfig c;
        c.config.devcfg1 = (c.config.devcfg1 & ~0x3000u) | fpbdiv << 12;
        return c;
    }
    bool run(double seconds, const std::function<void()>& body) {
        return platform::host::runFor(body, board.now() + board.cycles(seconds));
    }
    bool selectHigh() { return board.nets.get("RB13").level(); }
    uint32_t reg(uint32_t address) { return board.bus.find(address)->value(); }

    sim::Board board;
    sim::SdCard& card;
    sim::SpiAnalyser spi;
};

// The bytes clocked while the card was selected, one list per selection.
struct Selection {
    Bytes mosi, miso;
    double minHz = 1e12, maxHz = 0;
};
std::vector<Selection> selections(const sim::SpiAnalyser& spi) {
    std::vector<Selection> out;
    bool open = false;
    for (const auto& e : spi.events()) {
        if (e.kind == sim::SpiEvent::Kind::Select) {
            out.emplace_back();
            open = true;
        } else if (e.kind == sim::SpiEvent::Kind::Release) {
            open = false;
        } else if (e.kind == sim::SpiEvent::Kind::Byte && open) {
            out.back().mosi.push_back(e.mosi);
            out.back().miso.push_back(e.miso);
            out.back().minHz = std::min(out.back().minHz, e.sckHz);
            out.back().maxHz = std::max(out.back().maxHz, e.sckHz);
        }
    }
    return out;
}
unsigned releasedBytes(const sim::SpiAnalyser& spi) {
    unsigned n = 0;
    for (const auto& e : spi.bytes()) n += !e.selected;
    return n;
}
Bytes frameThenPolls(Bytes frame, unsigned polls) {
    frame.insert(frame.end(), polls, 0xFF);
    return frame;
}

const Bytes kCmd0 = {0x40, 0x00, 0x00, 0x00, 0x00, 0x95};
const Bytes kCmd1 = {0x41, 0x00, 0x00, 0x00, 0x00, 0x95};
const Bytes kCmd16 = {0x50, 0x00, 0x00, 0x02, 0x00, 0x95};

// initSD: the select line is high before it becomes an output (the card never sees it low),
// SPI2 runs mode 0 at the identification rate whatever the peripheral bus divider.
TEST(Sdmmc, InitSdSetsTheIdentificationRate) {
    const struct {
        unsigned pbdiv, brg;
        double hz;
    } cases[] = {{0, 99, 400e3}, {1, 49, 400e3}, {2, 24, 400e3}, {3, 11, 416666.667}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "PBDIV " << c.pbdiv);
        Bench b(card(Kind::Standard), c.pbdiv);
        b.board.nets.record("RB13");
        uint8_t got = 0;
        ASSERT_TRUE(b.run(1, [&] {
            initSD();
            got = writeSPI(0xFF);
        }));
        EXPECT_TRUE(b.board.nets.changesOf("RB13").empty()) << "the select line never dipped";
        EXPECT_TRUE(b.selectHigh());
        EXPECT_EQ(b.reg(SPI2CON.address), 0x8120u);
        EXPECT_EQ(b.reg(SPI2BRG.address), c.brg);
        auto bytes = b.spi.bytes();
        ASSERT_EQ(bytes.size(), 1u);
        EXPECT_FALSE(bytes[0].selected);
        EXPECT_NEAR(bytes[0].sckHz, c.hz, 1.0);
        EXPECT_EQ(got, 0xFF);
    }
}

// For each response delay: the frames byte for byte, the polls ending at the first byte
// that is not 0xFF and never going past the 8th, the select line high when initMedia
// returns and low when sendSDCmd does, 400 kHz during the handshake and 40 MHz after it.
TEST(Sdmmc, FramesAndResponsePolls) {
    for (unsigned ncr = 0; ncr <= 8; ++ncr) {
        SCOPED_TRACE(testing::Message() << "response after " << ncr << " bytes of 0xFF");
        Bench b(card(Kind::Standard, 1, ncr));
        const unsigned polls = std::min(ncr + 1, 8u);
        int result = -1, r16 = -1;
        bool highAfterInit = false, lowAfterCmd = false;
        ASSERT_TRUE(b.run(1, [&] {
            initSD();
            result = initMedia();
            highAfterInit = b.selectHigh();
        }));
        EXPECT_TRUE(highAfterInit);
        EXPECT_EQ(b.card.clocksBeforeFirstCommand(), 88u);

        auto sel = selections(b.spi);
        if (ncr == 8) {
            // The answer would come in a 9th poll byte, which is never sent.
            EXPECT_EQ(result, SD_ERR_NOT_IDLE);
            ASSERT_EQ(sel.size(), 1u);
            EXPECT_EQ(sel[0].mosi, frameThenPolls(kCmd0, 8));
            EXPECT_EQ(sel[0].miso, Bytes(14, 0xFF));
            EXPECT_EQ(b.spi.bytes().size(), 26u);
            EXPECT_EQ(b.reg(SPI2BRG.address), 99u);
            continue;
        }
        EXPECT_EQ(result, 0);
        ASSERT_EQ(sel.size(), 3u);
        const Bytes* frames[] = {&kCmd0, &kCmd1, &kCmd1};
        const uint8_t answers[] = {0x01, 0x01, 0x00};
        for (unsigned i = 0; i < 3; ++i) {
            EXPECT_EQ(sel[i].mosi, frameThenPolls(*frames[i], polls)) << "selection " << i;
            EXPECT_EQ(sel[i].miso.back(), answers[i]);
            EXPECT_NEAR(sel[i].minHz, 400e3, 1.0);
            EXPECT_NEAR(sel[i].maxHz, 400e3, 1.0);
        }
        EXPECT_EQ(releasedBytes(b.spi), 11u + 3u);
        EXPECT_EQ(b.reg(SPI2BRG.address), 0u);

        b.spi.clear();
        ASSERT_TRUE(b.run(1, [&] {
            r16 = sendSDCmd(16, 512);
            lowAfterCmd = !b.selectHigh();
        }));
        EXPECT_TRUE(lowAfterCmd) << "sendSDCmd leaves the card selected";
        EXPECT_EQ(r16, 0x00);
        sel = selections(b.spi);
        ASSERT_EQ(sel.size(), 1u);
        EXPECT_EQ(sel[0].mosi, frameThenPolls(kCmd16, polls));
        EXPECT_NEAR(sel[0].minHz, 40e6, 1.0);
        EXPECT_NEAR(sel[0].maxHz, 40e6, 1.0);
    }
}

// A second initMedia without initSD runs its whole handshake at the final rate.
TEST(Sdmmc, SecondInitMediaStaysFast) {
    Bench b(card(Kind::Standard, 2));
    int first = -1, second = -1;
    ASSERT_TRUE(b.run(1, [&] {
        initSD();
        first = initMedia();
    }));
    b.spi.clear();
    ASSERT_TRUE(b.run(1, [&] { second = initMedia(); }));
    EXPECT_EQ(first, 0);
    EXPECT_EQ(second, 0);
    ASSERT_EQ(b.spi.commands().size(), 4u);  // CMD0 and three CMD1
    for (const auto& e : b.spi.bytes()) EXPECT_NEAR(e.sckHz, 40e6, 1.0);
}

// Result codes by card: the select line is high on every return, SPI2BRG keeps the
// identification divider after an error, the attempts stop at 10 000.
TEST(Sdmmc, InitMediaResults) {
    const struct {
        const char* what;
        sim::SdCard::Options card;
        int result;
        unsigned cmd1Frames;
        unsigned bytes;
        uint32_t brg;
    } cases[] = {
        {"no card", card(Kind::Absent), SD_ERR_NOT_IDLE, 0, 26, 99},
        {"CMD0 answered 0x00", card(Kind::BadIdle, 0, 1, 0x00), SD_ERR_NOT_IDLE, 0, 20, 99},
        {"CMD0 answered 0x05", card(Kind::BadIdle, 0, 0, 0x05), SD_ERR_NOT_IDLE, 0, 19, 99},
        {"ready at the first CMD1", card(Kind::Standard, 0), 0, 1, 11 + 9 + 9, 0},
        {"0x01 9 999 times, then 0x00", card(Kind::Standard, 9999), 0, 10000, 11 + 9 * 10001, 0},
        {"never ready", card(Kind::NeverReady), SD_ERR_INIT_TIMEOUT, 10000, 11 + 9 * 10001, 99},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Bench b(c.card);
        int result = -1;
        bool high = false;
        sim::Cycles start = 0, end = 0;
        ASSERT_TRUE(b.run(10, [&] {
            initSD();
            start = b.board.now();
            result = initMedia();
            end = b.board.now();
            high = b.selectHigh();
        }));
        EXPECT_EQ(result, c.result);
        EXPECT_TRUE(high);
        EXPECT_EQ(b.reg(SPI2BRG.address), c.brg);
        auto cmds = b.spi.commands();
        unsigned cmd1 = 0;
        for (const auto& e : cmds) cmd1 += e.command == 1;
        EXPECT_EQ(cmd1, c.cmd1Frames);
        EXPECT_EQ(cmds.size(), c.cmd1Frames + 1);
        EXPECT_EQ(b.spi.bytes().size(), c.bytes);
        EXPECT_EQ(b.spi.events().back().kind, sim::SpiEvent::Kind::Byte);
        EXPECT_FALSE(b.spi.events().back().selected) << "the last byte is the release byte";
        if (c.cmd1Frames == 10000)
            std::printf("[ figure   ] %s: initMedia took %.3f s\n", c.what, b.board.seconds(end - start));
    }
}

}  // namespace
