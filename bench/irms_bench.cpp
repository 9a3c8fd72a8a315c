// How fast calcIrms samples on the virtual board: conversions per second of simulated
// time at each peripheral bus divider, where the time of a sample goes, and what a 1 V
// RMS sine at a hundredth of that rate reads. The host's own speed is shown for scale.
//
//   irms_bench [samples]   (default 2000)
#include <chrono>
#include <cmath>
#include <numbers>
#include <cstdio>
#include <cstdlib>

#include "drivers/adc.h"
#include "measure/irmsmeter/irmsmeter.h"
#include "platform/host/host_backend.h"
#include "platform/pic32mx.h"
#include "platform/plib.h"
#include "tools/cli.h"
#include "sim/devices/analog.h"
#include "sim/boards/board.h"
#include "tools/image_board.h"

namespace {

struct Result {
    double samplesPerSecond;  // simulated time
    double samplePeriodUs;
    double converterUs;       // sampling + conversion of one sample
    double irms;
    double hostSamplesPerSecond;
};

void setPbdiv(uint32_t pbdiv) {
    SYSTEMUnlock();
    OSCCONbits.PBDIV = pbdiv;
    SYSTEMLock();
}

Result run(uint32_t pbdiv, int samples) {
    sim::Board board;
    platform::host::attach(&board);
    platform::host::runtimeStartup();
    const unsigned pin = 4;
    auto& sine = board.adc1.attach(pin, sim::analog::Sine({}));
    platform::host::runFor(
        [&] {
            SYSTEMConfigPerformance(79999999);
            INTEnableSystemMultiVectoredInt();
            setPbdiv(pbdiv);
            initADC();
        },
        board.cycles(0.01));

    // Rate first, on a short run; then a sine at a hundredth of it, zero crossing at the
    // priming conversion.
    sim::Cycles start = board.now();
    platform::host::runFor([&] { (void)calcIrms(pin, 10); }, board.now() + board.cycles(1));
    const auto& probe = board.adc1.conversions();
    const sim::Cycles period = probe[1].sampleEnd - probe[0].sampleEnd;
    const sim::Cycles primingDelay = probe[0].sampleEnd - start;
    const double frequency = 1.0 / (100 * board.seconds(period));
    const double primingAt = board.seconds(board.now() + primingDelay);
    sine = sim::analog::Sine({.bias = 1.65,
                              .amplitude = std::sqrt(2.0),
                              .frequency = frequency,
                              .phase = -2 * std::numbers::pi * frequency * primingAt});
    board.adc1.clearRecord();

    float irms = 0;
    start = board.now();
    auto wallStart = std::chrono::steady_clock::now();
    platform::host::runFor([&] { irms = calcIrms(pin, samples); }, board.now() + board.cycles(100));
    double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
    const auto& conv = board.adc1.conversions();

    Result r{};
    r.samplesPerSecond = double(conv.size() - 1) / board.seconds(conv.back().sampleEnd - conv.front().sampleEnd);
    r.samplePeriodUs = board.seconds(period) * 1e6;
    r.converterUs = board.seconds(conv[0].done - conv[0].sampleStart) * 1e6;
    r.irms = irms;
    r.hostSamplesPerSecond = double(conv.size()) / wall;
    platform::host::attach(nullptr);
    return r;
}

// The same loop on the chip: irms_test.elf (calcIrms from irmsmeter.o on the run-time's
// soft-float) booted by the core simulator. Its third call takes 3 samples; the interval
// between two conversions of a full pass is the real sample period.
void onTheChip() {
    const std::string path = std::string(TEST_IMAGES_DIR) + "/irms_test.elf";
    std::printf("\non the chip (%s, core simulator):\n", path.c_str());
    try {
        tools::ImageBoard chip(tools::ImageBoard::read(path));
        // A moving input, so that the arithmetic takes its general paths, not those of zero.
        chip.board.adc1.attach(0, sim::analog::Sine({.bias = 1.65, .amplitude = 1.0, .frequency = 5000}));
        chip.runUntil(0.05);
        const auto& conv = chip.board.adc1.conversions();
        if (conv.size() < 9) {
            std::printf("  only %zu conversions: the image did not run as expected\n", conv.size());
            return;
        }
        // Conversions 5..8 belong to the count-3 call: 5 primes, 6 starts the first pass.
        const double period = chip.board.seconds(conv[8].sampleEnd - conv[6].sampleEnd) / 2;
        std::printf("  sample period %.3f us, %.0f samples/s at PBCLK 80 MHz (converter %.3f us, the rest\n"
                    "  is the pass's soft-float arithmetic and register accesses)\n",
                    period * 1e6, 1 / period, chip.board.seconds(conv[6].done - conv[6].sampleStart) * 1e6);
    } catch (const std::exception& e) {
        std::printf("  not measured: %s (build the target preset)\n", e.what());
    }
}

}  // namespace

int main(int argc, char** argv) {
    int samples = 2000;
    tools::Cli cli("irms_bench", "[options]",
                   "Samples per second that calcIrms achieves on the virtual board at each PBCLK,\n"
                   "and on the chip (the test image on the core simulator, soft-float included).\n");
    cli.count("--samples", "N", "samples per calcIrms call (default 2000)", samples, 1000000, 2).parse(argc, argv);
    std::printf("calcIrms, %d samples back to back (SYSCLK 80 MHz, TAD = 4 TPB, 15 + 12 TAD)\n\n", samples);
    std::printf("%-8s %12s %12s %12s %12s %10s %14s\n", "PBCLK", "samples/s", "period us", "converter us",
                "other us", "Irms", "host samples/s");
    for (uint32_t pbdiv = 0; pbdiv < 4; ++pbdiv) {
        Result r = run(pbdiv, samples);
        std::printf("%5u MHz %12.0f %12.4f %12.4f %12.4f %10.4f %14.0f\n", 80u >> pbdiv, r.samplesPerSecond,
                    r.samplePeriodUs, r.converterUs, r.samplePeriodUs - r.converterUs, r.irms,
                    r.hostSamplesPerSecond);
    }
    std::printf("\n'other' is the firmware's register accesses around the conversion; the loop's\n"
                "single-precision arithmetic costs no simulated time on the host, so on the chip,\n"
                "with software floating point, the rate is lower:\n");
    onTheChip();
    return 0;
}
