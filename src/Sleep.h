// Hibernation, wake decoding and the two time bases: the battery-backed
// seconds clock and the 10 ms tick.
//
// The clock counts seconds since 1900-01-01 00:00:00 of the wall-clock time
// the operator set. The calendar functions here are the firmware's own, so
// that no time zone of a C library shifts it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "System.h"

constexpr uint32_t WAKE_LEAD_SECONDS = 2;
constexpr uint32_t HIB_TRIM = 0x7FFF;
// Universal time is this far ahead of the clock's wall-clock time.
constexpr uint32_t UTC_OFFSET_SECONDS = 21600;

struct CalendarTime {
    int sec, min, hour;
    int mday;  // 1..31
    int mon;   // 0..11
    int year;  // years since 1900
    int wday;  // 0 = Sunday
    int yday;  // 0..365
};

void clock_to_calendar(uint32_t t, CalendarTime* out);
// Normalises out-of-range fields as mktime does (30 February becomes
// 2 March); returns 0xFFFFFFFF when the time is outside the clock's range.
uint32_t calendar_to_clock(const CalendarTime* in);
constexpr uint32_t CLOCK_INVALID = 0xFFFFFFFFu;
// "MM/DD/YY HH:MM:SS"; returns the length written.
size_t format_clock(char* buf, size_t n, uint32_t t);

extern volatile unsigned long timer_10ms;

void sleep(deploy_state state, uint32_t wake_time);
void sleep_handler();
CalendarTime* get_RTC_time();
void SysTickHandler();
unsigned long Timer_10ms(unsigned char reset);
void console_off();
