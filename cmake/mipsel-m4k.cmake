# Cross toolchain for the PIC32MX's M4K core: Debian's mipsel GCC, bare metal.
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR mips)
set(CMAKE_C_COMPILER mipsel-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER mipsel-linux-gnu-g++)
set(CMAKE_ASM_COMPILER mipsel-linux-gnu-gcc)
set(CMAKE_OBJDUMP mipsel-linux-gnu-objdump)
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

set(M4K_FLAGS "-EL -march=m4k -msoft-float -mno-abicalls -fno-pic -G0 -ffreestanding -ffunction-sections -fdata-sections")
# Debian's cross libstdc++ headers include glibc's soft-float stubs header, which is not
# packaged; an empty stand-in is enough for freestanding code.
set(M4K_FLAGS "${M4K_FLAGS} -idirafter ${CMAKE_CURRENT_LIST_DIR}/target-include")
set(CMAKE_C_FLAGS_INIT "${M4K_FLAGS}")
set(CMAKE_CXX_FLAGS_INIT "${M4K_FLAGS} -fno-exceptions -fno-rtti -fno-threadsafe-statics -fno-use-cxa-atexit")
set(CMAKE_ASM_FLAGS_INIT "${M4K_FLAGS}")
# -O2 as the firmware is meant to be built (CMake's default Release flags would add -O3).
set(CMAKE_C_FLAGS_RELEASE "-O2" CACHE STRING "Release flags for the target")
set(CMAKE_CXX_FLAGS_RELEASE "-O2" CACHE STRING "Release flags for the target")
set(CMAKE_ASM_FLAGS_RELEASE "" CACHE STRING "Release flags for the target")
# The images are built for size (the target preset): flash is the scarce resource. They
# carry DWARF debug information for a debugger on the virtual board; it is not loaded, so
# neither the code, the HEX files nor the flash sizes change.
set(CMAKE_C_FLAGS_MINSIZEREL "-Os -g" CACHE STRING "Size flags for the target")
set(CMAKE_CXX_FLAGS_MINSIZEREL "-Os -g" CACHE STRING "Size flags for the target")
set(CMAKE_ASM_FLAGS_MINSIZEREL "-g" CACHE STRING "Size flags for the target")
# Debug information must not change the code: see the launcher.
find_program(PYTHON3 python3 REQUIRED)
set(CMAKE_C_COMPILER_LAUNCHER ${PYTHON3} ${CMAKE_CURRENT_LIST_DIR}/debug-info-launcher.py)
set(CMAKE_CXX_COMPILER_LAUNCHER ${PYTHON3} ${CMAKE_CURRENT_LIST_DIR}/debug-info-launcher.py)
