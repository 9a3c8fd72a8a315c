// What the fuzz targets feed their inputs to. The libFuzzer programs (build/fuzz), the
// regression runner and the random-image test of the host build call the same functions,
// so an input that once failed under the fuzzer fails the same way in `make test`.
#pragma once
#include <cstdint>
#include <span>
#include <string>

#include "sim/time/scheduler.h"

namespace fuzzing {

// The image loader: the input is a file handed to sim::readImage with the demo board's
// memory layout, which picks ELF or Intel HEX from its first bytes. A malformed file is
// rejected with sim::ImageError; an accepted one is loaded into the memories and its
// symbols and configuration words are looked at. Returns what went wrong ("" when
// nothing did): an accepted image that does not load, or some other exception.
std::string loadImageInput(std::span<const uint8_t> input);

// Cycles an image runs in the fuzzer: long enough for the start-up of a real image to
// reach the peripherals, short enough for hundreds of runs a second.
constexpr sim::Cycles kFuzzRunCycles = 200000;

// The input as a firmware image on the demo board (clock chip on I2C1, a card in the
// slot, a terminal typing on UART1): an ELF or Intel HEX file as readImage takes it, or
// else raw flash contents, the first 12 KiB being boot flash from 0x1FC00000 (reset
// vector, exception vectors, configuration words at its end) and the rest program flash
// from 0x1D000000. The core runs it for `cycles` with fast-forward on and again with it
// off; both runs must leave the same pins, console, resets, registers and time. Returns
// the first difference ("" when there is none, or when the loader rejects the file).
std::string runImageInput(std::span<const uint8_t> input, sim::Cycles cycles = kFuzzRunCycles);

}  // namespace fuzzing
