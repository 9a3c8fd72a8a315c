# The run-time's library routines as compiled for the chip: no floating-point instruction
# (the M4K has no FPU; a float operation inside the soft-float routines would come back to
# them as a call) and nothing undefined (no libgcc helper: these objects are all there is).
#   cmake -DOBJECT_DIR=<dir with runtime_lib's objects> -DOBJDUMP=... -DNM=... -P this
file(GLOB objects "${OBJECT_DIR}/*.obj")
list(LENGTH objects count)
if(count LESS 3)
    message(FATAL_ERROR "no runtime objects in ${OBJECT_DIR}: build the target-check preset first")
endif()
set(fpu_mnemonics "lwc1|swc1|ldc1|sdc1|lwxc1|swxc1|mtc1|mfc1|mthc1|mfhc1|ctc1|cfc1|bc1[ft]l?")
foreach(object ${objects})
    get_filename_component(name ${object} NAME)
    execute_process(COMMAND ${OBJDUMP} -d --no-show-raw-insn "${object}" OUTPUT_VARIABLE dis RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "objdump failed on ${name}")
    endif()
    # An instruction line is "  addr:\tmnemonic\toperands"; FPU mnemonics carry a format
    # suffix (add.s, cvt.s.w, c.lt.s) or are the coprocessor 1 moves and branches.
    string(REGEX MATCHALL "\n *[0-9a-f]+:\t[a-z0-9.]+" lines "${dis}")
    list(LENGTH lines instructions)
    foreach(line ${lines})
        string(REGEX REPLACE ".*\t" "" mnemonic "${line}")
        if(mnemonic MATCHES "\\.(s|d|ps|w|l)$|\\.(s|d|ps|w|l)\\." OR mnemonic MATCHES "^(${fpu_mnemonics})$")
            message(FATAL_ERROR "${name}: floating-point instruction ${mnemonic}")
        endif()
    endforeach()
    execute_process(COMMAND ${NM} -u "${object}" OUTPUT_VARIABLE undefined RESULT_VARIABLE rc)
    string(STRIP "${undefined}" undefined)
    if(NOT rc EQUAL 0 OR NOT undefined STREQUAL "")
        message(FATAL_ERROR "${name}: undefined symbols: ${undefined}")
    endif()
    message(STATUS "${name}: ${instructions} instructions, none for the FPU, nothing undefined")
endforeach()
