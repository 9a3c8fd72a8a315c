# The engine benchmark's bare-metal image (target preset, build/target/test-images):
# integer loops, calcIrms from the delivered irmsmeter.o and the clock demo's formatter on
# the run-time's soft-float and sprintf, laid out to run unchanged on the core simulator,
# Unicorn and QEMU's Malta board (bench/engine_image/engine_image.ld).
set(ENGINE_IMAGE_DIR ${CMAKE_SOURCE_DIR}/bench/engine_image)
add_library(engine_bench_image_main OBJECT ${ENGINE_IMAGE_DIR}/start.S ${ENGINE_IMAGE_DIR}/loops.S
                                           ${ENGINE_IMAGE_DIR}/workloads.cpp ${ENGINE_IMAGE_DIR}/clock_format.cpp)
target_include_directories(engine_bench_image_main PRIVATE ${CMAKE_SOURCE_DIR})
set_source_files_properties(${ENGINE_IMAGE_DIR}/clock_format.cpp PROPERTIES COMPILE_DEFINITIONS main=clockdemo_main)
add_executable(engine_bench_image $<TARGET_OBJECTS:engine_bench_image_main> ${IMAGES_DIR}/irmsmeter.o)
target_link_libraries(engine_bench_image PRIVATE runtime_c)
add_dependencies(engine_bench_image module_irmsmeter)
set_target_properties(engine_bench_image PROPERTIES OUTPUT_NAME engine_bench SUFFIX ".elf"
                                                    RUNTIME_OUTPUT_DIRECTORY ${TEST_IMAGES_DIR} LINKER_LANGUAGE CXX)
# The clock demo's main comes along with its formatter and is collected away.
target_link_options(engine_bench_image PRIVATE -static -no-pie -nostdlib -nostartfiles -Wl,--build-id=none
                    -Wl,--gc-sections -Wl,--no-undefined -Wl,-z,noexecstack -T${ENGINE_IMAGE_DIR}/engine_image.ld)
set_property(TARGET engine_bench_image APPEND PROPERTY LINK_DEPENDS ${ENGINE_IMAGE_DIR}/engine_image.ld)
