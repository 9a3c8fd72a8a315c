#include "sim/chip/spi.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

#include "sim/chip/intc.h"
#include "sim/chip/ports.h"

namespace sim {

namespace {
// SPIxSTAT and SPIxCON bits (every module has SPI2's layout)
constexpr uint32_t SPIRBF = SPI2STAT_SPIRBF.mask, SPITBF = SPI2STAT_SPITBF.mask, SPITBE = SPI2STAT_SPITBE.mask,
                   SPIROV = SPI2STAT_SPIROV.mask, SPIBUSY = SPI2STAT_SPIBUSY.mask;
constexpr uint32_t ON = SPI2CON_ON.mask;

uint32_t widthMask(unsigned width) { return width >= 32 ? 0xFFFFFFFFu : (1u << width) - 1; }
}  // namespace

Spi::Spi(const Config& c, SfrBus& bus, Ports& ports, Scheduler& sched, Intc& intc, std::function<unsigned()> pbdiv)
    : cfg_(c), ports_(ports), sched_(sched), intc_(intc), pbdiv_(std::move(pbdiv)) {
    std::string n = "SPI" + std::to_string(c.index);
    // Framed and enhanced-buffer modes are declared but not modelled: the master shifts
    // 8, 16 or 32 bits per word through single transmit and receive buffers.
    con_ = &bus.add(reg::named(n + "CON")).writable(0xFF03BFEF).onWrite([this](uint32_t before, uint32_t after) {
        configure(before, after);
    });
    // SPIROV can only be cleared by software; the other bits are status.
    stat_ = &bus.add(reg::named(n + "STAT"), SPITBE).writable(0).clearOnly(SPIROV);
    buf_ = &bus.add(reg::named(n + "BUF")).readHasSideEffects();  // a read empties the receive buffer
    buf_->onWrite([this](uint32_t, uint32_t v) {
        if (!on() || txFull_) return;  // off, or a write over a full buffer: the word is lost
        txBuf_ = v;
        txFull_ = true;
        updateStatus();
        startNext();
    });
    buf_->onRead([this](uint32_t) {
        rxFull_ = false;
        updateStatus();
        return rxBuf_;
    });
    brg_ = &bus.add(reg::named(n + "BRG")).writable(0x1FF);

    sck_ = &ports.pin(c.sck.port, c.sck.bit);
    sdi_ = &ports.pin(c.sdi.port, c.sdi.bit);
    sdo_ = &ports.pin(c.sdo.port, c.sdo.bit);
    sckDriver_ = sck_->addDriver();
    sdoDriver_ = sdo_->addDriver();
    // The pins move in wire steps, between events: a read of their port is not the same
    // from one event to the next.
    for (const Pin& p : {c.sck, c.sdi, c.sdo}) bus.at(std::string("PORT") + p.port).changesWithTime();
}

Cycles Spi::halfPeriodCycles() const { return (Cycles(brg_->value()) + 1) << pbdiv_(); }

void Spi::reset() {
    abort();
    sdoLevel_ = false;
    drivePins();
    updateStatus();
}

void Spi::configure(uint32_t before, uint32_t after) {
    if ((before & ON) && !(after & ON)) abort();  // switching off resets the buffers and the shifter
    drivePins();
    updateStatus();
    if (shifting_) planEnd();  // CKE and SMP decide which step ends the word
    startNext();
}

void Spi::abort() {
    sched_.cancel(stepId_);
    sched_.cancel(endId_);
    stepId_ = endId_ = 0;
    nextStep_ = 0;
    shifting_ = txFull_ = rxFull_ = false;
    stat_->hwClear(SPIROV);
}

// While on, the module takes SCK (as master) and SDO (unless DISSDO) from the port and
// drives them push-pull; SDI is an input whichever way TRIS is set.
void Spi::drivePins() {
    bool sckOut = on() && master();
    bool sdoOut = on() && sdoEnabled();
    if (!sckOut)
        sck_->drive(sckDriver_, Drive::Z);
    else if (!shifting_)
        sck_->drive(sckDriver_, ckp() ? Drive::High : Drive::Low);  // the idle level
    sdo_->drive(sdoDriver_, sdoOut ? (sdoLevel_ ? Drive::High : Drive::Low) : Drive::Z);
    ports_.claim(cfg_.sck.port, cfg_.sck.bit, sckOut);
    ports_.claim(cfg_.sdo.port, cfg_.sdo.bit, sdoOut);
}

void Spi::updateStatus() {
    stat_->hwPut(SPIRBF, rxFull_);
    stat_->hwPut(SPITBF, txFull_);
    stat_->hwPut(SPITBE, !txFull_);
    stat_->hwPut(SPIBUSY, shifting_ || txFull_);
}

void Spi::outputBit(unsigned i) {
    sdoLevel_ = (shiftOut_ >> (width_ - 1 - i)) & 1u;
    if (on() && sdoEnabled()) sdo_->drive(sdoDriver_, sdoLevel_ ? Drive::High : Drive::Low);
}

void Spi::startNext() {
    if (shifting_ || !txFull_ || !on() || !master()) return;
    width_ = con_->bit(SPI2CON_MODE32) ? 32 : con_->bit(SPI2CON_MODE16) ? 16 : 8;
    shiftOut_ = txBuf_ & widthMask(width_);
    shiftIn_ = 0;
    sampled_ = 0;
    txFull_ = false;
    shifting_ = true;
    intc_.raise(cfg_.irqTx);  // the word moved into the shift register: the buffer has room
    updateStatus();
    wordStart_ = sched_.now();
    half_ = halfPeriodCycles();
    // With CKE = 1 the first bit must be on SDO before the first (idle to active) edge.
    if (cke()) outputBit(0);
    scheduleStep(1);
    planEnd();
}

// The step at which sample i is taken is 2 i + sampleOffset().
unsigned Spi::sampleOffset() const { return 1 + (cke() ? 0 : 1) + (smp() ? 1 : 0); }

void Spi::scheduleStep(unsigned k) {
    nextStep_ = k;
    if (!stepping_) stepId_ = sched_.wiresFrom(wordStart_ + k * half_, [this] { return wireStep(); });
}

// One step; the source goes on with the next one, in this word or the next, while there is one.
Cycles Spi::wireStep() {
    const unsigned k = nextStep_;
    nextStep_ = 0;
    stepping_ = true;
    step(k);
    stepping_ = false;
    if (nextStep_) return wordStart_ + nextStep_ * half_;
    stepId_ = 0;
    return Scheduler::kNever;
}

// The processor's stop at the step that completes the word: its last edge, or its last
// sample where that comes later (SMP = 1 with CKE = 0), in the mode as it is now. A word
// whose next sample point has gone by (CKE or SMP changed under it) never completes; its
// steps go on, and the stop goes from one to the next.
void Spi::planEnd() {
    const unsigned edges = 2 * width_, offset = sampleOffset();
    unsigned last = nextStep_;
    if (sampled_ == width_)
        last = std::max(edges, nextStep_);
    else if (2 * sampled_ + offset >= nextStep_)
        last = std::max(edges, 2 * (width_ - 1) + offset);
    const Cycles at = wordStart_ + last * half_;
    if (endId_ && at == endAt_) return;
    sched_.cancel(endId_);
    endAt_ = at;
    // Nothing to do there: the step at that time completes the word, in its own order.
    endId_ = sched_.at(at, [] {});
}

// Step k of a word happens k half periods after its start; odd steps are the edges from
// idle to active, even steps the edges back. The input is sampled in the middle of the
// output time (SMP = 0) or at its end (SMP = 1), just before the edge of that instant.
void Spi::step(unsigned k) {
    const unsigned edges = 2 * width_;
    if (sampled_ < width_ && k == 2 * sampled_ + sampleOffset()) {
        shiftIn_ = shiftIn_ << 1 | uint32_t(sdi_->level());
        ++sampled_;
    }
    if (k <= edges) {
        bool leading = k & 1u;
        bool active = !ckp();
        sck_->drive(sckDriver_, (leading ? active : !active) ? Drive::High : Drive::Low);
        if (cke()) {
            if (!leading && k / 2 < width_) outputBit(k / 2);  // on the edge back to idle
        } else if (leading) {
            outputBit((k - 1) / 2);  // on the edge to active
        }
    }
    if (sampled_ == width_ && k >= edges) {
        endId_ = 0;
        shifting_ = false;
        uint32_t word = shiftIn_ & widthMask(width_);
        if (rxFull_) {
            stat_->hwSet(SPIROV);  // the word is lost; the buffer keeps the unread one
            ++overruns_;
            intc_.raise(cfg_.irqError);
        } else {
            rxBuf_ = word;
            rxFull_ = true;
            intc_.raise(cfg_.irqRx);
        }
        updateStatus();
        startNext();
        return;
    }
    scheduleStep(k + 1);
    if (endAt_ < wordStart_ + nextStep_ * half_) planEnd();  // a word that does not complete
}

// ---------------------------------------------------------------- analyser

SpiAnalyser::SpiAnalyser(Nets& nets, Scheduler& sched, uint64_t sysclkHz, const SpiWiring& wiring, unsigned mode)
    : sched_(sched),
      sysclk_(sysclkHz),
      select_(nets.get(wiring.select)),
      sck_(nets.get(wiring.sck)),
      mosi_(nets.get(wiring.mosi)),
      miso_(nets.get(wiring.miso)) {
    bool cpol = mode & 2u, cpha = mode & 1u;
    sampleOnRising_ = cpol == cpha;  // modes 0 and 3 take data on the rising edge
    // The select line's level when the analyser was connected opens the record.
    record({select_.level() ? SpiEvent::Kind::Release : SpiEvent::Kind::Select, sched_.now()});
    select_.listen([this](Net&, bool level) { selectChanged(level); });
    sck_.listen([this](Net&, bool level) {
        if (level == sampleOnRising_) sampleEdge();
    });
}

std::vector<SpiEvent> SpiAnalyser::only(SpiEvent::Kind kind) const {
    std::vector<SpiEvent> out;
    for (const auto& e : events_)
        if (e.kind == kind) out.push_back(e);
    return out;
}

void SpiAnalyser::record(SpiEvent e) {
    if (keep_) events_.push_back(e);
    if (onLine) onLine(line(e));
    if (onEvent) onEvent(e);
}

void SpiAnalyser::selectChanged(bool level) {
    bits_ = 0;  // a word cut by the select line is not a byte
    if (level) {
        endOfResponseWindow();
        frame_.clear();
    }
    SpiEvent e{level ? SpiEvent::Kind::Release : SpiEvent::Kind::Select, sched_.now()};
    record(e);
}

void SpiAnalyser::sampleEdge() {
    if (bits_ == 0) firstEdge_ = sched_.now();
    mosiByte_ = uint8_t(mosiByte_ << 1 | uint8_t(mosi_.level()));
    misoByte_ = uint8_t(misoByte_ << 1 | uint8_t(miso_.level()));
    if (++bits_ < 8) return;
    bits_ = 0;
    SpiEvent e{SpiEvent::Kind::Byte, firstEdge_};
    e.mosi = mosiByte_;
    e.miso = misoByte_;
    e.selected = !select_.level();
    Cycles span = sched_.now() - firstEdge_;
    e.sckHz = span ? double(sysclk_) * 7.0 / double(span) : 0.0;
    decoding_ = true;  // what the byte completes (a command, an R1) carries its time too
    record(e);
    if (e.selected) decode(e);
    decoding_ = false;
}

// A frame starts with a byte 01xxxxxx from the host; its R1 is the first byte after it that
// the card does not leave at 0xFF.
void SpiAnalyser::decode(const SpiEvent& byte) {
    if (frame_.empty()) {
        if (awaiting_) {
            ++polls_;
            if (byte.miso != 0xFF) {
                SpiEvent r{SpiEvent::Kind::Response, byte.time};
                r.response = byte.miso;
                r.pollBytes = polls_;
                awaiting_ = false;
                record(r);
                return;
            }
            if ((byte.mosi & 0xC0) != 0x40) return;
            --polls_;  // a new command, not a poll
            endOfResponseWindow();
        }
        if ((byte.mosi & 0xC0) == 0x40) frame_.push_back(byte.mosi);
        return;
    }
    frame_.push_back(byte.mosi);
    if (frame_.size() < 6) return;
    SpiEvent c{SpiEvent::Kind::Command, byte.time};
    c.command = frame_[0] & 0x3F;
    c.argument = uint32_t(frame_[1]) << 24 | uint32_t(frame_[2]) << 16 | uint32_t(frame_[3]) << 8 | frame_[4];
    c.crc = frame_[5];
    frame_.clear();
    awaiting_ = true;
    polls_ = 0;
    record(c);
}

void SpiAnalyser::endOfResponseWindow() {
    if (!awaiting_) return;
    awaiting_ = false;
    SpiEvent e{SpiEvent::Kind::NoResponse, sched_.now()};
    e.pollBytes = polls_;
    record(e);
}

uint8_t SpiAnalyser::frameCrc(const uint8_t* first5) {
    uint8_t crc = 0;
    for (int n = 0; n < 5; ++n)
        for (int i = 7; i >= 0; --i) {
            bool in = (first5[n] >> i) & 1u;
            bool top = (crc >> 6) & 1u;
            crc = uint8_t((crc << 1) & 0x7F);
            if (in != top) crc ^= 0x09;  // x^7 + x^3 + 1
        }
    return uint8_t(crc << 1 | 1);
}

std::string SpiAnalyser::commandName(uint8_t index) {
    switch (index) {
        case 0: return "GO_IDLE_STATE";
        case 1: return "SEND_OP_COND";
        case 8: return "SEND_IF_COND";
        case 9: return "SEND_CSD";
        case 10: return "SEND_CID";
        case 12: return "STOP_TRANSMISSION";
        case 13: return "SEND_STATUS";
        case 16: return "SET_BLOCKLEN";
        case 17: return "READ_SINGLE_BLOCK";
        case 18: return "READ_MULTIPLE_BLOCK";
        case 24: return "WRITE_BLOCK";
        case 25: return "WRITE_MULTIPLE_BLOCK";
        case 41: return "SD_SEND_OP_COND";
        case 55: return "APP_CMD";
        case 58: return "READ_OCR";
        case 59: return "CRC_ON_OFF";
        default: return "?";
    }
}

std::string SpiAnalyser::describeR1(uint8_t r1) {
    if (r1 == 0x00) return "ready";
    if (r1 & 0x80) return "not an R1";
    static const char* const bits[7] = {"idle",          "erase reset",   "illegal command",  "CRC error",
                                        "erase sequence", "address error", "parameter error"};
    std::string s;
    for (unsigned b = 0; b < 7; ++b)
        if (r1 >> b & 1u) s += (s.empty() ? "" : ", ") + std::string(bits[b]);
    return s;
}

namespace {
std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* fmt, ...) {
    char buf[256];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    return buf;
}

std::string formatHz(double hz) {
    return hz >= 1e6 ? format("%.3f MHz", hz / 1e6) : format("%.3f kHz", hz / 1e3);
}
}  // namespace

std::string SpiAnalyser::line(const SpiEvent& e) const {
    return format("%14.4f us  ", double(e.time) * 1e6 / double(sysclk_)) + describe(e);
}

std::string SpiAnalyser::describe(const SpiEvent& e) const {
    std::string t;
    switch (e.kind) {
        case SpiEvent::Kind::Select: return t + "CS    low";
        case SpiEvent::Kind::Release: return t + "CS    high";
        case SpiEvent::Kind::Byte:
            return t + format("byte  MOSI %02X  MISO %02X  %s  ", e.mosi, e.miso, e.selected ? "selected" : "released") +
                   formatHz(e.sckHz);
        case SpiEvent::Kind::Command: {
            uint8_t head[5] = {uint8_t(0x40 | e.command), uint8_t(e.argument >> 24), uint8_t(e.argument >> 16),
                               uint8_t(e.argument >> 8), uint8_t(e.argument)};
            uint8_t expected = frameCrc(head);
            std::string s = t + format("CMD%-2u %s arg 0x%08X crc 0x%02X", e.command, commandName(e.command).c_str(),
                                       e.argument, e.crc);
            if (e.crc != expected) s += format(" (CRC7 would give 0x%02X)", expected);
            return s;
        }
        case SpiEvent::Kind::Response:
            return t + format("R1    0x%02X %s, poll byte %u", e.response, describeR1(e.response).c_str(), e.pollBytes);
        case SpiEvent::Kind::NoResponse: return t + format("R1    none in %u poll bytes", e.pollBytes);
    }
    return t;
}

std::string SpiAnalyser::text() const {
    std::string s;
    for (const auto& e : events_) s += line(e) + "\n";
    return s;
}

}  // namespace sim
