// libFuzzer target: sim::readImage's ELF and Intel HEX parsing on the demo board's layout.
#include <cstdio>
#include <cstdlib>

#include "fuzz/entries.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string fault = fuzzing::loadImageInput({data, size});
    if (!fault.empty()) {
        std::fprintf(stderr, "image_loader: %s\n", fault.c_str());
        std::abort();
    }
    return 0;
}
