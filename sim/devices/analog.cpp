#include "sim/devices/analog.h"

#include <cmath>
#include <numbers>

namespace sim::analog {

unsigned countOf(double volts) {
    double c = std::floor((volts - kAvss) / kVoltsPerCount + 0.5);
    if (c < 0) return 0;
    if (c > kSteps - 1) return kSteps - 1;
    return unsigned(c);
}

Sine::Sine(const SineParams& p) : p_(p), state_(p.seed) {}

// splitmix64: a small generator whose sequence is the same on every host and library.
double Sine::uniform() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    return (double(z >> 11) + 1.0) * 0x1.0p-53;
}

double Sine::gaussian() {
    if (haveSpare_) {
        haveSpare_ = false;
        return spare_;
    }
    const double r = std::sqrt(-2.0 * std::log(uniform()));
    const double a = 2.0 * std::numbers::pi * uniform();
    spare_ = r * std::sin(a);
    haveSpare_ = true;
    return r * std::cos(a);
}

double Sine::sample(double seconds) {
    double v = p_.bias + p_.amplitude * std::sin(2.0 * std::numbers::pi * p_.frequency * seconds + p_.phase);
    if (p_.noiseRms > 0) v += p_.noiseRms * gaussian();
    return v;
}

double CountSequence::sample(double) {
    ++taken_;
    if (counts_.empty()) return kAvss;
    std::size_t i = taken_ - 1 < counts_.size() ? taken_ - 1 : counts_.size() - 1;
    return voltsOf(counts_[i]);
}

}  // namespace sim::analog
