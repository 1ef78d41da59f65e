// The SD/MMC block driver against the simulated card: parameter checks,
// initialisation of each card type, addressing, command framing, ioctl
// codes, time-outs and the FAT time stamp.
#include "diskio.h"

#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "Sleep.h"
#include "card_fixture.h"
#include "platform.h"
#include "sd_card.h"

namespace {

using sdcard_test::CardSetup;
using sdcard_test::CardTest;
using sdcard_test::sector_pattern;
using sim::CardType;

constexpr uint8_t CMD0 = 0, CMD1 = 1, CMD8 = 8, CMD12 = 12, CMD16 = 16, CMD17 = 17, CMD18 = 18, CMD23 = 23,
                  CMD24 = 24, CMD25 = 25, CMD41 = 41, CMD55 = 55, CMD58 = 58;

using Log = std::vector<sim::SdCard::Command>;

size_t count_of(const Log& log, uint8_t index)
{
    size_t n = 0;
    for (const auto& c : log) n += c.index == index;
    return n;
}

const sim::SdCard::Command* first_of(const Log& log, uint8_t index)
{
    for (const auto& c : log)
        if (c.index == index) return &c;
    return nullptr;
}

std::string indexes(const Log& log)
{
    std::string s;
    for (const auto& c : log) s += (c.app ? "A" : "") + std::to_string(c.index) + " ";
    return s;
}

// ---------------------------------------------------------------------------
// Parameter and state checks

using DriverParams = CardTest;

TEST_F(DriverParams, WrongDriveAndZeroCountAreParameterErrors)
{
    start();
    ASSERT_EQ(disk_initialize(0), 0);
    uint8_t buf[1024] = {};
    struct Case {
        const char* what;
        DRESULT got;
        DRESULT want;
    } cases[] = {
        {"read drive 1", disk_read(1, buf, 0, 1), RES_PARERR},
        {"read count 0", disk_read(0, buf, 0, 0), RES_PARERR},
        {"write drive 1", disk_write(1, buf, 0, 1), RES_PARERR},
        {"write count 0", disk_write(0, buf, 0, 0), RES_PARERR},
        {"ioctl drive 1", disk_ioctl(1, CTRL_SYNC, nullptr), RES_PARERR},
        {"ioctl power drive 1", disk_ioctl(1, CTRL_POWER, buf), RES_PARERR},
        {"unknown ioctl code", disk_ioctl(0, GET_BLOCK_SIZE, buf), RES_PARERR},
        {"card type code (not served)", disk_ioctl(0, MMC_GET_TYPE, buf), RES_PARERR},
        {"power sub-code 3", (buf[0] = 3, disk_ioctl(0, CTRL_POWER, buf)), RES_PARERR},
        {"read drive 0", disk_read(0, buf, 0, 2), RES_OK},
    };
    for (const auto& c : cases) EXPECT_EQ(c.got, c.want) << c.what;
    EXPECT_EQ(disk_status(1), STA_NOINIT);
    EXPECT_EQ(disk_initialize(1), STA_NOINIT);
    EXPECT_EQ(disk_status(0), 0);
}

TEST_F(DriverParams, NoCardLeavesTheDriveNotReadyQuicklyAndQuietly)
{
    start();
    ASSERT_EQ(disk_initialize(0), 0);  // a card worked in this socket before
    reboot({.present = false});
    const sim::Nanos t0 = now();
    EXPECT_EQ(disk_initialize(0), STA_NOINIT);
    EXPECT_LT(now() - t0, 10 * sim::kMilli);
    EXPECT_EQ(disk_status(0), STA_NOINIT);

    uint8_t buf[512] = {};
    EXPECT_EQ(disk_read(0, buf, 0, 1), RES_NOTRDY);
    EXPECT_EQ(disk_write(0, buf, 0, 1), RES_NOTRDY);
    for (BYTE code : {CTRL_SYNC, GET_SECTOR_COUNT, GET_SECTOR_SIZE, MMC_GET_CSD, MMC_GET_OCR, GET_BLOCK_SIZE})
        EXPECT_EQ(disk_ioctl(0, code, buf), RES_NOTRDY) << int(code);
    // Power control works on a drive that is not initialised.
    buf[0] = 2;
    EXPECT_EQ(disk_ioctl(0, CTRL_POWER, buf), RES_OK);
    EXPECT_EQ(buf[1], 0);
    EXPECT_EQ(console(), "");
}

// ---------------------------------------------------------------------------
// Each card type: initialisation, addressing, framing

struct TypeCase {
    const char* name;
    CardType type;
    bool block;  // block-addressed (high capacity)
    bool sd;     // SD card, not MMC
    bool v2;     // answers CMD8
};
// Test names show the case name, not the bytes.
void PrintTo(const TypeCase& c, std::ostream* os)
{
    *os << c.name;
}

class CardTypes : public CardTest, public ::testing::WithParamInterface<TypeCase> {};

TEST_P(CardTypes, InitialisesWithTheRightCommandsAndRates)
{
    const TypeCase& tc = GetParam();
    start({.type = tc.type});
    ASSERT_EQ(disk_initialize(0), 0);
    EXPECT_EQ(card_->protocol_error(), "");  // clock train, 400 kHz, pins, mode 0
    EXPECT_EQ(board_->ssi(0).actual_bit_rate(), 12500000u);
    EXPECT_TRUE(card_released());

    const Log& log = card_->commands();
    ASSERT_GE(log.size(), 3u) << indexes(log);
    EXPECT_EQ(log[0].index, CMD0);
    EXPECT_EQ(log[0].crc, 0x95);
    EXPECT_EQ(log[1].index, CMD8);
    EXPECT_EQ(log[1].arg, 0x1AAu);
    EXPECT_EQ(log[1].crc, 0x87);
    for (size_t i = 2; i < log.size(); ++i) EXPECT_EQ(log[i].crc, 0xFF) << "command " << int(log[i].index);

    const auto* acmd41 = first_of(log, CMD41);
    if (tc.sd) {
        ASSERT_NE(acmd41, nullptr);
        EXPECT_TRUE(acmd41->app);
        EXPECT_EQ(acmd41->arg, tc.v2 ? 0x40000000u : 0u);
        EXPECT_EQ(count_of(log, CMD1), 0u);
    } else {
        EXPECT_GE(count_of(log, CMD1), 1u);
    }
    // Block length set only on the version 1 / MMC path; OCR read only on version 2.
    EXPECT_EQ(count_of(log, CMD16), tc.v2 ? 0u : 1u);
    EXPECT_EQ(count_of(log, CMD58), tc.v2 ? 1u : 0u);
}

TEST_P(CardTypes, SectorsBecomeByteOrBlockAddresses)
{
    const TypeCase& tc = GetParam();
    start({.type = tc.type});
    ASSERT_EQ(disk_initialize(0), 0);
    put_image_sector(3, sector_pattern(3));
    card_->clear_commands();

    uint8_t buf[512];
    ASSERT_EQ(disk_read(0, buf, 3, 1), RES_OK);
    EXPECT_EQ(std::vector<uint8_t>(buf, buf + 512), sector_pattern(3));
    ASSERT_EQ(card_->commands().size(), 1u);
    EXPECT_EQ(card_->commands()[0].index, CMD17);
    EXPECT_EQ(card_->commands()[0].arg, tc.block ? 3u : 1536u);
    EXPECT_TRUE(card_released());
}

TEST_P(CardTypes, MultiBlockWriteAndReadRoundTrip)
{
    const TypeCase& tc = GetParam();
    start({.type = tc.type});
    ASSERT_EQ(disk_initialize(0), 0);
    std::vector<uint8_t> data;
    for (uint32_t s = 0; s < 4; ++s) {
        const auto p = sector_pattern(100 + s);
        data.insert(data.end(), p.begin(), p.end());
    }
    card_->clear_commands();
    ASSERT_EQ(disk_write(0, data.data(), 10, 4), RES_OK);
    const Log writes = card_->commands();
    for (uint32_t s = 0; s < 4; ++s) EXPECT_EQ(image_sector(10 + s), sector_pattern(100 + s)) << s;

    const auto* cmd25 = first_of(writes, CMD25);
    ASSERT_NE(cmd25, nullptr) << indexes(writes);
    EXPECT_EQ(cmd25->arg, tc.block ? 10u : 10u * 512);
    const auto* cmd23 = first_of(writes, CMD23);
    if (tc.sd) {
        ASSERT_NE(cmd23, nullptr) << indexes(writes);
        EXPECT_TRUE(cmd23->app);
        EXPECT_EQ(cmd23->arg, 4u);
    } else {
        EXPECT_EQ(cmd23, nullptr) << "an MMC gets no CMD23: " << indexes(writes);
        EXPECT_EQ(count_of(writes, CMD55), 0u);
    }

    card_->clear_commands();
    std::vector<uint8_t> back(data.size());
    ASSERT_EQ(disk_read(0, back.data(), 10, 4), RES_OK);
    EXPECT_EQ(back, data);
    EXPECT_EQ(indexes(card_->commands()), "18 12 ");
    EXPECT_EQ(card_->protocol_error(), "");
    EXPECT_TRUE(card_released());
}

INSTANTIATE_TEST_SUITE_P(Sd, CardTypes,
                         ::testing::Values(TypeCase{"SdV2Block", CardType::SdV2Block, true, true, true},
                                           TypeCase{"SdV2Byte", CardType::SdV2Byte, false, true, true},
                                           TypeCase{"SdV1", CardType::SdV1, false, true, false},
                                           TypeCase{"Mmc", CardType::Mmc, false, false, false}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Initialisation corners

using DriverInit = CardTest;

TEST_F(DriverInit, WrongCmd8EchoLeavesTheCardUnusableWithoutFallBack)
{
    start();
    card_->set_cmd8_echo(0x55);
    EXPECT_EQ(disk_initialize(0), STA_NOINIT);
    EXPECT_EQ(indexes(card_->commands()), "0 8 ");
    EXPECT_TRUE(card_released());
}

TEST_F(DriverInit, VersionOneCardReadyAtOnceIsStillAskedAgainInTheLoop)
{
    start({.type = CardType::SdV1});
    card_->set_init_time(0);
    ASSERT_EQ(disk_initialize(0), 0);
    EXPECT_EQ(indexes(card_->commands()), "0 8 55 A41 55 A41 16 ");
}

TEST_F(DriverInit, CardThatNeverBecomesReadyTimesOutAfterOneSecond)
{
    start({.never_ready = true});
    const sim::Nanos t0 = now();
    EXPECT_EQ(disk_initialize(0), STA_NOINIT);
    const sim::Nanos took = now() - t0;
    EXPECT_GE(took, 990 * sim::kMilli);
    EXPECT_LE(took, 1030 * sim::kMilli);
    EXPECT_EQ(console(), "SD card initialisation timed out\n");
    EXPECT_EQ(count_of(card_->commands(), CMD58), 0u);
    EXPECT_TRUE(card_released());
}

TEST_F(DriverInit, AFailedInitialisationAfterASuccessfulOneIsNotReady)
{
    start();
    ASSERT_EQ(disk_initialize(0), 0);
    card_->set_cmd8_echo(0x00);
    EXPECT_EQ(disk_initialize(0), STA_NOINIT);
    uint8_t buf[512];
    EXPECT_EQ(disk_read(0, buf, 0, 1), RES_NOTRDY);
}

// ---------------------------------------------------------------------------
// ioctl

struct CountCase {
    const char* name;
    CardType type;
    uint64_t image_bytes;
    uint32_t sectors;
};
// Test names show the case name, not the bytes.
void PrintTo(const CountCase& c, std::ostream* os)
{
    *os << c.name;
}

class SectorCount : public CardTest, public ::testing::WithParamInterface<CountCase> {};

TEST_P(SectorCount, ComesFromTheCsd)
{
    const CountCase& cc = GetParam();
    make_image(cc.image_bytes);
    start({.type = cc.type});
    ASSERT_EQ(disk_initialize(0), 0);
    LBA_t count = 0;
    ASSERT_EQ(disk_ioctl(0, GET_SECTOR_COUNT, &count), RES_OK);
    EXPECT_EQ(count, cc.sectors);
    EXPECT_TRUE(card_released());
}

INSTANTIATE_TEST_SUITE_P(
    Csd, SectorCount,
    ::testing::Values(CountCase{"HighCapacity4GiB", CardType::SdV2Block, 4ull << 30, 8388608},
                      // C_SIZE above 16 bits: a 64 GB card
                      CountCase{"HighCapacity64GiB", CardType::SdV2Block, 64ull << 30, 134217728},
                      CountCase{"Standard2GiB", CardType::SdV2Byte, 2ull << 30, 4194304},
                      CountCase{"Version1_128MiB", CardType::SdV1, 128ull << 20, 262144},
                      CountCase{"Mmc1GiB", CardType::Mmc, 1ull << 30, 2097152}),
    [](const auto& info) { return std::string(info.param.name); });

using DriverIoctl = CardTest;

TEST_F(DriverIoctl, RegistersSizeAndSync)
{
    start();
    ASSERT_EQ(disk_initialize(0), 0);
    EXPECT_EQ(disk_ioctl(0, CTRL_SYNC, nullptr), RES_OK);

    WORD size = 0;
    EXPECT_EQ(disk_ioctl(0, GET_SECTOR_SIZE, &size), RES_OK);
    EXPECT_EQ(size, 512);

    uint8_t reg[16] = {};
    ASSERT_EQ(disk_ioctl(0, MMC_GET_CSD, reg), RES_OK);
    EXPECT_EQ(0, std::memcmp(reg, card_->csd(), 16));
    ASSERT_EQ(disk_ioctl(0, MMC_GET_CID, reg), RES_OK);
    EXPECT_EQ(0, std::memcmp(reg, card_->cid(), 16));

    uint8_t ocr[4] = {};
    ASSERT_EQ(disk_ioctl(0, MMC_GET_OCR, ocr), RES_OK);
    EXPECT_EQ(ocr[0], 0xC0);  // powered up, high capacity
    EXPECT_EQ(ocr[1], 0xFF);
    EXPECT_EQ(ocr[2], 0x80);
    EXPECT_EQ(ocr[3], 0x00);
    EXPECT_TRUE(card_released());
    EXPECT_EQ(card_->protocol_error(), "");
}

TEST_F(DriverIoctl, PowerSubCodes)
{
    start();
    ASSERT_EQ(disk_initialize(0), 0);
    uint8_t p[2] = {2, 0xAA};
    ASSERT_EQ(disk_ioctl(0, CTRL_POWER, p), RES_OK);
    EXPECT_EQ(p[1], 1);
    p[0] = 0;
    ASSERT_EQ(disk_ioctl(0, CTRL_POWER, p), RES_OK);
    p[0] = 2;
    ASSERT_EQ(disk_ioctl(0, CTRL_POWER, p), RES_OK);
    EXPECT_EQ(p[1], 0);
    p[0] = 1;
    ASSERT_EQ(disk_ioctl(0, CTRL_POWER, p), RES_OK);
    p[0] = 2;
    ASSERT_EQ(disk_ioctl(0, CTRL_POWER, p), RES_OK);
    EXPECT_EQ(p[1], 1);
}

// ---------------------------------------------------------------------------
// Time-outs and card faults

using DriverFaults = CardTest;

TEST_F(DriverFaults, BusyCardFailsSyncAfterHalfASecond)
{
    start();
    ASSERT_EQ(disk_initialize(0), 0);
    card_->hold_busy(2 * sim::kSecond);
    const sim::Nanos t0 = now();
    EXPECT_EQ(disk_ioctl(0, CTRL_SYNC, nullptr), RES_ERROR);
    const sim::Nanos took = now() - t0;
    EXPECT_GE(took, 490 * sim::kMilli);
    EXPECT_LE(took, 520 * sim::kMilli);
    EXPECT_EQ(console(), "SD card not ready within 500 ms\n");
    EXPECT_TRUE(card_released());
}

TEST_F(DriverFaults, NoDataTokenFailsTheReadAfterOneSecond)
{
    start();
    ASSERT_EQ(disk_initialize(0), 0);
    card_->set_read_access(3 * sim::kSecond);
    uint8_t buf[512];
    const sim::Nanos t0 = now();
    EXPECT_EQ(disk_read(0, buf, 5, 1), RES_ERROR);
    const sim::Nanos took = now() - t0;
    EXPECT_GE(took, 990 * sim::kMilli);
    EXPECT_LE(took, 1030 * sim::kMilli);
    EXPECT_EQ(console(), "SD card sent no data within 1 s\n");
    EXPECT_TRUE(card_released());
}

TEST_F(DriverFaults, RefusedWritesFailAndLeaveTheCardUnchanged)
{
    start({.write_refused = true});
    ASSERT_EQ(disk_initialize(0), 0);
    const auto before = image_sector(20);
    const auto data = sector_pattern(7);
    std::vector<uint8_t> two(data);
    two.insert(two.end(), data.begin(), data.end());
    EXPECT_EQ(disk_write(0, data.data(), 20, 1), RES_ERROR);
    EXPECT_EQ(disk_write(0, two.data(), 20, 2), RES_ERROR);
    EXPECT_EQ(image_sector(20), before);
    EXPECT_EQ(image_sector(21), before);
    EXPECT_TRUE(card_released());
    // The card is still usable for reading.
    uint8_t buf[512];
    EXPECT_EQ(disk_read(0, buf, 20, 1), RES_OK);
}

TEST_F(DriverFaults, PowerCutKeepsTheSectorsWrittenBeforeIt)
{
    start({.power_cut_after = 3});
    ASSERT_EQ(disk_initialize(0), 0);
    std::vector<uint8_t> data;
    for (uint32_t s = 0; s < 5; ++s) {
        const auto p = sector_pattern(50 + s);
        data.insert(data.end(), p.begin(), p.end());
    }
    EXPECT_EQ(disk_write(0, data.data(), 40, 5), RES_ERROR);
    for (uint32_t s = 0; s < 3; ++s) EXPECT_EQ(image_sector(40 + s), sector_pattern(50 + s)) << s;
    EXPECT_EQ(image_sector(43), std::vector<uint8_t>(512, 0));
    EXPECT_EQ(disk_write(0, data.data(), 45, 1), RES_ERROR);
    uint8_t buf[512];
    EXPECT_EQ(disk_read(0, buf, 40, 1), RES_ERROR);
    EXPECT_TRUE(card_released());
}

TEST_F(DriverFaults, ByteAddressesBeyondFourGigabytesAreRefusedBeforeTheCard)
{
    start({.type = CardType::SdV1});
    ASSERT_EQ(disk_initialize(0), 0);
    card_->clear_commands();
    uint8_t buf[512] = {};
    // 0x800000 x 512 would wrap to byte address 0 and hit the boot sector.
    EXPECT_EQ(disk_read(0, buf, 0x800000, 1), RES_PARERR);
    EXPECT_EQ(disk_write(0, buf, 0x800000, 1), RES_PARERR);
    EXPECT_TRUE(card_->commands().empty());
}

// ---------------------------------------------------------------------------
// FAT time stamp: universal time, the clock's wall-clock time + 6 h

struct StampCase {
    const char* name;
    uint32_t clock;  // seconds since 1900 on the console's wall clock
    int year, month, day, hour, minute, second;
};
// Test names show the case name, not the bytes.
void PrintTo(const StampCase& c, std::ostream* os)
{
    *os << c.name;
}

uint32_t clock_of(int year, int month, int day, int hour, int minute, int second)
{
    CalendarTime c{};
    c.year = year - 1900, c.mon = month - 1, c.mday = day, c.hour = hour, c.min = minute, c.sec = second;
    return calendar_to_clock(&c);
}

DWORD packed(int year, int month, int day, int hour, int minute, int second)
{
    return (DWORD(year - 1980) << 25) | (DWORD(month) << 21) | (DWORD(day) << 16) | (DWORD(hour) << 11) |
           (DWORD(minute) << 5) | DWORD(second / 2);
}

class FatTime : public CardTest, public ::testing::WithParamInterface<StampCase> {};

TEST_P(FatTime, PacksTheUniversalTime)
{
    const StampCase& sc = GetParam();
    start();
    hib_rtc_set(sc.clock);
    EXPECT_EQ(get_fattime(), packed(sc.year, sc.month, sc.day, sc.hour, sc.minute, sc.second));
}

INSTANTIATE_TEST_SUITE_P(
    Clock, FatTime,
    ::testing::Values(StampCase{"NewYear", clock_of(2017, 12, 31, 23, 0, 0), 2018, 1, 1, 5, 0, 0},
                      StampCase{"LeapDayOddSecond", clock_of(2020, 2, 28, 20, 0, 1), 2020, 2, 29, 2, 0, 0},
                      StampCase{"LastSecondOfADay", clock_of(2023, 6, 15, 17, 59, 59), 2023, 6, 15, 23, 59,
                                58},
                      StampCase{"FirstFatSecond", clock_of(1979, 12, 31, 18, 0, 0), 1980, 1, 1, 0, 0, 0},
                      // An unset clock (1900) cannot be stamped: the earliest FAT date.
                      StampCase{"UnsetClock", 0, 1980, 1, 1, 0, 0, 0},
                      StampCase{"BeforeFatEpoch", clock_of(1979, 12, 31, 17, 59, 59), 1980, 1, 1, 0, 0, 0},
                      // The 32-bit count's last second; the stamp lies past it.
                      StampCase{"EndOfClock", 0xFFFFFFFFu, 2036, 2, 7, 12, 28, 14}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
