// The configuration record in EEPROM and the run-state record in FRAM:
// image layout, load and save semantics, blank memories.
#include <cstring>

#include "System.h"
#include "eeprom.h"
#include "support/board_fixture.h"

namespace {

using testing_support::BoardFixture;

class Records : public BoardFixture {
protected:
    void SetUp() override
    {
        BoardFixture::SetUp();
        start_console_and_fram();
    }
    uint32_t eeprom_u32(uint32_t offset)
    {
        uint32_t v;
        std::memcpy(&v, mem_.eeprom + SYS_DATA_EEPROM_ADDR + offset, 4);
        return v;
    }
    uint32_t fram_u32(uint32_t offset)
    {
        uint32_t v;
        std::memcpy(&v, mem_.fram + SYS_DATA_FRAM_OFFSET + offset, 4);
        return v;
    }
    void load() { retrieveSysDataVariables(); }
};

TEST_F(Records, BlankMemoriesGiveFactoryDefaultsAndAFreshRunState)
{
    mem_.hib.rtc_enabled = 1;
    mem_.hib.rtc_seconds = 1000;
    run_for(sim::kMilli);
    load();
    const std::string out = console_output();
    EXPECT_NE(out.find("EEPROM is blank: factory default settings loaded"), std::string::npos);
    EXPECT_NE(out.find("FRAM sys_data_chg.chksum is not 0x55AA55AA"), std::string::npos);
    EXPECT_NE(out.find("Warning: Initialized volatile sys data variables"), std::string::npos);

    EXPECT_EQ(sys_data.sampling_period, 20u);
    EXPECT_EQ(sys_data.sample_aligned, 1);
    EXPECT_EQ(sys_data.sample_average, 10);
    EXPECT_EQ(sys_data.pumpon_time, 0u);
    EXPECT_FLOAT_EQ(sys_data.low_batt_volt, 5.5f);
    EXPECT_EQ(sys_data.Vint_gain, 1);
    EXPECT_EQ(sys_data.Vint_sps, 20);
    EXPECT_EQ(sys_data.output, NORMAL);
    EXPECT_EQ(sys_data.baud_rate, 115200u);
    EXPECT_STREQ(sys_data.fileName, "DATA.TXT");
    for (int k = 0; k < DATA_CFG_SWITCHES; ++k) EXPECT_EQ(sys_data.data_cfg[k], 1) << k;
    EXPECT_EQ(sys_data.fast_mode, 1);
    EXPECT_FLOAT_EQ(sys_data.Eo_int_25C, -0.4f);
    EXPECT_FLOAT_EQ(sys_data.Eo_ext_25C, -1.43f);
    EXPECT_FLOAT_EQ(sys_data.default_sal, 35.0f);

    // The fresh run state is written back to FRAM at once, with its marker.
    EXPECT_EQ(sys_data.state, IDLE);
    EXPECT_EQ(sys_data.nextWakeUp, 1000u + 20u);
    EXPECT_EQ(fram_u32(24), SYS_DATA_VALID);
    EXPECT_EQ(fram_u32(4), 1020u);
}

TEST_F(Records, SaveWritesTheImageLayoutLittleEndian)
{
    load();
    sys_data.baud_rate = 9600;
    sys_data.sampling_period = 0x01020304;
    sys_data.output = VERBOSE;
    sys_data.fast_mode = 3;
    sys_data.data_cfg[29] = 0x5A;
    std::strcpy(sys_data.user, "abc");
    ASSERT_EQ(storeSysDataVariables(), 0u);
    const uint8_t* img = mem_.eeprom + SYS_DATA_EEPROM_ADDR;
    EXPECT_EQ(eeprom_u32(340), 9600u);
    EXPECT_EQ(img[4], 0x04);
    EXPECT_EQ(img[7], 0x01);
    EXPECT_EQ(img[300], VERBOSE);
    EXPECT_EQ(img[374], 3);
    EXPECT_EQ(img[344 + 29], 0x5A);
    EXPECT_EQ(std::memcmp(img + 324, "abc", 4), 0);
    EXPECT_EQ(std::memcmp(img + 36, "DATA.TXT", 9), 0);
    // Nothing beyond the 376-byte image is touched.
    EXPECT_EQ(mem_.eeprom[SYS_DATA_EEPROM_ADDR + 376], 0xFF);
}

TEST_F(Records, SaveKeepsTheCapturedRunStateInEepromAndTheLiveOneInFram)
{
    load();  // captures the run state of the defaults: IDLE, counters 0
    const uint32_t captured_wake = sys_data_vol.nextWakeUp;
    sys_data.state = DEPLOYED;
    sys_data.current_sample = 77;
    sys_data.next_gdata_fptr = 1234;
    sys_data.nextWakeUp = 999999;
    sys_data.AD24_std = 0.25f;
    ASSERT_EQ(storeSysDataVariables(), 0u);

    // FRAM: the live values.
    EXPECT_EQ(fram_u32(0), static_cast<uint32_t>(DEPLOYED));
    EXPECT_EQ(fram_u32(4), 999999u);
    EXPECT_EQ(fram_u32(8), 1234u);
    EXPECT_EQ(fram_u32(12), 77u);
    // EEPROM and sys_data right after the save: the captured values.
    EXPECT_EQ(eeprom_u32(308), static_cast<uint32_t>(IDLE));
    EXPECT_EQ(eeprom_u32(320), 0u);
    EXPECT_EQ(sys_data.state, IDLE);
    EXPECT_EQ(sys_data.current_sample, 0u);
    EXPECT_EQ(sys_data.nextWakeUp, captured_wake);

    // The next load brings the FRAM run state back over the EEPROM settings.
    load();
    EXPECT_EQ(sys_data.state, DEPLOYED);
    EXPECT_EQ(sys_data.current_sample, 77u);
    EXPECT_EQ(sys_data.next_gdata_fptr, 1234u);
    EXPECT_FLOAT_EQ(sys_data.AD24_std, 0.25f);
    EXPECT_STREQ(sys_data.fileName, "DATA.TXT");
}

TEST_F(Records, SampStateIsCarriedUnchanged)
{
    load();
    sys_data_chg.samp_state = 0xCAFE;
    storeSysDataVariables();
    load();
    EXPECT_EQ(sys_data_chg.samp_state, 0xCAFEu);
    EXPECT_EQ(fram_u32(20), 0xCAFEu);
}

TEST_F(Records, TextFieldsAreTerminatedWhateverTheEepromHolds)
{
    // A programmed image with no terminator anywhere in its text fields.
    std::memset(mem_.eeprom + SYS_DATA_EEPROM_ADDR, 'A', sizeof(systemData));
    load();
    EXPECT_EQ(std::strlen(sys_data.fileName), sizeof(sys_data.fileName) - 1);
    EXPECT_EQ(std::strlen(sys_data.sensor_name), sizeof(sys_data.sensor_name) - 1);
    EXPECT_EQ(std::strlen(sys_data.pump_SN), sizeof(sys_data.pump_SN) - 1);
    EXPECT_EQ(std::strlen(sys_data.user), sizeof(sys_data.user) - 1);
    EXPECT_EQ(console_output().find("factory default"), std::string::npos);
}

TEST_F(Records, ValidFramRecordIsUsedWithoutMessages)
{
    load();
    storeSysDataVariables();
    console_output();
    load();
    const std::string out = console_output();
    EXPECT_EQ(out.find("FRAM"), std::string::npos);
    EXPECT_EQ(out.find("Warning"), std::string::npos);
}

TEST_F(Records, EepromProgramFailureIsReported)
{
    load();
    board_->eeprom().set_program_fails(true);
    EXPECT_NE(storeSysDataVariables(), 0u);
}

TEST_F(Records, ResetOfTheRunStateWritesFramButNotEeprom)
{
    load();
    storeSysDataVariables();
    const uint8_t before = mem_.eeprom[SYS_DATA_EEPROM_ADDR + 320];
    mem_.hib.rtc_enabled = 1;
    mem_.hib.rtc_seconds = 5000;
    mem_.hib.rtc_anchor = board_->now();
    sys_data.current_sample = 9;
    initSysDataVolatileVariables();
    EXPECT_EQ(sys_data.current_sample, 0u);
    EXPECT_EQ(sys_data.nextWakeUp, 5000u + sys_data.sampling_period);
    EXPECT_EQ(sys_data_vol.nextWakeUp, sys_data.nextWakeUp);
    EXPECT_EQ(fram_u32(4), sys_data.nextWakeUp);
    EXPECT_EQ(fram_u32(24), SYS_DATA_VALID);
    EXPECT_EQ(mem_.eeprom[SYS_DATA_EEPROM_ADDR + 320], before);
}

}  // namespace
