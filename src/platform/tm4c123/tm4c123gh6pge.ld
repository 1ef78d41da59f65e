/*
 * Memory layout of the TM4C123GH6PGE: 256 KiB flash at 0, 32 KiB SRAM at
 * 0x20000000.
 *
 * The 4 KiB stack (the whole program's, handlers included) sits at the bottom
 * of SRAM, so an overflow runs off the start of SRAM into unmapped space and
 * faults at once instead of silently overwriting static data.
 *
 * There is no heap: no heap symbols are defined, so anything that pulls in an
 * allocator (sbrk needs the heap bounds) fails to link.
 */

MEMORY
{
    FLASH (rx)  : ORIGIN = 0x00000000, LENGTH = 256K
    SRAM  (rwx) : ORIGIN = 0x20000000, LENGTH = 32K
}

ENTRY(_Z8ResetISRv)

STACK_SIZE = 4096;

SECTIONS
{
    .isr_vector : {
        KEEP(*(.isr_vector))
    } > FLASH

    .text : {
        *(.text.unlikely .text.unlikely.*)
        *(.text.startup .text.startup.*)
        *(.text .text.*)
        *(.rodata .rodata.*)
        . = ALIGN(4);
        /* Static constructors: run by the reset entry (there should be none). */
        PROVIDE_HIDDEN(__init_array_start = .);
        KEEP(*(SORT_BY_INIT_PRIORITY(.init_array.*)))
        KEEP(*(.init_array))
        PROVIDE_HIDDEN(__init_array_end = .);
        . = ALIGN(4);
    } > FLASH

    /* Unwind tables: nothing unwinds without exceptions, but the ABI's
       helpers may still carry entries. */
    .ARM.exidx : {
        *(.ARM.exidx* .gnu.linkonce.armexidx.*)
    } > FLASH

    .stack (NOLOAD) : ALIGN(8) {
        __stack_bottom = .;
        . += STACK_SIZE;
        __stack_top = .;
    } > SRAM

    .data : ALIGN(8) {
        __data_start = .;
        *(.data .data.*)
        . = ALIGN(8);
        __data_end = .;
    } > SRAM AT > FLASH
    __data_load = LOADADDR(.data);

    /* Thread-local data of the C library (errno): one thread, one block,
       copied and zeroed like .data and .bss. */
    .tdata : ALIGN(8) {
        __tdata_start = .;
        *(.tdata .tdata.* .gnu.linkonce.td.*)
        . = ALIGN(8);
        __tdata_end = .;
    } > SRAM AT > FLASH
    __tdata_load = LOADADDR(.tdata);

    .tbss (NOLOAD) : ALIGN(8) {
        __bss_start = .;
        *(.tbss .tbss.* .gnu.linkonce.tb.*)
        *(.tcommon)
        . = ALIGN(8);
    } > SRAM
    /* The linker does not advance past .tbss; reserve its room. */
    .tbss_space (NOLOAD) : {
        . = ADDR(.tbss) + SIZEOF(.tbss);
    } > SRAM

    .bss (NOLOAD) : ALIGN(8) {
        *(.bss .bss.*)
        *(COMMON)
        . = ALIGN(8);
        __bss_end = .;
    } > SRAM

    __tls_base = ADDR(.tdata);
    __tls_align = MAX(ALIGNOF(.tdata), ALIGNOF(.tbss));
    __arm32_tls_tcb_offset = MAX(8, __tls_align);

    /DISCARD/ : {
        *(.ARM.extab* .gnu.linkonce.armextab.*)
        *(.eh_frame .eh_frame.*)
        *(.note .note.*)
    }

    .comment 0 : { *(.comment) }
    .ARM.attributes 0 : { KEEP(*(.ARM.attributes)) }
    .debug_info 0 : { *(.debug_info .gnu.linkonce.wi.*) }
    .debug_abbrev 0 : { *(.debug_abbrev) }
    .debug_line 0 : { *(.debug_line .debug_line.* .debug_line_end) }
    .debug_frame 0 : { *(.debug_frame) }
    .debug_str 0 : { *(.debug_str) }
    .debug_line_str 0 : { *(.debug_line_str) }
    .debug_loclists 0 : { *(.debug_loclists) }
    .debug_rnglists 0 : { *(.debug_rnglists) }
    .debug_aranges 0 : { *(.debug_aranges) }
    .debug_ranges 0 : { *(.debug_ranges) }
    .debug_loc 0 : { *(.debug_loc) }
}

ASSERT(ADDR(.isr_vector) == 0, "the vector table must sit at address 0")
ASSERT(SIZEOF(.isr_vector) == 155 * 4, "the vector table has 155 entries")
ASSERT(__stack_top == ORIGIN(SRAM) + STACK_SIZE, "the stack sits at the bottom of SRAM")
