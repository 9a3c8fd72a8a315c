# The run-time's library routines compiled natively under rt_ names (tested in tests/runtime), and the
# long check of the soft-float routines (make check-long).
set(RUNTIME_LIBRARY_SOURCES runtime/libc.cpp runtime/format.cpp runtime/softfloat.cpp)

add_library(runtime_host STATIC ${RUNTIME_LIBRARY_SOURCES})
target_include_directories(runtime_host PUBLIC ${CMAKE_SOURCE_DIR})
# Keep GCC from turning the byte loops back into calls to the library being tested.
target_compile_options(runtime_host PRIVATE -fno-tree-loop-distribute-patterns)

find_package(Threads REQUIRED)
add_executable(runtime_check_long tests/runtime/softfloat_long_check.cpp)
target_include_directories(runtime_check_long PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(runtime_check_long PRIVATE runtime_host Threads::Threads)

# check-long gathers every long check; whoever comes first creates it.
if(NOT TARGET check-long)
    add_custom_target(check-long)
endif()
add_custom_target(check-long-runtime COMMAND runtime_check_long USES_TERMINAL
                  COMMENT "Soft-float long check: every conversion and square root, a billion operands per operation")
add_dependencies(check-long check-long-runtime)
