# Size report of the deliverables in build/target/images (run: build/host/bin/image_sizes).
add_executable(image_sizes ${CMAKE_SOURCE_DIR}/bench/image_sizes.cpp)
target_include_directories(image_sizes PRIVATE ${CMAKE_SOURCE_DIR})
