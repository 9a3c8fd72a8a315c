# The clock demo on the virtual board: its main, renamed so that a host program can run
# it, with the drivers in the clock demo profile.
if(NOT FIRMWARE_TARGET)
    add_library(clockdemo_app OBJECT ${CMAKE_CURRENT_LIST_DIR}/main.cpp)
    target_compile_definitions(clockdemo_app PRIVATE main=clockdemo_main)
    target_link_libraries(clockdemo_app PUBLIC drivers_clockdemo)

    add_executable(clockdemo ${CMAKE_SOURCE_DIR}/tools/clockdemo.cpp)
    target_link_libraries(clockdemo PRIVATE clockdemo_app drivers_clockdemo)
endif()
