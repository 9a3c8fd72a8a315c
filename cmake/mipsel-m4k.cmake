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
set(CMAKE_C_FLAGS_RELEASE_INIT "-O2")
set(CMAKE_CXX_FLAGS_RELEASE_INIT "-O2")
