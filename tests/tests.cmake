# Every test of the host preset, registered here and nowhere else. Each test program is one
# file, tests/<folder>/<name>_test.cpp, built as test_<folder>_<name> and linked with what
# its folder tests; ctest names carry the folder ("board/SfrBus.Companions") and every test
# is labelled with its folder, so `ctest -L system` or `ctest -L board` picks a folder.
# Tests of the real images also carry the image's label (`ctest -L clockdemo`).
include(GoogleTest)

set(TARGET_IMAGES_DIR ${CMAKE_SOURCE_DIR}/build/target/images)
set(TARGET_TEST_IMAGES_DIR ${CMAKE_SOURCE_DIR}/build/target/test-images)
set(TARGET_CHECK_DIR ${CMAKE_SOURCE_DIR}/build/target-check)

# Labels beyond the folder, by test file.
set(EXTRA_LABELS_system_clockdemo clockdemo)
set(EXTRA_LABELS_system_carddemo carddemo)
set(EXTRA_LABELS_system_golden_traces clockdemo carddemo)
set(EXTRA_LABELS_carddemo_carddemo_app carddemo)
set(EXTRA_LABELS_clockdemo_clockdemo_app clockdemo)
# Libraries beyond the folder's, by test file.
set(EXTRA_LIBS_clockdemo_clockdemo_app clockdemo_app)
set(EXTRA_LIBS_carddemo_carddemo_app carddemo_app carddemo_app_earlier)

function(add_test_folder folder)
    file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/${folder}/*_test.cpp)
    foreach(src ${sources})
        get_filename_component(stem ${src} NAME_WE)
        string(REGEX REPLACE "_test$" "" stem ${stem})
        set(exe test_${folder}_${stem})
        add_executable(${exe} ${src})
        target_include_directories(${exe} PRIVATE ${CMAKE_SOURCE_DIR})
        target_link_libraries(${exe} PRIVATE ${ARGN} ${EXTRA_LIBS_${folder}_${stem}} GTest::gtest GTest::gtest_main)
        target_compile_definitions(${exe} PRIVATE IMAGES_DIR="${TARGET_IMAGES_DIR}"
                                                  TEST_IMAGES_DIR="${TARGET_TEST_IMAGES_DIR}")
        gtest_discover_tests(${exe} TEST_PREFIX "${folder}/" DISCOVERY_TIMEOUT 60
                             PROPERTIES TIMEOUT 900 LABELS "${folder};${EXTRA_LABELS_${folder}_${stem}}")
    endforeach()
endfunction()

# A check run by CMake in script mode on what the target presets built.
function(add_script_test folder name script)
    add_test(NAME ${folder}/${name} COMMAND ${CMAKE_COMMAND} ${ARGN} -P ${CMAKE_SOURCE_DIR}/${script})
    set_tests_properties(${folder}/${name} PROPERTIES LABELS "${folder};target")
endfunction()

# The board's models alone; the drivers in each profile; the modules over their drivers.
add_test_folder(board platform_host)
add_test_folder(clockdemo drivers_clockdemo)
add_test_folder(carddemo drivers_carddemo)
add_test_folder(measure irmsmeter)
add_test_folder(bitclock bitclock_host bitclock_i2c1_reference)
add_test_folder(runtime runtime_host)
# The deliverables built by the target preset, inspected with the cross binutils, and the
# images booted on the core simulator.
add_test_folder(images)
add_test_folder(system sim)
# The fuzz targets' entry functions: every input that ever failed under the fuzzer, the
# seed corpus and a few hundred random images go through them.
include(${CMAKE_SOURCE_DIR}/fuzz/fuzz.cmake)
add_test_folder(fuzz fuzz_entries)
target_compile_definitions(test_fuzz_regressions PRIVATE FUZZ_DIR="${CMAKE_SOURCE_DIR}/fuzz")
file(GLOB system_tests CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/system/*_test.cpp)
foreach(src ${system_tests})
    get_filename_component(stem ${src} NAME_WE)
    string(REGEX REPLACE "_test$" "" stem ${stem})
    target_compile_definitions(test_system_${stem} PRIVATE PIC32SIM="$<TARGET_FILE:pic32sim>")
    add_dependencies(test_system_${stem} pic32sim)
endforeach()
target_compile_definitions(test_system_programs PRIVATE PROGRAMS_DIR="${CMAKE_RUNTIME_OUTPUT_DIRECTORY}")
add_dependencies(test_system_programs clockdemo carddemo carddemo-main engine_bench board_speed irms_bench image_sizes memory_bench)

# The core against Unicorn, and the core tests that assemble their snippets with the cross
# binutils at run time.
foreach(target test_board_mips_unicorn test_board_mips_leaf_functions)
    if(UNICORN_FOUND)
        target_compile_definitions(${target} PRIVATE HAVE_UNICORN=1)
        target_link_libraries(${target} PRIVATE PkgConfig::UNICORN)
    endif()
endforeach()
target_compile_definitions(test_board_mips_leaf_functions PRIVATE LEAF_IMAGES_DIR="${TARGET_IMAGES_DIR}"
                                                                  LEAF_TEST_IMAGES_DIR="${TARGET_TEST_IMAGES_DIR}")
find_program(MIPSEL_AS mipsel-linux-gnu-as)
find_program(MIPSEL_LD mipsel-linux-gnu-ld)
find_program(MIPSEL_NM mipsel-linux-gnu-nm)
find_program(MIPSEL_OBJCOPY mipsel-linux-gnu-objcopy)
if(MIPSEL_AS AND MIPSEL_LD AND MIPSEL_NM AND MIPSEL_OBJCOPY)
    foreach(target test_board_mips_core test_board_image_loader)
        target_compile_definitions(${target} PRIVATE MIPSEL_AS="${MIPSEL_AS}" MIPSEL_LD="${MIPSEL_LD}"
                                                     MIPSEL_NM="${MIPSEL_NM}" MIPSEL_OBJCOPY="${MIPSEL_OBJCOPY}")
    endforeach()
endif()

# An SFR address is written in the register table only.
add_script_test(sources sfr_addresses_only_in_register_table tests/sources/check_sfr_addresses.cmake
                -DSOURCE_DIR=${CMAKE_SOURCE_DIR})
# On the chip the platform layer costs nothing: checked on the cross-compiled probe.
add_script_test(target sfr_access_is_one_instruction tests/target/check_sfr_access.cmake
                -DOBJECT=${TARGET_CHECK_DIR}/CMakeFiles/sfr_probe.dir/tests/target/sfr_probe.cpp.obj
                -DOBJDUMP=mipsel-linux-gnu-objdump)
# calcIrms's arithmetic is the run-time's soft-float, one rounded call per step.
add_script_test(measure irmsmeter_rounds_every_step_in_software tests/measure/check_soft_float.cmake
                -DOBJECT=${TARGET_CHECK_DIR}/CMakeFiles/irmsmeter.dir/measure/irmsmeter/irmsmeter.cpp.obj
                -DOBJDUMP=mipsel-linux-gnu-objdump)
# The run-time's routines as compiled for the chip: integer code only.
add_script_test(runtime runtime_uses_no_fpu_and_no_helpers tests/runtime/check_target_objects.cmake
                -DOBJECT_DIR=${TARGET_CHECK_DIR}/CMakeFiles/runtime_lib.dir/runtime
                -DOBJDUMP=mipsel-linux-gnu-objdump -DNM=mipsel-linux-gnu-nm)
# The images' debug information leaves their code as it is.
add_script_test(target debug_information_leaves_the_code_alone tests/target/check_debug_info.cmake
                -DCOMMANDS=${CMAKE_SOURCE_DIR}/build/target/compile_commands.json
                -DLAUNCHER=${CMAKE_SOURCE_DIR}/cmake/debug-info-launcher.py
                -DOBJDUMP=mipsel-linux-gnu-objdump -DWORK=${CMAKE_BINARY_DIR}/debug-info-check)
