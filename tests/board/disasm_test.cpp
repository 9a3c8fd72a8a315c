// The disassembler against mipsel-linux-gnu-objdump -d: every instruction of the built
// images, a listing of forms the images lack, and a sweep over the encoding space.
#include "sim/core/disasm.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "sim/core/mips_decode.h"

namespace fs = std::filesystem;
using sim::mips::disassemble;

namespace {

const fs::path kRoot = fs::path(__FILE__).parent_path().parent_path().parent_path();

std::string run(const std::string& command) {
    std::string out;
    FILE* p = popen((command + " 2>&1").c_str(), "r");
    if (!p) return out;
    char buf[4096];
    while (size_t n = fread(buf, 1, sizeof buf, p)) out.append(buf, n);
    pclose(p);
    return out;
}

struct Line {
    uint32_t pc, word;
    std::string text;        // as objdump printed it, symbol annotation included
    std::string annotation;  // "main+0x40" from a trailing " <main+0x40>", or empty
};

std::vector<Line> objdump(const fs::path& file) {
    static const std::regex insn(R"(^\s*([0-9a-f]+):\t([0-9a-f]{8}) \t(.*?)\s*$)");
    static const std::regex symbol(R"( <([^<>]*)>$)");
    std::vector<Line> lines;
    std::string listing = run("mipsel-linux-gnu-objdump -d " + file.string());
    std::smatch m;
    size_t start = 0;
    while (start < listing.size()) {
        size_t end = listing.find('\n', start);
        if (end == std::string::npos) end = listing.size();
        std::string line = listing.substr(start, end - start);
        start = end + 1;
        if (!std::regex_match(line, m, insn)) continue;
        Line l{uint32_t(std::stoul(m[1], nullptr, 16)), uint32_t(std::stoul(m[2], nullptr, 16)), m[3], ""};
        std::smatch s;
        if (std::regex_search(l.text, s, symbol)) l.annotation = s[1];
        lines.push_back(l);
    }
    return lines;
}

// Assembles `source` for the M4K and returns objdump's listing of it.
std::vector<Line> assemble(const std::string& source) {
    fs::path dir = fs::temp_directory_path() / ("disasm_test_" + std::to_string(getpid()));
    fs::create_directories(dir);
    std::ofstream(dir / "a.s") << ".text\n.set noreorder\nstart:\n" << source << "\n";
    std::string err = run("mipsel-linux-gnu-as -march=m4k -o " + (dir / "a.o").string() + " " + (dir / "a.s").string());
    EXPECT_EQ(err, "");
    std::vector<Line> lines = objdump(dir / "a.o");
    fs::remove_all(dir);
    return lines;
}

// Our text for objdump's line, with the symbolizer answering what objdump annotated.
std::string ours(const Line& l) {
    return disassemble(l.word, l.pc, [&](uint32_t) {
        return l.annotation;
    });
}

// Compares a listing line by line; returns the number compared.
size_t expectSameAsObjdump(const std::vector<Line>& lines, const std::string& where) {
    size_t mismatches = 0;
    for (const Line& l : lines) {
        std::string text = ours(l);
        if (text != l.text && ++mismatches <= 20)
            ADD_FAILURE() << where << " at " << std::hex << l.pc << ": word " << l.word << ", objdump \"" << l.text
                          << "\", ours \"" << text << "\"";
    }
    return lines.size();
}

TEST(Disasm, EveryInstructionOfTheImagesAsObjdump) {
    std::vector<fs::path> files;
    for (const char* dir : {"build/target/images", "build/target/test-images"}) {
        if (!fs::is_directory(kRoot / dir)) continue;
        for (const auto& e : fs::directory_iterator(kRoot / dir)) {
            std::string ext = e.path().extension();
            if (ext == ".elf" || (ext == ".o" && std::string(dir) == "build/target/images")) files.push_back(e.path());
        }
    }
    ASSERT_FALSE(files.empty()) << "no images under " << kRoot / "build/target" << ": build the target preset";
    size_t compared = 0, annotated = 0;
    for (const fs::path& file : files) {
        std::vector<Line> lines = objdump(file);
        EXPECT_FALSE(lines.empty()) << file;
        compared += expectSameAsObjdump(lines, file.filename());
        for (const Line& l : lines) annotated += !l.annotation.empty();
    }
    EXPECT_GT(annotated, 0u);
    std::printf("compared %zu instructions (%zu with a symbol) in %zu listings\n", compared, annotated, files.size());
}

// Forms the images do not contain, written as a programmer would.
const char* const kListing = R"(
    nop; ssnop; ehb; pause; sll $0,$0,7; sll $2,$3,31; srl $2,$3,1; sra $2,$3,4; rotr $2,$3,9
    sllv $2,$3,$4; srlv $2,$3,$4; srav $2,$3,$4; rotrv $2,$3,$4
    add $2,$3,$4; addu $2,$3,$4; sub $2,$3,$4; subu $2,$3,$4; and $2,$3,$4; or $2,$3,$4; xor $2,$3,$4
    nor $2,$3,$4; nor $2,$3,$0; slt $2,$3,$4; sltu $2,$3,$4; movz $2,$3,$4; movn $2,$3,$4
    move $2,$3; or $2,$3,$0; addu $2,$0,$3; negu $2,$3; neg $2,$3; sub $2,$0,$3
    addi $2,$3,-5; addiu $2,$3,32767; addiu $2,$0,-32768; slti $2,$3,-1; sltiu $2,$3,7
    andi $2,$3,0xffff; ori $2,$3,1; ori $2,$0,0x8000; xori $2,$3,0x10; lui $2,0xffff
    mult $2,$3; multu $2,$3; div $0,$2,$3; divu $0,$2,$3; mfhi $2; mflo $2; mthi $2; mtlo $2
    madd $2,$3; maddu $2,$3; msub $2,$3; msubu $2,$3; mul $2,$3,$4; clz $2,$3; clo $2,$3
    ext $2,$3,0,32; ext $2,$3,31,1; ins $2,$3,0,32; ins $2,$3,31,1; wsbh $2,$3; seb $2,$3; seh $2,$3
    j start; jal start; jr $31; jr.hb $31; jalr $25; jalr $2,$25; jalr.hb $25; jalr.hb $2,$25
    b start; bal start; beq $2,$3,start; beq $2,$0,start; bne $2,$3,start; bne $2,$0,start
    blez $2,start; bgtz $2,start; bltz $2,start; bgez $2,start; bltzal $2,start; bgezal $2,start
    beql $2,$3,start; beql $2,$0,start; bnel $2,$3,start; bnel $2,$0,start; blezl $2,start; bgtzl $2,start
    bltzl $2,start; bgezl $2,start; bltzall $2,start; bgezall $2,start
    tge $2,$3; tgeu $2,$3,5; tlt $2,$3,1023; tltu $2,$3; teq $2,$3; teq $2,$0,7; tne $2,$3,1
    tgei $2,-1; tgeiu $2,3; tlti $2,32767; tltiu $2,0; teqi $2,-32768; tnei $2,9
    syscall; syscall 0xfffff; break; break 7; break 7,3; sdbbp; sdbbp 0x3ff
    sync; sync 4; sync 0x10; sync 0x13; sync 1
    lb $2,-1($3); lbu $2,0($3); lh $2,2($3); lhu $2,32767($3); lw $2,-32768($sp); sb $2,1($3)
    sh $2,2($3); sw $2,4($3); lwl $2,3($3); lwr $2,0($3); swl $2,3($3); swr $2,0($3)
    ll $2,0($3); sc $2,4($3); cache 0x14,0($4); cache 0x1f,-4($4); pref 0,0($4); pref 30,16($4); synci 8($4)
    mfc0 $2,$9; mtc0 $2,$11; mfc0 $2,$12,1; mfc0 $2,$12,2; mtc0 $2,$15,1; mfc0 $2,$16,3; mfc0 $2,$16,7
    mfc0 $2,$21; mtc0 $2,$23; mtc0 $2,$24; mfc0 $2,$30; mtc0 $2,$31; mfc0 $2,$9,6; mfc0 $2,$25,1
    rdpgpr $2,$3; wrpgpr $2,$3; di; di $2; ei; ei $3; eret; deret; wait; wait 0x123
    rdhwr $3,$0; rdhwr $3,$2; rdhwr $3,$29
    mfc1 $2,$f3; mtc1 $2,$f3; cfc1 $2,$31; ctc1 $2,$31; mfhc1 $2,$f4; mthc1 $2,$f4
    lwc1 $f2,4($3); swc1 $f2,-4($3); ldc1 $f2,8($3); sdc1 $f2,8($3)
    add.s $f0,$f1,$f2; sub.d $f0,$f2,$f4; mul.s $f0,$f1,$f2; div.d $f0,$f2,$f4; abs.s $f0,$f1
    neg.d $f0,$f2; mov.s $f0,$f1; sqrt.d $f0,$f2; cvt.d.s $f0,$f1; cvt.s.w $f0,$f1; cvt.w.d $f0,$f2
    trunc.w.s $f0,$f1; c.eq.s $f1,$f2; c.lt.d $fcc2,$f2,$f4; bc1f start; bc1t $fcc1,start
    movt $2,$3,$fcc1; movf $2,$3,$fcc0; movn.s $f0,$f1,$2
    mfc2 $2,$5; mtc2 $2,$5; mfc2 $2,$5,1; cfc2 $2,$1; ctc2 $2,$1; lwc2 $5,4($3); swc2 $5,4($3)
    bc2f start; bc2t $cc1,start; c2 0x12345
    .word 0x0000000f | (31 << 6)
    .word 0x00000008 | (3 << 6)
    .word 0x7c000024
    .word 0xfc000000
)";

TEST(Disasm, HandPickedFormsAsObjdump) {
    std::vector<Line> lines = assemble(kListing);
    ASSERT_GT(lines.size(), 200u);
    size_t compared = expectSameAsObjdump(lines, "listing");
    std::printf("compared %zu hand-picked instructions\n", compared);
}

// Every primary opcode with every function field, the sub-opcode fields of the coprocessor,
// REGIMM and SPECIAL2/3 spaces, with the other bits random or cleared. objdump also knows the
// ASEs (DSP, MT, MSA, ...) and FPU forms the M4K lacks; for a word the core would not execute we
// accept the ".word" fallback in place of objdump's text.
TEST(Disasm, EncodingSweepAsObjdump) {
    uint32_t seed = 0x2545F491;
    auto next = [&] {
        seed ^= seed << 13;
        seed ^= seed >> 17;
        seed ^= seed << 5;
        return seed;
    };
    static const uint32_t kClears[] = {0, 0x03E00000, 0x001F0000, 0x0000F800, 0x000007C0,
                                       0x03FF07C0, 0x0000FFC0, 0x03FFFFC0};
    std::vector<uint32_t> words;
    for (uint32_t op = 0; op < 64; ++op)
        for (uint32_t fn = 0; fn < 64; ++fn)
            for (uint32_t clear : kClears) words.push_back((op << 26) | ((next() & 0x03FFFFC0) & ~clear) | fn);
    for (uint32_t op : {0x01u, 0x10u, 0x11u, 0x12u, 0x13u, 0x1Cu, 0x1Fu})
        for (uint32_t rs = 0; rs < 32; ++rs)
            for (uint32_t rt = 0; rt < 32; ++rt)
                for (uint32_t clear : {0u, 0x7FFu, 0x7F8u})
                    words.push_back((op << 26) | (rs << 21) | (rt << 16) | (next() & 0xFFFF & ~clear));
    for (uint32_t reg = 0; reg < 32; ++reg)
        for (uint32_t sel = 0; sel < 8; ++sel) words.push_back(0x40020000 | (reg << 11) | sel);

    std::string source;
    for (uint32_t w : words) source += ".word " + std::to_string(w) + "\n";
    std::vector<Line> lines = assemble(source);
    ASSERT_EQ(lines.size(), words.size());

    size_t mismatches = 0, fallbacks = 0;
    for (const Line& l : lines) {
        std::string text = ours(l);
        if (text == l.text) continue;
        uint8_t op = sim::mips::decode(l.word, l.pc).op;
        bool coreTraps = op == sim::mips::kReserved || op == sim::mips::kCopUnusable;
        if (coreTraps && text.rfind(".word\t", 0) == 0) {
            ++fallbacks;
            continue;
        }
        if (++mismatches <= 30)
            ADD_FAILURE() << std::hex << "word " << l.word << " at " << l.pc << ": objdump \"" << l.text
                          << "\", ours \"" << text << "\"";
    }
    EXPECT_EQ(mismatches, 0u);
    std::printf("compared %zu words, %zu shown by objdump as ASE/FPU forms we leave as .word\n", lines.size(),
                fallbacks);
}

TEST(Disasm, SymbolizerAnnotatesTargetsOnly) {
    auto sym = [](uint32_t a) { return a == 0x9d000340 ? std::string("main+0x40") : std::string(); };
    EXPECT_EQ(disassemble(0x0f4000d0, 0x9d000000, sym), "jal\t9d000340 <main+0x40>");
    EXPECT_EQ(disassemble(0x0f4000d0, 0x9d000000), "jal\t9d000340");
    EXPECT_EQ(disassemble(0x1040ffff, 0x9d000344, sym), "beqz\tv0,9d000344");
    EXPECT_EQ(disassemble(0x27bdffe8, 0x9d000340, [](uint32_t) -> std::string { ADD_FAILURE(); return "x"; }),
              "addiu\tsp,sp,-24");
}

}  // namespace
