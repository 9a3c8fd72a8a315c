# The M4K core simulator's speed benchmark, side by side with Unicorn (Debian's
# libunicorn-dev, also the reference of the differential tests); it also boots the target
# build's clockdemo.elf.
find_package(PkgConfig QUIET)
if(PKG_CONFIG_FOUND)
    pkg_check_modules(UNICORN QUIET IMPORTED_TARGET unicorn)
endif()
if(NOT UNICORN_FOUND)
    message(STATUS "unicorn not found: the core benchmark runs without it, the differential test skips")
endif()

add_executable(core_bench ${CMAKE_SOURCE_DIR}/bench/core_bench.cpp)
target_include_directories(core_bench PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(core_bench PRIVATE sim)
target_compile_definitions(core_bench PRIVATE IMAGES_DIR="${CMAKE_SOURCE_DIR}/build/target/images")
if(UNICORN_FOUND)
    target_compile_definitions(core_bench PRIVATE HAVE_UNICORN=1)
    target_link_libraries(core_bench PRIVATE PkgConfig::UNICORN)
endif()

# Peak memory of pic32sim for a short and a long run.
add_executable(memory_bench ${CMAKE_SOURCE_DIR}/bench/memory_bench.cpp)
target_include_directories(memory_bench PRIVATE ${CMAKE_SOURCE_DIR})
target_compile_definitions(memory_bench PRIVATE IMAGES_DIR="${CMAKE_SOURCE_DIR}/build/target/images"
                                                PIC32SIM="$<TARGET_FILE:pic32sim>")
