// The I2C steps on the wires at 100 kHz: set-up, address bytes, repeated START, bit timing,
// clock stretching, and every fault path with its console line: a bus held by a device,
// a refused START, write collision, receive overflow, and the 10 ms time-outs.
#include <vector>

#include "drivers/rtc.h"
#include "drivers/system.h"
#include "tests/common/i2c_fixture.h"

namespace {

using Lines = std::vector<std::string>;

class I2c : public I2cBoardTest {
protected:
    void SetUp() override { ASSERT_EQ(bringUp(), "init i2c true\r\n"); }

    static BOOL readTime() {
        unsigned char v[7];
        return getTimeDate(&v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6]);
    }
    static std::string repeat(const std::string& s, unsigned n) {
        std::string out;
        while (n--) out += s;
        return out;
    }
    unsigned count(const std::string& text, const std::string& what) const {
        unsigned n = 0;
        for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
        return n;
    }
};

TEST_F(I2c, InitRunsTheBusAt100kHzAndTakesThePins) {
    EXPECT_EQ(board.bus.at("I2C1BRG").value(), 398u);
    EXPECT_TRUE(board.i2c1.on());
    // While the module is on, the port's own drivers let go of RD9 and RD10: the lines
    // idle high on the pull-ups even with the pins set as outputs driving 0.
    bool sda = false, scl = false;
    run([&] {
        TRISDCLR = 0x600;
        LATDCLR = 0x600;
        sda = PORTDbits.RD9;
        scl = PORTDbits.RD10;
        I2CEnable(I2C1, FALSE);  // and they go back to the port
    });
    EXPECT_TRUE(sda);
    EXPECT_TRUE(scl);
    EXPECT_FALSE(board.nets.get("RD9").level());
    EXPECT_FALSE(board.nets.get("RD10").level());
}

TEST_F(I2c, AddressByteIsTheSevenBitAddressAndTheDirection) {
    struct Case {
        UINT8 address;
        BOOL read;
        const char* line;
    };
    const Case cases[] = {
        {0x51, FALSE, "0xA2 (0x51 W) ACK"},
        {0x51, TRUE, "0xA3 (0x51 R) ACK"},
        {0xD1, FALSE, "0xA2 (0x51 W) ACK"},  // bit 7 of the argument is dropped
        {0xD1, TRUE, "0xA3 (0x51 R) ACK"},
    };
    for (const Case& c : cases) {
        clearRecords();
        BOOL ok = FALSE;
        run([&] {
            ok = startTransmitSlaveAddressWRI2C(I2C1, c.address, c.read);
            UINT8 byte;
            if (c.read) readDataByteI2C(I2C1, &byte, FALSE);  // a read ends with a NACK before the STOP
            stopTransferI2C(I2C1);
        });
        EXPECT_TRUE(ok);
        ASSERT_GE(trace().size(), 2u);
        EXPECT_EQ(trace()[1], c.line);
        EXPECT_EQ(console(), "");
    }
}

TEST_F(I2c, RepeatedStartNeitherWaitsForAnIdleBusNorWrites) {
    UINT8 byte = 0;
    BOOL restarted = FALSE, readOk = FALSE;
    run([&] {
        startTransmitSlaveAddressWRI2C(I2C1, 0x51, FALSE);
        transmitDataToWriteI2C(I2C1, 0x07);  // the month register
        restarted = startTransferI2C(I2C1, TRUE);
        transmitOneByteI2C(I2C1, 0xA3);
        readOk = readDataByteI2C(I2C1, &byte, FALSE);
        stopTransferI2C(I2C1);
    });
    EXPECT_TRUE(restarted);
    EXPECT_TRUE(readOk);
    EXPECT_EQ(byte, 0x01);  // power-on month
    EXPECT_EQ(trace(), (Lines{"START", "0xA2 (0x51 W) ACK", "0x07 ACK", "Sr", "0xA3 (0x51 R) ACK", "0x01 NACK", "STOP"}));
    EXPECT_EQ(console(), "");
}

TEST_F(I2c, BitTimingOnTheWiresIs100kHz) {
    run([] {
        setTimeDate(5, 10, 2, 3, 3, 1, 14);
        readTime();
    });
    I2cWireTiming t = measureI2cTiming(board);
    // TBRG = (398 + 2) / 80 MHz = 5 us: the master holds SCL high for exactly one TBRG
    // and low for at least one; one clock within a byte takes 10 us.
    EXPECT_NEAR(I2cWireTiming::min(t.sclHigh), 5.0, 0.001);
    EXPECT_NEAR(I2cWireTiming::max(t.sclHigh), 5.0, 0.001);
    EXPECT_NEAR(I2cWireTiming::min(t.sclLow), 5.0, 0.001);
    EXPECT_NEAR(I2cWireTiming::min(t.risePeriods), 10.0, 0.001);
    // Within each of the 19 bytes every clock follows its predecessor at 10 us, but the
    // acknowledge clock of the 7 bytes read, which waits for the firmware's ACKEN.
    EXPECT_GE(I2cWireTiming::countNear(t.risePeriods, 10.0), 19u * 8u - 7u);
    // START hold and STOP set-up: one TBRG each (standard mode asks for 4.0 and 4.0 us).
    EXPECT_EQ(t.starts, 3u);
    EXPECT_EQ(t.stops, 3u);
    EXPECT_NEAR(I2cWireTiming::min(t.startHold), 5.0, 0.001);
    EXPECT_NEAR(I2cWireTiming::min(t.stopSetup), 5.0, 0.001);
}

TEST_F(I2c, MasterWaitsForAStretchedClock) {
    chip.faults.stretch = board.cycles(50e-6);
    BOOL ok = FALSE;
    run([&] { ok = setTimeDate(5, 10, 2, 3, 3, 1, 14); });
    EXPECT_TRUE(ok);
    EXPECT_EQ(trace().size(), 11u);
    EXPECT_EQ(console(), "");
    I2cWireTiming t = measureI2cTiming(board);
    // Every acknowledge is followed by 50 us of SCL held low; the high time is still one
    // TBRG, counted from the moment the line really rose.
    unsigned stretched = 0;
    for (double low : t.sclLow) stretched += low >= 50.0;
    EXPECT_EQ(stretched, 9u);  // the address and the eight data bytes
    EXPECT_NEAR(I2cWireTiming::max(t.sclHigh), 5.0, 0.001);
}

TEST_F(I2c, BusHeldBrieflyIsWaitedForWithHereLines) {
    // A device pulls SDA down on the idle bus: every watcher sees a START, and its
    // release as a STOP. Meanwhile the idle wait writes "here" per poll.
    chip.holdSdaLow(board.cycles(2.5e-3));
    BOOL ok = FALSE;
    run([&] { ok = readTime(); });
    EXPECT_TRUE(ok);
    EXPECT_EQ(console(), repeat("here\r\n", 3));
    Lines expected = {"START", "STOP"};
    for (const char* l : {"START", "0xA2 (0x51 W) ACK", "0x02 ACK", "STOP", "START", "0xA3 (0x51 R) ACK"}) expected.push_back(l);
    Lines got = trace();
    got.resize(expected.size());
    EXPECT_EQ(got, expected);
}

TEST_F(I2c, BusHeldTooLongTimesOutFreesThePeripheralAndLaterTransfersWork) {
    chip.holdSdaLow(board.cycles(0.030));
    BOOL started = TRUE;
    run([&] { started = startTransferI2C(I2C1, FALSE); });
    EXPECT_FALSE(started);
    // "here" per poll for 10 ms, the time-out, then the START collides with the low SDA.
    std::string out = console();
    unsigned here = count(out, "here\r\n");
    EXPECT_GE(here, 9u);
    EXPECT_LE(here, 11u);
    EXPECT_EQ(out.substr(here * 6),
              "Error: I2C bus timeout\r\nError: Bus collision during transfer Start\r\n");
    EXPECT_EQ(trace(), (Lines{"START"}));  // the device's hold, seen as a START

    // Once the device lets go, the collision flag does not stop the next transfer.
    idle(0.030);
    clearRecords();
    BOOL ok = FALSE;
    run([&] { ok = readTime(); });
    EXPECT_TRUE(ok);
    EXPECT_EQ(console(), "");
    EXPECT_EQ(trace().size(), 14u);
}

TEST_F(I2c, RefusedStartHaltsTheForegroundButNotTheEcho) {
    chip.holdBus(board.cycles(1.0));  // SCL, then SDA, held low: no START on the wires
    bool returned = runFor(0.05, [] { readTime(); });
    EXPECT_FALSE(returned);
    EXPECT_EQ(console(), "Error: Bus collision during transfer Start\r\n");
    EXPECT_EQ(trace(), Lines{});
    // The foreground stays in the I2C layer; the receive interrupt still echoes.
    terminal.send("x");
    runFor(0.01, [] {
        for (;;) (void)getCP0Count();
    });
    EXPECT_EQ(console(), "Error: Bus collision during transfer Start\r\nx");
}

TEST_F(I2c, ByteWrittenWhileTheModuleIsBusyIsAWriteCollision) {
    BOOL ok = TRUE;
    run([&] {
        startTransmitSlaveAddressWRI2C(I2C1, 0x51, TRUE);
        I2CReceiverEnable(I2C1, TRUE);          // the module is clocking a byte in
        ok = transmitDataToWriteI2C(I2C1, 0x55);  // refused: IWCOL
        while (!I2CReceivedDataIsAvailable(I2C1)) {
        }
        I2CAcknowledgeByte(I2C1, FALSE);
        (void)I2CGetByte(I2C1);
        while (!I2CAcknowledgeHasCompleted(I2C1)) {
        }
        stopTransferI2C(I2C1);
    });
    EXPECT_FALSE(ok);
    EXPECT_EQ(console(), "Error: I2C Master Bus Collision\n");
    // The flag was cleared after the report, so the next transfer goes through.
    clearRecords();
    run([&] { ok = setTimeDate(5, 10, 2, 3, 3, 1, 14); });
    EXPECT_TRUE(ok);
    EXPECT_EQ(console(), "");
}

TEST_F(I2c, ReceiveOverflowIsReportedAndNothingIsStored) {
    UINT8 byte = 0xEE;
    BOOL ok = TRUE;
    run([&] {
        startTransmitSlaveAddressWRI2C(I2C1, 0x51, TRUE);
        // Two bytes clocked in without the first one being taken from I2C1RCV.
        for (int i = 0; i < 2; ++i) {
            I2CReceiverEnable(I2C1, TRUE);
            while (I2C1CONbits.RCEN) {
            }
        }
        ok = readDataByteI2C(I2C1, &byte, FALSE);  // its receive still starts
        (void)I2CGetByte(I2C1);                    // take the first byte at last
        while (I2C1CONbits.RCEN) {
        }
        (void)I2CGetByte(I2C1);
        I2CAcknowledgeByte(I2C1, FALSE);
        while (!I2CAcknowledgeHasCompleted(I2C1)) {
        }
        stopTransferI2C(I2C1);
    });
    EXPECT_FALSE(ok);
    EXPECT_EQ(byte, 0xEE);
    EXPECT_EQ(console(), "Error : I2C Receive Overflow\r\n");
    clearRecords();
    run([&] { ok = readTime(); });
    EXPECT_TRUE(ok);
    EXPECT_EQ(console(), "");
}

TEST_F(I2c, StretchBeyond10msTimesOutTheByteAndTheNextTransferRecovers) {
    chip.faults.stretch = board.cycles(0.012);
    chip.faults.stretchCount = 1;  // only after the address byte
    BOOL ok = TRUE;
    run([&] { ok = readTime(); });
    EXPECT_FALSE(ok);
    EXPECT_EQ(console(), "Error: I2C bus timeout\r\n");
    // The pointer byte went out once the clock was free; the transfer ends with the STOP
    // of the pointer write and the final STOP.
    EXPECT_EQ(trace(), (Lines{"START", "0xA2 (0x51 W) ACK", "0x02 ACK", "STOP", "START", "STOP"}));
    clearRecords();
    run([&] { ok = readTime(); });
    EXPECT_TRUE(ok);
    EXPECT_EQ(console(), "");
}

class I2cOff : public I2cBoardTest {};

TEST_F(I2cOff, StepsOfAModuleThatIsOffTimeOutInsteadOfHanging) {
    BOOL ok = TRUE;
    run([&] {
        bootSequence();
        initUART();
        unsigned char v[7];
        ok = getTimeDate(&v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6]);
    });
    EXPECT_FALSE(ok);
    // START completion, then the final STOP's completion: 10 ms each on the core timer.
    EXPECT_EQ(console(), "Error: I2C bus timeout\r\nError: I2C bus timeout\r\n");
    EXPECT_EQ(trace(), Lines{});
}

}  // namespace
