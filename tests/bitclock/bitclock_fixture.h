// The PIC32MX795F512L board with the software I2C bus on RD9 (SDA) and RD10 (SCL): the
// board's pull-ups, a logic analyser and, unless a test says otherwise, the clock chip.
#pragma once
#include <array>
#include <functional>
#include <string>
#include <vector>

#include "sim/wires/i2c_bus.h"
#include "sim/devices/rtc_chip.h"
#include "tests/common/board_fixture.h"
#include "variants/bitclock/bitclock.h"

namespace bitclock_test {

using Lines = std::vector<std::string>;
using Time = std::array<unsigned, 7>;  // sec, min, hour, day, weekday, month, year
using Levels = std::array<bool, 8>;    // SDA on the eight data clocks of a byte, first to last

inline sim::BoardConfig mx795() {
    sim::BoardConfig c;
    c.chip = sim::Chip::MX795F512L;
    return c;
}

// A device on the wires that follows the clock only: it acknowledges the written bytes the
// test chooses (none by default) and, in a read, puts the test's levels on SDA for as long
// as the master acknowledges. Lines it does not drive are left to the pull-ups.
class ScriptedDevice : public sim::Model {
public:
    explicit ScriptedDevice(sim::I2cLines lines)
        : lines_(lines),
          sda_(lines.sda.addDriver()),
          watcher_(lines, {[this] { start(); }, [this] { release(); }, [this](bool sda) { rise(sda); },
                           [this] { fall(); }}) {}

    // Whether to pull SDA low on the ninth clock of a written byte: transactions counted
    // from 0 at each START, bytes from 0 (the address).
    std::function<bool(unsigned transaction, unsigned byte)> acknowledge;
    // The bytes to present in reads, in order over all read transactions.
    std::vector<Levels> reads;
    // Counts transactions and reads afresh, for the next call.
    void rewind() {
        transaction_ = -1;
        next_ = 0;
    }

private:
    sim::I2cLines lines_;
    int sda_;
    sim::I2cWatcher watcher_;
    int transaction_ = -1;
    unsigned rises_ = 0;      // clocks since the START
    bool reading_ = false;    // the address byte asked for a read
    bool sending_ = false;    // the master still acknowledges what this device sends
    size_t next_ = 0;         // entry of `reads` being sent

    void drive(bool level) { lines_.sda.drive(sda_, level ? sim::Drive::Z : sim::Drive::Low); }
    void release() { drive(true); }
    void start() {
        ++transaction_;
        rises_ = 0;
        reading_ = false;
        release();
    }
    void rise(bool sda) {
        ++rises_;
        if (rises_ == 8) sending_ = reading_ = sda;
        if (reading_ && rises_ > 9 && rises_ % 9 == 0 && sda) sending_ = false;  // not acknowledged
    }
    // SCL has fallen: set SDA up for the next clock.
    void fall() {
        const unsigned byte = rises_ / 9, bit = rises_ % 9;  // of the next clock
        const bool ours = reading_ && byte >= 1;
        const bool serving = ours && sending_ && next_ < reads.size();
        if (bit == 8) {
            if (serving) ++next_;
            drive(ours || !acknowledge || !acknowledge(unsigned(transaction_), byte));
        } else {
            drive(serving ? reads[next_][bit] : true);
        }
    }
};

class BitclockTest : public BoardTest {
protected:
    explicit BitclockTest(bool withChip = true)
        : BoardTest(mx795()),
          lines(sim::RtcChip::busOf(board)),
          analyser(board.add<sim::I2cAnalyser>(board.sched, lines, board.sysclkHz())),
          chip(withChip ? &sim::RtcChip::attach(board) : nullptr) {
        board.nets.record("RD9");
        board.nets.record("RD10");
    }

    // Firmware code that must finish within `seconds` of virtual time.
    void run(const std::function<void()>& body, double seconds = 1.0) { ASSERT_TRUE(runFor(seconds, body)); }
    void clearRecords() {
        analyser.clear();
        board.nets.clearRecord();
    }
    Lines trace() const { return analyser.lines(); }

    // getTimeDate as firmware code; the variables start at `before`.
    Time read(BOOL* ok = nullptr, Time before = {}) {
        unsigned char v[7];
        for (unsigned i = 0; i < 7; ++i) v[i] = (unsigned char)before[i];
        BOOL r = FALSE;
        run([&] { r = getTimeDate(&v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6]); });
        if (ok) *ok = r;
        return {v[0], v[1], v[2], v[3], v[4], v[5], v[6]};
    }
    BOOL write(const Time& t) {
        BOOL r = FALSE;
        run([&] { r = setTimeDate(t[0], t[1], t[2], t[3], t[4], t[5], t[6]); });
        return r;
    }

    sim::I2cLines lines;
    sim::I2cAnalyser& analyser;
    sim::RtcChip* chip;
};

class BitclockNoChipTest : public BitclockTest {
protected:
    BitclockNoChipTest() : BitclockTest(false) {}
};

}  // namespace bitclock_test
