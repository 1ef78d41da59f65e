// Hibernation module and its real-time clock. The module runs in its own
// clock domain: after any write to its registers the next access must wait
// for HIBCTL.WRC, so every write here waits before and after.
#include "hw.h"
#include "platform.h"
#include "registers.h"

namespace {

using namespace reg::hib;

void wait_write_complete()
{
    if (!hw::wait_for(CTL, CTL_WRC, CTL_WRC, hw::TRIES_LONG))
        hw::report_timeout("hibernation register write");
}

void hib_write(uint32_t addr, uint32_t value)
{
    wait_write_complete();
    hw::write(addr, value);
    wait_write_complete();
}

void ctl_modify(uint32_t mask, uint32_t value)
{
    wait_write_complete();
    const uint32_t ctl = (hw::read(CTL) & ~mask) | (value & mask);
    hw::write(CTL, ctl & ~CTL_WRC);  // WRC is read-only
    wait_write_complete();
}

}  // namespace

// The 32.768 kHz oscillator feeds the RTC; the system clock rate is not
// needed on this chip.
void hib_enable_clock(uint32_t sys_clock)
{
    (void)sys_clock;
    ctl_modify(CTL_CLK32EN, CTL_CLK32EN);
}

void hib_clock_config(uint32_t config)
{
    ctl_modify(CTL_OSC_MASK, config);
}

void hib_rtc_enable()
{
    ctl_modify(CTL_RTCEN, CTL_RTCEN);
}

void hib_rtc_set(uint32_t seconds)
{
    hib_write(RTCLD, seconds);
}

uint32_t hib_rtc_get()
{
    return hw::read(RTCC);
}

void hib_rtc_trim_set(uint32_t trim)
{
    hib_write(RTCT, trim & 0xFFFFu);
}

void hib_rtc_match_set(uint32_t seconds)
{
    hib_write(RTCM0, seconds);
}

uint32_t hib_rtc_match_get()
{
    return hw::read(RTCM0);
}

void hib_wake_set(uint32_t sources)
{
    ctl_modify(CTL_WAKE_MASK, sources);
}

uint32_t hib_int_status_raw()
{
    return hw::read(RIS);
}

void hib_int_clear(uint32_t flags)
{
    hib_write(IC, flags);
}

void hib_int_disable(uint32_t flags)
{
    wait_write_complete();
    const uint32_t im = hw::read(IM) & ~flags;
    hib_write(IM, im);
}

bool hib_is_active()
{
    return (hw::read(CTL) & CTL_CLK32EN) != 0;
}

// On this chip the pins are held through hibernation only in VDD3ON mode;
// leaving that mode releases them.
void hib_release_pins()
{
    ctl_modify(CTL_VDD3ON, 0);
}

// Power goes off once the request is taken; returning means it was refused.
void hib_request()
{
    ctl_modify(CTL_HIBREQ, CTL_HIBREQ);
}
