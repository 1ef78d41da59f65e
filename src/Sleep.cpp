#include "Sleep.h"

#include <cstdio>

#include "IO.h"
#include "diskio.h"
#include "platform.h"
#include "uartstdio.h"

volatile unsigned long timer_10ms = 0;

// ---------------------------------------------------------------------------
// Calendar

namespace {

constexpr int64_t DAYS_1900_TO_1970 = 25567;

// Days since 1970-01-01 of a proleptic Gregorian date (month 1..12).
int64_t days_from_civil(int64_t y, int64_t m, int64_t d)
{
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void civil_from_days(int64_t z, int64_t* y, int* m, int* d)
{
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    *d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    *m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    *y = yoe + era * 400 + (*m <= 2);
}

int64_t floor_div(int64_t a, int64_t b)
{
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

}  // namespace

void clock_to_calendar(uint32_t t, CalendarTime* out)
{
    const int64_t days = t / 86400;
    const int64_t secs = t % 86400;
    int64_t y;
    int m, d;
    civil_from_days(days - DAYS_1900_TO_1970, &y, &m, &d);
    out->sec = static_cast<int>(secs % 60);
    out->min = static_cast<int>((secs / 60) % 60);
    out->hour = static_cast<int>(secs / 3600);
    out->mday = d;
    out->mon = m - 1;
    out->year = static_cast<int>(y - 1900);
    out->wday = static_cast<int>((days + 1) % 7);  // 1900-01-01 was a Monday
    out->yday = static_cast<int>(days - DAYS_1900_TO_1970 - days_from_civil(y, 1, 1));
}

uint32_t calendar_to_clock(const CalendarTime* in)
{
    const int64_t mon = in->mon;
    const int64_t year = 1900 + static_cast<int64_t>(in->year) + floor_div(mon, 12);
    const int64_t month = mon - 12 * floor_div(mon, 12);  // 0..11
    const int64_t days = days_from_civil(year, month + 1, 1) + in->mday - 1 + DAYS_1900_TO_1970;
    const int64_t t =
        days * 86400 + static_cast<int64_t>(in->hour) * 3600 + static_cast<int64_t>(in->min) * 60 + in->sec;
    if (t < 0 || t >= static_cast<int64_t>(CLOCK_INVALID)) return CLOCK_INVALID;
    return static_cast<uint32_t>(t);
}

size_t format_clock(char* buf, size_t n, uint32_t t)
{
    CalendarTime c;
    clock_to_calendar(t, &c);
    const int len = snprintf(buf, n, "%02d/%02d/%02d %02d:%02d:%02d", c.mon + 1, c.mday, c.year % 100, c.hour,
                             c.min, c.sec);
    if (len < 0 || n == 0) return 0;
    return static_cast<size_t>(len) < n ? static_cast<size_t>(len) : n - 1;
}

CalendarTime* get_RTC_time()
{
    static CalendarTime now;
    clock_to_calendar(hib_rtc_get(), &now);
    return &now;
}

// ---------------------------------------------------------------------------
// 10 ms tick

void SysTickHandler()
{
    // The card driver's timers come first; they run on the same tick.
    disk_timerproc();
    ++timer_10ms;
}

unsigned long Timer_10ms(unsigned char reset)
{
    if (reset) timer_10ms = 0;
    return timer_10ms;
}

// ---------------------------------------------------------------------------
// Hibernation

void console_off()
{
    pin_write(Signal::ConsoleXcvr0, true);
    pin_write(Signal::ConsoleXcvr1, false);
}

namespace {

void arm_wake(deploy_state state, uint32_t wake_time)
{
    if (state == DEPLOYED && wake_time != 0) {
        const uint32_t earliest = hib_rtc_get() + WAKE_LEAD_SECONDS;
        // A schedule already due or overdue wakes two seconds from now.
        const uint32_t wake = wake_time > earliest ? wake_time : earliest;
        hib_rtc_match_set(wake);
        hib_wake_set(HIB_WAKE_PIN | HIB_WAKE_RTC);
        if (sys_data.test_mode == 1 || sys_data.output == VERBOSE) {
            uprintf("\n\nSleeping until ");
            print_time_t_Time(wake_time);
        }
    } else if (state == DEPLOYED) {
        hib_wake_set(HIB_WAKE_PIN);
        uprintf("\n\nSleeping in polled mode..\n\n\n");
    } else {
        hib_wake_set(HIB_WAKE_PIN);
        uprintf("\n\nSleeping... ");
        if (sys_data.output == VERBOSE) uprintf("hit any key to wake\n\n\n");
        delay_ms(25);
    }
}

}  // namespace

void sleep(deploy_state state, uint32_t wake_time)
{
    sys_data.state = state;
    arm_wake(state, wake_time);
    UARTFlushTx(false);
    if (storeSysDataVariables() != 0) {
        uprintf("Error storing system data (sleep.c).\n");
        error_store("Error storing system data (sleep.c).");
        return;
    }
    console_off();
    hib_int_clear(hib_int_status_raw());
    hib_rtc_trim_set(HIB_TRIM);
    hib_request();

    // Power should be gone by now.
    delay_ms(1);
    uprintf("\n\n\nHybernation error!\n\n\n");
    error_store("Hybernation error.  Check if NORV compiled code is being run on MARIVANT\n");
}

void sleep_handler()
{
    hib_enable_clock(sysctl_clock_get());
    uint32_t status = 0;
    if (hib_is_active()) {
        status = hib_int_status_raw();
        hib_int_clear(status);
        if (status & HIB_INT_PIN_WAKE) {
            // A peer wants to talk during a timed deployment.
            if (sys_data.state == DEPLOYED) sys_data.state = COMMAND;
        } else if (status & HIB_INT_RTC_MATCH_0) {
            sys_data.state = DEPLOYED;
        } else {
            sys_data.state = IDLE;
        }
        hib_release_pins();
    }
    if (!(status & (HIB_INT_PIN_WAKE | HIB_INT_RTC_MATCH_0))) {
        hib_clock_config(HIB_OSC_LOWDRIVE);
        hib_rtc_trim_set(HIB_TRIM);
        hib_int_disable(HIB_INT_RTC_MATCH_0 | HIB_INT_LOW_BAT | HIB_INT_PIN_WAKE | HIB_INT_WR_COMPLETE);
        delay_ms(200);
        hib_rtc_enable();
        sys_data.state = IDLE;
    }
}
