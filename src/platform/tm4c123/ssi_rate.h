// SSI serial clock: SysClk / (CPSDVSR x (1 + SCR)), CPSDVSR even in 2..254,
// SCR in 0..255. The smallest prescale is taken, and SCR rounded up so that
// the clock never exceeds the rate asked for (an SD card must see at most
// 400 kHz while it is identified).
#pragma once

#include <cstdint>

struct SsiRate {
    bool ok;
    uint32_t cpsdvsr;
    uint32_t scr;
};

constexpr SsiRate ssi_rate(uint32_t clock, uint32_t bit_rate)
{
    if (clock == 0 || bit_rate == 0) return {false, 0, 0};
    for (uint32_t cps = 2; cps <= 254; cps += 2) {
        const uint64_t per = static_cast<uint64_t>(cps) * bit_rate;
        const uint64_t div = (clock + per - 1) / per;  // 1 + SCR, rounded up
        const uint64_t scr = div == 0 ? 0 : div - 1;
        if (scr <= 255) return {true, cps, static_cast<uint32_t>(scr)};
    }
    return {false, 0, 0};
}

constexpr uint32_t ssi_clock_hz(uint32_t clock, SsiRate r)
{
    return r.ok ? clock / (r.cpsdvsr * (1 + r.scr)) : 0;
}
