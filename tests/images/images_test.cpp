// Checks on the built deliverables (build/target/images), with the cross binutils: where
// the configuration words and vectors sit, where each vector leads, and what each file
// defines and needs.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>

namespace {

const std::string kImages = IMAGES_DIR;

std::string run(const std::string& command) {
    std::string out;
    FILE* p = popen((command + " 2>&1").c_str(), "r");
    if (!p) return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    pclose(p);
    return out;
}

bool exists(const std::string& path) { return std::ifstream(path).good(); }

// The 32-bit word at a virtual address of an ELF image, from its section contents.
class Image {
public:
    explicit Image(const std::string& path) : path_(path) {
        std::istringstream in(run("mipsel-linux-gnu-objdump -d --no-show-raw-insn " + path));
        std::string line;
        std::regex insn(R"(^\s*([0-9a-f]+):\s+(\S+)\s*(.*)$)");
        std::smatch m;
        while (std::getline(in, line))
            if (std::regex_match(line, m, insn)) code_[std::stoul(m[1], nullptr, 16)] = m[2].str() + " " + m[3].str();
        std::istringstream syms(run("mipsel-linux-gnu-nm " + path));
        while (std::getline(syms, line)) {
            std::istringstream f(line);
            std::string addr, type, name;
            if (f >> addr >> type >> name) symbols_[name] = uint32_t(std::stoul(addr, nullptr, 16));
        }
    }
    // The instruction at `address` ("j 9d000123 <name>", ...).
    std::string at(uint32_t address) const {
        auto it = code_.find(address);
        return it == code_.end() ? "" : it->second;
    }
    // Follows an unconditional jump or branch at `address` to the name of its target.
    std::string jumpTarget(uint32_t address) const {
        std::smatch m;
        std::string i = at(address);
        static const std::regex jump(R"(^(j|b)\s+[0-9a-f]+ <([^>+]+)>)");
        return std::regex_search(i, m, jump) ? m[2].str() : "";
    }
    uint32_t symbol(const std::string& name) const {
        auto it = symbols_.find(name);
        return it == symbols_.end() ? 0 : it->second;
    }
    const std::map<uint32_t, std::string>& code() const { return code_; }

private:
    std::string path_;
    std::map<uint32_t, std::string> code_;
    std::map<std::string, uint32_t> symbols_;
};

uint32_t wordAt(const std::string& elf, uint32_t address) {
    std::string dump = run("mipsel-linux-gnu-objdump -s --start-address=" + std::to_string(address) +
                           " --stop-address=" + std::to_string(address + 4) + " " + elf);
    std::smatch m;
    std::regex row(R"(\n\s*[0-9a-f]+ ([0-9a-f]{8}))");
    if (!std::regex_search(dump, m, row)) return 0;
    uint32_t le = uint32_t(std::stoul(m[1], nullptr, 16));
    return __builtin_bswap32(le);  // objdump prints the bytes in memory order
}

std::set<std::string> symbolsOf(const std::string& file, const std::string& types) {
    std::set<std::string> out;
    std::istringstream in(run("mipsel-linux-gnu-nm " + file));
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream f(line);
        std::string a, b, c;
        f >> a >> b;
        if (!(f >> c)) {  // undefined: "U name"
            c = b;
            b = a;
        }
        if (types.find(b) != std::string::npos) out.insert(c);
    }
    return out;
}

class Images : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        path = kImages + "/" + GetParam() + ".elf";
        if (!exists(path)) GTEST_FAIL() << path << " is missing: build the target preset";
    }
    std::string path;
};

TEST_P(Images, ConfigurationWordsAndResetVector) {
    EXPECT_EQ(wordAt(path, 0xBFC02FF4), 0xFFF879D9u);
    EXPECT_EQ(wordAt(path, 0xBFC02FF8), 0xFF6F0AFBu);
    EXPECT_EQ(wordAt(path, 0xBFC02FFC), 0x7FFFFFFFu);
    EXPECT_NE(run("mipsel-linux-gnu-readelf -h " + path).find("Entry point address:               0xbfc00000"),
              std::string::npos);
    Image image(path);
    EXPECT_EQ(image.symbol("_reset"), 0xBFC00000u);
}

TEST_P(Images, EveryVectorLeadsToItsHandlerOrTheResetPath) {
    Image image(path);
    const std::map<unsigned, std::string> bound = {{8, "Timer2Handler"}, {24, "intUart1Handler"}};
    for (unsigned v = 0; v < 64; ++v) {
        SCOPED_TRACE("vector " + std::to_string(v));
        std::string target = image.jumpTarget(0x9FC01200 + 32 * v);
        auto it = bound.find(v);
        if (it != bound.end()) {
            // The handler's own symbol or its vector alias, at the handler's address.
            EXPECT_EQ(image.symbol(target), image.symbol(it->second));
        } else {
            EXPECT_EQ(target, "_DefaultInterrupt");
        }
    }
    // The default handlers and the exception entries end in the software reset.
    for (const char* handler : {"_DefaultInterrupt", "_general_exception_handler", "_bootstrap_exception_handler"}) {
        SCOPED_TRACE(handler);
        uint32_t a = image.symbol(handler);
        bool reaches = false;
        for (uint32_t pc = a; pc < a + 64 && !reaches; pc += 4) reaches = image.jumpTarget(pc) == "_software_reset";
        EXPECT_TRUE(reaches);
    }
    EXPECT_NE(image.at(0x9FC01180 + 0x54).find("_general_exception_handler"), std::string::npos);
    EXPECT_NE(image.at(0xBFC00380).find("lui"), std::string::npos);  // la k0, _bootstrap_exception_handler
    EXPECT_NE(image.symbol("_software_reset"), 0u);
    // The reset routine unlocks the system and reads RSWRST.
    uint32_t reset = image.symbol("_software_reset");
    std::string body;
    for (uint32_t pc = reset; pc < reset + 64; pc += 4) body += image.at(pc) + "\n";
    EXPECT_NE(body.find("di"), std::string::npos);
    EXPECT_NE(body.find("-2544(t0)"), std::string::npos);  // lw from RSWRST
}

TEST_P(Images, NoFloatingPointInstructionAndNothingUndefined) {
    Image image(path);
    std::regex fpu(R"(^(lwc1|swc1|ldc1|sdc1|mtc1|mfc1|ctc1|cfc1|bc1[ft]|[a-z]+\.(s|d|w)\b|c\.[a-z]+\.(s|d)))");
    for (const auto& [address, insn] : image.code())
        EXPECT_FALSE(std::regex_search(insn, fpu)) << std::hex << address << ": " << insn;
    EXPECT_TRUE(symbolsOf(path, "U").empty());
}

TEST_P(Images, HexFileCarriesPhysicalAddresses) {
    std::ifstream hex(kImages + "/" + GetParam() + ".hex");
    ASSERT_TRUE(hex.good());
    std::set<std::string> segments;
    std::string line;
    while (std::getline(hex, line))
        if (line.size() >= 13 && line.substr(7, 2) == "04") segments.insert(line.substr(9, 4));
    EXPECT_TRUE(segments.count("1D00"));
    EXPECT_TRUE(segments.count("1FC0"));
    for (const auto& s : segments) EXPECT_TRUE(s == "1D00" || s == "1FC0") << s;
}

INSTANTIATE_TEST_SUITE_P(Deliverables, Images, ::testing::Values("clockdemo", "carddemo"));

struct Module {
    const char* file;
    std::set<std::string> exports;
    std::set<std::string> allowedNeeds;
};

TEST(Modules, ExportExactlyTheirNamesAndNeedOnlyTheListedOnes) {
    const std::set<std::string> softFloat = {"__addsf3", "__subsf3", "__mulsf3",  "__divsf3", "__floatsisf",
                                             "__floatunsisf", "__eqsf2", "__nesf2", "__ltsf2", "__lesf2",
                                             "__gtsf2", "__gesf2", "__fixsfsi", "sqrtf"};
    std::set<std::string> irmsNeeds = softFloat;
    irmsNeeds.insert("readADC");
    const Module modules[] = {
        {"main.o", {"main"}, {"initUART", "initSD", "initMedia", "delayms"}},
        {"irmsmeter.o", {"calcIrms"}, irmsNeeds},
        {"bitclock.o", {"char_to_bcd", "setTimeDate", "getTimeDate"}, {"delayus", "delayms"}},
    };
    for (const Module& m : modules) {
        SCOPED_TRACE(m.file);
        std::string path = kImages + "/" + m.file;
        if (!exists(path)) {
            ADD_FAILURE() << path << " is missing";
            continue;
        }
        EXPECT_EQ(symbolsOf(path, "TDBRCWVu"), m.exports);  // weak and unique definitions count too
        for (const auto& need : symbolsOf(path, "U")) EXPECT_TRUE(m.allowedNeeds.count(need)) << need;
        EXPECT_NE(run("mipsel-linux-gnu-readelf -h " + path).find("REL (Relocatable file)"), std::string::npos);
    }
    // The main module carries the configuration words.
    std::string sections = run("mipsel-linux-gnu-readelf -S " + kImages + "/main.o");
    for (const char* s : {".config_BFC02FF4", ".config_BFC02FF8", ".config_BFC02FFC"})
        EXPECT_NE(sections.find(s), std::string::npos) << s;
}

}  // namespace
