#include "sim/core/memory_map.h"

#include <cstring>

namespace sim {

MemoryLayout MemoryLayout::forChip(Chip chip) {
    const BoardDescription& d = boardFor(chip);
    return MemoryLayout{d.ramBytes, d.flashBytes};
}

Region MemoryLayout::regionOf(uint32_t a, uint64_t bytes) const {
    uint64_t end = uint64_t(a) + bytes;
    auto inside = [&](uint32_t base, uint32_t size) { return a >= base && end <= uint64_t(base) + size; };
    if (inside(phys::kRam, ramBytes)) return Region::Ram;
    if (inside(phys::kFlash, flashBytes)) return Region::Flash;
    if (inside(phys::kBoot, phys::kBootBytes)) return Region::Boot;
    if (inside(phys::kSfr, phys::kSfrEnd - phys::kSfr)) return Region::Sfr;
    return Region::None;
}

const char* MemoryLayout::name(Region r) {
    switch (r) {
        case Region::Ram: return "data RAM";
        case Region::Flash: return "program flash";
        case Region::Boot: return "boot flash";
        case Region::Sfr: return "SFR window";
        default: return "unmapped space";
    }
}

MemoryMap::MemoryMap(const MemoryLayout& layout)
    : layout_(layout), ram_(layout.ramBytes), flash_(layout.flashBytes), boot_(phys::kBootBytes) {
    clear();
}

void MemoryMap::clear() {
    std::memset(ram_.data(), 0, ram_.size());
    std::memset(flash_.data(), 0xFF, flash_.size());
    std::memset(boot_.data(), 0xFF, boot_.size());
    ++generation_;
}

uint8_t* MemoryMap::span(uint32_t a, size_t bytes) {
    switch (layout_.regionOf(a, bytes)) {
        case Region::Ram: return ram_.data() + (a - phys::kRam);
        case Region::Flash: return flash_.data() + (a - phys::kFlash);
        case Region::Boot: return boot_.data() + (a - phys::kBoot);
        default: return nullptr;
    }
}

bool MemoryMap::write(uint32_t physical, const void* data, size_t bytes) {
    uint8_t* p = span(physical, bytes);
    if (!p) return false;
    std::memcpy(p, data, bytes);
    ++generation_;
    return true;
}

bool MemoryMap::read(uint32_t physical, void* out, size_t bytes) const {
    const uint8_t* p = const_cast<MemoryMap*>(this)->span(physical, bytes);
    if (!p) return false;
    std::memcpy(out, p, bytes);
    return true;
}

uint32_t MemoryMap::read32(uint32_t physical) const {
    uint32_t v = 0;
    read(physical, &v, 4);
    return v;
}

}  // namespace sim
