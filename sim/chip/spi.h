// SPI master (SPI2 of the 64-pin part) and a logic analyser for an SPI bus with one
// select line. The master shifts bit by bit on its pin nets: SCK = PBCLK / (2 x (BRG + 1)),
// clock polarity from CKP, output edge from CKE, input sample point from SMP.
//
// A word's edges are wire steps of the scheduler (Scheduler::wiresFrom), not events. Each
// half period drives SCK, puts the next bit on SDO or samples SDI at its exact time, in
// time order with every event and in the place an event would have at the same cycle, so
// the nets' listeners (the card, the analysers, Nets::record and watch, the VCD writer)
// see every change at the same time and in the same order as when each edge was an
// event, and the card answers as before. The processor does not stop for them. It sees
// the pins only through PORTG, and the board catches up to the time of every access before
// it is made, so a read sees the edges up to then and a write that changes another net
// mid-word (a chip select) lands between the edges around it. Everything else the
// firmware sees (SPIRBF, SPIBUSY, SPIROV, SPI2BUF, the interrupt requests) changes at a
// write or when a word ends, where an event stops the processor. The steps are made one at
// a time, so a change of CKP, CKE or SMP mid-word acts from the next edge on; where it
// moves the end, the event moves with it. PORTG is declared as changing between events,
// so that fast-forward never skips a poll of the pins across a word.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sim/boards/description.h"
#include "sim/chip/model.h"
#include "sim/wires/net.h"
#include "sim/time/scheduler.h"
#include "sim/chip/sfr_bus.h"

namespace sim {

class Intc;
class Ports;

class Spi : public Model {
public:
    struct Config {
        unsigned index;  // 2 for SPI2
        unsigned irqError, irqTx, irqRx;
        Pin sck, sdi, sdo;
    };

    Spi(const Config& c, SfrBus& bus, Ports& ports, Scheduler& sched, Intc& intc, std::function<unsigned()> pbdiv);

    Net& sckNet() { return *sck_; }
    Net& sdiNet() { return *sdi_; }
    Net& sdoNet() { return *sdo_; }
    // Half a period of SCK at the programmed rate, in system-clock cycles.
    Cycles halfPeriodCycles() const;
    // Words received while the receive buffer was still full (SPIROV events).
    uint64_t overruns() const { return overruns_; }

    void reset() override;

private:
    Config cfg_;
    Ports& ports_;
    Scheduler& sched_;
    Intc& intc_;
    std::function<unsigned()> pbdiv_;
    Register *con_, *stat_, *buf_, *brg_;
    Net *sck_, *sdi_, *sdo_;
    int sckDriver_, sdoDriver_;

    uint32_t txBuf_ = 0;     // SPIxTXB
    bool txFull_ = false;
    uint32_t rxBuf_ = 0;     // SPIxRXB
    bool rxFull_ = false;
    bool shifting_ = false;
    uint32_t shiftOut_ = 0, shiftIn_ = 0;
    unsigned width_ = 8, sampled_ = 0;
    bool sdoLevel_ = false;
    Cycles wordStart_ = 0, half_ = 0;  // of the word being shifted
    unsigned nextStep_ = 0;            // the next step (0: none)
    Scheduler::Id stepId_ = 0;         // the source of wire steps that makes it
    bool stepping_ = false;            // within that source's step
    Scheduler::Id endId_ = 0;          // the event at the end of the word
    Cycles endAt_ = 0;
    uint64_t overruns_ = 0;

    bool on() const { return con_->bit(SPI2CON_ON); }
    bool master() const { return con_->bit(SPI2CON_MSTEN); }
    bool ckp() const { return con_->bit(SPI2CON_CKP); }
    bool cke() const { return con_->bit(SPI2CON_CKE); }
    bool smp() const { return con_->bit(SPI2CON_SMP); }
    bool sdoEnabled() const { return !con_->bit(SPI2CON_DISSDO); }

    void configure(uint32_t before, uint32_t after);
    void abort();
    void drivePins();
    void updateStatus();
    void startNext();
    unsigned sampleOffset() const;
    void scheduleStep(unsigned k);
    void planEnd();
    Cycles wireStep();
    void step(unsigned k);
    void outputBit(unsigned i);
};


// One entry of the analyser's record.
struct SpiEvent {
    enum class Kind { Select, Release, Byte, Command, Response, NoResponse };
    Kind kind;
    Cycles time;
    // Byte: the byte on each line, whether the select line was low while it was clocked,
    // and SCK measured over its eight sample edges.
    uint8_t mosi = 0xFF, miso = 0xFF;
    bool selected = false;
    double sckHz = 0;
    // Command: index, argument and CRC byte of a 6-byte frame.
    uint8_t command = 0;
    uint32_t argument = 0;
    uint8_t crc = 0;
    // Response (R1), or NoResponse: bytes clocked after the frame up to and including it.
    uint8_t response = 0xFF;
    unsigned pollBytes = 0;
};

// Turns the nets of the bus into a time-stamped record: select changes, every byte
// exchanged (MOSI and MISO, sampled on the edges of the SPI mode), and SD commands and
// their R1 responses decoded from them.
class SpiAnalyser {
public:
    SpiAnalyser(Nets& nets, Scheduler& sched, uint64_t sysclkHz, const SpiWiring& wiring, unsigned mode = 0);

    const std::vector<SpiEvent>& events() const { return events_; }
    std::vector<SpiEvent> bytes() const { return only(SpiEvent::Kind::Byte); }
    std::vector<SpiEvent> commands() const { return only(SpiEvent::Kind::Command); }
    std::vector<SpiEvent> only(SpiEvent::Kind kind) const;
    void clear() { events_.clear(); }

    // The record as text, one line per event.
    std::string text() const;
    std::string line(const SpiEvent& e) const;
    // Called with each line as it is recorded (a live trace).
    std::function<void(const std::string&)> onLine;
    // Called with every event as it is decoded; `describe` is its line without the time.
    std::function<void(const SpiEvent&)> onEvent;
    std::string describe(const SpiEvent& e) const;
    // The earliest time a later event may still carry (a byte is stamped at its first edge).
    Cycles earliest() const { return bits_ || decoding_ ? firstEdge_ : sched_.now(); }
    // Off: events go to the callbacks only and nothing is kept (a long run's trace).
    void keepRecord(bool keep) { keep_ = keep; }

    static std::string commandName(uint8_t index);
    static std::string describeR1(uint8_t r1);
    // CRC7 of a command frame's first five bytes, as the frame's last byte (CRC << 1 | 1).
    static uint8_t frameCrc(const uint8_t* first5);

private:
    Scheduler& sched_;
    uint64_t sysclk_;
    bool keep_ = true;
    bool decoding_ = false;
    Net& select_;
    Net& sck_;
    Net& mosi_;
    Net& miso_;
    bool sampleOnRising_;
    std::vector<SpiEvent> events_;

    // shifting
    unsigned bits_ = 0;
    uint8_t mosiByte_ = 0, misoByte_ = 0;
    Cycles firstEdge_ = 0;
    // decoding
    std::vector<uint8_t> frame_;
    bool awaiting_ = false;
    unsigned polls_ = 0;

    void record(SpiEvent e);
    void selectChanged(bool level);
    void sampleEdge();
    void decode(const SpiEvent& byte);
    void endOfResponseWindow();
};

}  // namespace sim
