# The drivers built natively against the virtual board, the tests and the tools.
find_package(GTest REQUIRED)
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)

file(GLOB_RECURSE SIM_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/sim/*.cpp)
add_library(sim STATIC ${SIM_SOURCES})
target_include_directories(sim PUBLIC ${CMAKE_SOURCE_DIR})

add_library(platform_host STATIC platform/host/host_backend.cpp)
target_link_libraries(platform_host PUBLIC sim)

add_driver_profile(drivers_clockdemo CLOCKDEMO)
add_driver_profile(drivers_carddemo CARDDEMO)
target_link_libraries(drivers_clockdemo PUBLIC platform_host)
target_link_libraries(drivers_carddemo PUBLIC platform_host)

# The components' own CMake: run-time routines, modules, the demos and tools, benchmarks.
foreach(part runtime/runtime.cmake measure/irmsmeter/irmsmeter.cmake variants/bitclock/bitclock.cmake
             apps/clockdemo/clockdemo.cmake apps/carddemo/carddemo.cmake tools/pic32sim.cmake
             bench/core.cmake bench/irms.cmake bench/image_sizes.cmake)
    include(${CMAKE_SOURCE_DIR}/${part})
endforeach()

# Every test, in one place.
enable_testing()
include(${CMAKE_SOURCE_DIR}/tests/tests.cmake)
