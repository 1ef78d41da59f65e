// Bounded waits on the hardware and the line that reports an expired one.
#include "hw.h"
#include "platform.h"
#include "registers.h"

namespace hw {

bool wait_for(uint32_t addr, uint32_t mask, uint32_t want, uint32_t tries)
{
    for (uint32_t i = 0; i < tries; ++i)
        if ((read(addr) & mask) == want) return true;
    return false;
}

namespace {

bool console_running()
{
    const uint32_t rcgc_uart = reg::sysctl::RCGC_BASE + reg::sysctl::CLASS_UART;
    if ((read(rcgc_uart) & 1u) == 0) return false;  // UART0 not clocked: no access
    return (read(UART0_BASE + reg::uart::CTL) & reg::uart::CTL_UARTEN) != 0;
}

void console_put(char c)
{
    if (!wait_for(UART0_BASE + reg::uart::FR, reg::uart::FR_TXFF, 0, TRIES_BYTE)) return;
    write(UART0_BASE + reg::uart::DR, static_cast<uint8_t>(c));
}

void console_puts(const char* s)
{
    for (; *s != '\0'; ++s) {
        if (*s == '\n') console_put('\r');
        console_put(*s);
    }
}

}  // namespace

void report_timeout(const char* what)
{
    if (!console_running()) return;
    console_puts("\n");
    console_puts(what);
    console_puts(" timed out\n");
}

}  // namespace hw
