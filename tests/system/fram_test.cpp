// The FRAM driver: probe with and without the device, record round trip,
// and no hang when the bus never comes free.
#include <cstring>

#include "System.h"
#include "i2c.h"
#include "i2c_fram.h"
#include "support/board_fixture.h"

namespace {

using testing_support::BoardFixture;

class Fram : public BoardFixture {
protected:
    explicit Fram(sim::BoardConfig c = {}) : BoardFixture(c) {}
    void SetUp() override
    {
        BoardFixture::SetUp();
        start_console_and_fram();
    }
};

sim::BoardConfig without_fram()
{
    sim::BoardConfig c;
    c.fram_present = false;
    return c;
}

class NoFram : public Fram {
protected:
    NoFram() : Fram(without_fram()) {}
};

TEST_F(Fram, ProbeOnAWorkingDeviceWritesThePatternAndSaysNothing)
{
    EXPECT_EQ(fram_probe(), FRAM_PROBE_OK);
    const uint8_t pattern[4] = {0x55, 0xAA, 0x55, 0xAA};
    EXPECT_EQ(std::memcmp(mem_.fram, pattern, 4), 0);
    fram_init();
    EXPECT_EQ(console_output().find("FRAM"), std::string::npos);
}

TEST_F(Fram, StoreThenRetrieveGivesTheSame28Bytes)
{
    const systemDataVolatile rec{3, 0x11223344, 512, 9, 1.5f, 0xBEEF, SYS_DATA_VALID};
    sys_data_chg = rec;
    fram_store();
    std::memset(&sys_data_chg, 0, sizeof(sys_data_chg));
    fram_retrieve();
    EXPECT_EQ(std::memcmp(&sys_data_chg, &rec, sizeof(rec)), 0);
    EXPECT_EQ(std::memcmp(mem_.fram + 16, &rec, sizeof(rec)), 0);
}

TEST_F(Fram, SingleByteAndMultiByteReadsAtAnOffset)
{
    for (int i = 0; i < 8; ++i) mem_.fram[100 + i] = static_cast<uint8_t>(0xA0 + i);
    unsigned char one = 0;
    i2c0_read(FRAM_I2C_ADDR, &one, 1, 103, 1);
    EXPECT_EQ(one, 0xA3);
    unsigned char several[5] = {};
    i2c0_read(FRAM_I2C_ADDR, several, 5, 101, 1);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(several[i], 0xA1 + i);
}

TEST_F(Fram, ZeroCountWriteSendsOnlyTheOffsetAndChangesNothing)
{
    std::memset(mem_.fram, 0x33, sim::kFramBytes);
    i2c0_write(FRAM_I2C_ADDR, nullptr, 0, 7);
    for (size_t i = 0; i < sim::kFramBytes; ++i) ASSERT_EQ(mem_.fram[i], 0x33) << i;
}

TEST_F(NoFram, ProbeFailsOnceAndStartUpGoesOn)
{
    EXPECT_EQ(fram_probe(), 0u);
    console_output();
    fram_init();
    const std::string out = console_output();
    const std::string msg = "\r\nERROR: FRAM fails probe - switch to HIB module\r\n";
    ASSERT_NE(out.find(msg), std::string::npos);
    EXPECT_EQ(out.find(msg, out.find(msg) + 1), std::string::npos);
}

TEST_F(Fram, StuckBusEndsTheWaitAndIsReported)
{
    board_->i2c0().set_stuck(true);
    const sim::Nanos start = board_->now();
    fram_init();
    EXPECT_NE(console_output().find("FRAM I2C bus stuck busy"), std::string::npos);
    EXPECT_LT(board_->now() - start, 5 * sim::kSecond);
}

}  // namespace
