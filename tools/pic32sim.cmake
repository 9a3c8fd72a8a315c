# pic32sim: firmware images booted on the virtual board by the M4K core simulator, and the
# system tests that run the real images on it (tests/system).
add_executable(pic32sim ${CMAKE_SOURCE_DIR}/tools/pic32sim.cpp)
target_include_directories(pic32sim PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(pic32sim PRIVATE sim)

add_test_suite(system sim)
file(GLOB system_tests CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/system/*_test.cpp)
foreach(src ${system_tests})
    get_filename_component(stem ${src} NAME_WE)
    string(REGEX REPLACE "_test$" "" stem ${stem})
    target_compile_definitions(test_system_${stem} PRIVATE
        IMAGES_DIR="${CMAKE_SOURCE_DIR}/build/target/images"
        TEST_IMAGES_DIR="${CMAKE_SOURCE_DIR}/build/target/test-images"
        PIC32SIM="$<TARGET_FILE:pic32sim>")
    add_dependencies(test_system_${stem} pic32sim)
endforeach()
