// The M4K core on the virtual board, on snippets cross-assembled with the mipsel binutils:
// instruction groups, delay slots, exceptions, interrupts, reset, timing, fast-forward.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "sim/boards/board.h"
#include "sim/core/image_loader.h"
#include "sim/core/mips_core.h"
#include "sim/devices/terminal.h"

namespace {

using sim::Cycles;
using sim::StopReason;

// ---------------------------------------------------------------------------------------
// Snippets: .text at 0x9D000000 (program flash, KSEG0), .boot at 0xBFC00000, .data at
// 0xA0000000 (RAM, KSEG1). `.org` places handlers at their vector offsets.

struct Program {
    sim::Image image;
    std::map<std::string, uint32_t> symbols;
    uint32_t operator[](const std::string& name) const {
        auto it = symbols.find(name);
        if (it == symbols.end()) throw std::runtime_error("no symbol " + name);
        return it->second;
    }
};

#ifdef MIPSEL_AS
constexpr bool kHaveCrossTools = true;
#else
constexpr bool kHaveCrossTools = false;
#define MIPSEL_AS ""
#define MIPSEL_LD ""
#define MIPSEL_NM ""
#endif

const char* const kLinkScript = R"(
SECTIONS {
    .boot 0xBFC00000 : AT(0x1FC00000) { *(.boot) }
    .text 0x9D000000 : AT(0x1D000000) { *(.text) *(.rodata*) }
    .data 0xA0000000 : AT(0x00000000) { *(.data) *(.bss) }
    /DISCARD/ : { *(.reginfo) *(.MIPS.abiflags) *(.gnu.attributes) *(.pdr) *(.comment) *(.note*) }
}
)";

std::string shell(const std::string& cmd) {
    std::string out;
    FILE* p = popen((cmd + " 2>&1").c_str(), "r");
    if (!p) throw std::runtime_error("cannot run " + cmd);
    char buf[512];
    while (size_t n = fread(buf, 1, sizeof buf, p)) out.append(buf, n);
    if (pclose(p) != 0) throw std::runtime_error(cmd + " failed:\n" + out);
    return out;
}

// Every register of the table as an assembler symbol (li $t0, U1MODE).
#define CORE_TEST_EQU(name, addr, kind, fields) "    .equ " #name ", " #addr "\n"
const char* const kRegisterSymbols = PIC32MX_REGISTERS(CORE_TEST_EQU);
#undef CORE_TEST_EQU

Program assemble(const std::string& source) {
    char dir[] = "/tmp/mips_core_testXXXXXX";
    if (!mkdtemp(dir)) throw std::runtime_error("mkdtemp");
    std::string d = dir;
    std::ofstream(d + "/s.S") << "    .set noreorder\n    .set noat\n" << kRegisterSymbols << "    .text\n" << source << "\n";
    std::ofstream(d + "/link.ld") << kLinkScript;
    Program prog;
    try {
        std::istringstream nm(shell(std::string(MIPSEL_AS) + " -march=m4k -EL -o " + d + "/s.o " + d + "/s.S && " +
                                    MIPSEL_LD + " -EL -T " + d + "/link.ld -o " + d + "/s.elf " + d + "/s.o && " +
                                    MIPSEL_NM + " " + d + "/s.elf"));
        std::string addr, type, name;
        while (nm >> addr >> type >> name) prog.symbols[name] = uint32_t(std::stoul(addr, nullptr, 16));
        prog.image = sim::readImage(d + "/s.elf", sim::MemoryLayout{});
    } catch (...) {
        std::filesystem::remove_all(d);
        throw;
    }
    std::filesystem::remove_all(d);
    return prog;
}

sim::CoreOptions probe(bool fastForward = false) {
    sim::CoreOptions o;
    o.debugProbe = true;  // sdbbp ends a snippet
    o.fastForward = fastForward;
    return o;
}

constexpr uint32_t kEBase = 0x9D000000;
constexpr uint32_t kStatusBEV = 1u << 22, kStatusEXL = 1u << 1, kStatusERL = 1u << 2, kStatusNMI = 1u << 19;

class CoreTest : public ::testing::Test {
protected:
    CoreTest() : core(board, probe()) {}

    void SetUp() override {
        if (!kHaveCrossTools) GTEST_SKIP() << "mipsel cross binutils not found";
    }

    void load(const std::string& source) {
        prog = assemble(source);
        sim::loadImage(core.memory(), prog.image);
    }
    // Kernel mode as after the run-time's start-up: no ERL/BEV, exceptions through EBase.
    void kernelMode(uint32_t status = 0) {
        board.cp0.setStatus(status);
        board.cp0.write(15, 1, kEBase);
    }
    void cachedKseg0() { board.cp0.write(16, 0, 3); }
    StopReason runFrom(const std::string& label, Cycles budget = 200000) {
        core.setPc(prog[label]);
        return core.run(board.now() + budget);
    }
    uint32_t ram(uint32_t address) { return core.memory().read32(address & 0x1FFFFFFF); }
    uint32_t cp0(unsigned reg, unsigned sel = 0) { return board.cp0.read(reg, sel); }
    unsigned excCode() { return (cp0(13) >> 2) & 0x1F; }

    sim::Board board;
    sim::MipsCore core;
    Program prog;
};

std::string hex(uint32_t v) {
    char b[16];
    std::snprintf(b, sizeof b, "0x%08X", v);
    return b;
}

// ---------------------------------------------------------------------------------------
// Instruction groups: each row computes $v0 from fixed operands; the snippet stores it.

struct Row {
    std::string code;
    uint32_t expect;
};

// $t0..$t7
constexpr uint32_t T0 = 0x12345678, T1 = 0xF0F0F0F0, T2 = 0xFFFFFFFB /* -5 */, T6 = 0x80000000, T7 = 0xFFFFFFFF,
                   kSentinel = 0xDEADBEEF;

std::string operandSetup() {
    return "    li $t0, " + hex(T0) + "\n    li $t1, " + hex(T1) + "\n    li $t2, " + hex(T2) + "\n    li $t3, 3\n"
           "    li $t4, 0\n    li $t5, 35\n    li $t6, " + hex(T6) + "\n    li $t7, " + hex(T7) + "\n";
}

class InstructionTest : public CoreTest {
protected:
    void check(const std::vector<Row>& rows, const std::string& prelude = "") {
        std::string src = ".org 0x1000\nstart:\n" + operandSetup() + prelude + "    la $s0, out\n";
        for (size_t i = 0; i < rows.size(); ++i)
            src += "    li $v0, " + hex(kSentinel) + "\n" + rows[i].code + "\n    sw $v0, " + std::to_string(4 * i) +
                   "($s0)\n";
        src += "    sdbbp\n.data\nout: .space " + std::to_string(4 * rows.size()) + "\n" + data_;
        load(src);
        kernelMode();
        ASSERT_EQ(runFrom("start"), StopReason::Breakpoint);
        for (size_t i = 0; i < rows.size(); ++i)
            EXPECT_EQ(hex(ram(prog["out"] + 4 * i)), hex(rows[i].expect)) << rows[i].code;
    }
    std::string data_;
};

TEST_F(InstructionTest, AluShiftsAndBitFields) {
    auto ins = [](uint32_t old, uint32_t src, unsigned pos, unsigned size) {
        uint32_t mask = ((1u << size) - 1) << pos;
        return (old & ~mask) | ((src << pos) & mask);
    };
    check({
        {"    addu $v0, $t0, $t1", T0 + T1},
        {"    subu $v0, $t0, $t1", T0 - T1},
        {"    and $v0, $t0, $t1", T0 & T1},
        {"    or $v0, $t0, $t1", T0 | T1},
        {"    xor $v0, $t0, $t1", T0 ^ T1},
        {"    nor $v0, $t0, $t1", ~(T0 | T1)},
        {"    slt $v0, $t1, $t0", 1},
        {"    sltu $v0, $t1, $t0", 0},
        {"    slt $v0, $t2, $t3", 1},
        {"    sltu $v0, $t2, $t3", 0},
        {"    sll $v0, $t0, 4", T0 << 4},
        {"    srl $v0, $t1, 4", T1 >> 4},
        {"    sra $v0, $t1, 4", 0xFF0F0F0F},
        {"    sllv $v0, $t0, $t3", T0 << 3},
        {"    sllv $v0, $t0, $t5", T0 << 3},  // the amount is taken modulo 32
        {"    srlv $v0, $t1, $t3", T1 >> 3},
        {"    srav $v0, $t1, $t3", 0xFE1E1E1E},
        {"    rotr $v0, $t0, 8", 0x78123456},
        {"    rotrv $v0, $t0, $t3", (T0 >> 3) | (T0 << 29)},
        {"    addiu $v0, $t0, -1", T0 - 1},
        {"    addi $v0, $t2, 5", 0},
        {"    add $v0, $t2, $t3", 0xFFFFFFFE},
        {"    sub $v0, $t3, $t2", 8},
        {"    slti $v0, $t2, -4", 1},
        {"    sltiu $v0, $t3, -1", 1},  // the immediate is sign-extended, then compared unsigned
        {"    andi $v0, $t1, 0xFFFF", 0xF0F0},
        {"    ori $v0, $t4, 0x8000", 0x8000},  // zero-extended
        {"    xori $v0, $t0, 0xFFFF", T0 ^ 0xFFFF},
        {"    lui $v0, 0x8001", 0x80010000},
        {"    movz $v0, $t0, $t4", T0},
        {"    movz $v0, $t0, $t3", kSentinel},
        {"    movn $v0, $t0, $t3", T0},
        {"    movn $v0, $t0, $t4", kSentinel},
        {"    clz $v0, $t0", 3},
        {"    clz $v0, $t4", 32},
        {"    clo $v0, $t1", 4},
        {"    clo $v0, $t2", 29},
        {"    ext $v0, $t0, 8, 12", (T0 >> 8) & 0xFFF},
        {"    ext $v0, $t1, 0, 32", T1},
        {"    ins $v0, $t0, 4, 8", ins(kSentinel, T0, 4, 8)},
        {"    ins $v0, $t1, 31, 1", ins(kSentinel, T1, 31, 1)},
        {"    seb $v0, $t0", 0x78},
        {"    seb $v0, $t1", 0xFFFFFFF0},
        {"    seh $v0, $t1", 0xFFFFF0F0},
        {"    wsbh $v0, $t0", 0x34127856},
        {"    addu $zero, $t0, $t1\n    move $v0, $zero", 0},  // writes to $zero vanish
        {"    di $v0", 0},
        {"    ei $v0\n    di", 0},
        {"    mfc0 $v0, $15, 1", kEBase},
        {"    rdhwr $v0, $3", 2},  // Count resolution
    });
}

TEST_F(InstructionTest, MultiplyDivideWithHiLo) {
    auto lo = [](uint64_t v) { return uint32_t(v); };
    auto hi = [](uint64_t v) { return uint32_t(v >> 32); };
    int64_t sprod = int64_t(int32_t(T1)) * 3;
    uint64_t uprod = uint64_t(T1) * 3;
    uint64_t acc = uint64_t(3) << 32 | T0;  // mthi 3, mtlo T0
    int64_t p25 = int64_t(-5) * 3;
    check({
        {"    mult $t1, $t3\n    mflo $v0", lo(uint64_t(sprod))},
        {"    mult $t1, $t3\n    mfhi $v0", hi(uint64_t(sprod))},
        {"    multu $t1, $t3\n    mflo $v0", lo(uprod)},
        {"    multu $t1, $t3\n    mfhi $v0", hi(uprod)},
        {"    mult $t0, $t0\n    mfhi $v0", hi(uint64_t(int64_t(int32_t(T0)) * int32_t(T0)))},
        {"    multu $t7, $t7\n    mfhi $v0", 0xFFFFFFFE},
        {"    mul $v0, $t0, $t2", uint32_t(int32_t(T0) * -5)},
        {"    mthi $t3\n    mtlo $t0\n    madd $t2, $t3\n    mflo $v0", lo(acc + uint64_t(p25))},
        {"    mthi $t3\n    mtlo $t0\n    madd $t2, $t3\n    mfhi $v0", hi(acc + uint64_t(p25))},
        {"    mthi $t3\n    mtlo $t0\n    maddu $t2, $t3\n    mfhi $v0", hi(acc + uint64_t(T2) * 3)},
        {"    mthi $t3\n    mtlo $t0\n    msub $t2, $t3\n    mflo $v0", lo(acc - uint64_t(p25))},
        {"    mthi $t3\n    mtlo $t0\n    msubu $t2, $t3\n    mfhi $v0", hi(acc - uint64_t(T2) * 3)},
        {"    div $zero, $t2, $t3\n    mflo $v0", uint32_t(-1)},
        {"    div $zero, $t2, $t3\n    mfhi $v0", uint32_t(-2)},
        {"    divu $zero, $t1, $t3\n    mflo $v0", T1 / 3},
        {"    divu $zero, $t1, $t3\n    mfhi $v0", T1 % 3},
        {"    div $zero, $t6, $t7\n    mflo $v0", T6},  // INT_MIN / -1
        {"    div $zero, $t6, $t7\n    mfhi $v0", 0},
    });
}

TEST_F(InstructionTest, LoadsAndStoresOfEveryWidth) {
    data_ = "buf: .byte 0x81, 0x92, 0x03, 0xA4, 0x05, 0xB6, 0x07, 0xC8\nscratch: .space 16\n";
    std::string b = "($a0)", s = "($a1)";
    auto clear = [&] { return "    sw $zero, 0" + s + "\n    sw $zero, 4" + s + "\n"; };
    check(
        {
            {"    lb $v0, 0" + b, 0xFFFFFF81},
            {"    lbu $v0, 0" + b, 0x81},
            {"    lb $v0, 2" + b, 0x03},
            {"    lh $v0, 0" + b, 0xFFFF9281},
            {"    lhu $v0, 0" + b, 0x9281},
            {"    lh $v0, 2" + b, 0xFFFFA403},
            {"    lw $v0, 0" + b, 0xA4039281},
            {"    lw $v0, 4" + b, 0xC807B605},
            {"    lwl $v0, 1" + b, 0x92810000 | (kSentinel & 0xFFFF)},
            {"    lwr $v0, 1" + b, 0x00A40392 | (kSentinel & 0xFF000000)},
            {"    lwl $v0, 3" + b, 0xA4039281},
            {"    lwr $v0, 0" + b, 0xA4039281},
            {"    ulw $v0, 1" + b, 0x05A40392},
            {"    ulw $v0, 3" + b, 0x07B605A4},
            {clear() + "    sb $t0, 1" + s + "\n    lw $v0, 0" + s, 0x00007800},
            {clear() + "    sh $t0, 2" + s + "\n    lw $v0, 0" + s, 0x56780000},
            {clear() + "    swl $t0, 1" + s + "\n    lw $v0, 0" + s, 0x00001234},
            {clear() + "    swr $t0, 1" + s + "\n    lw $v0, 0" + s, 0x34567800},
            {clear() + "    swl $t0, 3" + s + "\n    lw $v0, 0" + s, T0},
            {clear() + "    usw $t0, 1" + s + "\n    lw $v0, 4" + s, 0x12},
            {clear() + "    usw $t0, 1" + s + "\n    lw $v0, 0" + s, 0x34567800},
            {"    sw $t3, 8" + s + "\n    ll $v0, 8" + s + "\n    addiu $v0, $v0, 1\n    sc $v0, 8" + s, 1},
            {"    lw $v0, 8" + s, 4},          // the store-conditional went through
            {"    sc $t0, 8" + s + "\n    move $v0, $t0", 0},  // no ll before it: fails
            {"    lw $v0, 8" + s, 4},          // and stored nothing
        },
        "    la $a0, buf\n    la $a1, scratch\n");
}

// ---------------------------------------------------------------------------------------
// Branches: every kind, taken and not, with its delay slot.

struct BranchCase {
    const char* op;  // with its operands: $t0 = a, $t1 = b
    int32_t a, b;
    bool taken, likely, link;
};

TEST_F(CoreTest, BranchesTakeTheirDelaySlots) {
    const std::vector<BranchCase> cases = {
        {"beq $t0, $t1", 5, 5, true, false, false},    {"beq $t0, $t1", 5, 6, false, false, false},
        {"bne $t0, $t1", 5, 6, true, false, false},    {"bne $t0, $t1", 5, 5, false, false, false},
        {"blez $t0", 0, 0, true, false, false},        {"blez $t0", -1, 0, true, false, false},
        {"blez $t0", 1, 0, false, false, false},       {"bgtz $t0", 1, 0, true, false, false},
        {"bgtz $t0", 0, 0, false, false, false},       {"bltz $t0", -1, 0, true, false, false},
        {"bltz $t0", 0, 0, false, false, false},       {"bgez $t0", 0, 0, true, false, false},
        {"bgez $t0", -7, 0, false, false, false},      {"beql $t0, $t1", 2, 2, true, true, false},
        {"beql $t0, $t1", 2, 3, false, true, false},   {"bnel $t0, $t1", 2, 3, true, true, false},
        {"bnel $t0, $t1", 2, 2, false, true, false},   {"blezl $t0", -3, 0, true, true, false},
        {"blezl $t0", 3, 0, false, true, false},       {"bgtzl $t0", 3, 0, true, true, false},
        {"bgtzl $t0", -3, 0, false, true, false},      {"bltzl $t0", -3, 0, true, true, false},
        {"bltzl $t0", 3, 0, false, true, false},       {"bgezl $t0", 3, 0, true, true, false},
        {"bgezl $t0", -3, 0, false, true, false},      {"bltzal $t0", -1, 0, true, false, true},
        {"bltzal $t0", 1, 0, false, false, true},      {"bgezal $t0", 1, 0, true, false, true},
        {"bgezal $t0", -1, 0, false, false, true},     {"bltzall $t0", -1, 0, true, true, true},
        {"bltzall $t0", 1, 0, false, true, true},      {"bgezall $t0", 0, 0, true, true, true},
        {"bgezall $t0", -1, 0, false, true, true},     {"b", 0, 0, true, false, false},
        {"bal", 0, 0, true, false, true},
    };
    std::string src = ".org 0x1000\nstart:\n    la $s0, out\n    la $s1, links\n";
    for (size_t i = 0; i < cases.size(); ++i) {
        const BranchCase& c = cases[i];
        std::string n = std::to_string(i);
        src += "    li $t0, " + std::to_string(c.a) + "\n    li $t1, " + std::to_string(c.b) +
               "\n    li $v0, 0\n    li $ra, 0\n    " + c.op + (std::string(c.op).find(' ') == std::string::npos ? " " : ", ") +
               "target" + n + "\n    addiu $v0, $v0, 1\nafter" + n + ":\n    addiu $v0, $v0, 10\ntarget" + n +
               ":\n    sw $v0, " + std::to_string(4 * i) + "($s0)\n    sw $ra, " + std::to_string(4 * i) + "($s1)\n";
    }
    src += "    sdbbp\n.data\nout: .space " + std::to_string(4 * cases.size()) + "\nlinks: .space " +
           std::to_string(4 * cases.size()) + "\n";
    load(src);
    kernelMode();
    ASSERT_EQ(runFrom("start"), StopReason::Breakpoint);
    for (size_t i = 0; i < cases.size(); ++i) {
        const BranchCase& c = cases[i];
        // taken: the delay slot ran, the fall-through did not; not taken: both ran, except
        // that a branch-likely nullifies its delay slot
        uint32_t expect = c.taken ? 1 : (c.likely ? 10 : 11);
        std::string what = std::string(c.op) + " with " + std::to_string(c.a) + ", " + std::to_string(c.b);
        EXPECT_EQ(ram(prog["out"] + 4 * i), expect) << what;
        EXPECT_EQ(ram(prog["links"] + 4 * i), c.link ? prog["after" + std::to_string(i)] : 0u) << what;
    }
}

TEST_F(CoreTest, JumpsLinkAndReturnThroughTheirDelaySlots) {
    load(R"(
.org 0x1000
start:
    li $v0, 0
    jal sub1
    addiu $v0, $v0, 1        # delay slot of jal
back1:
    la $t9, sub2
    jalr $s2, $t9            # link into $s2
    addiu $v0, $v0, 2
back2:
    j over
    addiu $v0, $v0, 4
    addiu $v0, $v0, 1000     # skipped
over:
    sdbbp
sub1:
    move $s1, $ra
    jr $ra
    addiu $v0, $v0, 100      # delay slot of jr
sub2:
    jr $s2
    addiu $v0, $v0, 200
)");
    kernelMode();
    ASSERT_EQ(runFrom("start"), StopReason::Breakpoint);
    EXPECT_EQ(core.reg(2), 1u + 100 + 2 + 200 + 4);
    EXPECT_EQ(core.reg(17), prog["back1"]);
    EXPECT_EQ(core.reg(18), prog["back2"]);
    EXPECT_EQ(core.pc(), prog["over"]);
}

// ---------------------------------------------------------------------------------------
// Exceptions: code, return address, delay-slot flag, bad address, vector.

const char* const kRecordingHandler = R"(
.org 0x180
general:
    mfc0 $k0, $13
    sw $k0, 0($gp)
    mfc0 $k0, $14
    sw $k0, 4($gp)
    mfc0 $k0, $8
    sw $k0, 8($gp)
    mfc0 $k0, $12
    sw $k0, 12($gp)
general_stop:
    sdbbp
)";

struct ExceptionCase {
    const char* name;
    std::string code;  // faulting instruction labelled `fault` (or its branch `branch`)
    unsigned excCode;
    const char* epcLabel;  // or nullptr with `epc`
    uint32_t epc;
    bool bd;
    uint32_t badVAddr;  // 0: not checked
};

class ExceptionTest : public CoreTest, public ::testing::WithParamInterface<ExceptionCase> {};

TEST_P(ExceptionTest, EntersTheGeneralVectorWithCauseAndEpc) {
    const ExceptionCase& c = GetParam();
    load(std::string(kRecordingHandler) + ".org 0x1000\nstart:\n    la $gp, record\n    li $v0, 7\n" + c.code +
         "\n    sdbbp\n.data\nrecord: .space 16\n");
    kernelMode();
    ASSERT_EQ(runFrom("start"), StopReason::Breakpoint);
    ASSERT_EQ(core.pc(), prog["general_stop"]) << "the general exception vector was not entered";
    uint32_t cause = ram(prog["record"]), epc = ram(prog["record"] + 4), bad = ram(prog["record"] + 8),
             st = ram(prog["record"] + 12);
    EXPECT_EQ((cause >> 2) & 0x1F, c.excCode);
    EXPECT_EQ(epc, c.epcLabel ? prog[c.epcLabel] : c.epc);
    EXPECT_EQ(bool(cause >> 31), c.bd);
    if (c.badVAddr) {
        EXPECT_EQ(hex(bad), hex(c.badVAddr));
    }
    EXPECT_TRUE(st & kStatusEXL);
    if (c.excCode == sim::exc::Ov) {
        EXPECT_EQ(core.reg(2), 7u) << "the destination of a faulting add is kept";
    }
    if (c.excCode == sim::exc::CpU) {
        EXPECT_EQ((cause >> 28) & 3, 1u) << "Cause.CE";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Core, ExceptionTest,
    ::testing::Values(
        ExceptionCase{"add", "    li $t0, 0x7FFFFFFF\n    li $t1, 1\nfault: add $v0, $t0, $t1", sim::exc::Ov, "fault", 0, false, 0},
        ExceptionCase{"addi", "    li $t0, 0x80000000\nfault: addi $v0, $t0, -1", sim::exc::Ov, "fault", 0, false, 0},
        ExceptionCase{"sub", "    li $t0, 0x80000000\n    li $t1, 1\nfault: sub $v0, $t0, $t1", sim::exc::Ov, "fault", 0, false, 0},
        ExceptionCase{"syscall", "fault: syscall", sim::exc::Sys, "fault", 0, false, 0},
        ExceptionCase{"break", "fault: break", sim::exc::Bp, "fault", 0, false, 0},
        ExceptionCase{"teq", "    li $t0, 4\n    li $t1, 4\n    tne $t0, $t1\nfault: teq $t0, $t1", sim::exc::Tr, "fault", 0, false, 0},
        ExceptionCase{"tne", "    li $t0, 4\n    teq $t0, $zero\nfault: tne $t0, $zero", sim::exc::Tr, "fault", 0, false, 0},
        ExceptionCase{"tge", "    li $t0, -1\n    tge $t0, $zero\nfault: tge $zero, $t0", sim::exc::Tr, "fault", 0, false, 0},
        ExceptionCase{"tgeu", "    li $t0, -1\n    tgeu $zero, $t0\nfault: tgeu $t0, $zero", sim::exc::Tr, "fault", 0, false, 0},
        ExceptionCase{"tlt", "    li $t0, -1\n    tlt $zero, $t0\nfault: tlt $t0, $zero", sim::exc::Tr, "fault", 0, false, 0},
        ExceptionCase{"tltu", "    li $t0, -1\n    tltu $t0, $zero\nfault: tltu $zero, $t0", sim::exc::Tr, "fault", 0, false, 0},
        ExceptionCase{"teqi", "    li $t0, -3\n    teqi $t0, 3\nfault: teqi $t0, -3", sim::exc::Tr, "fault", 0, false, 0},
        ExceptionCase{"tnei", "    li $t0, -3\n    tnei $t0, -3\nfault: tnei $t0, 3", sim::exc::Tr, "fault", 0, false, 0},
        ExceptionCase{"tgei", "    li $t0, -3\n    tgei $t0, -2\nfault: tgei $t0, -3", sim::exc::Tr, "fault", 0, false, 0},
        ExceptionCase{"tgeiu", "    li $t0, 5\n    tgeiu $t0, -1\nfault: tgeiu $t0, 5", sim::exc::Tr, "fault", 0, false, 0},
        ExceptionCase{"tlti", "    li $t0, -3\n    tlti $t0, -3\nfault: tlti $t0, -2", sim::exc::Tr, "fault", 0, false, 0},
        ExceptionCase{"tltiu", "    li $t0, 5\n    tltiu $t0, 5\nfault: tltiu $t0, -1", sim::exc::Tr, "fault", 0, false, 0},
        ExceptionCase{"reserved opcode", "fault: .word 0xFC000000", sim::exc::RI, "fault", 0, false, 0},
        ExceptionCase{"reserved function", "fault: .word 0x0000003F", sim::exc::RI, "fault", 0, false, 0},
        ExceptionCase{"tlb instruction", "fault: .word 0x42000002", sim::exc::RI, "fault", 0, false, 0},
        ExceptionCase{"fpu instruction", "fault: .word 0x44000000", sim::exc::CpU, "fault", 0, false, 0},
        ExceptionCase{"lw misaligned", "    li $t0, 0xA0000001\nfault: lw $v0, 0($t0)", sim::exc::AdEL, "fault", 0, false, 0xA0000001},
        ExceptionCase{"lh misaligned", "    li $t0, 0xA0000003\nfault: lhu $v0, 0($t0)", sim::exc::AdEL, "fault", 0, false, 0xA0000003},
        ExceptionCase{"sw misaligned", "    li $t0, 0xA0000002\nfault: sw $v0, 0($t0)", sim::exc::AdES, "fault", 0, false, 0xA0000002},
        ExceptionCase{"sh misaligned", "    li $t0, 0xA0000001\nfault: sh $v0, 0($t0)", sim::exc::AdES, "fault", 0, false, 0xA0000001},
        ExceptionCase{"load past RAM", "    li $t0, 0xA0008000\nfault: lw $v0, 0($t0)", sim::exc::DBE, "fault", 0, false, 0},
        ExceptionCase{"load past SFRs", "    li $t0, 0xBF900000\nfault: lw $v0, 0($t0)", sim::exc::DBE, "fault", 0, false, 0},
        ExceptionCase{"load from kuseg", "    li $t0, 0x00001000\nfault: lbu $v0, 0($t0)", sim::exc::DBE, "fault", 0, false, 0},
        ExceptionCase{"load from kseg2", "    li $t0, 0xC0000000\nfault: lw $v0, 0($t0)", sim::exc::DBE, "fault", 0, false, 0},
        ExceptionCase{"store to flash", "    li $t0, 0x9D002000\nfault: sw $v0, 0($t0)", sim::exc::DBE, "fault", 0, false, 0},
        ExceptionCase{"store to boot flash", "    li $t0, 0xBFC00000\nfault: sb $v0, 0($t0)", sim::exc::DBE, "fault", 0, false, 0},
        ExceptionCase{"fetch unmapped", "    li $t0, 0x9E000000\n    jr $t0\n    nop", sim::exc::IBE, nullptr, 0x9E000000, false, 0},
        ExceptionCase{"fetch misaligned", "    li $t0, 0x9D001002\n    jr $t0\n    nop", sim::exc::AdEL, nullptr, 0x9D001002, false, 0x9D001002},
        ExceptionCase{"in a taken branch's delay slot",
                      "    li $t0, 0xA0000001\nbranch: b 1f\nfault: lw $v0, 0($t0)\n1:", sim::exc::AdEL, "branch", 0, true, 0xA0000001},
        ExceptionCase{"in a not-taken branch's delay slot",
                      "branch: bne $zero, $zero, 1f\nfault: syscall\n1:", sim::exc::Sys, "branch", 0, true, 0},
        ExceptionCase{"in a jump's delay slot", "branch: jal 1f\nfault: break\n1:", sim::exc::Bp, "branch", 0, true, 0}),
    [](const ::testing::TestParamInfo<ExceptionCase>& i) {
        std::string n;
        for (char ch : std::string(i.param.name)) n += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
        return n;
    });

TEST_F(CoreTest, BootstrapVectorWhileBevIsSet) {
    load(R"(
.section .boot, "ax"
.org 0x380
bev_stop:
    sdbbp
.text
.org 0x180
    sdbbp
.org 0x1000
start:
    syscall
)");
    kernelMode(kStatusBEV);
    ASSERT_EQ(runFrom("start"), StopReason::Breakpoint);
    EXPECT_EQ(core.pc(), prog["bev_stop"]);
    EXPECT_EQ(excCode(), sim::exc::Sys);
}

TEST_F(CoreTest, NestedExceptionKeepsTheFirstReturnAddress) {
    load(R"(
.org 0x180
general:
    addiu $s0, $s0, 1
    sltiu $t0, $s0, 2
    bnez $t0, again
    nop
    sdbbp
again:
    syscall                 # with EXL set: EPC stays
.org 0x1000
start:
fault:
    break
)");
    kernelMode();
    ASSERT_EQ(runFrom("start"), StopReason::Breakpoint);
    EXPECT_EQ(excCode(), sim::exc::Sys);
    EXPECT_EQ(cp0(14), prog["fault"]);
    EXPECT_FALSE(cp0(13) >> 31);
}

TEST_F(CoreTest, EretReturnsClearsExlAndTheLinkBit) {
    load(R"(
.org 0x180
    mfc0 $k0, $14
    addiu $k0, $k0, 4
    mtc0 $k0, $14
    eret
    addiu $s1, $s1, 1       # eret has no delay slot
.org 0x1000
start:
    la $a0, word
    ll $t0, 0($a0)
    syscall
    addiu $t0, $t0, 1
    sc $t0, 0($a0)          # the exception return cleared the link
    mfc0 $s0, $12
    sdbbp
.data
word: .word 41
)");
    kernelMode();
    ASSERT_EQ(runFrom("start"), StopReason::Breakpoint);
    EXPECT_EQ(core.reg(8), 0u) << "sc after eret";
    EXPECT_EQ(ram(prog["word"]), 41u);
    EXPECT_EQ(core.reg(16) & kStatusEXL, 0u);
    EXPECT_EQ(core.reg(17), 0u);
}

TEST_F(CoreTest, EretWithErlReturnsToErrorEpc) {
    load(R"(
.org 0x1000
start:
    la $t0, back
    mtc0 $t0, $30
    eret
    sdbbp
back:
    mfc0 $s0, $12
    sdbbp
)");
    kernelMode(kStatusERL);
    ASSERT_EQ(runFrom("start"), StopReason::Breakpoint);
    EXPECT_EQ(core.pc(), prog["back"] + 4);
    EXPECT_EQ(core.reg(16) & kStatusERL, 0u);
}

// ---------------------------------------------------------------------------------------
// Interrupts in external-controller mode.

const char* const kInterruptProgram = R"(
.org 0x180
    li $s7, 0x180
    b record
    nop
.org 0x200
    li $s7, 0x200
    b record
    nop
.org 0x200 + 24 * 32
    li $s7, 0x500
    b record
    nop
.org 0x200 + 24 * 64
    li $s7, 0x800
    b record
    nop
.org 0xE00
record:
    mfc0 $s4, $13
    mfc0 $s5, $14
    mfc0 $s6, $12
    sdbbp
.org 0x1000
start:
    addiu $s1, $s1, 1
spin:
    addiu $s2, $s2, 1
    b spin
    addiu $s3, $s3, 1
.section .boot, "ax"
.org 0x380
    li $s7, 0x380
    la $k0, record
    jr $k0
    nop
)";

struct InterruptCase {
    const char* name;
    uint32_t status;     // IE, IPL, EXL, BEV
    uint32_t cause;      // IV
    unsigned vs;         // IntCtl.VS
    bool multiVector;
    unsigned priority;   // UART1 vector priority
    uint32_t handler;    // 0: not taken
};

class InterruptTest : public CoreTest, public ::testing::WithParamInterface<InterruptCase> {};

TEST_P(InterruptTest, UartRequestEntersItsVector) {
    const InterruptCase& c = GetParam();
    load(kInterruptProgram);
    kernelMode(c.status);
    board.cp0.write(12, 1, c.vs << 5);
    board.cp0.write(13, 0, c.cause);
    board.bus.write(INTCON.address, c.multiVector ? INTCON_MVEC.mask : 0);
    board.bus.write(IPC6.address, c.priority << platform::priorityShift(PIC32_VECTOR_UART_1));
    board.bus.write(IEC0SET.address, 1u << sim::irq::U1RX);
    core.setPc(prog["start"]);
    core.run(board.now() + 100);
    board.intc.raise(sim::irq::U1RX);
    StopReason r = core.run(board.now() + 1000);
    if (!c.handler) {
        EXPECT_EQ(r, StopReason::TimeLimit);
        EXPECT_EQ(core.stats().interrupts, 0u);
        return;
    }
    ASSERT_EQ(r, StopReason::Breakpoint);
    EXPECT_EQ(core.reg(23), c.handler);
    uint32_t cause = core.reg(20);
    EXPECT_EQ((cause >> 2) & 0x1F, sim::exc::Int);
    EXPECT_EQ((cause >> 10) & 0x3F, c.priority) << "Cause.RIPL";
    EXPECT_TRUE(core.reg(22) & kStatusEXL);
    uint32_t epc = core.reg(21);
    EXPECT_TRUE(epc == prog["spin"] || epc == prog["spin"] + 4) << hex(epc);
    if (cause >> 31) {
        EXPECT_EQ(epc, prog["spin"] + 4) << "in a delay slot: the branch";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Core, InterruptTest,
    ::testing::Values(InterruptCase{"vectored", 1, 1u << 23, 1, true, 2, 0x500},
                      InterruptCase{"spacing64", 1, 1u << 23, 2, true, 2, 0x800},
                      InterruptCase{"single_vector", 1, 1u << 23, 1, false, 2, 0x200},
                      InterruptCase{"iv_clear_general", 1, 0, 1, true, 2, 0x180},
                      InterruptCase{"bev_set_bootstrap", 1 | kStatusBEV, 1u << 23, 1, true, 2, 0x380},
                      InterruptCase{"above_ipl", 1 | (1u << 10), 1u << 23, 1, true, 2, 0x500},
                      InterruptCase{"at_ipl", 1 | (2u << 10), 1u << 23, 1, true, 2, 0},
                      InterruptCase{"ie_clear", 0, 1u << 23, 1, true, 2, 0},
                      InterruptCase{"exl_set", 1 | kStatusEXL, 1u << 23, 1, true, 2, 0},
                      InterruptCase{"erl_set", 1 | kStatusERL, 1u << 23, 1, true, 2, 0},
                      InterruptCase{"priority_zero", 1, 1u << 23, 1, true, 0, 0}),
    [](const ::testing::TestParamInfo<InterruptCase>& i) { return std::string(i.param.name); });

// An interrupt that arrives before a delay slot returns to the branch, with Cause.BD.
TEST_F(CoreTest, InterruptBeforeADelaySlotReturnsToTheBranch) {
    load(kInterruptProgram);
    std::vector<std::pair<uint32_t, bool>> seen;
    for (Cycles offset = 0; offset < 3; ++offset) {  // the loop is three instructions long
        sim::Board b;
        sim::MipsCore c(b, probe());
        sim::loadImage(c.memory(), prog.image);
        b.cp0.setStatus(1);
        b.cp0.write(15, 1, kEBase);
        b.cp0.write(16, 0, 3);  // cached: one cycle per instruction
        b.cp0.write(12, 1, 1 << 5);
        b.cp0.write(13, 0, 1u << 23);
        b.bus.write(INTCON.address, 0x1000);
        b.bus.write(IPC6.address, 2 << 2);
        b.bus.write(IEC0SET.address, 1u << sim::irq::U1RX);
        c.setPc(prog["start"]);
        b.sched.at(100 + offset, [&b] { b.intc.raise(sim::irq::U1RX); });
        ASSERT_EQ(c.run(1000), StopReason::Breakpoint);
        seen.push_back({c.reg(21), bool(c.reg(20) >> 31)});
    }
    // One of three successive cycles falls before the delay slot: it resumes at the branch.
    int inSlot = 0;
    for (auto [epc, bd] : seen) {
        if (bd) {
            ++inSlot;
            EXPECT_EQ(epc, prog["spin"] + 4);
        }
    }
    EXPECT_EQ(inSlot, 1);
}

TEST_F(CoreTest, CoreTimerInterruptComesAtCompare) {
    load(R"(
.org 0x200
    mfc0 $s5, $9            # Count on entry
    sdbbp
.org 0x1000
start:
    mfc0 $s4, $9
    addiu $s4, $s4, 100
    mtc0 $s4, $11
    ei
1:  addiu $s1, $s1, 1
    b 1b
    nop
)");
    kernelMode();
    cachedKseg0();
    board.cp0.write(12, 1, 1 << 5);
    board.cp0.write(13, 0, 1u << 23);
    board.bus.write(INTCON.address, 0x1000);
    board.bus.write(IPC0.address, 3 << 2);  // IPC0: core timer priority 3
    board.bus.write(IEC0SET.address, 1u << sim::irq::CoreTimer);
    ASSERT_EQ(runFrom("start", 10000), StopReason::Breakpoint);
    uint32_t compare = core.reg(20), entered = core.reg(21);
    EXPECT_GE(entered, compare);
    EXPECT_LE(entered - compare, 3u) << "taken within a few instructions of Count reaching Compare";
    EXPECT_EQ((cp0(13) >> 10) & 0x3F, 3u);
}

TEST_F(CoreTest, WaitSleepsUntilAnInterruptWakesIt) {
    load(R"(
.org 0x200 + 24 * 32
    li $t0, 1 << 27
    lui $t1, 0xBF88
    sw $t0, 0x1034($t1)      # IFS0CLR: U1RX
    eret
.org 0x1000
start:
    ei
    wait
    sdbbp
)");
    kernelMode();
    board.cp0.write(12, 1, 1 << 5);
    board.cp0.write(13, 0, 1u << 23);
    board.bus.write(INTCON.address, 0x1000);
    board.bus.write(IPC6.address, 2 << 2);
    board.bus.write(IEC0SET.address, 1u << sim::irq::U1RX);
    board.sched.at(50000, [this] { board.intc.raise(sim::irq::U1RX); });
    ASSERT_EQ(runFrom("start", 100000), StopReason::Breakpoint);
    EXPECT_GE(core.cycles(), 50000u);
    EXPECT_LT(core.cycles(), 50100u);
    EXPECT_LT(core.stats().instructions, 20u) << "the core slept instead of spinning";
    EXPECT_EQ(core.stats().interrupts, 1u);
}

// ---------------------------------------------------------------------------------------
// Reset, NMI, SFR widths, timing.

TEST_F(CoreTest, SoftwareResetRestartsFromTheResetVector) {
    load(R"(
.section .boot, "ax"
reset:
    la $t0, boots
    lw $t1, 0($t0)
    addiu $t1, $t1, 1
    sw $t1, 0($t0)           # RAM keeps its contents over a reset
    sltiu $t2, $t1, 3
    beqz $t2, done
    nop
    mtc0 $zero, $12          # leave the reset state behind, to see it again
    lui $t0, 0xBF81
    li $t1, 0xAA996655
    li $t2, 0x556699AA
    li $t3, 1
    sw $zero, -0x0DD0($t0)   # SYSKEY
    sw $t1, -0x0DD0($t0)
    sw $t2, -0x0DD0($t0)
    sw $t3, -0x09E8($t0)     # RSWRSTSET
    lw $t4, -0x09F0($t0)     # RSWRST: the reset takes effect
    b .
    nop
done:
    mfc0 $s0, $12
    sdbbp
.data
boots: .word 0
)");
    ASSERT_EQ(core.run(1000000), StopReason::Breakpoint);
    EXPECT_EQ(core.pc(), prog["done"] + 4);
    EXPECT_EQ(ram(prog["boots"]), 3u);
    ASSERT_EQ(board.resets().count(), 2u);
    EXPECT_EQ(core.stats().resets, 2u);
    EXPECT_LT(board.resets().first()[0].time, board.resets().first()[1].time);
    EXPECT_EQ(core.reg(16) & (kStatusBEV | kStatusERL), kStatusBEV | kStatusERL) << "CP0 in its reset state";
}

TEST_F(CoreTest, NmiEntersTheResetVectorWithNmiSet) {
    load(R"(
.section .boot, "ax"
    mfc0 $s0, $12
    mfc0 $s1, $30
    sdbbp
.text
.org 0x1000
start:
1:  addiu $s2, $s2, 1
    b 1b
    nop
)");
    kernelMode(1);
    ASSERT_EQ(runFrom("start", 500), StopReason::TimeLimit);
    core.nmi();
    ASSERT_EQ(core.run(board.now() + 100), StopReason::Breakpoint);
    EXPECT_EQ(core.reg(16) & (kStatusNMI | kStatusBEV | kStatusERL), kStatusNMI | kStatusBEV | kStatusERL);
    EXPECT_GE(core.reg(17), prog["start"]);
    EXPECT_LE(core.reg(17), prog["start"] + 4) << "ErrorEPC: the loop (the branch when in its slot)";
}

TEST_F(CoreTest, NarrowSfrAccessesTouchOnlyTheirByteLanes) {
    load(R"(
.org 0x1000
start:
    li $t0, IPC6
    li $t1, 0x01020304
    sw $t1, 0($t0)
    li $t1, 0x1F
    sb $t1, 2($t0)
    li $t1, 0x0A0B
    sh $t1, 0($t0)
    li $t1, 0x04
    sb $t1, 9($t0)           # IPC6SET, byte 1
    lbu $s0, 3($t0)
    lhu $s1, 2($t0)
    lb $s2, 1($t0)
    sdbbp
)");
    kernelMode();
    ASSERT_EQ(runFrom("start"), StopReason::Breakpoint);
    EXPECT_EQ(hex(board.bus.at("IPC6").value()), hex(0x011F0E0B));
    EXPECT_EQ(core.reg(16), 0x01u);
    EXPECT_EQ(core.reg(17), 0x011Fu);
    EXPECT_EQ(core.reg(18), 0x0Eu);
}

struct TimingCase {
    const char* name;
    std::string code;  // between `start` and the sdbbp
    bool cached;
    uint32_t checon;   // CHECON (PFMWS, PREFEN)
    uint32_t bmxcon;
    Cycles cycles;
};

class TimingTest : public CoreTest, public ::testing::WithParamInterface<TimingCase> {};

TEST_P(TimingTest, CyclesPerSnippet) {
    const TimingCase& c = GetParam();
    load(".org 0x1000\nstart:\n" + c.code + "\n    sdbbp\n.data\nw: .word 0\n");
    kernelMode();
    if (c.cached) cachedKseg0();
    board.bus.write(CHECON.address, c.checon);
    board.bus.write(BMXCON.address, c.bmxcon);
    core.setPc(prog["start"] | (c.cached ? 0 : 0x20000000));  // uncached: through KSEG1
    Cycles t0 = core.cycles();
    ASSERT_EQ(core.run(t0 + 10000), StopReason::Breakpoint);
    EXPECT_EQ(core.cycles() - t0, c.cycles);
}

const std::string kEightNops = "    nop\n    nop\n    nop\n    nop\n    nop\n    nop\n    nop\n    nop";

INSTANTIATE_TEST_SUITE_P(
    Core, TimingTest,
    ::testing::Values(
        // The sdbbp's own line (a third 16-byte line) counts in the uncached cases.
        TimingCase{"cached_one_per_instruction", kEightNops, true, 7, 0, 8},
        TimingCase{"uncached_wait_states_per_line", kEightNops, false, 2, 0, 8 + 3 * 2},
        TimingCase{"uncached_prefetch_hides_next_lines", kEightNops, false, 0x32, 0, 8 + 2},
        TimingCase{"mult_32_bit_then_mflo", "    li $t0, 0x12345\n    mult $t0, $t0\n    mflo $v0", true, 0, 0, 2 + 1 + 2},
        TimingCase{"mult_16_bit_then_mflo", "    li $t0, 0x1234\n    mult $t0, $t0\n    mflo $v0", true, 0, 0, 1 + 1 + 1},
        TimingCase{"mul_32_bit", "    li $t0, 0x12345\n    mul $v0, $t0, $t0", true, 0, 0, 2 + 3},
        TimingCase{"div_32_bit_then_mflo", "    li $t0, 0x12345678\n    div $zero, $t0, $t0\n    mflo $v0", true, 0, 0, 2 + 1 + 33},
        TimingCase{"div_8_bit_then_mflo", "    li $t0, 100\n    divu $zero, $t0, $t0\n    mflo $v0", true, 0, 0, 1 + 1 + 12},
        TimingCase{"div_overlaps_other_work", "    li $t0, 100\n    divu $zero, $t0, $t0\n" + kEightNops + "\n    mflo $v0", true, 0, 0, 1 + 1 + 12},
        TimingCase{"ram_wait_state", "    la $t0, w\n    lw $v0, 0($t0)\n    sw $v0, 0($t0)", true, 0, 0x40, 2 + 2 + 2},
        TimingCase{"ram_no_wait_state", "    la $t0, w\n    lw $v0, 0($t0)\n    sw $v0, 0($t0)", true, 0, 0, 2 + 2},
        TimingCase{"sfr_access", "    li $t0, CHECON\n    lw $v0, 0($t0)", true, 0, 0, 2 + 1 + 3}),
    [](const ::testing::TestParamInfo<TimingCase>& i) { return std::string(i.param.name); });

TEST_F(CoreTest, CountAdvancesAtHalfTheClock) {
    load(R"(
.org 0x1000
start:
    mfc0 $s0, $9
    .rept 200
    nop
    .endr
    mfc0 $s1, $9
    sdbbp
)");
    kernelMode();
    cachedKseg0();
    ASSERT_EQ(runFrom("start"), StopReason::Breakpoint);
    // read at the end of cycles 1 and 202
    EXPECT_EQ(core.reg(16), 0u);
    EXPECT_EQ(core.reg(17), 101u);
}

// ---------------------------------------------------------------------------------------
// Fast-forward: the same program with and without it leaves identical traces.

const char* const kPollingProgram = R"(
.org 0x200 + 24 * 32                # UART1: echo what arrives
    lui $k0, 0xBF80
    lw $k1, 0x6030($k0)             # U1RXREG
    sw $k1, 0x6020($k0)             # U1TXREG
    li $k1, 1 << 27
    lui $k0, 0xBF88
    sw $k1, 0x1034($k0)             # IFS0CLR
    eret
.org 0x1000
start:
    li $t0, 0x9D000000
    mtc0 $t0, $15, 1
    li $t0, 0x20
    mtc0 $t0, $12, 1
    li $t0, 0x00800000
    mtc0 $t0, $13
    li $t0, 3
    mtc0 $t0, $16                   # KSEG0 cacheable
    li $t0, 0xFFFFFFFF - 250000     # a delay spans the Count wrap
    mtc0 $t0, $9
    lui $s4, 0xBF88
    li $t0, 0x1000
    sw $t0, 0x1008($s4)             # INTCONSET: MVEC
    li $t0, 2 << 2
    sw $t0, 0x10F0($s4)             # IPC6: UART1 priority 2
    li $t0, 1 << 27
    sw $t0, 0x1068($s4)             # IEC0SET: U1RX
    li $s0, U1MODE
    li $t0, 86
    sw $t0, 0x40($s0)               # U1BRG: 57600 baud at 80 MHz
    li $t0, 0x1400
    sw $t0, 0x10($s0)               # U1STA: UTXEN, URXEN
    li $t0, 0x8000
    sw $t0, 0($s0)                  # ON
    li $s1, TRISD
    li $t0, 2
    sw $t0, 4($s1)                  # TRISDCLR: RD1 output
    ei
    li $s3, 8
pass:
    la $a0, msg
putc:
    lbu $t1, 0($a0)
    beqz $t1, sent
    nop
1:  lw $t2, 0x10($s0)
    andi $t2, $t2, 0x200            # UTXBF
    bnez $t2, 1b
    nop
    sw $t1, 0x20($s0)
    b putc
    addiu $a0, $a0, 1
sent:
    li $t0, 2
    sw $t0, 0x2C($s1)               # LATDINV: RD1
    li $a2, 120000                  # 3 ms
    jal delay
    nop
    addiu $s3, $s3, -1
    bnez $s3, pass
    nop
2:  lw $t2, 0x10($s0)
    andi $t2, $t2, 0x100            # TRMT
    beqz $t2, 2b
    nop
idle:
    b idle
    nop

# Busy-wait $a2 Count ticks from now, through the wrap if the end lies beyond it.
delay:
    mfc0 $a0, $9
    addu $a1, $a0, $a2
    sltu $t0, $a1, $a0
    bnez $t0, 5f
    nop
4:  mfc0 $v0, $9
    sltu $v0, $v0, $a1
    bnez $v0, 4b
    nop
    jr $ra
    nop
5:  mfc0 $v0, $9
    sltu $t0, $a0, $v0
    bnez $t0, 5b
    nop
    mfc0 $v0, $9
    sltu $t0, $v0, $a1
    bnez $t0, 5b
    nop
    jr $ra
    nop
msg: .asciz "tick\r\n"
)";

struct RunTrace {
    std::vector<sim::PinChange> pins;
    std::vector<sim::ConsoleByte> console;
    uint32_t regs[32];
    uint32_t pc;
    Cycles cycles;
    sim::CoreStats stats;
};

// `stopAt`: a board limit that ends the run early; it is then resumed to the end.
RunTrace runPolling(const Program& prog, bool fastForward, double seconds, double stopAt = 0) {
    sim::Board board;
    sim::MipsCore core(board, probe(fastForward));
    sim::Terminal terminal(board.sched, board.uart1.txNet(), board.uart1.rxNet(), board.sysclkHz());
    board.nets.recordAll();
    sim::loadImage(core.memory(), prog.image);
    board.cp0.setStatus(0);
    core.setPc(prog["start"]);
    terminal.sendAt(board.cycles(0.004), "ab");
    terminal.sendAt(board.cycles(0.0205), "xyz");
    if (stopAt > 0) {
        board.stopAt(board.cycles(stopAt));
        EXPECT_EQ(core.run(board.cycles(seconds)), StopReason::TimeLimit);
        EXPECT_LT(core.cycles(), board.cycles(stopAt) + 100) << "ended at the limit";
    }
    core.run(board.cycles(seconds));
    RunTrace t;
    t.pins = board.nets.changes();
    t.console = terminal.received();
    for (unsigned i = 0; i < 32; ++i) t.regs[i] = core.reg(i);
    t.pc = core.pc();
    t.cycles = core.cycles();
    t.stats = core.stats();
    return t;
}

void expectSameTraces(const RunTrace& slow, const RunTrace& fast) {
    ASSERT_EQ(slow.pins.size(), fast.pins.size());
    for (size_t i = 0; i < slow.pins.size(); ++i) {
        EXPECT_EQ(slow.pins[i].time, fast.pins[i].time) << i;
        EXPECT_EQ(slow.pins[i].net, fast.pins[i].net) << i;
        EXPECT_EQ(slow.pins[i].level, fast.pins[i].level) << i;
        if (::testing::Test::HasFailure()) return;
    }
    ASSERT_EQ(slow.console.size(), fast.console.size());
    for (size_t i = 0; i < slow.console.size(); ++i) {
        EXPECT_EQ(slow.console[i].value, fast.console[i].value);
        EXPECT_EQ(slow.console[i].start, fast.console[i].start);
    }
    for (unsigned i = 0; i < 32; ++i) EXPECT_EQ(slow.regs[i], fast.regs[i]) << "register " << i;
    EXPECT_EQ(slow.pc, fast.pc);
    EXPECT_EQ(slow.cycles, fast.cycles);
    EXPECT_EQ(slow.stats.interrupts, fast.stats.interrupts);
}

TEST_F(CoreTest, FastForwardLeavesEveryTraceAsWithout) {
    load(kPollingProgram);
    RunTrace slow = runPolling(prog, false, 0.03), fast = runPolling(prog, true, 0.03);

    std::string text;
    for (const auto& b : slow.console) text += char(b.value);
    EXPECT_NE(text.find("tick\r\n"), std::string::npos);
    EXPECT_NE(text.find('a'), std::string::npos) << "the echo of typed input";

    expectSameTraces(slow, fast);
    EXPECT_EQ(slow.stats.instructions, fast.stats.instructions + fast.stats.skippedInstructions);

    EXPECT_EQ(slow.stats.fastForwards, 0u);
    EXPECT_GT(fast.stats.fastForwards, 0u);
    EXPECT_GT(fast.stats.skippedCycles, fast.cycles * 8 / 10) << "most of the time is spent polling";
}

// A limit set on the board ends the run between two instructions, even inside an access;
// resumed, the run goes on as if it had never stopped.
TEST_F(CoreTest, BoardStopAtEndsTheRunAndItResumesUnchanged) {
    load(kPollingProgram);
    RunTrace straight = runPolling(prog, false, 0.01);
    for (double stop : {0.0001234, 0.0047, 0.0052})  // inside start-up, a UART poll, a delay
        for (bool ff : {false, true}) {
            SCOPED_TRACE(std::to_string(stop) + (ff ? " with fast-forward" : ""));
            expectSameTraces(straight, runPolling(prog, ff, 0.01, stop));
        }
}

}  // namespace
