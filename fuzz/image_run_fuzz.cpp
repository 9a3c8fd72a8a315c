// libFuzzer target: the input as a firmware image run by the core on the demo board, with
// fast-forward on and off.
#include <cstdio>
#include <cstdlib>

#include "fuzz/entries.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string fault = fuzzing::runImageInput({data, size});
    if (!fault.empty()) {
        std::fprintf(stderr, "image_run: %s\n", fault.c_str());
        std::abort();
    }
    return 0;
}
