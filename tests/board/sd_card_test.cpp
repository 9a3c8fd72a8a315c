// The SD card model on SPI2, driven through the chip's registers: power-up clocks, the reset
// into SPI mode, its response delay, the kinds of card, and the analyser's reading of it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/pic32mx.h"
#include "sim/boards/board.h"
#include "sim/devices/sd_card.h"
#include "sim/chip/spi.h"

namespace {

using Kind = sim::SdCard::Kind;
using Bytes = std::vector<uint8_t>;

// A board with a card in the slot, SPI2 in mode 0 at 400 kHz and the select line an output.
struct Slot {
    explicit Slot(const sim::SdCard::Options& o = {})
        : card(sim::SdCard::insert(board, o)), spi(board.nets, board.sched, board.sysclkHz(), board.description().cardSlot) {
        write(SPI2BRG.address, 99);
        write(SPI2CON.address, 0x8120);
        release();
        write(TRISBCLR.address, 1u << 13);
    }
    void write(uint32_t address, uint32_t v) { board.bus.write(address, v); }
    void select() { write(LATBCLR.address, 1u << 13); }
    void release() { write(LATBSET.address, 1u << 13); }
    uint8_t exchange(uint8_t b) {
        write(SPI2BUF.address, b);
        while (!(board.bus.read(SPI2STAT.address) & 1u)) board.sched.advance(1);
        return uint8_t(board.bus.read(SPI2BUF.address));
    }
    void releasedBytes(unsigned n) {
        release();
        for (unsigned i = 0; i < n; ++i) exchange(0xFF);
    }
    // Selects the card, sends a frame (with its real CRC unless one is given) and returns
    // what the card sent during `polls` bytes after it.
    Bytes command(uint8_t index, uint32_t arg, int crc = -1, unsigned polls = 10, bool selected = true) {
        uint8_t f[6] = {uint8_t(0x40 | index), uint8_t(arg >> 24), uint8_t(arg >> 16), uint8_t(arg >> 8), uint8_t(arg), 0};
        f[5] = crc < 0 ? sim::SpiAnalyser::frameCrc(f) : uint8_t(crc);
        if (selected) select();
        for (uint8_t b : f) exchange(b);
        Bytes r;
        for (unsigned i = 0; i < polls; ++i) r.push_back(exchange(0xFF));
        return r;
    }
    // The first byte of the answer (0xFF: none) after a command, the card released again.
    uint8_t r1(uint8_t index, uint32_t arg = 0, int crc = -1) {
        Bytes r = command(index, arg, crc);
        releasedBytes(1);
        for (uint8_t b : r)
            if (b != 0xFF) return b;
        return 0xFF;
    }
    sim::Board board;
    sim::SdCard& card;
    sim::SpiAnalyser spi;
};

TEST(SdCard, CrcOfCommandFrames) {
    const struct {
        Bytes head;
        uint8_t crc;
    } cases[] = {{{0x40, 0, 0, 0, 0}, 0x95}, {{0x41, 0, 0, 0, 0}, 0xF9}, {{0x48, 0, 0, 0x01, 0xAA}, 0x87},
                 {{0x50, 0, 0, 0x02, 0}, 0x15}};
    for (const auto& c : cases) EXPECT_EQ(sim::SpiAnalyser::frameCrc(c.head.data()), c.crc);
}

// The card wakes in SD bus mode: it needs 74 clocks with CS high, then a CMD0 with CS low
// and a correct CRC to switch to SPI mode. Until then it ignores frames and never drives MISO.
TEST(SdCard, EntersSpiModeOnResetAfterThePowerUpClocks) {
    const struct {
        const char* what;
        unsigned releasedBytes;
        bool selected;
        int crc;
        uint8_t r1;
    } cases[] = {
        {"80 clocks, then CMD0", 10, true, 0x95, 0x01},
        {"72 clocks are too few", 9, true, 0x95, 0xFF},
        {"CMD0 with CS high", 10, false, 0x95, 0xFF},
        {"CMD0 with a wrong CRC", 10, true, 0x94, 0xFF},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Slot s;
        s.releasedBytes(c.releasedBytes);
        Bytes r = s.command(0, 0, c.crc, 10, c.selected);
        uint8_t first = 0xFF;
        for (uint8_t b : r)
            if (b != 0xFF) first = b;
        EXPECT_EQ(first, c.r1);
        EXPECT_EQ(s.card.spiMode(), c.r1 == 0x01);
        if (c.selected) {
            EXPECT_EQ(s.card.clocksBeforeFirstCommand(), 8 * c.releasedBytes);
        }
        // A proper reset afterwards always works.
        s.releasedBytes(1);
        EXPECT_EQ(s.r1(0), 0x01);
    }
}

// R1 comes after 0 to 8 bytes of 0xFF (NCR), and only while the card stays selected.
TEST(SdCard, AnswersAfterItsResponseDelay) {
    for (unsigned ncr = 0; ncr <= 8; ++ncr) {
        SCOPED_TRACE(testing::Message() << "NCR " << ncr);
        sim::SdCard::Options o;
        o.responseDelay = ncr;
        Slot s(o);
        s.releasedBytes(10);
        Bytes expected(10, 0xFF);
        expected[ncr] = 0x01;
        EXPECT_EQ(s.command(0, 0), expected);
    }
    sim::SdCard::Options o;
    o.responseDelay = 4;
    Slot s(o);
    s.releasedBytes(10);
    s.command(0, 0, -1, 2);
    s.releasedBytes(1);
    EXPECT_TRUE(s.board.nets.get("RG7").level()) << "released, the card lets MISO go";
    s.select();
    for (int i = 0; i < 6; ++i) EXPECT_EQ(s.exchange(0xFF), 0xFF) << "the answer was dropped with the select line";
}

// What each kind of card answers to the reset and to five CMD1s sent as the firmware sends
// them (with 0x95, a CRC that is wrong for CMD1 and not checked in SPI mode).
TEST(SdCard, KindsAnswerResetAndInitialisation) {
    const struct {
        Kind kind;
        unsigned busy;
        uint8_t cmd0Response;
        uint8_t cmd0;
        Bytes cmd1;
    } cases[] = {
        {Kind::Standard, 0, 0, 0x01, {0x00, 0x00, 0x00, 0x00, 0x00}},
        {Kind::Standard, 3, 0, 0x01, {0x01, 0x01, 0x01, 0x00, 0x00}},
        {Kind::NeverReady, 0, 0, 0x01, {0x01, 0x01, 0x01, 0x01, 0x01}},
        {Kind::SdhcReject, 0, 0, 0x01, {0x05, 0x05, 0x05, 0x05, 0x05}},
        {Kind::SdhcIdle, 0, 0, 0x01, {0x01, 0x01, 0x01, 0x01, 0x01}},
        {Kind::BadIdle, 0, 0x00, 0x00, {0x00, 0x00, 0x00, 0x00, 0x00}},
        {Kind::BadIdle, 0, 0x05, 0x05, {0x00, 0x00, 0x00, 0x00, 0x00}},
        {Kind::Absent, 0, 0, 0xFF, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << sim::SdCard::kindName(c.kind) << " busy " << c.busy);
        sim::SdCard::Options o;
        o.kind = c.kind;
        o.busyAttempts = c.busy;
        o.cmd0Response = c.cmd0Response;
        Slot s(o);
        s.releasedBytes(11);
        EXPECT_EQ(s.r1(0), c.cmd0);
        Bytes cmd1;
        for (int i = 0; i < 5; ++i) cmd1.push_back(s.r1(1, 0, 0x95));
        EXPECT_EQ(cmd1, c.cmd1);
    }
}

// In SPI mode the CRC counts for CMD0 and CMD8 only; an idle card takes only the
// initialisation commands; SDHC cards echo CMD8's voltage and check pattern.
TEST(SdCard, SpiModeCommandRules) {
    sim::SdCard::Options o;
    o.busyAttempts = 1;
    Slot s(o);
    s.releasedBytes(10);
    EXPECT_EQ(s.r1(0), 0x01);
    EXPECT_EQ(s.r1(0, 0, 0x94), 0x09) << "CRC error, idle";
    EXPECT_EQ(s.r1(8, 0x1AA, 0x01), 0x09);
    EXPECT_EQ(s.r1(8, 0x1AA), 0x05) << "a version 1 card does not know CMD8";
    EXPECT_EQ(s.r1(16, 512), 0x05) << "not while idle";
    EXPECT_EQ(s.r1(1), 0x01);
    EXPECT_EQ(s.r1(1), 0x00);
    EXPECT_EQ(s.r1(16, 512, 0x00), 0x00);
    EXPECT_EQ(s.r1(16, 1024), 0x40) << "parameter error";
    EXPECT_EQ(s.r1(0), 0x01) << "a reset makes it idle again";
    EXPECT_TRUE(s.card.idle());

    o.kind = Kind::SdhcReject;
    Slot sdhc(o);
    sdhc.releasedBytes(10);
    EXPECT_EQ(sdhc.r1(0), 0x01);
    Bytes r7 = sdhc.command(8, 0x1AA);
    EXPECT_EQ(Bytes(r7.begin(), r7.begin() + 6), (Bytes{0xFF, 0x01, 0x00, 0x00, 0x01, 0xAA}));
}

// The analyser's record of a reset: select changes, bytes on both lines with the clock
// measured, the frame decoded with its CRC checked, and the R1.
TEST(SdCard, AnalyserTrace) {
    Slot s;
    s.releasedBytes(10);
    s.spi.clear();
    s.r1(0);
    s.r1(1, 0, 0x95);
    s.r1(17, 0x200);
    const std::string expected =
        "      200.0000 us  CS    low\n"
        "      201.2500 us  byte  MOSI 40  MISO FF  selected  400.000 kHz\n"
        "      221.2500 us  byte  MOSI 00  MISO FF  selected  400.000 kHz\n"
        "      241.2500 us  byte  MOSI 00  MISO FF  selected  400.000 kHz\n"
        "      261.2500 us  byte  MOSI 00  MISO FF  selected  400.000 kHz\n"
        "      281.2500 us  byte  MOSI 00  MISO FF  selected  400.000 kHz\n"
        "      301.2500 us  byte  MOSI 95  MISO FF  selected  400.000 kHz\n"
        "      301.2500 us  CMD0  GO_IDLE_STATE arg 0x00000000 crc 0x95\n"
        "      321.2500 us  byte  MOSI FF  MISO FF  selected  400.000 kHz\n"
        "      341.2500 us  byte  MOSI FF  MISO 01  selected  400.000 kHz\n"
        "      341.2500 us  R1    0x01 idle, poll byte 2\n"
        "      361.2500 us  byte  MOSI FF  MISO FF  selected  400.000 kHz\n";
    std::string text = s.spi.text();
    EXPECT_EQ(text.substr(0, expected.size()), expected);
    EXPECT_NE(text.find("CMD1  SEND_OP_COND arg 0x00000000 crc 0x95 (CRC7 would give 0xF9)\n"), std::string::npos);
    EXPECT_NE(text.find("CMD17 READ_SINGLE_BLOCK arg 0x00000200 crc 0x"), std::string::npos);
    EXPECT_NE(text.find("R1    0x04 illegal command, poll byte 2\n"), std::string::npos);
    EXPECT_NE(text.find("CS    high\n"), std::string::npos);

    // With no answer the window closes at the select line.
    sim::SdCard::Options absent;
    absent.kind = Kind::Absent;
    Slot empty(absent);
    empty.command(0, 0, -1, 8);
    empty.release();
    auto events = empty.spi.events();
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events[events.size() - 2].kind, sim::SpiEvent::Kind::NoResponse);
    EXPECT_EQ(events[events.size() - 2].pollBytes, 8u);
    EXPECT_EQ(events.back().kind, sim::SpiEvent::Kind::Release);
}

}  // namespace
