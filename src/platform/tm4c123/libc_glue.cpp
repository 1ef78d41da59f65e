// The C library's few hooks into this board. No heap is provided: nothing
// here allocates, and the linker script defines no heap bounds.
#include "libc_glue.h"

#include <cstdio>
#include <cstdlib>

#include "platform.h"

#ifdef __PICOLIBC__

extern "C" {
extern char __tls_base[];
void _set_tls(void* tls);
}

void libc_init()
{
    _set_tls(__tls_base);
}

namespace {

// Standard output and error go to the console UART byte by byte; standard
// input is always empty. Firmware prints through its own console driver;
// these only catch stray library output.
int console_putc(char c, FILE*)
{
    if (c == '\n') UARTCharPut(UART0_BASE, '\r');
    UARTCharPut(UART0_BASE, static_cast<uint8_t>(c));
    return static_cast<unsigned char>(c);
}

int no_getc(FILE*)
{
    return EOF;
}

FILE g_console = FDEV_SETUP_STREAM(console_putc, no_getc, nullptr, _FDEV_SETUP_RW);

}  // namespace

// Declared by <stdio.h> (with C++ linkage there; variable names are not
// mangled, so the C library finds them).
FILE* const stdin = &g_console;
FILE* const stdout = &g_console;
FILE* const stderr = &g_console;

#else

void libc_init() {}

#endif

// exit() and abort() end here: stop in place until the next reset.
extern "C" void _exit(int status)
{
    (void)status;
    for (;;) {
    }
}
