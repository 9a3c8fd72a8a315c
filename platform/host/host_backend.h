// Host backend of the platform layer: the firmware's SFR and CP0 accesses go to a virtual
// board, each costing it a few cycles; pending interrupts are taken between accesses.
#pragma once
#include <cstdint>
#include <functional>

#include "sim/boards/board.h"

namespace platform::host {

// Virtual cycles that one access of the firmware costs on the chip.
struct AccessCost {
    sim::Cycles sfr = 4;        // load or store over the peripheral bus
    sim::Cycles cp0 = 4;        // mfc0/mtc0 and the compare-and-branch of a poll
    sim::Cycles interrupt = 40; // entry and exit of the handler wrapper
};

// The board that the firmware sees from now on (nullptr detaches it).
void attach(sim::Board* board);
sim::Board& board();
AccessCost& cost();
// Interrupts served whose programmed priority differed from the level the handler was
// bound at (the chip's entry code would run the handler at the programmed one).
unsigned levelMismatches();

// What the run-time's start-up does to the core before it calls main, with the values of
// runtime/startup_cp0.h: Count, Compare, EBase, IntCtl, Cause.IV, interrupts disabled at
// level 0, BEV cleared. Memory needs nothing on the host.
void runtimeStartup();

// Runs `entry` (a firmware main) on the attached board until virtual time reaches
// `until`. A device reset restarts it from the top, as the chip would; `maxResets`
// bounds that. Returns the number of resets taken.
unsigned run(const std::function<void()>& entry, sim::Cycles until, unsigned maxResets = 8);

// Runs `body` on the board until it returns or virtual time reaches `until`; returns
// false when the limit ended it.
bool runFor(const std::function<void()>& body, sim::Cycles until);

// Lets virtual time pass outside firmware code (events run, interrupts are taken).
void idle(sim::Cycles cycles);

}  // namespace platform::host
