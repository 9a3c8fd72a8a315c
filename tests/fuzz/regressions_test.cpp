// Every input that ever failed under a fuzzer (fuzz/regressions/<target>/) and the seed
// corpus (fuzz/corpus/<target>/), fed to the fuzz target's own entry function.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/entries.h"
#include "sim/core/image_loader.h"

namespace {

namespace fs = std::filesystem;
using Entry = std::string (*)(std::span<const uint8_t>);

std::vector<fs::path> filesIn(const fs::path& dir) {
    std::vector<fs::path> files;
    if (fs::is_directory(dir))
        for (const auto& e : fs::directory_iterator(dir))
            if (e.is_regular_file() && e.path().filename().string()[0] != '.') files.push_back(e.path());
    std::sort(files.begin(), files.end());
    return files;
}

std::vector<uint8_t> bytesOf(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct Target {
    const char* name;
    Entry entry;
};

void PrintTo(const Target& t, std::ostream* os) { *os << t.name; }

class FuzzTarget : public ::testing::TestWithParam<Target> {};

TEST_P(FuzzTarget, EveryRegressionAndSeedPasses) {
    const fs::path root = FUZZ_DIR;
    ASSERT_FALSE(filesIn(root / "corpus" / GetParam().name).empty()) << "the seed corpus is missing";
    for (const char* folder : {"regressions", "corpus"})
        for (const fs::path& file : filesIn(root / folder / GetParam().name)) {
            std::vector<uint8_t> input = bytesOf(file);
            EXPECT_EQ(GetParam().entry(input), "") << file;
        }
}

INSTANTIATE_TEST_SUITE_P(Inputs, FuzzTarget,
                         ::testing::Values(Target{"image_loader", fuzzing::loadImageInput},
                                           Target{"image_run", [](std::span<const uint8_t> in) { return fuzzing::runImageInput(in); }}),
                         [](const auto& info) { return std::string(info.param.name); });

// Seeds the loader rejects would leave the fuzzer mutating error paths only; a real image
// it rejects is a loader fault.
TEST(FuzzCorpus, LoaderSeedsAreImagesTheLoaderAccepts) {
    const auto layout = sim::MemoryLayout::forChip(sim::Chip::MX440F256H);
    for (const fs::path& file : filesIn(fs::path(FUZZ_DIR) / "corpus" / "image_loader"))
        EXPECT_NO_THROW(sim::readImage(file.string(), layout)) << file;
}

}  // namespace
