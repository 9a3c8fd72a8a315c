/* Sections of a PIC32MX image, after the chip's MEMORY (see the chip's script).
   Boot flash: reset vector and start-up at 0xBFC00000, bootstrap exception 0xBFC00380,
   debug exception 0xBFC00480, EBase 0x9FC01000 with the general exception at +0x180 and
   interrupt vector n at +0x200 + 32 n, configuration words at the top. Program flash:
   code, constants and the initial values of data. RAM: data, bss, a 16-byte heap, and the
   stack from 8 bytes below the end of RAM down. ELF program headers carry the physical
   addresses (what a programmer or the HEX file wants); symbols are virtual. */

OUTPUT_FORMAT("elf32-tradlittlemips")
OUTPUT_ARCH(mips)
ENTRY(_reset)

_ebase_address = 0x9FC01000;
_min_stack_size = 1024;
_min_heap_size = 16;

SECTIONS
{
    .reset 0xBFC00000 : AT(0x1FC00000)
    {
        KEEP(*(.reset))
        KEEP(*(.startup))
    }
    .bev_excpt 0xBFC00380 : AT(0x1FC00380) { KEEP(*(.bev_excpt)) }
    .dbg_excpt 0xBFC00480 : AT(0x1FC00480) { KEEP(*(.dbg_excpt)) }
    .gen_handler 0x9FC01180 : AT(0x1FC01180) { KEEP(*(.gen_handler)) }
    /* One section a vector, so that the gaps between the 8-byte jumps cost no flash. */
    .vector_0 0x9FC01200 : AT(0x1FC01200) { KEEP(*(.vector_0)) }
    .vector_1 0x9FC01220 : AT(0x1FC01220) { KEEP(*(.vector_1)) }
    .vector_2 0x9FC01240 : AT(0x1FC01240) { KEEP(*(.vector_2)) }
    .vector_3 0x9FC01260 : AT(0x1FC01260) { KEEP(*(.vector_3)) }
    .vector_4 0x9FC01280 : AT(0x1FC01280) { KEEP(*(.vector_4)) }
    .vector_5 0x9FC012A0 : AT(0x1FC012A0) { KEEP(*(.vector_5)) }
    .vector_6 0x9FC012C0 : AT(0x1FC012C0) { KEEP(*(.vector_6)) }
    .vector_7 0x9FC012E0 : AT(0x1FC012E0) { KEEP(*(.vector_7)) }
    .vector_8 0x9FC01300 : AT(0x1FC01300) { KEEP(*(.vector_8)) }
    .vector_9 0x9FC01320 : AT(0x1FC01320) { KEEP(*(.vector_9)) }
    .vector_10 0x9FC01340 : AT(0x1FC01340) { KEEP(*(.vector_10)) }
    .vector_11 0x9FC01360 : AT(0x1FC01360) { KEEP(*(.vector_11)) }
    .vector_12 0x9FC01380 : AT(0x1FC01380) { KEEP(*(.vector_12)) }
    .vector_13 0x9FC013A0 : AT(0x1FC013A0) { KEEP(*(.vector_13)) }
    .vector_14 0x9FC013C0 : AT(0x1FC013C0) { KEEP(*(.vector_14)) }
    .vector_15 0x9FC013E0 : AT(0x1FC013E0) { KEEP(*(.vector_15)) }
    .vector_16 0x9FC01400 : AT(0x1FC01400) { KEEP(*(.vector_16)) }
    .vector_17 0x9FC01420 : AT(0x1FC01420) { KEEP(*(.vector_17)) }
    .vector_18 0x9FC01440 : AT(0x1FC01440) { KEEP(*(.vector_18)) }
    .vector_19 0x9FC01460 : AT(0x1FC01460) { KEEP(*(.vector_19)) }
    .vector_20 0x9FC01480 : AT(0x1FC01480) { KEEP(*(.vector_20)) }
    .vector_21 0x9FC014A0 : AT(0x1FC014A0) { KEEP(*(.vector_21)) }
    .vector_22 0x9FC014C0 : AT(0x1FC014C0) { KEEP(*(.vector_22)) }
    .vector_23 0x9FC014E0 : AT(0x1FC014E0) { KEEP(*(.vector_23)) }
    .vector_24 0x9FC01500 : AT(0x1FC01500) { KEEP(*(.vector_24)) }
    .vector_25 0x9FC01520 : AT(0x1FC01520) { KEEP(*(.vector_25)) }
    .vector_26 0x9FC01540 : AT(0x1FC01540) { KEEP(*(.vector_26)) }
    .vector_27 0x9FC01560 : AT(0x1FC01560) { KEEP(*(.vector_27)) }
    .vector_28 0x9FC01580 : AT(0x1FC01580) { KEEP(*(.vector_28)) }
    .vector_29 0x9FC015A0 : AT(0x1FC015A0) { KEEP(*(.vector_29)) }
    .vector_30 0x9FC015C0 : AT(0x1FC015C0) { KEEP(*(.vector_30)) }
    .vector_31 0x9FC015E0 : AT(0x1FC015E0) { KEEP(*(.vector_31)) }
    .vector_32 0x9FC01600 : AT(0x1FC01600) { KEEP(*(.vector_32)) }
    .vector_33 0x9FC01620 : AT(0x1FC01620) { KEEP(*(.vector_33)) }
    .vector_34 0x9FC01640 : AT(0x1FC01640) { KEEP(*(.vector_34)) }
    .vector_35 0x9FC01660 : AT(0x1FC01660) { KEEP(*(.vector_35)) }
    .vector_36 0x9FC01680 : AT(0x1FC01680) { KEEP(*(.vector_36)) }
    .vector_37 0x9FC016A0 : AT(0x1FC016A0) { KEEP(*(.vector_37)) }
    .vector_38 0x9FC016C0 : AT(0x1FC016C0) { KEEP(*(.vector_38)) }
    .vector_39 0x9FC016E0 : AT(0x1FC016E0) { KEEP(*(.vector_39)) }
    .vector_40 0x9FC01700 : AT(0x1FC01700) { KEEP(*(.vector_40)) }
    .vector_41 0x9FC01720 : AT(0x1FC01720) { KEEP(*(.vector_41)) }
    .vector_42 0x9FC01740 : AT(0x1FC01740) { KEEP(*(.vector_42)) }
    .vector_43 0x9FC01760 : AT(0x1FC01760) { KEEP(*(.vector_43)) }
    .vector_44 0x9FC01780 : AT(0x1FC01780) { KEEP(*(.vector_44)) }
    .vector_45 0x9FC017A0 : AT(0x1FC017A0) { KEEP(*(.vector_45)) }
    .vector_46 0x9FC017C0 : AT(0x1FC017C0) { KEEP(*(.vector_46)) }
    .vector_47 0x9FC017E0 : AT(0x1FC017E0) { KEEP(*(.vector_47)) }
    .vector_48 0x9FC01800 : AT(0x1FC01800) { KEEP(*(.vector_48)) }
    .vector_49 0x9FC01820 : AT(0x1FC01820) { KEEP(*(.vector_49)) }
    .vector_50 0x9FC01840 : AT(0x1FC01840) { KEEP(*(.vector_50)) }
    .vector_51 0x9FC01860 : AT(0x1FC01860) { KEEP(*(.vector_51)) }
    .vector_52 0x9FC01880 : AT(0x1FC01880) { KEEP(*(.vector_52)) }
    .vector_53 0x9FC018A0 : AT(0x1FC018A0) { KEEP(*(.vector_53)) }
    .vector_54 0x9FC018C0 : AT(0x1FC018C0) { KEEP(*(.vector_54)) }
    .vector_55 0x9FC018E0 : AT(0x1FC018E0) { KEEP(*(.vector_55)) }
    .vector_56 0x9FC01900 : AT(0x1FC01900) { KEEP(*(.vector_56)) }
    .vector_57 0x9FC01920 : AT(0x1FC01920) { KEEP(*(.vector_57)) }
    .vector_58 0x9FC01940 : AT(0x1FC01940) { KEEP(*(.vector_58)) }
    .vector_59 0x9FC01960 : AT(0x1FC01960) { KEEP(*(.vector_59)) }
    .vector_60 0x9FC01980 : AT(0x1FC01980) { KEEP(*(.vector_60)) }
    .vector_61 0x9FC019A0 : AT(0x1FC019A0) { KEEP(*(.vector_61)) }
    .vector_62 0x9FC019C0 : AT(0x1FC019C0) { KEEP(*(.vector_62)) }
    .vector_63 0x9FC019E0 : AT(0x1FC019E0) { KEEP(*(.vector_63)) }
    .config_BFC02FF4 0xBFC02FF4 : AT(0x1FC02FF4) { KEEP(*(.config_BFC02FF4)) }
    .config_BFC02FF8 0xBFC02FF8 : AT(0x1FC02FF8) { KEEP(*(.config_BFC02FF8)) }
    .config_BFC02FFC 0xBFC02FFC : AT(0x1FC02FFC) { KEEP(*(.config_BFC02FFC)) }

    /* ALIGN_WITH_INPUT aligns the load address as the run address: each section is
       programmed exactly where the core reads it (run address minus the KSEG0 base). */
    .text : ALIGN_WITH_INPUT
    {
        *(.text .text.*)
    } > kseg0_program_mem AT> physical_program_mem
    .rodata : ALIGN_WITH_INPUT
    {
        *(.rodata .rodata.*)
        . = ALIGN(4);
    } > kseg0_program_mem AT> physical_program_mem
    /* {destination, bytes, source} records walked by the start-up, ended by 0. */
    .dinit : ALIGN_WITH_INPUT
    {
        _dinit_table = .;
        LONG(_data_begin) LONG(_data_end - _data_begin) LONG(LOADADDR(.data) | 0x80000000)
        LONG(0)
    } > kseg0_program_mem AT> physical_program_mem

    .data :
    {
        _data_begin = .;
        *(.data .data.* .sdata .sdata.*)
        . = ALIGN(4);
        _data_end = .;
    } > kseg1_data_mem AT> physical_program_mem
    _gp = _data_begin + 0x7FF0;
    .bss (NOLOAD) :
    {
        _bss_begin = .;
        *(.sbss .sbss.* .bss .bss.* COMMON)
        . = ALIGN(4);
        _bss_end = .;
    } > kseg1_data_mem
    .heap (NOLOAD) :
    {
        _heap = .;
        . += _min_heap_size;
        _heap_end = .;
    } > kseg1_data_mem
    _stack = ORIGIN(kseg1_data_mem) + LENGTH(kseg1_data_mem) - 8;
    _ram_used = _heap_end - ORIGIN(kseg1_data_mem);

    ASSERT(SIZEOF(.reset) <= 0x380, "start-up code overlaps the bootstrap exception vector")
    ASSERT(SIZEOF(.gen_handler) <= 0x80, "general exception entry overlaps the interrupt vectors")
    ASSERT(SIZEOF(.vector_0) <= 0x20, "a vector entry is longer than the 32-byte spacing")
    ASSERT(_stack - _heap_end >= _min_stack_size, "less than 1024 bytes left for the stack")

    /DISCARD/ :
    {
        *(.comment) *(.note .note.*) *(.pdr) *(.reginfo) *(.MIPS.abiflags) *(.gnu.attributes)
        *(.eh_frame) *(.eh_frame_hdr) *(.gcc_except_table)
    }
}
