// Instruction decoding of the M4K core (MIPS32 release 2, integer, little-endian): each
// word becomes a dense operation code and its operands once, so that the interpreter
// dispatches on one byte and never looks at the encoding again.
#pragma once
#include <cstdint>

namespace sim::mips {

// Every operation, in one list (the interpreter's handler table follows it).
#define MIPS_OPS(X)                                                                                         \
    X(Undecoded)   /* not decoded yet (the predecode tables start out like this) */                         \
    X(Reserved)    /* reserved instruction exception */                                                     \
    X(CopUnusable) /* coprocessor 1/2 instruction: no FPU, no CP2 (imm = coprocessor number) */             \
    X(Nop)         /* nop, ssnop, ehb, sync, cache, pref, synci */                                          \
    X(Sll) X(Srl) X(Sra) X(Rotr) X(Sllv) X(Srlv) X(Srav) X(Rotrv)                                           \
    X(Add) X(Addu) X(Sub) X(Subu) X(And) X(Or) X(Xor) X(Nor) X(Slt) X(Sltu) X(Movz) X(Movn)                 \
    X(Addi) X(Addiu) X(Slti) X(Sltiu) X(Andi) X(Ori) X(Xori) X(Lui)                                         \
    X(Mfhi) X(Mthi) X(Mflo) X(Mtlo) X(Mult) X(Multu) X(Div) X(Divu) X(Madd) X(Maddu) X(Msub) X(Msubu)       \
    X(Mul) X(Clz) X(Clo) X(Ext) X(Ins) X(Wsbh) X(Seb) X(Seh)                                                \
    X(J) X(Jal) X(Jr) X(Jalr) X(B) X(Beq) X(Bne) X(Blez) X(Bgtz) X(Bltz) X(Bgez) X(Bltzal) X(Bgezal)        \
    X(Beql) X(Bnel) X(Blezl) X(Bgtzl) X(Bltzl) X(Bgezl) X(Bltzall) X(Bgezall)                               \
    X(Spin)        /* a branch or jump to itself: an idle loop */                                           \
    X(Tge) X(Tgeu) X(Tlt) X(Tltu) X(Teq) X(Tne) X(Tgei) X(Tgeiu) X(Tlti) X(Tltiu) X(Teqi) X(Tnei)           \
    X(Syscall) X(Break) X(Sdbbp)                                                                            \
    X(Lb) X(Lbu) X(Lh) X(Lhu) X(Lw) X(Lwl) X(Lwr) X(Ll) X(Sb) X(Sh) X(Sw) X(Swl) X(Swr) X(Sc)               \
    X(Mfc0Count) X(Mfc0) X(Mtc0) X(Di) X(Ei) X(Rdpgpr) X(Wrpgpr) X(Eret) X(Deret) X(Wait) X(Rdhwr)

enum Op : uint8_t {
#define MIPS_OP_ENUM(name) k##name,
    MIPS_OPS(MIPS_OP_ENUM)
#undef MIPS_OP_ENUM
    kOpCount
};

// A decoded instruction. `rd` is the destination register (0 is mapped to the scratch
// register 32, so that writes to $zero vanish); `rs` and `rt` are source registers as
// encoded. The meaning of `sa` and `imm` depends on the operation:
// shifts: sa = amount; branches: imm = byte offset from the delay slot; j/jal: imm =
// target within the 256 MiB region; ext: sa = lsb, imm = mask; ins: sa = lsb, imm = mask
// in place; mfc0/mtc0: sa = register, imm = select; rdhwr: sa = hardware register.
struct Decoded {
    uint8_t op;
    uint8_t rd;
    uint8_t rs;
    uint8_t rt;
    uint8_t sa;
    uint8_t pad[3];
    uint32_t imm;
};
static_assert(sizeof(Decoded) == 12);

constexpr unsigned kScratchReg = 32;

// `pc` is the instruction's own address (branches and jumps to themselves become kSpin).
Decoded decode(uint32_t word, uint32_t pc);

// Operation name for diagnostics ("addiu", "lw", ...).
const char* opName(uint8_t op);

}  // namespace sim::mips
