# The firmware compiled for the chip. Every firmware source is compiled; nothing links yet.
if(NOT CMAKE_CXX_COMPILER MATCHES "mipsel")
    message(FATAL_ERROR "the target build needs the mipsel cross compiler (use the target-check preset)")
endif()

add_driver_profile(drivers_clockdemo CLOCKDEMO)
add_driver_profile(drivers_carddemo CARDDEMO)

# The run-time's library routines (C library subset, formatter, soft-float), built for
# size: flash is scarce. The loop patterns stay loops: GCC would otherwise compile memset's
# loop into a call to memset.
add_library(runtime_lib OBJECT runtime/libc.cpp runtime/format.cpp runtime/softfloat.cpp)
target_include_directories(runtime_lib PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(runtime_lib PRIVATE -Os -fno-tree-loop-distribute-patterns)

# Probes for the disassembly check: what a register access costs on the chip.
add_library(sfr_probe OBJECT tests/target/sfr_probe.cpp)
target_include_directories(sfr_probe PUBLIC ${CMAKE_SOURCE_DIR})

foreach(app clockdemo carddemo)
    if(EXISTS ${CMAKE_SOURCE_DIR}/apps/${app}/main.cpp)
        add_library(app_${app} OBJECT apps/${app}/main.cpp)
        target_include_directories(app_${app} PUBLIC ${CMAKE_SOURCE_DIR})
    endif()
endforeach()
# The carddemo image carries the earlier revision of the card demo's main; app_carddemo is
# the current one, the relocatable main module.
if(EXISTS ${CMAKE_SOURCE_DIR}/apps/carddemo/main.cpp)
    add_library(app_carddemo_earlier OBJECT apps/carddemo/main.cpp)
    target_include_directories(app_carddemo_earlier PUBLIC ${CMAKE_SOURCE_DIR})
    target_compile_definitions(app_carddemo_earlier PRIVATE CARDDEMO_EARLIER_REVISION=1)
endif()

# The current measurement: a relocatable module beside the adc driver, soft-float.
add_library(irmsmeter OBJECT measure/irmsmeter/irmsmeter.cpp)
target_include_directories(irmsmeter PUBLIC ${CMAKE_SOURCE_DIR})

# The bit-banged clock driver: a relocatable module for the PIC32MX795F512L board, linked
# in place of the rtc module.
add_library(bitclock OBJECT variants/bitclock/bitclock.cpp)
target_include_directories(bitclock PUBLIC ${CMAKE_SOURCE_DIR})

# The target preset links the images and modules (target-check only compiles).
option(FIRMWARE_IMAGES "Link the firmware images and relocatable modules" OFF)
if(FIRMWARE_IMAGES)
    include(cmake/images.cmake)
endif()
