// Analog signals on the board's ANx inputs: what a sensor presents at a pin, as a voltage
// at a given virtual time. The converter asks at the moment its sampling ends.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace sim::analog {

// Converter reference span of the board: AVDD and AVSS.
inline constexpr double kAvdd = 3.3;
inline constexpr double kAvss = 0.0;
inline constexpr unsigned kSteps = 1024;  // 10-bit converter
inline constexpr double kVoltsPerCount = (kAvdd - kAvss) / kSteps;

// Ideal 10-bit transfer: code transitions half an LSB above each count's voltage, clamped.
unsigned countOf(double volts);
// The voltage that a count stands for (the middle of its code bin).
inline double voltsOf(double count) { return kAvss + count * kVoltsPerCount; }

class Source {
public:
    virtual ~Source() = default;
    // Voltage at the pin at `seconds` of virtual time. A source may keep state between
    // calls (a script advances, noise draws its next value): one call per sample taken.
    virtual double sample(double seconds) = 0;
};

class Constant : public Source {
public:
    explicit Constant(double volts) : volts_(volts) {}
    double sample(double) override { return volts_; }
    void set(double volts) { volts_ = volts; }

private:
    double volts_;
};

// bias + amplitude x sin(2 pi f t + phase) [+ Gaussian noise of the given RMS].
struct SineParams {
    double bias = kAvdd / 2;
    double amplitude = 1.0;  // peak volts
    double frequency = 50.0;  // Hz
    double phase = 0.0;       // radians at t = 0
    double noiseRms = 0.0;    // volts; 0 for none
    uint64_t seed = 1;        // noise is repeatable for a given seed
};

class Sine : public Source {
public:
    explicit Sine(const SineParams& p);
    double sample(double seconds) override;
    const SineParams& params() const { return p_; }

private:
    SineParams p_;
    uint64_t state_;
    bool haveSpare_ = false;
    double spare_ = 0;
    double uniform();   // (0, 1]
    double gaussian();  // zero mean, unit variance
};

// A script of converter counts: each sample takes the next one, whatever the time; after
// the last the input stays at it.
class CountSequence : public Source {
public:
    explicit CountSequence(std::vector<unsigned> counts) : counts_(std::move(counts)) {}
    double sample(double seconds) override;
    // Samples taken so far (also counts those beyond the end of the script).
    std::size_t taken() const { return taken_; }

private:
    std::vector<unsigned> counts_;
    std::size_t taken_ = 0;
};

}  // namespace sim::analog
