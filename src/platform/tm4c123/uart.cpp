// UART0..UART5: 8-N-1 frames, 16-byte FIFOs.
#include "hw.h"
#include "platform.h"
#include "registers.h"
#include "uart_divisor.h"

namespace {

using namespace reg::uart;

bool valid(uint32_t base)
{
    return uart_index(base) >= 0;
}

void stop(uint32_t base)
{
    // Let the frame on the line finish, then flush the transmit FIFO by
    // clearing FEN, as the data sheet orders before reprogramming.
    if (!hw::wait_for(base + FR, FR_BUSY, 0, hw::TRIES_BYTE) && base != UART0_BASE)
        hw::report_timeout("UART transmit drain");
    hw::clear_bits(base + CTL, CTL_UARTEN | CTL_TXE | CTL_RXE);
    hw::clear_bits(base + LCRH, LCRH_FEN);
}

}  // namespace

void uart_clock_source_piosc(uint32_t base)
{
    if (valid(base)) hw::write(base + CC, CC_CS_PIOSC);
}

// Reprograms the divisors and frame format with the UART stopped, as the
// data sheet requires; a UART that was running runs again afterwards.
void uart_config_8n1(uint32_t base, uint32_t src_clock, uint32_t baud)
{
    if (!valid(base)) return;
    const UartDivisor d = uart_divisor(src_clock, baud);
    if (!d.ok) return;
    const bool was_running = (hw::read(base + CTL) & CTL_UARTEN) != 0;
    stop(base);
    hw::assign_bits(base + CTL, CTL_HSE, d.high_speed);
    hw::write(base + IBRD, d.ibrd);
    hw::write(base + FBRD, d.fbrd);
    // The LCRH write latches the divisors.
    hw::write(base + LCRH, LCRH_WLEN_8 | LCRH_FEN);
    if (was_running) uart_enable(base);
}

void uart_fifo_levels(uint32_t base, UartFifoLevel tx, UartFifoLevel rx)
{
    if (!valid(base)) return;
    hw::write(base + IFLS,
              (static_cast<uint32_t>(tx) << IFLS_TX_SHIFT) | (static_cast<uint32_t>(rx) << IFLS_RX_SHIFT));
}

void uart_enable(uint32_t base)
{
    if (!valid(base)) return;
    hw::set_bits(base + LCRH, LCRH_FEN);
    hw::set_bits(base + CTL, CTL_UARTEN | CTL_TXE | CTL_RXE);
}

void uart_disable(uint32_t base)
{
    if (valid(base)) stop(base);
}

bool uart_chars_avail(uint32_t base)
{
    return valid(base) && (hw::read(base + FR) & FR_RXFE) == 0;
}

int32_t uart_char_get_nb(uint32_t base)
{
    if (!valid(base) || (hw::read(base + FR) & FR_RXFE) != 0) return -1;
    return static_cast<int32_t>(hw::read(base + DR) & 0xFFu);
}

bool uart_space_avail(uint32_t base)
{
    return valid(base) && (hw::read(base + FR) & FR_TXFF) == 0;
}

bool uart_char_put_nb(uint32_t base, uint8_t c)
{
    if (!valid(base) || (hw::read(base + FR) & FR_TXFF) != 0) return false;
    hw::write(base + DR, c);
    return true;
}

// A stopped UART never drains its FIFO, so it is not waited on.
void UARTCharPut(uint32_t base, uint8_t c)
{
    if (!valid(base) || (hw::read(base + CTL) & CTL_UARTEN) == 0) return;
    if (!hw::wait_for(base + FR, FR_TXFF, 0, hw::TRIES_BYTE)) {
        // The console cannot report its own stall.
        if (base != UART0_BASE) hw::report_timeout("UART transmit");
        return;
    }
    hw::write(base + DR, c);
}

bool uart_busy(uint32_t base)
{
    return valid(base) && (hw::read(base + FR) & FR_BUSY) != 0;
}

void uart_int_enable(uint32_t base, uint32_t flags)
{
    if (valid(base)) hw::set_bits(base + IM, flags);
}

void uart_int_disable(uint32_t base, uint32_t flags)
{
    if (valid(base)) hw::clear_bits(base + IM, flags);
}

uint32_t uart_int_status(uint32_t base, bool masked)
{
    return valid(base) ? hw::read(base + (masked ? MIS : RIS)) : 0;
}

void uart_int_clear(uint32_t base, uint32_t flags)
{
    if (valid(base)) hw::write(base + ICR, flags);
}
