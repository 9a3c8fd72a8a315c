# Disassembles the cross-compiled calcIrms and checks that its real arithmetic is the
# run-time's single-precision routines, one call per step in the source's order, with no
# FPU instruction and nothing folded into a multiply-add.
if(NOT EXISTS "${OBJECT}")
    message(FATAL_ERROR "no target object ${OBJECT}: build the target-check preset first")
endif()
execute_process(COMMAND ${OBJDUMP} -dr --no-show-raw-insn "${OBJECT}" OUTPUT_VARIABLE dis RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "objdump failed")
endif()
string(REGEX MATCH "<calcIrms>:\n([^\n]*\n)+" body "${dis}")
if(NOT body)
    message(FATAL_ERROR "no calcIrms in the disassembly")
endif()

string(REGEX MATCHALL "R_MIPS_26[ \t]+[A-Za-z_0-9]+" relocs "${body}")
set(calls "")
foreach(r ${relocs})
    string(REGEX REPLACE "R_MIPS_26[ \t]+" "" name "${r}")
    list(APPEND calls ${name})
endforeach()
message(STATUS "calcIrms calls: ${calls}")
# Priming conversion; per sample: conversion, (float)sampleI + lastFilteredI,
# - (float)lastSampleI, x 0.996, squared, summed; then / (float)count, root, x I_RATIO.
set(expected readADC
    readADC __floatsisf __addsf3 __floatsisf __subsf3 __mulsf3 __mulsf3 __addsf3
    __floatsisf __divsf3 sqrtf __mulsf3)
if(NOT calls STREQUAL expected)
    message(FATAL_ERROR "calcIrms calls\n  ${calls}\nexpected\n  ${expected}")
endif()
if(body MATCHES "\t(add|sub|mul|div|sqrt|madd|msub|nmadd|nmsub|cvt)\\.[sd]\t|\tm[tf]c1\t")
    message(FATAL_ERROR "calcIrms uses floating-point instructions")
endif()
