// The memories of the chip as the core sees them: data RAM, program flash and boot flash
// at their physical addresses, reached through the fixed KSEG0/KSEG1 mapping; the SFR
// window between them belongs to the board's bus.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/boards/board.h"

namespace sim {

namespace phys {
constexpr uint32_t kRam = 0x00000000;
constexpr uint32_t kFlash = 0x1D000000;
constexpr uint32_t kSfr = 0x1F800000;
constexpr uint32_t kSfrEnd = 0x1F900000;
constexpr uint32_t kBoot = 0x1FC00000;
constexpr uint32_t kBootBytes = 0x3000;  // 12 KiB, configuration words in the last 16 bytes
constexpr uint32_t kConfigWords = 0x1FC02FF0;  // DEVCFG3..DEVCFG0
}  // namespace phys

enum class Region : uint8_t { None, Ram, Flash, Boot, Sfr };

// Sizes of the memories of one chip.
struct MemoryLayout {
    uint32_t ramBytes = 32 * 1024;
    uint32_t flashBytes = 256 * 1024;

    static MemoryLayout forChip(Chip chip);
    static MemoryLayout of(const Board& board) { return {board.ramBytes(), board.flashBytes()}; }

    // Region that holds the whole span [address, address + bytes) of physical addresses,
    // or None when it is not inside one region.
    Region regionOf(uint32_t address, uint64_t bytes = 1) const;
    static const char* name(Region r);
};

// Physical address of a KSEG0/KSEG1 address; false for the other segments (no TLB: kuseg
// and kseg2/3 reach nothing on this chip in kernel mode).
inline bool toPhysical(uint32_t virt, uint32_t& physical) {
    if ((virt & 0xC0000000u) != 0x80000000u) return false;
    physical = virt & 0x1FFFFFFFu;
    return true;
}

// One name for a byte that KSEG0 and KSEG1 both reach (its physical address); other
// addresses as they are. For comparing debugger and trace addresses.
inline uint32_t samePlace(uint32_t a) {
    uint32_t p;
    return toPhysical(a, p) ? p : a;
}

class MemoryMap {
public:
    explicit MemoryMap(const MemoryLayout& layout);

    const MemoryLayout& layout() const { return layout_; }
    uint8_t* ram() { return ram_.data(); }
    uint8_t* flash() { return flash_.data(); }
    uint8_t* boot() { return boot_.data(); }
    const uint8_t* ram() const { return ram_.data(); }
    const uint8_t* flash() const { return flash_.data(); }
    const uint8_t* boot() const { return boot_.data(); }

    // Host-side access by physical address (loaders, tests); false, and nothing written,
    // when the span is not inside RAM, program flash or boot flash.
    bool write(uint32_t physical, const void* data, size_t bytes);
    bool read(uint32_t physical, void* out, size_t bytes) const;
    uint32_t read32(uint32_t physical) const;
    bool write32(uint32_t physical, uint32_t value) { return write(physical, &value, 4); }

    // Flash erased (all ones), RAM cleared.
    void clear();

    // Bumped by every host-side write, so that decoded instructions are thrown away.
    uint64_t generation() const { return generation_; }

private:
    MemoryLayout layout_;
    std::vector<uint8_t> ram_, flash_, boot_;
    uint64_t generation_ = 0;
    uint8_t* span(uint32_t physical, size_t bytes);
};

}  // namespace sim
