// ADC1, the 10-bit successive-approximation converter: multiplexer A onto AN0..AN15 (the
// port B pins), a sample-and-hold whose sampling ends either when software clears SAMP or,
// in auto-convert, after SAMC TAD, a conversion of 12 TAD, and the result buffer.
#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <type_traits>
#include <vector>

#include "sim/devices/analog.h"
#include "sim/chip/model.h"
#include "sim/time/scheduler.h"
#include "sim/chip/sfr_bus.h"

namespace sim {

class Intc;
class Ports;

// One conversion as the converter saw it, with its virtual times.
struct AdcConversion {
    Cycles sampleStart;  // sampling began (SAMP set)
    Cycles sampleEnd;    // the input was held and the conversion began
    Cycles done;         // result in the buffer, DONE set
    unsigned positive;   // CH0SA: ANx on the positive input
    int negative;        // -1: negative reference (AVSS); otherwise the ANx on the negative input
    double volts;        // held input, positive minus negative
    unsigned count;      // 10-bit result before formatting
    uint32_t word;       // what the buffer word reads
};

class Adc1 : public Model {
public:
    static constexpr unsigned kChannels = 16;
    static constexpr unsigned kConversionTad = 12;
    // TAD of the converter's internal RC clock (ADRC = 1).
    static constexpr double kRcTadSeconds = 250e-9;

    Adc1(SfrBus& bus, Scheduler& sched, Intc& intc, Ports& ports, std::function<unsigned()> pbdiv,
         std::function<uint64_t()> sysclkHz);

    // Puts a signal on ANx (the pin RBx): a source the caller keeps alive, or a temporary
    // that the converter keeps.
    void attach(unsigned channel, analog::Source& source);
    template <class S, class = std::enable_if_t<!std::is_lvalue_reference_v<S> &&
                                                std::is_base_of_v<analog::Source, std::decay_t<S>>>>
    std::decay_t<S>& attach(unsigned channel, S&& source) {
        auto owned = std::make_unique<std::decay_t<S>>(std::move(source));
        auto& ref = *owned;
        attach(channel, static_cast<analog::Source&>(ref));
        owned_[channel] = std::move(owned);
        return ref;
    }
    void detach(unsigned channel);

    // System-clock cycles of one TAD with the current AD1CON3 and PBCLK.
    Cycles tadCycles() const;
    bool on() const { return con1_->bit(AD1CON1_ON); }

    const std::vector<AdcConversion>& conversions() const { return conversions_; }
    void clearRecord() { conversions_.clear(); }

    void reset() override;

private:
    enum class Phase { Idle, Sampling, Converting };

    Scheduler& sched_;
    Intc& intc_;
    Ports& ports_;
    std::function<unsigned()> pbdiv_;
    std::function<uint64_t()> sysclkHz_;
    Register *con1_, *con2_, *con3_, *chs_;
    std::array<Register*, 16> buf_{};
    std::array<analog::Source*, kChannels> sources_{};
    std::array<std::unique_ptr<analog::Source>, kChannels> owned_;

    Phase phase_ = Phase::Idle;
    Scheduler::Id event_ = 0;
    AdcConversion current_{};
    unsigned bufIndex_ = 0;
    std::vector<AdcConversion> conversions_;

    void control1Written(uint32_t before, uint32_t after);
    void startSampling();
    void endSampling();
    void finishConversion();
    void abort();
    double inputVolts(unsigned channel, double seconds);
    uint32_t formatted(unsigned count) const;
};

}  // namespace sim
