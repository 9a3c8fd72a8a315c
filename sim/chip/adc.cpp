#include "sim/chip/adc.h"

#include <stdexcept>
#include <string>

#include "sim/chip/intc.h"
#include "sim/chip/ports.h"

namespace sim {

namespace {
constexpr uint32_t kOn = AD1CON1_ON.mask, kClrAsam = AD1CON1_CLRASAM.mask, kAsam = AD1CON1_ASAM.mask,
                   kSamp = AD1CON1_SAMP.mask, kDone = AD1CON1_DONE.mask;
constexpr unsigned kSsrcManual = 0, kSsrcAuto = 7;
}  // namespace

Adc1::Adc1(SfrBus& bus, Scheduler& sched, Intc& intc, Ports& ports, std::function<unsigned()> pbdiv,
           std::function<uint64_t()> sysclkHz)
    : sched_(sched), intc_(intc), ports_(ports), pbdiv_(std::move(pbdiv)), sysclkHz_(std::move(sysclkHz)) {
    con1_ = &bus.add(reg::AD1CON1).writable(0xA7F7);
    con2_ = &bus.add(reg::AD1CON2).writable(0xF43F);  // BUFS is the converter's
    con3_ = &bus.add(reg::AD1CON3).writable(0x9FFF);
    chs_ = &bus.add(reg::AD1CHS).writable((AD1CHS_CH0NB | AD1CHS_CH0SB | AD1CHS_CH0NA | AD1CHS_CH0SA).value);
    bus.add(reg::AD1CSSL).writable(0xFFFF);
    // AD1PCFG belongs to the ports: it decides whether a pin is analog.
    for (unsigned n = 0; n < 16; ++n) {
        std::string name = "ADC1BUF";
        name += "0123456789ABCDEF"[n];
        buf_[n] = &bus.add(reg::named(name)).writable(0);
    }
    con1_->onWrite([this](uint32_t before, uint32_t after) { control1Written(before, after); });
}

void Adc1::attach(unsigned channel, analog::Source& source) {
    if (channel >= kChannels) throw std::out_of_range("ADC1 has AN0..AN15");
    owned_[channel].reset();
    sources_[channel] = &source;
}

void Adc1::detach(unsigned channel) {
    if (channel >= kChannels) return;
    owned_[channel].reset();
    sources_[channel] = nullptr;
}

Cycles Adc1::tadCycles() const {
    if (con3_->bit(AD1CON3_ADRC))  // ADRC: the converter's own RC clock, independent of the bus
        return Cycles(kRcTadSeconds * double(sysclkHz_()) + 0.5);
    return Cycles(2 * (con3_->field(AD1CON3_ADCS) + 1)) << pbdiv_();
}

void Adc1::control1Written(uint32_t before, uint32_t after) {
    if (!(after & kOn)) {
        // Off: whatever was under way stops; the bits keep what software wrote.
        abort();
        return;
    }
    const bool turnedOn = !(before & kOn);
    const bool sampRose = (after & kSamp) && (!(before & kSamp) || turnedOn);
    const bool asamRose = (after & kAsam) && (!(before & kAsam) || turnedOn);
    switch (phase_) {
        case Phase::Idle:
            if (sampRose || asamRose) startSampling();
            break;
        case Phase::Sampling:
            // In manual mode software ends sampling by clearing SAMP; in auto-convert the
            // sample counter does.
            if (con1_->field(AD1CON1_SSRC) == kSsrcManual && (before & kSamp) && !(after & kSamp)) endSampling();
            break;
        case Phase::Converting:
            break;  // a SAMP set now is served when the conversion ends
    }
}

void Adc1::startSampling() {
    phase_ = Phase::Sampling;
    con1_->hwSet(kSamp);
    current_ = AdcConversion{};
    current_.sampleStart = sched_.now();
    if (con1_->field(AD1CON1_SSRC) != kSsrcAuto) return;  // ends when software clears SAMP
    // SAMC = 0 is not a valid setting; the counter still needs one TAD to run out.
    unsigned samc = con3_->field(AD1CON3_SAMC);
    Cycles duration = Cycles(samc ? samc : 1) * tadCycles();
    event_ = sched_.after(duration, [this] {
        event_ = 0;
        endSampling();
    });
}

void Adc1::endSampling() {
    con1_->hwClear(kSamp);
    // The hold capacitor keeps the input of this instant; the previous result's DONE goes
    // as the conversion starts.
    con1_->hwClear(kDone);
    phase_ = Phase::Converting;
    const double t = double(sched_.now()) / double(sysclkHz_());
    const unsigned pos = chs_->field(AD1CHS_CH0SA);
    const bool negAn1 = chs_->bit(AD1CHS_CH0NA);
    // OFFCAL ties both inputs to the negative reference: the converter's own offset.
    const bool offcal = con2_->bit(AD1CON2_OFFCAL);
    const double vPos = offcal ? analog::kAvss : inputVolts(pos, t);
    const double vNeg = offcal || !negAn1 ? analog::kAvss : (pos == 1 ? vPos : inputVolts(1, t));
    current_.sampleEnd = sched_.now();
    current_.positive = pos;
    current_.negative = negAn1 ? 1 : -1;
    current_.volts = vPos - vNeg;
    current_.count = analog::countOf(analog::kAvss + current_.volts);
    event_ = sched_.after(Cycles(kConversionTad) * tadCycles(), [this] {
        event_ = 0;
        finishConversion();
    });
}

void Adc1::finishConversion() {
    current_.done = sched_.now();
    current_.word = formatted(current_.count);
    buf_[bufIndex_]->hwWrite(current_.word);
    con1_->hwSet(kDone);
    phase_ = Phase::Idle;
    conversions_.push_back(current_);
    // SMPI + 1 conversions per interrupt; the buffer then fills from word 0 again.
    if (++bufIndex_ > con2_->field(AD1CON2_SMPI)) {
        bufIndex_ = 0;
        intc_.raise(irq::AD1);
        if (con1_->value() & kClrAsam) con1_->hwClear(kAsam);
    }
    if (con1_->value() & (kAsam | kSamp)) startSampling();
}

void Adc1::abort() {
    if (event_) sched_.cancel(event_);
    event_ = 0;
    phase_ = Phase::Idle;
    bufIndex_ = 0;
}

double Adc1::inputVolts(unsigned channel, double seconds) {
    // A pin in digital mode is cut off from the multiplexer: nothing analog is converted.
    if (!ports_.analog('B', channel)) return analog::kAvss;
    // An output driver on the pad (TRIS = 0) holds it at its level.
    Net& pin = ports_.pin('B', channel);
    if (pin.driven()) return pin.level() ? analog::kAvdd : analog::kAvss;
    analog::Source* s = sources_[channel];
    return s ? s->sample(seconds) : analog::kAvss;
}

uint32_t Adc1::formatted(unsigned count) const {
    const int32_t sgn = int32_t(count) - 512;  // offset binary to two's complement
    switch (con1_->field(AD1CON1_FORM)) {
        case 0: return count;                                // integer 16-bit
        case 1: return uint32_t(sgn) & 0xFFFFu;              // signed integer 16-bit
        case 2: return count << 6;                           // fractional 16-bit
        case 3: return (uint32_t(sgn) << 6) & 0xFFFFu;       // signed fractional 16-bit
        case 4: return count;                                // integer 32-bit
        case 5: return uint32_t(sgn);                        // signed integer 32-bit
        case 6: return count << 22;                          // fractional 32-bit
        default: return uint32_t(sgn) << 22;                 // signed fractional 32-bit
    }
}

void Adc1::reset() { abort(); }

}  // namespace sim
