// The card image as PC tools see it: the simulator's own FAT32 formatter,
// and files written through FatFs, the driver and the simulated card, read
// back with mtools and checked with fsck.fat.
#include <fcntl.h>
#include <unistd.h>

#include <ostream>
#include <string>
#include <vector>

#include "SDCard.h"
#include "Sleep.h"
#include "System.h"
#include "card_fixture.h"
#include "fat_format.h"

namespace {

using sdcard_test::CardSetup;
using sdcard_test::CardTest;
using sdcard_test::run;
using sim::CardType;

std::string shell_word(const std::string& s)
{
    return "'" + s + "'";
}

// ---------------------------------------------------------------------------
// Formatter

struct FormatCase {
    const char* name;
    uint64_t bytes;
};
// Test names show the case name, not the bytes.
void PrintTo(const FormatCase& c, std::ostream* os)
{
    *os << c.name;
}

class Formatter : public CardTest, public ::testing::WithParamInterface<FormatCase> {};

TEST_P(Formatter, FreshVolumeIsCleanForFsck)
{
    const uint64_t sectors = GetParam().bytes / 512;
    sim::Fat32Layout layout;
    ASSERT_TRUE(sim::fat32_layout(sectors, &layout));
    make_image(GetParam().bytes);
    const int fd = open(image_.c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(sim::fat32_format(fd, sectors, 0x12345678));
    close(fd);

    std::string out;
    EXPECT_EQ(run("fsck.fat -n " + shell_word(image_), &out), 0) << out;
    EXPECT_NE(out.find("0 files, 1/" + std::to_string(layout.clusters) + " clusters"), std::string::npos)
        << out;
    EXPECT_EQ(run("minfo -i " + shell_word(image_) + " ::", &out), 0) << out;
    EXPECT_NE(out.find("FAT32"), std::string::npos) << out;
}

INSTANTIATE_TEST_SUITE_P(Sizes, Formatter,
                         ::testing::Values(FormatCase{"Small64MiB", 64ull << 20},
                                           FormatCase{"Mmc1GiB", 1ull << 30},
                                           FormatCase{"Sd4GiB", 4ull << 30},
                                           FormatCase{"Sd32GiB", 32ull << 30}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(FormatterLimits, TooSmallForFat32IsRefused)
{
    sim::Fat32Layout layout;
    EXPECT_FALSE(sim::fat32_layout(32ull << 11, &layout));  // 32 MiB
    EXPECT_FALSE(sim::fat32_layout(1ull << 32, &layout));   // 2 TiB
}

using FormatterFiles = CardTest;

TEST_F(FormatterFiles, ZeroFileForBenchesIsCleanForFsck)
{
    make_image(4ull << 30);
    const int fd = open(image_.c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(sim::fat32_format(fd, (4ull << 30) / 512, 1));
    ASSERT_TRUE(sim::fat32_add_zero_file(fd, "BIG     DAT", 1000000));
    ASSERT_TRUE(sim::fat32_add_zero_file(fd, "EMPTY   DAT", 0));
    close(fd);
    std::string out;
    EXPECT_EQ(run("fsck.fat -n " + shell_word(image_), &out), 0) << out;
    EXPECT_NE(out.find("2 files, 246/"), std::string::npos) << out;  // root + 245 clusters of 4 KiB
    EXPECT_EQ(run("mdir -i " + shell_word(image_) + " ::", &out), 0) << out;
    EXPECT_NE(out.find("1000000"), std::string::npos) << out;
}

using FreshCard = CardTest;

TEST_F(FreshCard, SameCardTypeGivesTheSameBytes)
{
    start();
    stop();
    const std::string first = image_ + ".first";
    ASSERT_EQ(run("mv " + shell_word(image_) + " " + shell_word(first)), 0);
    start();
    stop();
    // Reserved area, both FATs and the root directory of a 4 GiB card.
    std::string out;
    EXPECT_EQ(run("cmp -n 8500000 " + shell_word(first) + " " + shell_word(image_), &out), 0) << out;
}

// ---------------------------------------------------------------------------
// Files written by the firmware, read by the PC tools

struct TypeCase {
    const char* name;
    CardType type;
};
// Test names show the case name, not the bytes.
void PrintTo(const TypeCase& c, std::ostream* os)
{
    *os << c.name;
}

class CardImage : public CardTest, public ::testing::WithParamInterface<TypeCase> {
protected:
    std::string mtype(const std::string& name)
    {
        std::string out;
        EXPECT_EQ(run("mtype -i " + shell_word(image_) + " ::" + name, &out), 0) << out;
        return out;
    }
    void expect_fsck_clean()
    {
        std::string out;
        EXPECT_EQ(run("fsck.fat -n " + shell_word(image_), &out), 0) << out;
    }
};

std::string big_text()
{
    std::string s;
    for (int i = 0; s.size() < 40000; ++i) s += "record " + std::to_string(i) + "\t7.9123\t12.345\n";
    return s;
}

TEST_P(CardImage, FirmwareWritesWhatMtoolsReadsBack)
{
    start({.type = GetParam().type});
    expect_fsck_clean();  // the fresh card the simulator formatted
    CalendarTime eve{};
    eve.year = 117, eve.mon = 11, eve.mday = 31, eve.hour = 23;
    hib_rtc_set(calendar_to_clock(&eve));
    Init_SDCard();

    FIL f;
    ASSERT_EQ(f_open(&f, "DATA.TXT", FA_READ | FA_WRITE | FA_OPEN_ALWAYS), FR_OK);
    ASSERT_EQ(f_lseek(&f, f_size(&f)), FR_OK);
    sd_fprintf(&f, "\"Current time\"\t\t\t%s", "2017/12/31 23:00:00");
    sd_fprintf(&f, "\n\"File name\"\t%s\n", "DATA.TXT");
    const std::string big = big_text();  // whole sectors go as multi-block writes
    UINT written = 0;
    ASSERT_EQ(f_write(&f, big.data(), static_cast<UINT>(big.size()), &written), FR_OK);
    ASSERT_EQ(written, big.size());
    ASSERT_EQ(f_close(&f), FR_OK);
    error_store("f_lseek error");
    EXPECT_EQ(card_->protocol_error(), "");
    EXPECT_EQ(console(), "");

    // The image file is up to date while the board still runs.
    const std::string expected = "\"Current time\"\t\t\t2017/12/31 23:00:00\n\"File name\"\tDATA.TXT\n" + big;
    EXPECT_EQ(mtype("DATA.TXT"), expected);
    EXPECT_EQ(mtype("ERROR.TXT"), "\n2017/12/31 23:00:00 f_lseek error");
    expect_fsck_clean();
    std::string dir;
    ASSERT_EQ(run("mdir -i " + shell_word(image_) + " ::", &dir), 0) << dir;
    EXPECT_NE(dir.find("2018-01-01   5:00"), std::string::npos) << "stamps are in universal time\n" << dir;

    // The next boot appends and reads it all back through the driver.
    reboot();
    Init_SDCard();
    ASSERT_EQ(f_open(&f, "DATA.TXT", FA_READ | FA_WRITE | FA_OPEN_ALWAYS), FR_OK);
    ASSERT_EQ(f_lseek(&f, f_size(&f)), FR_OK);
    sd_fprintf(&f, "second boot\n");
    ASSERT_EQ(f_close(&f), FR_OK);
    ASSERT_EQ(f_open(&f, "DATA.TXT", FA_READ), FR_OK);
    std::string back(expected.size() + 100, '\0');
    UINT got = 0;
    ASSERT_EQ(f_read(&f, back.data(), static_cast<UINT>(back.size()), &got), FR_OK);
    back.resize(got);
    f_close(&f);
    EXPECT_EQ(back, expected + "second boot\n");
    EXPECT_EQ(mtype("DATA.TXT"), expected + "second boot\n");
    expect_fsck_clean();
    EXPECT_EQ(card_->protocol_error(), "");
}

INSTANTIATE_TEST_SUITE_P(Types, CardImage,
                         ::testing::Values(TypeCase{"SdV2Block", CardType::SdV2Block},
                                           TypeCase{"SdV2Byte", CardType::SdV2Byte},
                                           TypeCase{"SdV1", CardType::SdV1}, TypeCase{"Mmc", CardType::Mmc}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
