# The current measurement on the host: the module over the drivers it links against
# (readADC; the clock demo profile, whose initADC is silent); its tests are in tests/tests.cmake.
add_library(irmsmeter STATIC ${CMAKE_CURRENT_LIST_DIR}/irmsmeter.cpp)
target_include_directories(irmsmeter PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(irmsmeter PUBLIC drivers_clockdemo)
