// I2C0 master.
#include "hw.h"
#include "i2c_timing.h"
#include "platform.h"
#include "registers.h"

namespace {

using namespace reg::i2c;

bool valid(uint32_t base)
{
    return base == I2C0_BASE;
}

// After a command is written, BUSY can take a few cycles to show; a caller
// polling busy at once would see the bus idle and read stale data.
constexpr uint32_t kBusyShowTries = 64;

}  // namespace

void i2c_master_init(uint32_t base, uint32_t sys_clock, bool fast)
{
    if (!valid(base)) return;
    hw::write(base + MCR, MCR_MFE);
    hw::write(base + MTPR, i2c_timer_period(sys_clock, fast ? 400000u : 100000u));
}

void i2c_master_enable(uint32_t base)
{
    if (valid(base)) hw::set_bits(base + MCR, MCR_MFE);
}

void i2c_master_slave_addr(uint32_t base, uint8_t addr7, bool receive)
{
    if (valid(base))
        hw::write(base + MSA, (static_cast<uint32_t>(addr7 & 0x7Fu) << 1) | (receive ? MSA_RS : 0));
}

void i2c_master_data_put(uint32_t base, uint8_t data)
{
    if (valid(base)) hw::write(base + MDR, data);
}

uint32_t i2c_master_data_get(uint32_t base)
{
    return valid(base) ? hw::read(base + MDR) & 0xFFu : 0;
}

void i2c_master_control(uint32_t base, uint32_t cmd)
{
    if (!valid(base)) return;
    hw::write(base + MCS, cmd);
    hw::wait_for(base + MCS, MCS_BUSY, MCS_BUSY, kBusyShowTries);
}

bool i2c_master_busy(uint32_t base)
{
    return valid(base) && (hw::read(base + MCS) & MCS_BUSY) != 0;
}
