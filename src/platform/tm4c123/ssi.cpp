// SSI0..SSI3 as SPI masters (Freescale SPI frame format).
#include "hw.h"
#include "platform.h"
#include "registers.h"
#include "ssi_rate.h"

namespace {

using namespace reg::ssi;

bool valid(uint32_t base)
{
    return ssi_index(base) >= 0;
}

constexpr uint32_t kModeBits[] = {0, CR0_SPH, CR0_SPO, CR0_SPO | CR0_SPH};

}  // namespace

void ssi_config_master(uint32_t base, uint32_t src_clock, SsiMode mode, uint32_t bit_rate, uint32_t width)
{
    if (!valid(base) || width < 4 || width > 16) return;
    const SsiRate r = ssi_rate(src_clock, bit_rate);
    if (!r.ok) return;
    hw::clear_bits(base + CR1, CR1_SSE);  // reprogram only while disabled
    hw::write(base + CR1, 0);             // master, no loopback
    hw::write(base + CC, CC_CS_SYSCLK);
    hw::write(base + CPSR, r.cpsdvsr);
    hw::write(base + CR0, (r.scr << CR0_SCR_SHIFT) | kModeBits[static_cast<uint32_t>(mode) & 3u] |
                              CR0_FRF_SPI | ((width - 1) & CR0_DSS_MASK));
}

void ssi_enable(uint32_t base)
{
    if (valid(base)) hw::set_bits(base + CR1, CR1_SSE);
}

void ssi_disable(uint32_t base)
{
    if (valid(base)) hw::clear_bits(base + CR1, CR1_SSE);
}

void ssi_put(uint32_t base, uint32_t data)
{
    if (!valid(base)) return;
    if (!hw::wait_for(base + SR, SR_TNF, SR_TNF, hw::TRIES_SHORT)) {
        hw::report_timeout("SSI transmit");
        return;
    }
    hw::write(base + DR, data);
}

bool ssi_put_nb(uint32_t base, uint32_t data)
{
    if (!valid(base) || (hw::read(base + SR) & SR_TNF) == 0) return false;
    hw::write(base + DR, data);
    return true;
}

void ssi_get(uint32_t base, uint32_t* data)
{
    *data = 0;
    if (!valid(base)) return;
    if (!hw::wait_for(base + SR, SR_RNE, SR_RNE, hw::TRIES_SHORT)) {
        hw::report_timeout("SSI receive");
        return;
    }
    *data = hw::read(base + DR);
}

bool ssi_get_nb(uint32_t base, uint32_t* data)
{
    if (!valid(base) || (hw::read(base + SR) & SR_RNE) == 0) return false;
    *data = hw::read(base + DR);
    return true;
}

bool ssi_busy(uint32_t base)
{
    return valid(base) && (hw::read(base + SR) & SR_BSY) != 0;
}
