# The bit-banged clock driver on the host: the module over the core-timer delays it links
# against. Not linked with drivers/rtc.cpp: the two export the same names.
add_library(bitclock_host STATIC ${CMAKE_CURRENT_LIST_DIR}/bitclock.cpp ${CMAKE_SOURCE_DIR}/drivers/system.cpp)
target_include_directories(bitclock_host PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(bitclock_host PUBLIC platform_host)

# The I2C1 clock driver (clock demo profile) with its three functions renamed i2c1_*, so
# that one test program can run both drivers on the same calls and compare the wires.
add_library(bitclock_i2c1_reference OBJECT
            ${CMAKE_SOURCE_DIR}/drivers/rtc.cpp ${CMAKE_SOURCE_DIR}/drivers/i2c.cpp ${CMAKE_SOURCE_DIR}/drivers/uart.cpp)
target_include_directories(bitclock_i2c1_reference PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_definitions(bitclock_i2c1_reference
                           PRIVATE FIRMWARE_PROFILE_CLOCKDEMO=1 char_to_bcd=i2c1_char_to_bcd
                                   setTimeDate=i2c1_setTimeDate getTimeDate=i2c1_getTimeDate)
target_link_libraries(bitclock_i2c1_reference PUBLIC platform_host)
