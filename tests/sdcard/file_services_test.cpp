// File services over FatFs on the simulated card: result names, the volume's
// registration, sd_fprintf's cut, and the error log with and without a card.
#include <string>

#include "SDCard.h"
#include "Sleep.h"
#include "System.h"
#include "card_fixture.h"
#include "gpio.h"
#include "platform.h"

namespace {

using sdcard_test::CardSetup;
using sdcard_test::CardTest;

TEST(ResultNames, TableOrderLowByteAndUnknownCodes)
{
    const struct {
        unsigned code;
        const char* name;
    } cases[] = {
        {0, "FR_OK"},
        {1, "UNKNOWN ERROR CODE"},  // FR_DISK_ERR
        {2, "UNKNOWN ERROR CODE"},  // FR_INT_ERR
        {3, "FR_NOT_READY"},
        {4, "FR_NO_FILE"},
        {5, "FR_NO_PATH"},
        {6, "FR_INVALID_NAME"},
        {7, "FR_DENIED"},
        {8, "FR_EXIST"},
        {9, "FR_INVALID_OBJECT"},
        {10, "FR_WRITE_PROTECTED"},
        {11, "FR_INVALID_DRIVE"},
        {12, "FR_NOT_ENABLED"},
        {13, "FR_NO_FILESYSTEM"},
        {14, "FR_MKFS_ABORTED"},
        {15, "UNKNOWN ERROR CODE"},
        {16, "UNKNOWN ERROR CODE"},
        {17, "UNKNOWN ERROR CODE"},
        {18, "UNKNOWN ERROR CODE"},
        {19, "UNKNOWN ERROR CODE"},
        {255, "UNKNOWN ERROR CODE"},
        {0x100, "FR_OK"},  // only the low 8 bits count
        {0x109, "FR_INVALID_OBJECT"},
    };
    for (const auto& c : cases)
        EXPECT_STREQ(StringFromFresult(static_cast<FRESULT>(c.code)), c.name) << c.code;
}

std::string read_whole(const char* path)
{
    FIL f;
    if (f_open(&f, path, FA_READ) != FR_OK) return "<cannot open>";
    std::string s;
    char buf[128];
    UINT n = 0;
    while (f_read(&f, buf, sizeof buf, &n) == FR_OK && n > 0) s.append(buf, n);
    f_close(&f);
    return s;
}

using FileServices = CardTest;

TEST_F(FileServices, InitRoutesTheCardPinsAndDefersTheMount)
{
    start({.present = false});
    Init_SDCard();
    EXPECT_EQ(console(), "");  // nothing touches the card yet
    const sim::Gpio& g = board_->gpio();
    for (Signal s : {Signal::SdClk, Signal::SdCs, Signal::SdMiso, Signal::SdMosi}) {
        EXPECT_TRUE(g.is_alternate(s)) << pin_def(s).name;
        EXPECT_EQ(g.function(s), 2) << pin_def(s).name;
    }
    EXPECT_TRUE(board_->ssi(0).enabled());
    EXPECT_EQ(board_->ssi(0).mode(), 0);
    EXPECT_EQ(board_->ssi(0).actual_bit_rate(), 1000000u);

    FIL f;
    EXPECT_EQ(f_open(&f, "DATA.TXT", FA_READ), FR_NOT_READY);
}

TEST_F(FileServices, FirstFileAccessAfterInitFindsTheCard)
{
    start();
    Init_SDCard();
    FIL f;
    ASSERT_EQ(f_open(&f, "NEW.TXT", FA_WRITE | FA_CREATE_ALWAYS), FR_OK);
    EXPECT_EQ(sd_fprintf(&f, "%s %d\n", "pH", 8), 5);
    ASSERT_EQ(f_close(&f), FR_OK);
    EXPECT_EQ(read_whole("NEW.TXT"), "pH 8\n");
    EXPECT_EQ(card_->protocol_error(), "");
}

TEST_F(FileServices, SdFprintfCutsAt255Characters)
{
    start();
    Init_SDCard();
    FIL f;
    ASSERT_EQ(f_open(&f, "LONG.TXT", FA_WRITE | FA_CREATE_ALWAYS), FR_OK);
    const std::string text(300, 'x');
    EXPECT_EQ(sd_fprintf(&f, "%s", text.c_str()), 255);
    EXPECT_EQ(sd_fprintf(&f, "%s", ""), 0);
    ASSERT_EQ(f_close(&f), FR_OK);
    EXPECT_EQ(read_whole("LONG.TXT"), std::string(255, 'x'));
    EXPECT_EQ(console(), "");
}

TEST_F(FileServices, SdFprintfReportsWriteErrorsByName)
{
    start();
    Init_SDCard();
    FIL f;
    ASSERT_EQ(f_open(&f, "RO.TXT", FA_WRITE | FA_CREATE_ALWAYS), FR_OK);
    ASSERT_EQ(f_close(&f), FR_OK);
    ASSERT_EQ(f_open(&f, "RO.TXT", FA_READ), FR_OK);
    EXPECT_EQ(sd_fprintf(&f, "line\n"), 0);
    f_close(&f);
    EXPECT_EQ(sd_fprintf(&f, "closed\n"), 0);
    EXPECT_EQ(console(), "f_write error: FR_DENIED\nf_write error: FR_INVALID_OBJECT\n");
}

// ---------------------------------------------------------------------------
// Error log

uint32_t clock_of(int year, int month, int day, int hour, int minute, int second)
{
    CalendarTime c{};
    c.year = year - 1900, c.mon = month - 1, c.mday = day, c.hour = hour, c.min = minute, c.sec = second;
    return calendar_to_clock(&c);
}

using ErrorLog = CardTest;

TEST_F(ErrorLog, EntriesStartOnANewLineWithTheLocalTime)
{
    start();
    Init_SDCard();
    hib_rtc_set(clock_of(2017, 12, 31, 23, 0, 0));
    error_store("f_open error");
    hib_rtc_set(clock_of(2018, 1, 2, 3, 4, 5));
    error_store("Low battery! Exited deploy mode");
    EXPECT_EQ(read_whole("Error.txt"),
              "\n2017/12/31 23:00:00 f_open error\n2018/01/02 03:04:05 Low battery! Exited deploy mode");
    EXPECT_EQ(console(), "");
}

TEST_F(ErrorLog, WithoutACardEveryStepReportsItsFailure)
{
    start({.present = false});
    Init_SDCard();
    error_store("Error storing system data (sleep.c).");
    EXPECT_EQ(console(),
              "Error.txt f_open error: FR_NOT_READY\n"
              "Error.txt f_lseek error: FR_INVALID_OBJECT\n"
              "Error.txt f_write error: FR_INVALID_OBJECT\n"
              "Error.txt f_write error: FR_INVALID_OBJECT\n"
              "Error.txt f_close error: FR_INVALID_OBJECT\n");
}

TEST_F(ErrorLog, DiskErrorsPrintAsUnknownAndNothingIsWritten)
{
    start({.write_refused = true});
    Init_SDCard();
    error_store("f_close error");
    const std::string out = console();
    EXPECT_NE(out.find("Error.txt f_close error: UNKNOWN ERROR CODE\n"), std::string::npos) << out;
    EXPECT_EQ(card_->sectors_written(), 0u);
    reboot({});
    Init_SDCard();
    FIL f;
    EXPECT_EQ(f_open(&f, "Error.txt", FA_READ), FR_NO_FILE);
}

}  // namespace
