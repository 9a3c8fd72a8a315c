# Samples per second that calcIrms achieves on the virtual board (simulated time).
add_executable(irms_bench ${CMAKE_SOURCE_DIR}/bench/irms_bench.cpp)
target_include_directories(irms_bench PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(irms_bench PRIVATE irmsmeter)
