// SPI2 as the chip behaves when its registers are driven directly: clock rate, the four
// clock modes with both sample points, the buffers and their status, and the pins.
#include <gtest/gtest.h>

#include <vector>

#include "platform/pic32mx.h"
#include "sim/boards/board.h"

namespace {

constexpr uint32_t kOn = 1u << 15, kMaster = 1u << 5, kCkp = 1u << 6, kCke = 1u << 8, kSmp = 1u << 9,
                   kDisSdo = 1u << 12;
constexpr uint32_t kRbf = 1u << 0, kTbf = 1u << 1, kTbe = 1u << 3, kRov = 1u << 6, kBusy = 1u << 11;
constexpr unsigned kSpi2ErrorFlag = 37 - 32;  // IFS1

// A board whose peripheral bus divider comes from the configuration words (FPBDIV).
struct Rig {
    explicit Rig(unsigned fpbdiv = 0) : board(config(fpbdiv)) {}
    static sim::BoardConfig config(unsigned fpbdiv) {
        sim::BoardConfig c;
        c.config.devcfg1 = (c.config.devcfg1 & ~0x3000u) | fpbdiv << 12;
        return c;
    }
    void write(uint32_t address, uint32_t v) { board.bus.write(address, v); }
    uint32_t read(uint32_t address) { return board.bus.read(address); }
    uint32_t stat() { return read(SPI2STAT.address); }
    sim::Net& net(const char* name) { return board.nets.get(name); }
    // Lets time pass until the condition holds (at most `limit` cycles).
    template <class F>
    sim::Cycles waitFor(F done, sim::Cycles limit = 1000000) {
        sim::Cycles start = board.now();
        while (!done() && board.now() - start < limit) board.sched.advance(1);
        return board.now() - start;
    }
    // Level of a recorded net at time t, from its level before the recording began.
    bool levelAt(const char* name, bool initial, sim::Cycles t) {
        bool level = initial;
        for (const auto& c : board.nets.changesOf(name))
            if (c.time <= t) level = c.level;
        return level;
    }
    sim::Board board;
};

struct ModeCase {
    bool ckp, cke, smp;
};

// Each mode against the data sheet: SCK idles at CKP; with CKE = 1 a bit goes out on the edge
// back to idle (the first one before the first edge), with CKE = 0 on the edge to active;
// the input is taken in the middle of the bit's output time (SMP = 0) or at its end (SMP = 1).
TEST(Spi2, ModesShiftAndSampleWhereTheDataSheetSays) {
    const ModeCase cases[] = {{0, 0, 0}, {0, 0, 1}, {0, 1, 0}, {0, 1, 1},
                              {1, 0, 0}, {1, 0, 1}, {1, 1, 0}, {1, 1, 1}};
    const uint8_t sent = 0xA5;
    const uint32_t inputPattern = 0x6D2B5;  // what the other side shows in each half period
    for (const auto& m : cases) {
        SCOPED_TRACE(testing::Message() << "CKP " << m.ckp << " CKE " << m.cke << " SMP " << m.smp);
        Rig r;
        r.write(SPI2BRG.address, 3);
        r.write(SPI2CON.address, kOn | kMaster | (m.ckp ? kCkp : 0) | (m.cke ? kCke : 0) | (m.smp ? kSmp : 0));
        const sim::Cycles half = 4 << r.board.pbdiv();
        EXPECT_EQ(r.net("RG6").level(), m.ckp) << "idle level";
        bool sdoBefore = r.net("RG8").level();
        r.board.nets.record("RG6");
        r.board.nets.record("RG8");

        // The other side changes SDI half-way between the master's edges.
        sim::Net& sdi = r.net("RG7");
        int driver = sdi.addDriver();
        const sim::Cycles t0 = r.board.now();
        for (unsigned k = 0; k < 20; ++k)
            r.board.sched.at(t0 + k * half + half / 2, [&sdi, driver, k, inputPattern] {
                sdi.drive(driver, (inputPattern >> k) & 1u ? sim::Drive::High : sim::Drive::Low);
            });
        r.write(SPI2BUF.address, sent);
        sim::Cycles took = r.waitFor([&] { return r.stat() & kRbf; });

        auto sck = r.board.nets.changesOf("RG6");
        ASSERT_EQ(sck.size(), 16u);
        for (unsigned k = 0; k < 16; ++k) {
            EXPECT_EQ(sck[k].time, t0 + (k + 1) * half);
            EXPECT_EQ(sck[k].level, k % 2 == 0 ? !m.ckp : m.ckp);
        }
        // Bit i is on SDO for two half periods starting at `out(i)`, and the far side, which
        // takes it on the other edge, sees it there.
        auto out = [&](unsigned i) { return t0 + (2 * i + (m.cke ? 0 : 1)) * half; };
        for (const auto& c : r.board.nets.changesOf("RG8")) {
            bool onAnOutputEdge = false;
            for (unsigned i = 0; i < 8; ++i) onAnOutputEdge |= c.time == out(i);
            EXPECT_TRUE(onAnOutputEdge) << "SDO changed at " << c.time - t0;
        }
        for (unsigned i = 0; i < 8; ++i)
            EXPECT_EQ(r.levelAt("RG8", sdoBefore, out(i) + half), bool(sent >> (7 - i) & 1u)) << "bit " << i;

        // The input seen just before the middle or the end of the output time.
        uint8_t expected = 0;
        for (unsigned i = 0; i < 8; ++i) {
            unsigned k = 2 * i + (m.cke ? 0 : 1) + (m.smp ? 2 : 1);
            expected = uint8_t(expected << 1 | ((inputPattern >> (k - 1)) & 1u));
        }
        EXPECT_EQ(r.read(SPI2BUF.address), expected);
        EXPECT_GE(took, 16 * half);
        EXPECT_LE(took, 17 * half);
    }
}

struct RateCase {
    unsigned fpbdiv, brg;
    double hz;
};

TEST(Spi2, SckFollowsBrgAndThePeripheralBusClock) {
    const RateCase cases[] = {{0, 99, 400e3}, {0, 0, 40e6}, {1, 49, 400e3}, {2, 24, 400e3}, {3, 11, 416666.667}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "PBDIV " << c.fpbdiv << " BRG " << c.brg);
        Rig r(c.fpbdiv);
        r.write(SPI2CON.address, kOn | kMaster | kCke);
        r.write(SPI2BRG.address, c.brg);
        r.board.nets.record("RG6");
        r.write(SPI2BUF.address, 0x00);
        r.waitFor([&] { return r.stat() & kRbf; });
        std::vector<sim::Cycles> rising;
        for (const auto& e : r.board.nets.changesOf("RG6"))
            if (e.level) rising.push_back(e.time);
        ASSERT_EQ(rising.size(), 8u);
        double period = double(rising.back() - rising.front()) / 7.0;
        EXPECT_NEAR(double(r.board.sysclkHz()) / period, c.hz, 1.0);
    }
}

// The transmit buffer takes a second word while the first shifts; a word that completes
// while the receive buffer is still full is lost and sets SPIROV until software clears it.
TEST(Spi2, BuffersStatusAndOverflow) {
    Rig r;
    sim::Net& sdo = r.net("RG8");
    sim::Net& sdi = r.net("RG7");
    int loop = sdi.addDriver();
    sdo.listen([&](sim::Net&, bool level) { sdi.drive(loop, level ? sim::Drive::High : sim::Drive::Low); });
    r.write(SPI2CON.address, kOn | kMaster | kCke);
    r.write(SPI2BRG.address, 1);
    EXPECT_EQ(r.stat(), kTbe);

    r.write(SPI2BUF.address, 0xA5);
    EXPECT_EQ(r.stat(), kTbe | kBusy) << "the first word went straight to the shift register";
    r.write(SPI2BUF.address, 0x3C);
    EXPECT_EQ(r.stat(), kTbf | kBusy);
    r.waitFor([&] { return r.stat() & kRbf; });
    EXPECT_EQ(r.stat(), kTbe | kBusy | kRbf) << "second word shifting";
    r.waitFor([&] { return !(r.stat() & kBusy); });
    EXPECT_EQ(r.stat(), kTbe | kRbf | kRov);
    EXPECT_TRUE(r.read(IFS1.address) >> kSpi2ErrorFlag & 1u);
    EXPECT_EQ(r.read(SPI2BUF.address), 0xA5u) << "the unread word is kept";
    EXPECT_EQ(r.stat(), kTbe | kRov) << "reading empties the buffer, SPIROV stays";

    r.write(SPI2STAT.address, 0xFFFFFFFF);
    EXPECT_EQ(r.stat(), kTbe | kRov) << "status bits cannot be set by software";
    r.write(SPI2STATCLR.address, kRov);
    EXPECT_EQ(r.stat(), kTbe);

    r.write(SPI2BUF.address, 0x5A);
    r.waitFor([&] { return r.stat() & kRbf; });
    EXPECT_EQ(r.read(SPI2BUF.address), 0x5Au);
    EXPECT_EQ(r.board.spi2.overruns(), 1u);
}

// While on, SCK2 and SDO2 belong to the module whatever the port's latch says; off, or with
// DISSDO, the port has them back. A word written while off goes nowhere.
TEST(Spi2, PinsBelongToTheModuleOnlyWhileOn) {
    Rig r;
    r.write(TRISGCLR.address, 1u << 6 | 1u << 8);
    r.write(LATGSET.address, 1u << 6 | 1u << 8);
    EXPECT_TRUE(r.net("RG6").level());
    EXPECT_TRUE(r.net("RG8").level());

    r.write(SPI2BUF.address, 0x00);
    r.write(SPI2CON.address, kMaster | kCke);
    r.waitFor([] { return false; }, 10000);
    EXPECT_TRUE(r.net("RG6").level()) << "no clock while off";
    EXPECT_EQ(r.stat() & (kRbf | kBusy), 0u);

    r.write(SPI2CONSET.address, kOn);
    EXPECT_FALSE(r.net("RG6").level()) << "SCK at its idle level";
    EXPECT_FALSE(r.net("RG8").level());
    r.write(SPI2CONSET.address, kDisSdo);
    EXPECT_TRUE(r.net("RG8").level()) << "SDO back to the port";
    r.write(SPI2CONSET.address, kCkp);
    EXPECT_TRUE(r.net("RG6").level()) << "idle high with CKP";
    r.write(SPI2CONCLR.address, kCkp);

    r.write(SPI2BUF.address, 0x00);
    r.write(SPI2CON.address, 0);  // switched off in the middle of the word
    EXPECT_TRUE(r.net("RG6").level());
    r.waitFor([] { return false; }, 10000);
    EXPECT_EQ(r.stat(), kTbe);
}

// The processor stops once a word, at the step that completes it; the edges are wire steps,
// made at their times without a stop. CKE = 0 with SMP = 1 takes the last bit half a
// period after the last edge.
TEST(Spi2, AWordIsOneStopForTheProcessorAndItsEdgesAreWireSteps) {
    const ModeCase cases[] = {{0, 1, 0}, {0, 0, 1}};
    for (const auto& m : cases) {
        SCOPED_TRACE(testing::Message() << "CKE " << m.cke << " SMP " << m.smp);
        Rig r;
        r.write(SPI2BRG.address, 3);
        r.write(SPI2CON.address, kOn | kMaster | (m.cke ? kCke : 0) | (m.smp ? kSmp : 0));
        const sim::Cycles half = 4 << r.board.pbdiv();
        const unsigned steps = m.cke || !m.smp ? 16 : 17;
        r.board.nets.record("RG6");
        const uint64_t events = r.board.sched.eventsRun(), wireSteps = r.board.sched.wireStepsRun();
        for (unsigned w = 0; w < 3; ++w) {
            const sim::Cycles end = r.board.now() + steps * half;
            r.write(SPI2BUF.address, 0x55);
            EXPECT_EQ(r.board.sched.nextEventTime(), end);
            r.board.sched.advanceTo(end - 1);
            EXPECT_EQ(r.stat() & kRbf, 0u);
            r.board.sched.advanceTo(end);
            EXPECT_EQ(r.stat() & (kRbf | kBusy), kRbf);
            r.read(SPI2BUF.address);
        }
        EXPECT_EQ(r.board.sched.eventsRun() - events, 3u);
        EXPECT_EQ(r.board.sched.wireStepsRun() - wireSteps, 3u * steps);
        EXPECT_EQ(r.board.nets.changesOf("RG6").size(), 3u * 16);
    }
}

// What else changes a net during a word takes its place among the word's edges by time,
// and at the cycle of an edge the place an event would have had: before the edge when
// scheduled before that edge was (before the word, or from the edge before it), after it
// when scheduled later. A select written mid-word lands between the edges around it.
TEST(Spi2, NetsChangedDuringAWordKeepTheirPlaceAmongItsEdges) {
    Rig r;
    r.write(SPI2BRG.address, 3);
    r.write(SPI2CON.address, kOn | kMaster | kCke);
    r.write(TRISBCLR.address, 1u << 13);
    const sim::Cycles half = 4 << r.board.pbdiv();
    r.board.nets.recordAll();
    std::vector<sim::Cycles> watched;
    r.board.nets.watch([&](sim::Cycles t, const sim::Net&, bool) { watched.push_back(t); });
    auto raise = [&](const char* name) {
        sim::Net& n = r.net(name);
        int d = n.addDriver();
        return [&n, d] { n.drive(d, sim::Drive::High); };
    };
    const sim::Cycles t0 = r.board.now(), edge5 = t0 + 5 * half;
    r.board.sched.at(edge5, raise("RB0"));
    r.write(SPI2BUF.address, 0xA5);
    auto fromEdge4 = raise("RB1");
    r.net("RG6").listen([&](sim::Net&, bool) {
        if (r.board.now() == t0 + 4 * half) r.board.sched.at(edge5, fromEdge4);
    });
    r.board.sched.advanceTo(t0 + 4 * half + half / 2);
    r.board.sched.at(edge5, raise("RB2"));
    r.write(LATBINV.address, 1u << 13);
    r.board.sched.advanceTo(t0 + 20 * half);

    const auto changes = r.board.nets.changes();
    auto indexOf = [&](const std::string& net, sim::Cycles t) {
        for (size_t i = 0; i < changes.size(); ++i)
            if (changes[i].net == net && changes[i].time == t) return int(i);
        return -1;
    };
    const int sck5 = indexOf("RG6", edge5);
    ASSERT_GE(sck5, 0);
    EXPECT_LT(indexOf("RB0", edge5), sck5) << "scheduled before the word";
    EXPECT_LT(indexOf("RB1", edge5), sck5) << "scheduled at the edge before";
    EXPECT_GT(indexOf("RB2", edge5), sck5) << "scheduled between the edges";
    const int select = indexOf("RB13", t0 + 4 * half + half / 2);
    EXPECT_GT(select, indexOf("RG6", t0 + 4 * half));
    EXPECT_LT(select, sck5);
    for (size_t i = 1; i < changes.size(); ++i) EXPECT_LE(changes[i - 1].time, changes[i].time) << i;
    ASSERT_EQ(watched.size(), changes.size());
    for (size_t i = 1; i < watched.size(); ++i) EXPECT_LE(watched[i - 1], watched[i]) << i;
}

// CKE or SMP changed in the middle of a word act from the next edge on; where that moves
// the step completing the word, the processor's stop moves with it.
TEST(Spi2, AModeChangeMidWordMovesTheStopWithTheEnd) {
    const struct {
        bool smpBefore, smpAfter;
        unsigned endStep;
    } cases[] = {{false, true, 17}, {true, false, 16}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "SMP " << c.smpBefore << " to " << c.smpAfter);
        Rig r;
        r.write(SPI2BRG.address, 3);
        r.write(SPI2CON.address, kOn | kMaster | (c.smpBefore ? kSmp : 0));
        const sim::Cycles half = 4 << r.board.pbdiv(), t0 = r.board.now(), end = t0 + c.endStep * half;
        r.write(SPI2BUF.address, 0x5A);
        r.board.sched.advanceTo(t0 + 7 * half + half / 2);
        r.write(c.smpAfter ? SPI2CONSET.address : SPI2CONCLR.address, kSmp);
        EXPECT_EQ(r.board.sched.nextEventTime(), end);
        r.board.sched.advanceTo(end - 1);
        EXPECT_EQ(r.stat() & kRbf, 0u);
        r.board.sched.advanceTo(end);
        EXPECT_EQ(r.stat() & (kRbf | kBusy), kRbf);
    }
}

}  // namespace
