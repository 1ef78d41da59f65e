// Baud-rate divisor of the UART: UARTSysClk / (16 x baud) (8 x baud in
// high-speed mode), an integer part and a fraction in 64ths, rounded.
#pragma once

#include <cstdint>

struct UartDivisor {
    bool ok;
    bool high_speed;
    uint32_t ibrd;
    uint32_t fbrd;
};

constexpr UartDivisor uart_divisor(uint32_t clock, uint32_t baud)
{
    if (baud == 0 || clock == 0) return {false, false, 0, 0};
    const bool hse = static_cast<uint64_t>(baud) * 16u > clock;
    // Divisor in 64ths, rounded: (clock * 64 / (div x baud) + 1/2).
    const uint64_t scale = hse ? 16u : 8u;  // 128 / div
    const uint64_t div64 = (static_cast<uint64_t>(clock) * scale / baud + 1u) / 2u;
    const uint64_t ibrd = div64 >> 6;
    if (ibrd == 0 || ibrd > 0xFFFFu) return {false, false, 0, 0};
    return {true, hse, static_cast<uint32_t>(ibrd), static_cast<uint32_t>(div64 & 0x3Fu)};
}
