/* PIC32MX795F512L: 512 KiB program flash, 128 KiB RAM. */
MEMORY
{
    kseg0_program_mem (rx) : ORIGIN = 0x9D000000, LENGTH = 0x80000
    physical_program_mem   : ORIGIN = 0x1D000000, LENGTH = 0x80000
    kseg1_data_mem (w!x)   : ORIGIN = 0xA0000000, LENGTH = 0x20000
}
INCLUDE pic32mx_sections.ld
