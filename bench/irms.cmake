# Samples per second that calcIrms achieves on the virtual board (simulated time).
add_executable(irms_bench ${CMAKE_SOURCE_DIR}/bench/irms_bench.cpp)
target_include_directories(irms_bench PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(irms_bench PRIVATE irmsmeter)
# The on-chip figure boots the irms test image from the target preset.
target_compile_definitions(irms_bench PRIVATE TEST_IMAGES_DIR="${CMAKE_SOURCE_DIR}/build/target/test-images")
