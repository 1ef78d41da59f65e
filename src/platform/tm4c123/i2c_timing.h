// I2C master timer period: SCL = SysClk / (20 x (1 + TPR)) with the data
// sheet's SCL_LP = 6 and SCL_HP = 4. Rounded up, so the clock never exceeds
// the mode's limit (400 kHz in fast mode).
#pragma once

#include <cstdint>

constexpr uint32_t i2c_timer_period(uint32_t sys_clock, uint32_t scl_hz)
{
    const uint64_t per = 20ull * scl_hz;
    if (per == 0) return 0x7F;
    const uint64_t tpr = (sys_clock + per - 1) / per;
    return tpr == 0 ? 0 : (tpr - 1 > 0x7F ? 0x7F : static_cast<uint32_t>(tpr - 1));
}
