// The on-chip converter burst, the housekeeping conversions and the small
// System readings built on them.
#include <cmath>

#include "ADS1248_iso.h"
#include "Adc_onchip.h"
#include "IO.h"
#include "measure_fixture.h"

namespace {

using measure_test::bits_of;
using measure_test::bytes;
using measure_test::contains;
using measure_test::count_lines;
using measure_test::count_messages;
using measure_test::MeasureFixture;

struct ConversionCase {
    const char* what;
    double (*convert)(uint32_t);
    uint32_t count;
    double expected;
    double tolerance;  // half a unit of the last digit given
};

double battery(uint32_t c)
{
    return adc_battery_volts(c);
}
double board_temp(uint32_t c)
{
    return adc_board_temp(c);
}
double die_temp(uint32_t c)
{
    return adc_die_temp(c);
}
double humidity(uint32_t c)
{
    return adc_humidity(c);
}
double humidity_float(uint32_t c)
{
    return adc_humidity_float(c);
}
double water(uint32_t c)
{
    return adc_water(c);
}
double pressure(uint32_t c)
{
    return adc_pressure(c);
}

class Conversion : public ::testing::TestWithParam<ConversionCase> {};

TEST_P(Conversion, CountBecomesEngineeringUnits)
{
    const ConversionCase& c = GetParam();
    EXPECT_NEAR(c.convert(c.count), c.expected, c.tolerance) << c.what << " of " << c.count;
}

INSTANTIATE_TEST_SUITE_P(
    Table, Conversion,
    ::testing::Values(
        ConversionCase{"battery", battery, 3000, 16.053, 5e-4},
        ConversionCase{"battery", battery, 4095, 21.913, 5e-4},
        ConversionCase{"battery", battery, 0, 0.0, 0.0},
        ConversionCase{"board temperature", board_temp, 1000, 61.07, 5e-3},
        ConversionCase{"board temperature", board_temp, 0, -67.84, 5e-3},
        ConversionCase{"die temperature", die_temp, 2000, 26.65, 5e-3},
        ConversionCase{"die temperature", die_temp, 4095, -99.94, 5e-3},
        ConversionCase{"humidity", humidity, 1642, 50, 0}, ConversionCase{"humidity", humidity, 1643, 50, 0},
        ConversionCase{"humidity", humidity, 4095, 124, 0},  // not limited
        ConversionCase{"humidity (float)", humidity_float, 1642, 50.0, 5e-6},
        ConversionCase{"humidity (float)", humidity_float, 1643, 50.03, 5e-3},
        ConversionCase{"water", water, 1298, 50, 0}, ConversionCase{"water", water, 2596, 100, 0},
        ConversionCase{"water", water, 4095, 100, 0}, ConversionCase{"water", water, 2595, 99, 0},
        ConversionCase{"pressure", pressure, 1000, 7.2772, 5e-5}));

TEST(ConversionInvalid, AnIncompleteBurstGivesNoValueRatherThanANumber)
{
    for (uint32_t bad : {ADC_COUNT_INVALID, 4096u}) {
        EXPECT_TRUE(std::isnan(adc_battery_volts(bad)));
        EXPECT_TRUE(std::isnan(adc_board_temp(bad)));
        EXPECT_TRUE(std::isnan(adc_die_temp(bad)));
        EXPECT_TRUE(std::isnan(adc_humidity_float(bad)));
        EXPECT_TRUE(std::isnan(adc_pressure(bad)));
        EXPECT_EQ(adc_humidity(bad), ADC_PERCENT_INVALID);
        EXPECT_EQ(adc_water(bad), ADC_PERCENT_INVALID);
    }
}

class Onchip : public MeasureFixture {
protected:
    void supplies(bool on)
    {
        pin_output(Signal::SensorSupply, on);
        pin_output(Signal::BattMonEnable, on);
    }
};

TEST_F(Onchip, InitProgramsTheEightStepsOfSequencerZero)
{
    adc_onchip_init();
    const sim::Adc& a = board_->adc0();
    const uint32_t steps[8] = {4, 6, 10, 16, 17, 4, 4, ADC_STEP_TS | ADC_STEP_IE | ADC_STEP_END};
    for (uint32_t s = 0; s < 8; ++s) EXPECT_EQ(a.step_config(0, s), steps[s]) << "step " << s;
    EXPECT_EQ(a.trigger(0), ADC_TRIGGER_PROCESSOR);
    EXPECT_TRUE(a.enabled(0));
    EXPECT_FALSE(a.raw_status(0));
    // The sensor pins are inputs now, not the low outputs bring-up left.
    for (Signal s : {Signal::AdcBattery, Signal::AdcPressure, Signal::AdcHumidity, Signal::AdcWater,
                     Signal::AdcBoardTemp})
        EXPECT_FALSE(board_->gpio().is_output(s)) << pin_def(s).name;
}

TEST_F(Onchip, BurstReadsTheHousekeepingSensors)
{
    sim::EnvironmentSettings& s = env().settings;
    s.battery = 12.5;
    s.humidity = 40.0;
    s.water = 10.0;
    s.board_temp = 18.0;
    s.controller_temp = 30.0;
    s.pressure = 14.7;
    supplies(true);
    adc_onchip_init();
    delay_ms(120);
    uint32_t* d = read_all_adc();
    ASSERT_EQ(d, adc_data);
    EXPECT_NEAR(adc_battery_volts(d[ADC_BATTERY]), 12.5, 0.006);  // one count
    EXPECT_EQ(d[5], d[ADC_BATTERY]);
    EXPECT_EQ(d[6], d[ADC_BATTERY]);
    EXPECT_EQ(adc_humidity(d[ADC_HUMIDITY]), 40u);
    EXPECT_EQ(adc_water(d[ADC_WATER]), 10u);
    EXPECT_NEAR(adc_board_temp(d[ADC_BOARD_TEMP]), 18.0, 0.13);
    EXPECT_NEAR(adc_die_temp(d[ADC_DIE_TEMP]), 30.0, 0.061);
    EXPECT_NEAR(adc_pressure(d[ADC_PRESSURE]), 14.7, 0.008);
    EXPECT_EQ(console(), "");
}

TEST_F(Onchip, SensorsReadNothingWithTheirSuppliesOff)
{
    adc_onchip_init();
    const uint32_t* d = read_all_adc();
    for (int i : {ADC_BATTERY, ADC_PRESSURE, ADC_HUMIDITY, ADC_BOARD_TEMP}) EXPECT_EQ(d[i], 0u) << i;
    EXPECT_NEAR(adc_die_temp(d[ADC_DIE_TEMP]), env().settings.controller_temp, 0.061);
}

TEST_F(Onchip, StalledConverterReportsOnceAndMarksTheBurstInvalid)
{
    adc_onchip_init();
    board_->adc0().set_stalled(true);
    const sim::Nanos t0 = board_->now();
    const uint32_t* d = read_all_adc();
    EXPECT_LT(board_->now() - t0, 20 * sim::kMilli);
    for (int i = 0; i < ADC_BURST_STEPS; ++i) EXPECT_EQ(d[i], ADC_COUNT_INVALID);
    std::string out = console();
    EXPECT_EQ(count_messages(out), 1) << out;
    EXPECT_TRUE(contains(out, "ADC0")) << out;

    dbg_flag = 0;
    EXPECT_TRUE(std::isnan(read_env_sensors()));
    EXPECT_EQ(count_messages(console()), 1);

    board_->adc0().set_stalled(false);
    EXPECT_NEAR(batt_volt(), env().settings.battery, 0.006);
}

TEST_F(Onchip, EnvironmentSnapshotReturnsTheBatteryAndLeavesTheSensorSupplyOn)
{
    env().settings.battery = 11.2;
    dbg_flag = 0;
    EXPECT_NEAR(read_env_sensors(), 11.2, 0.006);
    EXPECT_EQ(console(), "");
    const sim::Gpio& g = board_->gpio();
    EXPECT_TRUE(g.level(Signal::SensorSupply));
    EXPECT_FALSE(g.level(Signal::BattMonEnable));
    EXPECT_FALSE(g.level(Signal::IsoBoardPower));

    dbg_flag = 1;
    EXPECT_NEAR(batt_volt(), 11.2, 0.006);
    dbg_flag = 0;
    const std::string out = console();
    EXPECT_TRUE(contains(out, "iso power on\r\n")) << out;
    EXPECT_TRUE(contains(out, "Bat =  11.20V Pressure =    0  Humidity =  29  Water =   0")) << out;
    EXPECT_TRUE(contains(out, "i=0\r\n\r")) << out;
    EXPECT_TRUE(contains(out, "iso power off, vbat monitoring off\r\n")) << out;
}

TEST_F(Onchip, BiasBatteryThroughItsDivider)
{
    env().settings.bias_plus = 3.55;
    env().settings.bias_minus = -3.45;
    openADS1248_iso();
    ADS1248_gpio_init();
    EXPECT_NEAR(batt_volt_iso(), 3.55, 1e-4);
    closeADS1248_iso();

    print_bias_volt_iso();
    const std::string out = console();
    const std::string line = "Iso Bat Bias-  -3.450,  Bias+   3.550\r\n";
    int n = 0;
    for (size_t p = out.find(line); p != std::string::npos; p = out.find(line, p + 1)) ++n;
    EXPECT_EQ(n, 5) << out;
    EXPECT_EQ(count_lines(out), 5) << out;
    EXPECT_FALSE(board_->gpio().level(Signal::IsoBoardPower));
}

}  // namespace
