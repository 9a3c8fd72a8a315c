# The current measurement on the host: the module over the drivers it links against
# (readADC; the clock demo profile, whose initADC is silent), and its tests.
add_library(irmsmeter STATIC ${CMAKE_CURRENT_LIST_DIR}/irmsmeter.cpp)
target_include_directories(irmsmeter PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(irmsmeter PUBLIC drivers_clockdemo)

add_test_suite(measure irmsmeter)

# On the chip the arithmetic is the run-time's soft-float, one rounded call per step.
add_test(NAME target.irmsmeter_rounds_every_step_in_software
         COMMAND ${CMAKE_COMMAND}
                 -DOBJECT=${TARGET_CHECK_DIR}/CMakeFiles/irmsmeter.dir/measure/irmsmeter/irmsmeter.cpp.obj
                 -DOBJDUMP=mipsel-linux-gnu-objdump
                 -P ${CMAKE_SOURCE_DIR}/tests/measure/check_soft_float.cmake)
