// Cortex-M4 core peripherals: SysTick, the NVIC enable registers, PRIMASK.
#include "hw.h"
#include "platform.h"
#include "registers.h"

using namespace reg::core;

// STRELOAD holds the period minus one; the counter is 24 bits wide.
void systick_period(uint32_t ticks)
{
    if (ticks == 0) ticks = 1;
    if (ticks - 1 > STRELOAD_MAX) ticks = STRELOAD_MAX + 1;
    hw::write(STRELOAD, ticks - 1);
}

void systick_int_enable()
{
    hw::set_bits(STCTRL, STCTRL_INTEN);
}

void systick_enable()
{
    hw::set_bits(STCTRL, STCTRL_CLK_SRC | STCTRL_ENABLE);
}

// ENn / DISn: one write-1 bit per interrupt, 32 interrupts per register.
void int_enable(uint32_t irq)
{
    if (irq < NUM_INTERRUPTS) hw::write(EN0 + 4 * (irq / 32), 1u << (irq % 32));
}

void int_disable(uint32_t irq)
{
    if (irq < NUM_INTERRUPTS) hw::write(DIS0 + 4 * (irq / 32), 1u << (irq % 32));
}

bool int_master_disable()
{
    const bool was = hw::primask();
    hw::cpsid();
    return was;
}

bool int_master_enable()
{
    const bool was = hw::primask();
    hw::cpsie();
    return was;
}
