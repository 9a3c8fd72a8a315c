// Firmware images for the simulated chip: ELF32 little-endian MIPS executables and Intel
// HEX files, checked against the chip's memory map before anything is written.
#pragma once
#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "sim/core/memory_map.h"
#include "sim/chip/system.h"

namespace sim {

// A malformed file, or one that would write outside RAM, program flash or boot flash.
class ImageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct ImageSegment {
    uint32_t address;  // physical
    std::vector<uint8_t> bytes;
};

// A function or object of the ELF symbol table, at its (virtual) address.
struct ImageSymbol {
    std::string name;
    uint32_t address;
    uint32_t size;
    bool function;
};

struct Image {
    std::string format;  // "ELF" or "Intel HEX"
    std::vector<ImageSegment> segments;
    std::optional<uint32_t> entry;
    std::vector<ImageSymbol> symbols;  // sorted by physical address; empty for Intel HEX

    // The symbol an address belongs to, as "name+0x1c" ("name" at its start); a KSEG0 and a
    // KSEG1 address of the same byte are the same place. Empty when no symbol covers it.
    std::string describe(uint32_t address) const;
    // Address of a symbol by name.
    std::optional<uint32_t> addressOf(const std::string& name) const;

    // DEVCFG3..DEVCFG0 as the image programs them (erased words where it does not).
    ConfigWords configWords() const;
};

// ELF: the file bytes of every PT_LOAD segment at its physical address (p_paddr; a
// KSEG0/KSEG1 address stands for its physical one). Memory past p_filesz is left alone:
// the run-time's start-up zeroes .bss. Each segment's memory (p_memsz at p_vaddr) lies in
// the map, and no two segments' file bytes overlap.
Image parseElf(std::span<const uint8_t> file, const MemoryLayout& layout);
// Intel HEX: records 00 (data), 01 (end of file), 02 (extended segment address), 03 and
// 05 (start address), 04 (extended linear address). Lines end in LF, CR LF or CR; blanks
// around a record are ignored (the checksum covers the record itself); no two data records
// overlap.
Image parseIntelHex(std::string_view text, const MemoryLayout& layout);

enum class ImageFormat { Elf, IntelHex };
// The largest file of a format the chip's memories could hold (RAM, program flash and boot
// flash, every byte once). Intel HEX: each byte in a data record of its own with an
// extended address record before it, 32 characters with CR LF. ELF: symbols and debug
// information come beside what loads; up to 64 times the memories' size.
uint64_t imageFileLimit(ImageFormat format, const MemoryLayout& layout);

// Reads a file and picks the format from its first bytes. Reads at most the format's
// limit, so a device or a pipe that never ends is refused too.
Image readImage(const std::string& path, const MemoryLayout& layout);

// Writes the image into the memories (flash programmed, RAM preset).
void loadImage(MemoryMap& memory, const Image& image);

}  // namespace sim
