#include "IO.h"

#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Sleep.h"
#include "platform.h"
#include "uartstdio.h"

namespace {

constexpr size_t PRINT_BUFFER_SIZE = UPRINTF_MAX + 1;

int print_into(char* buff, const char* format, va_list args)
{
    const int len = vsnprintf(buff, PRINT_BUFFER_SIZE, format, args);
    if (len < 0) return len;
    UARTwrite(buff, static_cast<uint32_t>(strlen(buff)));
    return len;
}

// A line is there to take once a CR is unread. A receive ring filled to
// the brim without one is taken too: nothing more could arrive, and the
// prompt would otherwise wait for ever.
bool line_ready()
{
    return UARTPeek('\r') >= 0 || UARTRxBytesAvail() >= static_cast<int>(UART_RX_BUFFER_SIZE - 1);
}

int read_line(char* buffer, int size)
{
    if (size < 1) return 0;
    return UARTgets(buffer, static_cast<uint32_t>(size));
}

// Date and time entry: "MM/DD/YY HH:MM:SS".
constexpr int TIME_ENTRY_LENGTH = 17;
constexpr int TIME_ENTRY_BUFFER = 23;

// A two-character decimal field; a leading blank or sign is allowed, a
// trailing one is not.
bool two_digit_field(const char* text, long* value)
{
    char field[3] = {text[0], text[1], 0};
    char* end = nullptr;
    errno = 0;
    *value = strtol(field, &end, 10);
    return errno == 0 && end == field + 2;
}

bool separators_valid(const char* t)
{
    return t[2] == '/' && t[5] == '/' && isspace(static_cast<unsigned char>(t[8])) && t[11] == ':' &&
           t[14] == ':';
}

// The clock value of a valid entry, or CLOCK_INVALID.
uint32_t parse_time_entry(const char* t)
{
    if (!separators_valid(t)) return CLOCK_INVALID;
    long mon, mday, year, hour, min, sec;
    if (!two_digit_field(t + 0, &mon) || !two_digit_field(t + 3, &mday) || !two_digit_field(t + 6, &year) ||
        !two_digit_field(t + 9, &hour) || !two_digit_field(t + 12, &min) || !two_digit_field(t + 15, &sec))
        return CLOCK_INVALID;
    if (mon < 1 || mon > 12 || mday < 1 || mday > 31 || year < 0 || hour < 0 || hour > 23 || min < 0 ||
        min > 59 || sec < 0 || sec > 61)
        return CLOCK_INVALID;
    CalendarTime c{};
    c.sec = static_cast<int>(sec);
    c.min = static_cast<int>(min);
    c.hour = static_cast<int>(hour);
    c.mday = static_cast<int>(mday);
    c.mon = static_cast<int>(mon) - 1;
    c.year = static_cast<int>(year) + 100;  // two-digit years are 2000 to 2099
    // Beyond the clock's range (after February 2036) counts as invalid.
    return calendar_to_clock(&c);
}

}  // namespace

int uprintf(const char* format, ...)
{
    static char buff[PRINT_BUFFER_SIZE];
    va_list args;
    va_start(args, format);
    const int len = print_into(buff, format, args);
    va_end(args);
    return len;
}

int dbg_printf(const char* format, ...)
{
    // Its own buffer: a debug print never spoils a normal one being built.
    static char buff[PRINT_BUFFER_SIZE];
    if (dbg_flag == 0) return 0;
    va_list args;
    va_start(args, format);
    const int len = print_into(buff, format, args);
    va_end(args);
    return len;
}

int getchar_timed(int timeout)
{
    const uint64_t limit = timeout > 0 ? static_cast<uint64_t>(timeout) * 100u : 0u;
    Timer_10ms(1);
    while (Timer_10ms(0) <= limit) {
        if (UARTRxBytesAvail() != 0) return UARTgetc();
        platform_idle();
    }
    return -1;
}

int getUserInput(char* userInputBuffer, int userInputBufferSize)
{
    while (!line_ready()) platform_idle();
    return read_line(userInputBuffer, userInputBufferSize);
}

int getUserInputTimeLimit(char* userInputBuffer, int userInputBufferSize, int timeLimit)
{
    const uint32_t start = hib_rtc_get();
    const uint32_t limit = timeLimit > 0 ? static_cast<uint32_t>(timeLimit) : 0u;
    while (!line_ready()) {
        if (hib_rtc_get() - start > limit) return -1;
        platform_idle();
    }
    return read_line(userInputBuffer, userInputBufferSize);
}

unsigned char get_key(void)
{
    char key[5];
    getUserInput(key, sizeof key);
    return static_cast<unsigned char>(key[0]);
}

int yesOrNoMenuChoice(const char* prompt, int default_response)
{
    uprintf("%s", prompt);
    switch (get_key()) {
        case 'Y':
        case 'y':
            return 1;
        case 'N':
        case 'n':
            return 0;
        default:
            return default_response;
    }
}

unsigned char kbhit(void)
{
    if (UARTRxBytesAvail() == 0) return 0;
    UARTFlushRx();
    return 1;
}

void printCurrentTime(void)
{
    print_time_t_Time(hib_rtc_get());
}

void print_time_t_Time(uint32_t time)
{
    char text[50];
    format_clock(text, sizeof text, time);
    uprintf("%s", text);
}

uint32_t getDateAndTime(void)
{
    for (;;) {
        uprintf("\n\nEnter time [");
        printCurrentTime();
        uprintf("]: ");
        char entry[TIME_ENTRY_BUFFER];
        const int len = getUserInput(entry, sizeof entry);
        if (len == 0) return 0;
        if (len != TIME_ENTRY_LENGTH) {
            uprintf("Enter a valid time string as MM/DD/YY HH:MM:SS\n\n\n");
            continue;
        }
        const uint32_t t = parse_time_entry(entry);
        if (t != CLOCK_INVALID) return t;
    }
}
