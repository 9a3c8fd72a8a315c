# The deliverables: firmware images (ELF and Intel HEX with physical addresses) and the
# relocatable modules, in build/target/images.
set(IMAGES_DIR ${CMAKE_BINARY_DIR}/images)
file(MAKE_DIRECTORY ${IMAGES_DIR})
set(OBJCOPY mipsel-linux-gnu-objcopy)
set(LD mipsel-linux-gnu-ld)

add_library(runtime_startup OBJECT runtime/crt0.S runtime/vectors.S runtime/handlers.S)
target_include_directories(runtime_startup PRIVATE ${CMAKE_SOURCE_DIR})
# The library routines as an archive: an image takes only what it calls.
add_library(runtime_c STATIC $<TARGET_OBJECTS:runtime_lib>)

# An image: start-up, the application's main, the driver modules it links (all of its
# profile's, or all but those matching `exclude`), the run-time library. Nothing may stay
# undefined, and nothing comes from the toolchain's libraries.
function(add_firmware_image name profile app script exclude)
    add_executable(${name} $<TARGET_OBJECTS:runtime_startup> $<TARGET_OBJECTS:${app}>
                           $<FILTER:$<TARGET_OBJECTS:drivers_${profile}>,EXCLUDE,${exclude}>)
    target_link_libraries(${name} PRIVATE runtime_c)
    set_target_properties(${name} PROPERTIES SUFFIX ".elf" RUNTIME_OUTPUT_DIRECTORY ${IMAGES_DIR}
                                             LINKER_LANGUAGE CXX)
    target_link_options(${name} PRIVATE -static -no-pie -nostdlib -nostartfiles -Wl,--build-id=none
                        -Wl,--no-undefined -Wl,-z,noexecstack -L${CMAKE_SOURCE_DIR}/runtime
                        -T${CMAKE_SOURCE_DIR}/runtime/${script} -Wl,-Map=${IMAGES_DIR}/${name}.map)
    set_property(TARGET ${name} APPEND PROPERTY LINK_DEPENDS
                 ${CMAKE_SOURCE_DIR}/runtime/${script} ${CMAKE_SOURCE_DIR}/runtime/pic32mx_sections.ld)
    # A device programmer wants physical addresses: the ELF's load addresses are physical.
    add_custom_command(TARGET ${name} POST_BUILD
                       COMMAND ${OBJCOPY} -O ihex ${IMAGES_DIR}/${name}.elf ${IMAGES_DIR}/${name}.hex)
endfunction()

# A relocatable module: the object linked into one relocatable file.
function(add_firmware_module name)
    set(out ${IMAGES_DIR}/${name}.o)
    add_custom_command(OUTPUT ${out}
                       COMMAND ${LD} -EL -r -o ${out} $<TARGET_OBJECTS:${ARGV1}>
                       COMMAND ${OBJCOPY} --remove-section=.comment --remove-section=.note.GNU-stack
                               --remove-section=.pdr ${out}
                       DEPENDS ${ARGV1} $<TARGET_OBJECTS:${ARGV1}> COMMAND_EXPAND_LISTS VERBATIM)
    add_custom_target(module_${name} ALL DEPENDS ${out})
endfunction()

# The clock demo links every driver but the SD card's; the card demo all of them.
add_firmware_image(clockdemo clockdemo app_clockdemo pic32mx440f256h.ld "/sdmmc\\.cpp")
add_firmware_image(carddemo carddemo app_carddemo_earlier pic32mx440f256h.ld "^$")
add_firmware_module(main app_carddemo)
add_firmware_module(irmsmeter irmsmeter)
if(TARGET bitclock)
    add_firmware_module(bitclock bitclock)
endif()

# Small test images for the simulator's system tests (build/target/test-images): the
# irmsmeter module on the chip's soft-float, two images that must reset the device, the
# millisecond tick alone (a RAM variable written by an interrupt handler, for the debugger),
# and two endless loops, of accesses no model claims and of software resets (what the
# simulator keeps must not grow with the run).
set(TEST_IMAGES_DIR ${CMAKE_BINARY_DIR}/test-images)
file(MAKE_DIRECTORY ${TEST_IMAGES_DIR})
function(add_test_image name source)
    add_library(${name}_main OBJECT ${CMAKE_SOURCE_DIR}/tests/images/firmware/${source})
    target_include_directories(${name}_main PRIVATE ${CMAKE_SOURCE_DIR})
    target_compile_definitions(${name}_main PRIVATE FIRMWARE_PROFILE_CLOCKDEMO=1)
    add_executable(${name} $<TARGET_OBJECTS:runtime_startup> $<TARGET_OBJECTS:${name}_main>
                           $<FILTER:$<TARGET_OBJECTS:drivers_clockdemo>,EXCLUDE,/sdmmc\\.cpp> ${ARGN})
    target_link_libraries(${name} PRIVATE runtime_c)
    set_target_properties(${name} PROPERTIES SUFFIX ".elf" RUNTIME_OUTPUT_DIRECTORY ${TEST_IMAGES_DIR}
                                             LINKER_LANGUAGE CXX)
    target_link_options(${name} PRIVATE -static -no-pie -nostdlib -nostartfiles -Wl,--build-id=none
                        -Wl,--no-undefined -Wl,-z,noexecstack -L${CMAKE_SOURCE_DIR}/runtime
                        -T${CMAKE_SOURCE_DIR}/runtime/pic32mx440f256h.ld)
    set_property(TARGET ${name} APPEND PROPERTY LINK_DEPENDS
                 ${CMAKE_SOURCE_DIR}/runtime/pic32mx440f256h.ld ${CMAKE_SOURCE_DIR}/runtime/pic32mx_sections.ld)
endfunction()
# The irmsmeter test image links the delivered relocatable module itself.
add_test_image(irms_test irms_main.cpp ${IMAGES_DIR}/irmsmeter.o)
set_source_files_properties(${IMAGES_DIR}/irmsmeter.o PROPERTIES EXTERNAL_OBJECT TRUE GENERATED TRUE)
add_dependencies(irms_test module_irmsmeter)
add_test_image(no_handler_test no_handler_main.cpp)
add_test_image(invalid_instruction_test invalid_instruction_main.cpp)
add_test_image(tick_test tick_main.cpp)
add_test_image(unclaimed_loop_test unclaimed_loop_main.cpp)
add_test_image(reset_loop_test reset_loop_main.cpp)

# The engine benchmark's image.
include(${CMAKE_SOURCE_DIR}/bench/engine_image.cmake)
