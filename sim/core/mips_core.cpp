// Construction of the core, its ties to the board and the requests made from outside the
// instruction stream. The interpreter, exception entry, the bus and fast-forward are in
// interpreter.cpp, exceptions.cpp, core_bus.cpp and fast_forward.cpp.
#include "sim/core/mips_core.h"

#include <algorithm>

#include "sim/core/core_internal.h"

namespace sim {

using namespace mips;

MipsCore::MipsCore(Board& board, const CoreOptions& options)
    : board_(board), opt_(options), mem_(MemoryLayout::of(board)) {
    ram_ = mem_.ram();
    ramBytes_ = mem_.layout().ramBytes;
    decRam_.resize(mem_.layout().ramBytes / 4);
    decFlash_.resize(mem_.layout().flashBytes / 4);
    decBoot_.resize(phys::kBootBytes / 4);
    checon_ = board.bus.find(reg::CHECON.address);
    bmxcon_ = board.bus.find(reg::BMXCON.address);
    // The device reset comes out of an SFR access (RSWRST) or an event, and the board's
    // run limit out of an event: either ends the inner loop at the next instruction
    // boundary, where service() and run() see the flag.
    resetListener_ = board.resetListeners.add([this](const ResetRecord&) {
        resetPending_ = true;
        limit_ = 0;
    });
    stopListener_ = board.stopListeners.add([this] {
        limitReached_ = true;
        limit_ = 0;
    });
    cycles_ = board.now();
    steps_.reserve(2 * core::kMaxLoopSteps + 2);
    coreReset();
}

MipsCore::~MipsCore() {
    board_.resetListeners.remove(resetListener_);
    board_.stopListeners.remove(stopListener_);
}

void MipsCore::setPc(uint32_t pc) {
    pc_ = pc;
    npc_ = pc + 4;
    slot_ = false;
    waiting_ = false;
}

void MipsCore::requestStop() {
    stopRequested_ = true;
    limit_ = 0;
}

void MipsCore::nmi() {
    nmiPending_ = true;
    limit_ = 0;
}

void MipsCore::invalidateDecoded() {
    std::fill(decRam_.begin(), decRam_.end(), Decoded{});
    std::fill(decFlash_.begin(), decFlash_.end(), Decoded{});
    std::fill(decBoot_.begin(), decBoot_.end(), Decoded{});
    memGeneration_ = mem_.generation();
    fw_.close();
}

}  // namespace sim
