// Every image's ELF program headers load each segment where the core runs it: the
// physical load address is the run address without its KSEG bits. A device programmer
// (and the HEX file) writes the load addresses; code that runs elsewhere reads the wrong
// constants.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/system/system_fixture.h"

namespace {

uint32_t le32(const std::vector<uint8_t>& f, size_t at) {
    uint32_t v;
    std::memcpy(&v, f.data() + at, 4);
    return v;
}

TEST(LoadAddresses, EveryLoadedSegmentRunsWhereItIsProgrammed) {
    const std::vector<std::pair<std::string, std::string>> images = {
        {systemtest::kImages, "clockdemo.elf"},
        {systemtest::kImages, "carddemo.elf"},
        {systemtest::kTestImages, "irms_test.elf"},
        {systemtest::kTestImages, "no_handler_test.elf"},
        {systemtest::kTestImages, "invalid_instruction_test.elf"},
    };
    for (const auto& [dir, name] : images) {
        SCOPED_TRACE(name);
        std::ifstream in(systemtest::imagePath(dir, name), std::ios::binary);
        std::vector<uint8_t> f((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        ASSERT_GE(f.size(), 52u);
        uint32_t phoff = le32(f, 28);
        unsigned phnum = f[44] | f[45] << 8;
        ASSERT_LE(phoff + 32u * phnum, f.size());
        for (unsigned i = 0; i < phnum; ++i) {
            size_t h = phoff + 32 * i;
            uint32_t type = le32(f, h), vaddr = le32(f, h + 8), paddr = le32(f, h + 12), filesz = le32(f, h + 16);
            if (type != 1 || filesz == 0) continue;  // PT_LOAD with contents
            EXPECT_EQ(paddr, vaddr & 0x1FFFFFFFu) << "segment " << i << " runs at 0x" << std::hex << vaddr;
        }
    }
}

}  // namespace
