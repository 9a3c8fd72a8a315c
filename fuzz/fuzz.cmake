# The fuzz targets' entry functions, built in every host build: the regression runner and
# the random-image test (tests/fuzz) call them. With FUZZ_LIBFUZZER (the `fuzz` preset,
# clang with -fsanitize=fuzzer-no-link,address,undefined) the libFuzzer programs too.
add_library(fuzz_entries STATIC ${CMAKE_SOURCE_DIR}/fuzz/entries.cpp)
target_include_directories(fuzz_entries PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(fuzz_entries PUBLIC sim)

option(FUZZ_LIBFUZZER "Build the libFuzzer programs (clang only)" OFF)
if(FUZZ_LIBFUZZER)
    foreach(target image_loader image_run)
        add_executable(fuzz_${target} ${CMAKE_SOURCE_DIR}/fuzz/${target}_fuzz.cpp)
        target_link_libraries(fuzz_${target} PRIVATE fuzz_entries)
        target_link_options(fuzz_${target} PRIVATE -fsanitize=fuzzer)
    endforeach()
endif()
