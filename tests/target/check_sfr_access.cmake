# Disassembles the target probe and checks that a register write is one store and a status
# poll a load-and-branch loop.
if(NOT EXISTS "${OBJECT}")
    message(FATAL_ERROR "no target object ${OBJECT}: build the target-check preset first")
endif()
execute_process(COMMAND ${OBJDUMP} -d --no-show-raw-insn "${OBJECT}" OUTPUT_VARIABLE dis RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "objdump failed")
endif()

function(body name out)
    string(REGEX MATCH "<${name}>:\n([^\n]+\n)+" block "${dis}")
    if(NOT block)
        message(FATAL_ERROR "no ${name} in the disassembly")
    endif()
    set(${out} "${block}" PARENT_SCOPE)
endfunction()

function(count_matching text regex out)
    string(REGEX MATCHALL "${regex}" found "${text}")
    list(LENGTH found n)
    set(${out} ${n} PARENT_SCOPE)
endfunction()

# LATDINV = LATD_LATD1: one store to LATDINV, no load.
body(probe_store store)
message(STATUS "probe_store:\n${store}")
count_matching("${store}" "\tsw\t" stores)
count_matching("${store}" "\tlw\t" loads)
if(NOT stores EQUAL 1 OR NOT loads EQUAL 0)
    message(FATAL_ERROR "LATDINV = LATD_LATD1 is ${stores} stores and ${loads} loads, expected one store")
endif()
# LATDINV: upper half 0xbf88 and low half 0x60ec (24812, or -24852 from 0xbf89).
if(NOT store MATCHES "0xbf88" OR NOT store MATCHES "sw\t[a-z0-9]+,(24812|0x60ec|-24852)")
    message(FATAL_ERROR "LATDINV = LATD_LATD1 does not store to LATDINV")
endif()

# Poll of U1STA.TRMT: a load, a bit test and a branch back to the load.
body(probe_poll poll)
message(STATUS "probe_poll:\n${poll}")
count_matching("${poll}" "\tlw\t" loads)
count_matching("${poll}" "\tb[a-z]*\t" branches)
count_matching("${poll}" "\tj[a-z]*\t" calls)
if(NOT loads EQUAL 1 OR branches LESS 1)
    message(FATAL_ERROR "the TRMT poll is ${loads} loads and ${branches} branches, expected a load-and-branch loop")
endif()
count_matching("${poll}" "\tjal" jal)
if(jal GREATER 0)
    message(FATAL_ERROR "the TRMT poll calls a function")
endif()

# A bit-field write: one load, one store of the whole register.
body(probe_field_write field)
message(STATUS "probe_field_write:\n${field}")
count_matching("${field}" "\tlw\t" loads)
count_matching("${field}" "\tsw\t" stores)
if(NOT loads EQUAL 1 OR NOT stores EQUAL 1)
    message(FATAL_ERROR "TRISDbits.TRISD13 = 0 is ${loads} loads and ${stores} stores")
endif()

# Count: one mfc0.
body(probe_count count)
count_matching("${count}" "\tmfc0\t" moves)
if(NOT moves EQUAL 1)
    message(FATAL_ERROR "reading Count is ${moves} mfc0 instructions")
endif()

# Three fields of AD1CON1 in one assignment: one store of one constant, no load.
body(probe_multi_field_write multi)
message(STATUS "probe_multi_field_write:\n${multi}")
count_matching("${multi}" "\tsw\t" stores)
count_matching("${multi}" "\tlw\t" loads)
if(NOT stores EQUAL 1 OR NOT loads EQUAL 0)
    message(FATAL_ERROR "AD1CON1 = SSRC(7) | FORM(4) | ASAM is ${stores} stores and ${loads} loads, expected one store")
endif()
# The value: SSRC 7 (bits 7:5), FORM 4 (bits 10:8), ASAM (bit 2) = 0x4e4 = 1252.
if(NOT multi MATCHES "(0x4e4|1252)")
    message(FATAL_ERROR "AD1CON1's three fields are not one constant 0x4e4")
endif()
