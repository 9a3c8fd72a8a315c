# The drivers built natively against the virtual board, the tests and the tools.
find_package(GTest REQUIRED)
include(GoogleTest)
enable_testing()
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

# One test program per file, so that each capability's tests build and fail on their own:
# tests/<suite>/<name>_test.cpp becomes test_<suite>_<name>. The suites link the board's
# models alone, or the drivers in one profile.
function(add_test_suite suite)
    file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/${suite}/*_test.cpp)
    foreach(src ${sources})
        get_filename_component(stem ${src} NAME_WE)
        string(REGEX REPLACE "_test$" "" stem ${stem})
        set(exe test_${suite}_${stem})
        add_executable(${exe} ${src})
        target_include_directories(${exe} PRIVATE ${CMAKE_SOURCE_DIR})
        target_link_libraries(${exe} PRIVATE ${ARGN} GTest::gtest GTest::gtest_main)
        gtest_discover_tests(${exe} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 900)
    endforeach()
endfunction()

add_test_suite(board platform_host)
add_test_suite(clockdemo drivers_clockdemo)
add_test_suite(carddemo drivers_carddemo)

# The deliverables built by the target preset, inspected with the cross binutils.
add_test_suite(images)
if(TARGET test_images_images)
    target_compile_definitions(test_images_images PRIVATE IMAGES_DIR="${CMAKE_SOURCE_DIR}/build/target/images")
endif()

# On the chip the platform layer costs nothing: checked on the cross-compiled probe.
set(TARGET_CHECK_DIR ${CMAKE_SOURCE_DIR}/build/target-check)
add_test(NAME target.sfr_access_is_one_instruction
         COMMAND ${CMAKE_COMMAND}
                 -DOBJECT=${TARGET_CHECK_DIR}/CMakeFiles/sfr_probe.dir/tests/target/sfr_probe.cpp.obj
                 -DOBJDUMP=mipsel-linux-gnu-objdump
                 -P ${CMAKE_SOURCE_DIR}/tests/target/check_sfr_access.cmake)
# An SFR address is written in the register table only.
add_test(NAME sources.sfr_addresses_only_in_register_table
         COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${CMAKE_SOURCE_DIR} -P ${CMAKE_SOURCE_DIR}/tests/sources/check_sfr_addresses.cmake)

# Capabilities bring their own CMake: tools, benchmarks, run-time routines, modules.
file(GLOB EXTRA_CMAKE CONFIGURE_DEPENDS
     ${CMAKE_SOURCE_DIR}/tools/*.cmake ${CMAKE_SOURCE_DIR}/bench/*.cmake ${CMAKE_SOURCE_DIR}/runtime/*.cmake
     ${CMAKE_SOURCE_DIR}/measure/*/*.cmake ${CMAKE_SOURCE_DIR}/variants/*/*.cmake ${CMAKE_SOURCE_DIR}/apps/*/*.cmake)
foreach(extra ${EXTRA_CMAKE})
    include(${extra})
endforeach()
