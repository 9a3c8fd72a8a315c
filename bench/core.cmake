# The M4K core simulator side by side with Unicorn (Debian's libunicorn-dev): the speed
# benchmark (which also boots the target build's clockdemo.elf), the differential test's
# link, and the cross tools that the core tests assemble their snippets with.
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

foreach(target core_bench test_board_mips_unicorn test_board_mips_leaf_functions)
    if(TARGET ${target} AND UNICORN_FOUND)
        target_compile_definitions(${target} PRIVATE HAVE_UNICORN=1)
        target_link_libraries(${target} PRIVATE PkgConfig::UNICORN)
    endif()
endforeach()

# The core tests assemble their snippets with the cross binutils at run time.
find_program(MIPSEL_AS mipsel-linux-gnu-as)
find_program(MIPSEL_LD mipsel-linux-gnu-ld)
find_program(MIPSEL_NM mipsel-linux-gnu-nm)
find_program(MIPSEL_OBJCOPY mipsel-linux-gnu-objcopy)
foreach(target test_board_mips_core test_board_image_loader)
    if(TARGET ${target} AND MIPSEL_AS AND MIPSEL_LD AND MIPSEL_NM AND MIPSEL_OBJCOPY)
        target_compile_definitions(${target} PRIVATE MIPSEL_AS="${MIPSEL_AS}" MIPSEL_LD="${MIPSEL_LD}"
                                                     MIPSEL_NM="${MIPSEL_NM}" MIPSEL_OBJCOPY="${MIPSEL_OBJCOPY}")
    endif()
endforeach()

# The firmware's call-free functions in the core and in Unicorn, taken from the images that
# the target preset builds.
if(TARGET test_board_mips_leaf_functions)
    target_compile_definitions(test_board_mips_leaf_functions PRIVATE
                               LEAF_IMAGES_DIR="${CMAKE_SOURCE_DIR}/build/target/images"
                               LEAF_TEST_IMAGES_DIR="${CMAKE_SOURCE_DIR}/build/target/test-images")
endif()
