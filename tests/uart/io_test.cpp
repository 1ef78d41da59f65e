// Console helpers driven through the simulated console: formatted output,
// key and line input, time limits in virtual time, date and time entry.
#include "IO.h"

#include <ctime>
#include <string>

#include "platform.h"
#include "support/board_fixture.h"
#include "uartstdio.h"

namespace {

using sim::kMilli;
using sim::kSecond;
using testing_support::BoardFixture;

// 2017-12-31 23:59:59 on the clock (seconds since 1900).
constexpr uint32_t kClockNow = 3723753599u;

// Seconds since 1900 of a wall-clock time, from the C library's UTC
// conversion: an oracle independent of the firmware's calendar.
uint32_t clock_of(int year, int mon, int mday, int hour, int min, int sec)
{
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = mon - 1;
    t.tm_mday = mday;
    t.tm_hour = hour;
    t.tm_min = min;
    t.tm_sec = sec;
    return static_cast<uint32_t>(timegm(&t) + 2208988800LL);
}

size_t count(const std::string& text, const std::string& what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

class ConsoleHelpers : public BoardFixture {
protected:
    void SetUp() override
    {
        BoardFixture::SetUp();
        sysctl_clock_set_50mhz();
        UARTStdioConfig(0, 115200, PIOSC_HZ);
        UARTEchoSet(true);
        systick_period(SYSTEM_CLOCK_HZ / 100);
        systick_int_enable();
        systick_enable();
        hib_enable_clock(SYSTEM_CLOCK_HZ);
        hib_clock_config(HIB_OSC_LOWDRIVE);
        hib_rtc_enable();
        hib_rtc_set(kClockNow);
        dbg_flag = 0;
    }
    void TearDown() override
    {
        dbg_flag = 0;
        BoardFixture::TearDown();
    }
    // Typed keys, then time for them and their echo.
    void key_in(const std::string& s)
    {
        console_type(s);
        run_for(static_cast<sim::Nanos>(2 * s.size() + 8) * sim::char_time(115200) + kMilli);
    }
    std::string printed()
    {
        run_for(30 * kMilli);
        return console_output();
    }
};

TEST_F(ConsoleHelpers, UprintfCutsAt255CharactersAndReturnsTheFullLength)
{
    std::string text;
    for (int i = 0; i < 300; ++i) text.push_back(static_cast<char>('a' + i % 26));
    EXPECT_EQ(uprintf("%s", text.c_str()), 300);
    EXPECT_EQ(printed(), text.substr(0, 255));
    EXPECT_EQ(uprintf("%d-%s\n", 42, "x"), 5);
    EXPECT_EQ(printed(), "42-x\r\n");
}

TEST_F(ConsoleHelpers, DbgPrintfPrintsOnlyWhileTheDebugSwitchIsOn)
{
    EXPECT_EQ(dbg_printf("trace %d\n", 1), 0);
    EXPECT_EQ(printed(), "");
    dbg_flag = 1;
    EXPECT_EQ(dbg_printf("trace %d\n", 2), 8);
    EXPECT_EQ(printed(), "trace 2\r\n");
    std::string text(300, 'q');
    EXPECT_EQ(dbg_printf("%s", text.c_str()), 300);
    EXPECT_EQ(printed(), text.substr(0, 255));
}

struct KeyCase {
    std::string typed;
    unsigned char key;
};

TEST_F(ConsoleHelpers, GetKeyReturnsTheFirstCharacterOfTheLine)
{
    const KeyCase cases[] = {
        {"12\r", '1'},
        {"\r", 0},
        {"abcdef\r", 'a'},
        {"\r\n", 0},
    };
    for (const auto& c : cases) {
        key_in(c.typed);
        EXPECT_EQ(get_key(), c.key) << c.typed;
        EXPECT_EQ(UARTRxBytesAvail(), 0) << "the whole line is consumed: " << c.typed;
    }
}

struct ChoiceCase {
    std::string typed;
    int default_response;
    int result;
};

TEST_F(ConsoleHelpers, YesOrNoTakesYAndNAndDefaultsOtherwise)
{
    const ChoiceCase cases[] = {
        {"yes\r", 0, 1}, {"Y\r", 0, 1}, {"n\r", 1, 0}, {"No\r", 1, 0},
        {"x\r", 0, 0},   {"x\r", 1, 1}, {"\r", 0, 0},  {"\r", 1, 1},
    };
    for (const auto& c : cases) {
        console_output();
        key_in(c.typed);
        EXPECT_EQ(yesOrNoMenuChoice("Sure (Y/N)? ", c.default_response), c.result) << c.typed;
        EXPECT_NE(printed().find("Sure (Y/N)? "), std::string::npos);
    }
}

TEST_F(ConsoleHelpers, KbhitDiscardsTheKeyThatStoppedTheOutput)
{
    EXPECT_EQ(kbhit(), 0);
    key_in("q");
    EXPECT_EQ(kbhit(), 1);
    EXPECT_EQ(UARTRxBytesAvail(), 0);
    EXPECT_EQ(kbhit(), 0);
    key_in("5\r");
    EXPECT_EQ(get_key(), '5') << "the next prompt sees only new keys";
}

TEST_F(ConsoleHelpers, GetcharTimedGivesUpAfterItsLimitInTicks)
{
    struct Case {
        int timeout;
        sim::Nanos least, most;
    };
    for (const Case& c :
         {Case{2, 2 * kSecond, 2 * kSecond + 20 * kMilli}, Case{0, 0, 10 * kMilli + kMilli}}) {
        const sim::Nanos start = board_->now();
        EXPECT_EQ(getchar_timed(c.timeout), -1);
        const sim::Nanos took = board_->now() - start;
        EXPECT_GE(took, c.least) << c.timeout;
        EXPECT_LE(took, c.most) << c.timeout;
    }
}

TEST_F(ConsoleHelpers, GetcharTimedReturnsEveryByteValueAsNonNegative)
{
    UARTEchoSet(false);
    console_type(
        "\xff"
        "A");
    EXPECT_EQ(getchar_timed(1), 255);
    EXPECT_EQ(getchar_timed(1), 'A');
}

TEST_F(ConsoleHelpers, TimedLineInputGivesUpBetweenItsLimitAndOneSecondMore)
{
    char buf[32];
    // Start between two clock seconds: the sim's idle steps (one tick) do
    // not then blur the bounds.
    run_for(kSecond / 2);
    const sim::Nanos start = board_->now();
    EXPECT_EQ(getUserInputTimeLimit(buf, sizeof buf, 10), -1);
    const sim::Nanos took = board_->now() - start;
    EXPECT_GE(took, 10 * kSecond);
    EXPECT_LE(took, 11 * kSecond);

    key_in("hi\r");
    EXPECT_EQ(getUserInputTimeLimit(buf, sizeof buf, 10), 2);
    EXPECT_STREQ(buf, "hi");
}

TEST_F(ConsoleHelpers, ALineEndedByLfOrEscWaitsForALaterEnter)
{
    for (const std::string end : {"\n", "\x1b"}) {
        char buf[32];
        key_in("ab" + end);
        EXPECT_EQ(getUserInputTimeLimit(buf, sizeof buf, 1), -1) << "not taken without a CR";
        key_in("cd\r");
        EXPECT_EQ(getUserInput(buf, sizeof buf), 2);
        EXPECT_STREQ(buf, "ab");
        EXPECT_EQ(getUserInput(buf, sizeof buf), 2);
        EXPECT_STREQ(buf, "cd");
    }
}

TEST_F(ConsoleHelpers, AReceiveRingFullWithoutEnterIsTakenOnce)
{
    // Every key after the 2047th is dropped, the Enter too: waiting for a CR
    // would wait for ever. The line is taken and ends at a later Enter.
    char buf[10];
    console_type(std::string(2047, 'k') + "\r" + "b\r");
    EXPECT_EQ(getUserInputTimeLimit(buf, sizeof buf, 5), 9);
    EXPECT_STREQ(buf, "kkkkkkkkk");
}

TEST_F(ConsoleHelpers, PrintsTheClockAsMonthDayYearAndTime)
{
    printCurrentTime();
    EXPECT_EQ(printed(), "12/31/17 23:59:59");
    print_time_t_Time(clock_of(2024, 2, 29, 7, 5, 3));
    EXPECT_EQ(printed(), "02/29/24 07:05:03");
}

struct EntryCase {
    std::string typed;
    uint32_t result;
};

TEST_F(ConsoleHelpers, DateAndTimeEntryAcceptsTheFixedForm)
{
    const EntryCase cases[] = {
        {"12/31/17 23:59:59", clock_of(2017, 12, 31, 23, 59, 59)},
        {" 5/ 1/17 00:00:00", clock_of(2017, 5, 1, 0, 0, 0)},
        {"+5/01/17 00:00:00", clock_of(2017, 5, 1, 0, 0, 0)},
        {"01/01/00 00:00:00", clock_of(2000, 1, 1, 0, 0, 0)},
        {"06/15/20\t12:00:00", clock_of(2020, 6, 15, 12, 0, 0)},
        // Day numbers past the month's end carry into the next month.
        {"02/30/17 00:00:00", clock_of(2017, 3, 2, 0, 0, 0)},
        {"04/31/21 10:00:00", clock_of(2021, 5, 1, 10, 0, 0)},
        {"12/31/16 23:59:60", clock_of(2017, 1, 1, 0, 0, 0)},
    };
    for (const auto& c : cases) {
        key_in(c.typed + "\r");
        EXPECT_EQ(getDateAndTime(), c.result) << c.typed;
        const std::string out = printed();
        EXPECT_EQ(count(out, "Enter time [12/31/17 23:59:"), 1u) << c.typed;
        EXPECT_EQ(out.find("Enter a valid"), std::string::npos) << c.typed;
    }
}

TEST_F(ConsoleHelpers, EmptyEntryKeepsTheCurrentTime)
{
    key_in("\r");
    EXPECT_EQ(console_output(), "\r\n\r");
    EXPECT_EQ(getDateAndTime(), 0u);
    EXPECT_EQ(printed(), "\r\n\r\nEnter time [12/31/17 23:59:59]: ");
}

TEST_F(ConsoleHelpers, MalformedEntriesOfTheRightLengthAreAskedAgainSilently)
{
    const std::string refused[] = {
        "12/31/17T23:59:59",  // no white space between date and time
        "13/01/17 00:00:00", "00/01/17 00:00:00", "12/32/17 00:00:00", "12/00/17 00:00:00",
        "12/31/-1 00:00:00", "12/31/17 24:00:00", "12/31/17 23:60:00", "12/31/17 23:59:62",
        "12/31/17 23:59:5 ",  // trailing blank in a field
        "1a/31/17 00:00:00", "12-31-17 00:00:00", "12/31/17 23.59.59",
        "12/31/40 00:00:00",  // beyond the clock's range (2036)
    };
    const uint32_t valid = clock_of(2020, 6, 15, 12, 0, 0);
    for (const auto& r : refused) {
        key_in(r + "\r06/15/20 12:00:00\r");
        EXPECT_EQ(getDateAndTime(), valid) << r;
        const std::string out = printed();
        EXPECT_EQ(count(out, "Enter time ["), 2u) << r;
        EXPECT_EQ(out.find("Enter a valid"), std::string::npos) << r;
    }
}

TEST_F(ConsoleHelpers, EntriesOfAnotherLengthBringTheHint)
{
    for (const std::string wrong : {"1/1/17 0:0:0", "12/31/2017 23:59:59", "12/31/17 23:59:59 "}) {
        key_in(wrong + "\r06/15/20 12:00:00\r");
        EXPECT_EQ(getDateAndTime(), clock_of(2020, 6, 15, 12, 0, 0)) << wrong;
        const std::string out = printed();
        EXPECT_EQ(count(out, "Enter a valid time string as MM/DD/YY HH:MM:SS\r\n\r\n\r\n"), 1u) << wrong;
        EXPECT_EQ(count(out, "Enter time ["), 2u) << wrong;
    }
}

}  // namespace
