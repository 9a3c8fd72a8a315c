// Disassembly of M4K instruction words in the text `mipsel-linux-gnu-objdump -d` prints for a
// MIPS32 release 2 object: mnemonic, a tab, operands ("addiu\tsp,sp,-24", "beqz\tv0,9d0001c8").
// Words objdump cannot decode come out as its ".word\t0x..." form.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

namespace sim::mips {

// Names the code at a branch or jump target the way objdump does inside its angle brackets
// ("main+0x40"); an empty result leaves the annotation out.
using Symbolizer = std::function<std::string(uint32_t address)>;

// The ABI name objdump gives general register n ("zero", "sp", "ra").
const char* registerName(unsigned n);

// `pc` is the instruction's own address. Without a symbolizer, targets are bare hex addresses.
std::string disassemble(uint32_t word, uint32_t pc, const Symbolizer& symbolize = {});

}  // namespace sim::mips
