/* The engine benchmark's image: start at the reset vector, code and constants in boot
   flash (KSEG0, after the debug exception vector, below the configuration words), data
   and stack in the PIC32MX440F256H's 32 KiB of RAM (KSEG1). Program headers carry
   physical addresses. */
OUTPUT_FORMAT("elf32-tradlittlemips")
OUTPUT_ARCH(mips)
ENTRY(_reset)

MEMORY
{
    boot_kseg0 (rx) : ORIGIN = 0x9FC00500, LENGTH = 0x2AF0
    boot_physical   : ORIGIN = 0x1FC00500, LENGTH = 0x2AF0
    ram_kseg1 (w!x) : ORIGIN = 0xA0000000, LENGTH = 0x8000
}

SECTIONS
{
    .reset 0xBFC00000 : AT(0x1FC00000) { KEEP(*(.reset)) }
    .dbg_excpt 0xBFC00480 : AT(0x1FC00480) { KEEP(*(.dbg_excpt)) }
    .text : ALIGN_WITH_INPUT { *(.text .text.*) } > boot_kseg0 AT> boot_physical
    .rodata : ALIGN_WITH_INPUT { *(.rodata .rodata.*) . = ALIGN(4); } > boot_kseg0 AT> boot_physical
    .config_BFC02FF4 0xBFC02FF4 : AT(0x1FC02FF4) { KEEP(*(.config_BFC02FF4)) }
    .config_BFC02FF8 0xBFC02FF8 : AT(0x1FC02FF8) { KEEP(*(.config_BFC02FF8)) }
    .config_BFC02FFC 0xBFC02FFC : AT(0x1FC02FFC) { KEEP(*(.config_BFC02FFC)) }

    /* Nothing to copy at start-up: the image has no initialised data. */
    .data : { *(.data .data.* .sdata .sdata.*) } > ram_kseg1
    .bss (NOLOAD) :
    {
        _bss_begin = .;
        *(.sbss .sbss.* .bss .bss.* COMMON)
        . = ALIGN(4);
        _bss_end = .;
    } > ram_kseg1
    _stack = ORIGIN(ram_kseg1) + LENGTH(ram_kseg1) - 8;

    ASSERT(SIZEOF(.reset) <= 0x10, "the reset code reaches Malta's board ID word at 0xBFC00010")
    ASSERT(SIZEOF(.dbg_excpt) <= 0x80, "the debug exception code reaches the code at 0xBFC00500")
    ASSERT(SIZEOF(.data) == 0, "initialised data: the start-up does not copy it")

    /DISCARD/ :
    {
        *(.comment) *(.note .note.*) *(.pdr) *(.reginfo) *(.MIPS.abiflags) *(.gnu.attributes)
        *(.eh_frame) *(.eh_frame_hdr) *(.gcc_except_table)
    }
}
