# pic32sim: firmware images booted on the virtual board by the M4K core simulator, and the
# system tests run the real images with it.
add_executable(pic32sim ${CMAKE_SOURCE_DIR}/tools/pic32sim.cpp)
target_include_directories(pic32sim PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(pic32sim PRIVATE sim)
