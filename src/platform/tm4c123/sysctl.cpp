// System control: clock tree, peripheral clock gating, resets, ready status,
// and the processor-level operations (FPU, delay, idle).
#include "hw.h"
#include "platform.h"
#include "registers.h"

namespace {

using namespace reg::sysctl;

uint32_t g_clock_hz = PIOSC_HZ;  // the reset clock until the PLL runs

constexpr uint32_t CRYSTAL_HZ = 16000000u;
// About 50 ms on the 16 MHz reset clock: the crystal's start-up, with margin.
constexpr uint32_t MOSC_SETTLE_TURNS = 262144u;

struct PeriphBit {
    uint32_t class_offset;
    uint32_t bit;
};

constexpr PeriphBit periph_bit(Periph p)
{
    const auto n = static_cast<uint32_t>(p);
    if (p <= Periph::GPIOP) return {CLASS_GPIO, 1u << n};
    if (p <= Periph::UART5) return {CLASS_UART, 1u << (n - static_cast<uint32_t>(Periph::UART0))};
    if (p <= Periph::SSI3) return {CLASS_SSI, 1u << (n - static_cast<uint32_t>(Periph::SSI0))};
    switch (p) {
        case Periph::I2C0:
            return {CLASS_I2C, 1u};
        case Periph::ADC0:
            return {CLASS_ADC, 1u};
        case Periph::HIBERNATE:
            return {CLASS_HIB, 1u};
        default:
            return {CLASS_EEPROM, 1u};
    }
}
static_assert(periph_bit(Periph::GPIOP).bit == (1u << 13), "GPIO P is bit 13 of the GPIO registers");
static_assert(periph_bit(Periph::UART5).bit == (1u << 5), "UART bits follow the instance");
static_assert(periph_bit(Periph::SSI3).class_offset == CLASS_SSI, "SSI class");

uint32_t reg_of(uint32_t block, Periph p)
{
    return block + periph_bit(p).class_offset;
}

// A peripheral's registers may be touched 3 system clocks after its clock
// gate opens; one delay turn is 3 cycles.
void settle()
{
    hw::delay_loop(1);
}

}  // namespace

// Data sheet clock set-up order: run bypassed on the raw clock, start the
// crystal and let it settle, select it and power the PLL, set the divider,
// wait for lock, then take the PLL output. If the PLL does not lock, stay on
// the bypassed crystal (16 MHz) and say so.
void sysctl_clock_set_50mhz()
{
    hw::set_bits(RCC2, RCC2_USERCC2 | RCC2_BYPASS2);
    hw::clear_bits(RCC, RCC_USESYSDIV);

    hw::modify(RCC, RCC_MOSCDIS | RCC_XTAL_MASK, RCC_XTAL_16MHZ);
    hw::delay_loop(MOSC_SETTLE_TURNS);

    hw::modify(RCC, RCC_OSCSRC_MASK, RCC_OSCSRC_MOSC);
    hw::modify(RCC2, RCC2_OSCSRC2_MASK | RCC2_PWRDN2 | RCC2_DIV400, RCC2_OSCSRC2_MOSC);

    // 400 MHz PLL / 2 = 200 MHz, then / 4 = 50 MHz: SYSDIV2 holds divisor - 1.
    hw::modify(RCC2, RCC2_SYSDIV2_MASK, 3u << RCC2_SYSDIV2_SHIFT);
    hw::set_bits(RCC, RCC_USESYSDIV);

    if (!hw::wait_for(PLLSTAT, PLLSTAT_LOCK, PLLSTAT_LOCK, hw::TRIES_SHORT)) {
        hw::report_timeout("PLL lock");
        g_clock_hz = CRYSTAL_HZ;
        return;
    }
    hw::clear_bits(RCC2, RCC2_BYPASS2);
    g_clock_hz = SYSTEM_CLOCK_HZ;
}

uint32_t sysctl_clock_get()
{
    return g_clock_hz;
}

bool sysctl_periph_present(Periph p)
{
    return (hw::read(reg_of(PP_BASE, p)) & periph_bit(p).bit) != 0;
}

void sysctl_periph_enable(Periph p)
{
    hw::set_bits(reg_of(RCGC_BASE, p), periph_bit(p).bit);
    settle();
}

void sysctl_periph_disable(Periph p)
{
    hw::clear_bits(reg_of(RCGC_BASE, p), periph_bit(p).bit);
}

void sysctl_periph_reset(Periph p)
{
    const uint32_t sr = reg_of(SR_BASE, p);
    hw::set_bits(sr, periph_bit(p).bit);
    settle();
    hw::clear_bits(sr, periph_bit(p).bit);
    settle();
}

bool sysctl_periph_ready(Periph p)
{
    return (hw::read(reg_of(PR_BASE, p)) & periph_bit(p).bit) != 0;
}

void sysctl_delay(uint32_t count)
{
    hw::delay_loop(count);
}

void fpu_enable_lazy_stacking()
{
    hw::set_bits(reg::core::FPCCR, reg::core::FPCCR_ASPEN | reg::core::FPCCR_LSPEN);
    hw::set_bits(reg::core::CPACR, reg::core::CPACR_CP10_CP11_FULL);
    hw::barrier();
}

void platform_idle() {}
