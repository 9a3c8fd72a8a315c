# Speed of the M4K core simulator: against Unicorn (Debian's libunicorn-dev, also the
# reference of the differential tests) and QEMU on one guest image (engine_bench), and the
# real firmware images on the virtual board (board_speed). Both need the target preset's
# images; their smoke tests keep them building and running, with no time asserted.
find_package(PkgConfig QUIET)
if(PKG_CONFIG_FOUND)
    pkg_check_modules(UNICORN QUIET IMPORTED_TARGET unicorn)
endif()
if(NOT UNICORN_FOUND)
    message(STATUS "unicorn not found: the engine benchmark runs without it, the differential test skips")
endif()

add_executable(engine_bench ${CMAKE_SOURCE_DIR}/bench/engine_bench.cpp)
target_include_directories(engine_bench PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(engine_bench PRIVATE sim)
target_compile_definitions(engine_bench PRIVATE TEST_IMAGES_DIR="${CMAKE_SOURCE_DIR}/build/target/test-images")
if(UNICORN_FOUND)
    target_compile_definitions(engine_bench PRIVATE HAVE_UNICORN=1)
    target_link_libraries(engine_bench PRIVATE PkgConfig::UNICORN)
endif()

add_executable(board_speed ${CMAKE_SOURCE_DIR}/bench/board_speed.cpp)
target_include_directories(board_speed PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(board_speed PRIVATE sim)
target_compile_definitions(board_speed PRIVATE IMAGES_DIR="${CMAKE_SOURCE_DIR}/build/target/images")

add_test(NAME bench/engine_bench_smoke COMMAND engine_bench --millions 1 --runs 1)
add_test(NAME bench/board_speed_smoke
         COMMAND board_speed --runs 1 --on-seconds 2 --off-seconds 0.2 --card-seconds 0.2)
set_tests_properties(bench/engine_bench_smoke bench/board_speed_smoke PROPERTIES LABELS bench)

# Peak memory of pic32sim for a short and a long run.
add_executable(memory_bench ${CMAKE_SOURCE_DIR}/bench/memory_bench.cpp)
target_include_directories(memory_bench PRIVATE ${CMAKE_SOURCE_DIR})
target_compile_definitions(memory_bench PRIVATE IMAGES_DIR="${CMAKE_SOURCE_DIR}/build/target/images"
                                                PIC32SIM="$<TARGET_FILE:pic32sim>")

# A block-translation prototype, measured on the int workload (no simulator code uses it).
add_executable(translate_proto ${CMAKE_SOURCE_DIR}/bench/translate_proto.cpp)
target_include_directories(translate_proto PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(translate_proto PRIVATE sim)
target_compile_definitions(translate_proto PRIVATE TEST_IMAGES_DIR="${CMAKE_SOURCE_DIR}/build/target/test-images")
add_test(NAME bench/translate_proto_smoke COMMAND translate_proto --millions 1)
set_tests_properties(bench/translate_proto_smoke PROPERTIES LABELS bench)
