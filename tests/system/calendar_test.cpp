// The firmware's calendar: seconds since 1900-01-01 of wall-clock time.
#include <gtest/gtest.h>

#include "Sleep.h"

namespace {

struct DateCase {
    uint32_t seconds;
    int year, mon, mday, hour, min, sec, wday, yday;
    const char* text;
};

// Reference values computed independently of this code (Python datetime).
const DateCase kDates[] = {
    {0u, 0, 0, 1, 0, 0, 0, 1, 0, "01/01/00 00:00:00"},
    {3155673599u, 99, 11, 31, 23, 59, 59, 5, 364, "12/31/99 23:59:59"},
    {3160814400u, 100, 1, 29, 12, 0, 0, 2, 59, "02/29/00 12:00:00"},
    {3697401600u, 117, 2, 2, 0, 0, 0, 4, 60, "03/02/17 00:00:00"},
    {3723753599u, 117, 11, 31, 23, 59, 59, 0, 364, "12/31/17 23:59:59"},
    {4005952734u, 126, 11, 11, 4, 38, 54, 5, 344, "12/11/26 04:38:54"},
    {4294967295u, 136, 1, 7, 6, 28, 15, 4, 37, "02/07/36 06:28:15"},
};

TEST(Calendar, ClockToCalendarAndBack)
{
    for (const auto& d : kDates) {
        CalendarTime c;
        clock_to_calendar(d.seconds, &c);
        EXPECT_EQ(c.year, d.year) << d.text;
        EXPECT_EQ(c.mon, d.mon) << d.text;
        EXPECT_EQ(c.mday, d.mday) << d.text;
        EXPECT_EQ(c.hour, d.hour) << d.text;
        EXPECT_EQ(c.min, d.min) << d.text;
        EXPECT_EQ(c.sec, d.sec) << d.text;
        EXPECT_EQ(c.wday, d.wday) << d.text;
        EXPECT_EQ(c.yday, d.yday) << d.text;
        char buf[32];
        EXPECT_EQ(format_clock(buf, sizeof(buf), d.seconds), 17u);
        EXPECT_STREQ(buf, d.text);
        if (d.seconds != CLOCK_INVALID) {
            EXPECT_EQ(calendar_to_clock(&c), d.seconds) << d.text;
        }
    }
}

TEST(Calendar, OutOfRangeFieldsCarryLikeMktime)
{
    CalendarTime feb30{0, 0, 0, 30, 1, 117, 0, 0};      // 30 February 2017
    EXPECT_EQ(calendar_to_clock(&feb30), 3697401600u);  // 2 March 2017
    CalendarTime month13{0, 0, 0, 1, 12, 117, 0, 0};    // month 12 is January of the next year
    CalendarTime jan18{0, 0, 0, 1, 0, 118, 0, 0};
    EXPECT_EQ(calendar_to_clock(&month13), calendar_to_clock(&jan18));
    CalendarTime hour25{0, 0, 25, 31, 11, 117, 0, 0};
    EXPECT_EQ(calendar_to_clock(&hour25), 3723753600u + 3600u);
}

TEST(Calendar, TimesOutsideTheClockRangeAreRefused)
{
    CalendarTime y2050{0, 0, 0, 1, 0, 150, 0, 0};
    EXPECT_EQ(calendar_to_clock(&y2050), CLOCK_INVALID);
    CalendarTime y1899{0, 0, 0, 31, 11, -1, 0, 0};
    EXPECT_EQ(calendar_to_clock(&y1899), CLOCK_INVALID);
}

TEST(Calendar, FormatIsCutToTheBuffer)
{
    char small[8];
    EXPECT_EQ(format_clock(small, sizeof(small), 3723753599u), 7u);
    EXPECT_STREQ(small, "12/31/1");
}

}  // namespace
