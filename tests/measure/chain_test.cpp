// The whole measurement chain on the simulated board: water of known pH,
// temperature and salinity, read through the multiplexer, the isolated
// converter and the equations, comes back; scenario files, the bench
// fixture and determinism of the simulated inputs.
#include <cmath>
#include <cstdio>
#include <string>
#include <tuple>

#include "ADS1248_iso.h"
#include "measure_fixture.h"
#include "persistent.h"
#include "vectors.h"

namespace {

using measure_test::bits_of;
using measure_test::bytes;
using measure_test::contains;
using measure_test::MeasureFixture;

// Within the converter's resolution and noise: 2 uV rms is 0.00004 pH and
// 0.0001 C after ten-trial averaging; the limits leave room for rounding in
// the single-precision equations.
constexpr double PH_TOLERANCE = 0.001;
constexpr double TEMP_TOLERANCE = 0.005;

struct Readings {
    float vtherm, eint_offset, eint_direct, eext_mux, eext_direct;
};

// The sample sequences' and calibration's readings of the sensor.
Readings read_sensor(bool select_mux)
{
    Readings r{};
    openADS1248_iso();
    if (select_mux) ADS1248_gpio_init();
    const int n = sys_data.sample_average;
    r.vtherm = pollADS1248_iso(0, 6, n, 1, sys_data.Vint_sps);
    if (select_mux) {
        ADS1248_gpio_ADG1609_mux(3);
        delay_ms(10);
        r.eint_offset = pollADS1248_iso(1, 5, n, sys_data.Vint_gain, sys_data.Vint_sps);
    }
    r.eint_direct = pollADS1248_iso(1, 6, n, sys_data.Vint_gain, sys_data.Vint_sps);
    if (select_mux) {
        ADS1248_gpio_ADG1609_mux(0);
        delay_ms(10);
        r.eext_mux = pollADS1248_iso(1, 6, n, 1, sys_data.Vint_sps);
    }
    r.eext_direct = pollADS1248_iso(4, 6, n, 1, 5);
    closeADS1248_iso();
    return r;
}

using Ocean = std::tuple<double, double, double>;  // pH, temperature, salinity

class Chain : public MeasureFixture, public ::testing::WithParamInterface<Ocean> {};
class SensorChain : public MeasureFixture {};

TEST_P(Chain, WaterComesBackThroughConvertersAndEquations)
{
    const double ph = std::get<0>(GetParam()), tc = std::get<1>(GetParam()), sal = std::get<2>(GetParam());
    env().set_water({tc, sal, ph});
    // The stored calibration is the sensor's own: factory settings on both sides.
    ASSERT_EQ(sys_data.Eo_int_25C, static_cast<float>(env().settings.e0_int));
    ASSERT_EQ(sys_data.Eo_ext_25C, static_cast<float>(env().settings.e0_ext));

    const Readings r = read_sensor(true);
    const float t = DuraFET_temp(r.vtherm, 0.0f);
    EXPECT_NEAR(t, tc, TEMP_TOLERANCE);
    EXPECT_NEAR(calc_pHint(r.eint_offset, t), ph, PH_TOLERANCE);
    EXPECT_NEAR(calc_pHint(r.eint_direct, t), ph, PH_TOLERANCE);
    EXPECT_NEAR(calc_pHext(r.eext_mux, t, static_cast<float>(sal)), ph, PH_TOLERANCE);
    EXPECT_NEAR(calc_pHext(r.eext_direct, t, static_cast<float>(sal)), ph, PH_TOLERANCE);
    EXPECT_EQ(console(), "");
}

INSTANTIATE_TEST_SUITE_P(Ocean, Chain,
                         ::testing::Combine(::testing::Values(7.2, 7.8, 8.4),
                                            ::testing::Values(0.0, 15.0, 35.0),
                                            ::testing::Values(20.0, 35.0, 40.0)));

TEST_F(SensorChain, WithoutMultiplexerSetUpAin1IsTheInternalReference)
{
    // Calibration and the pH readout open the converter and read AIN1
    // directly: the multiplexer's address lines are pulled to pair 3.
    env().set_water({12.0, 33.0, 7.95});
    const Readings r = read_sensor(false);
    const float t = DuraFET_temp(r.vtherm, 0.0f);
    EXPECT_NEAR(calc_pHint(r.eint_direct, t), 7.95, PH_TOLERANCE);
    EXPECT_NEAR(calc_pHext(r.eext_direct, t, 33.0f), 7.95, PH_TOLERANCE);
}

TEST_F(SensorChain, OffsetChannelAtGainSixteen)
{
    env().set_water({28.0, 36.0, 8.3});
    sys_data.Vint_gain = 16;
    const Readings r = read_sensor(true);
    const float t = DuraFET_temp(r.vtherm, 0.0f);
    EXPECT_NEAR(calc_pHint(r.eint_offset, t), 8.3, PH_TOLERANCE);
}

TEST_F(SensorChain, SensorStandardPotentialsAreTheCalibrationToStore)
{
    env().settings.e0_int = -0.385;
    env().settings.e0_ext = -1.441;
    env().set_water({18.0, 34.0, 7.7});
    const Readings r = read_sensor(true);
    const float t = DuraFET_temp(r.vtherm, 0.0f);
    // With the factory constants the result is off by the difference...
    EXPECT_GT(std::fabs(calc_pHint(r.eint_offset, t) - 7.7), 0.2);
    // ...with the sensor's own it is right.
    sys_data.Eo_int_25C = -0.385f;
    sys_data.Eo_ext_25C = -1.441f;
    EXPECT_NEAR(calc_pHint(r.eint_offset, t), 7.7, PH_TOLERANCE);
    EXPECT_NEAR(calc_pHext(r.eext_direct, t, 34.0f), 7.7, PH_TOLERANCE);
}

// ---------------------------------------------------------------------------
// Scenario files

TEST(Scenario, SettingsAndALinearlyInterpolatedSeries)
{
    sim::Environment e;
    std::string err;
    ASSERT_TRUE(
        e.parse("# a day at sea\n"
                "e0_int -0.41   # the sensor's own\n"
                "battery 11.5\n"
                "\n"
                "10   20.0 35.0 8.00\n"
                "110  10.0 30.0 7.50\n"
                "210  10.0 30.0 7.90\n",
                &err))
        << err;
    EXPECT_EQ(e.points(), 3u);
    EXPECT_EQ(e.settings.e0_int, -0.41);
    EXPECT_EQ(e.settings.battery, 11.5);
    EXPECT_EQ(e.settings.e0_ext, -1.43);  // untouched settings keep their defaults
    struct {
        double seconds, tc, sal, ph;
    } cases[] = {
        {0, 20, 35, 8.0}, {10, 20, 35, 8.0}, {60, 15, 32.5, 7.75}, {160, 10, 30, 7.7}, {1e6, 10, 30, 7.9}};
    for (const auto& c : cases) {
        const sim::Water w = e.water_at(static_cast<sim::Nanos>(c.seconds * sim::kSecond));
        EXPECT_NEAR(w.temperature_c, c.tc, 1e-9) << c.seconds;
        EXPECT_NEAR(w.salinity, c.sal, 1e-9) << c.seconds;
        EXPECT_NEAR(w.ph, c.ph, 1e-9) << c.seconds;
    }
}

struct BadScenario {
    const char* text;
    const char* error;
};

class ScenarioErrors : public ::testing::TestWithParam<BadScenario> {};

TEST_P(ScenarioErrors, AreRefusedWithTheLineAndTheReason)
{
    sim::Environment e;
    std::string err;
    EXPECT_FALSE(e.parse(GetParam().text, &err));
    EXPECT_EQ(err, GetParam().error);
    EXPECT_EQ(e.points(), 0u);  // nothing half-applied
}

INSTANTIATE_TEST_SUITE_P(
    Files, ScenarioErrors,
    ::testing::Values(BadScenario{"battery\n", "line 1: a setting is: battery value"},
                      BadScenario{"0 20 35 8\nbatery 12\n", "line 2: unknown setting: batery"},
                      BadScenario{"0 20 35\n", "line 1: a point is: seconds temperature salinity pH"},
                      BadScenario{"0 20 35 8 9\n", "line 1: a point is: seconds temperature salinity pH"},
                      BadScenario{"5 20 35 8\n5 21 35 8\n",
                                  "line 2: seconds must increase from point to point"},
                      BadScenario{"-1 20 35 8\n", "line 1: seconds must not be negative"},
                      BadScenario{"0 20 0 8\n", "line 1: salinity outside 0 (exclusive) to 50"},
                      BadScenario{"0 60 35 8\n", "line 1: temperature outside -5 to 50 C"},
                      BadScenario{"0 20 35 15\n", "line 1: pH outside 0 to 14"},
                      BadScenario{"0 20 35 eight\n", "line 1: not a number: eight"}));

std::string write_scenario(const char* text)
{
    static std::string path;
    path = ::testing::TempDir() + "measure_scenario.txt";
    std::FILE* f = std::fopen(path.c_str(), "w");
    std::fputs(text, f);
    std::fclose(f);
    return path;
}

sim::BoardConfig scenario_config()
{
    static std::string path;
    path = write_scenario("e0_int -0.41\ne0_ext -1.42\n0 10 30 7.5\n1000 20 36 8.1\n");
    sim::BoardConfig c;
    c.scenario = path.c_str();
    return c;
}

class ScenarioBoard : public MeasureFixture {
protected:
    ScenarioBoard() : MeasureFixture(scenario_config()) {}
};

TEST_F(ScenarioBoard, WaterFollowsTheFileInVirtualTime)
{
    sys_data.Eo_int_25C = -0.41f;
    sys_data.Eo_ext_25C = -1.42f;
    run_for(500 * sim::kSecond - board_->now());
    const Readings r = read_sensor(true);
    const float t = DuraFET_temp(r.vtherm, 0.0f);
    // Halfway, give or take the seconds the readings take.
    EXPECT_NEAR(t, 15.0, 0.02);
    EXPECT_NEAR(calc_pHint(r.eint_offset, t), 7.8, 0.005);
    EXPECT_NEAR(calc_pHext(r.eext_direct, t, 33.0f), 7.8, 0.005);

    run_for(1000 * sim::kSecond);
    const Readings later = read_sensor(true);
    const float t2 = DuraFET_temp(later.vtherm, 0.0f);
    EXPECT_NEAR(t2, 20.0, TEMP_TOLERANCE);
    EXPECT_NEAR(calc_pHint(later.eint_offset, t2), 8.1, PH_TOLERANCE);
    EXPECT_NEAR(calc_pHext(later.eext_direct, t2, 36.0f), 8.1, PH_TOLERANCE);
}

// ---------------------------------------------------------------------------
// Bench fixture board

class BenchFixture : public MeasureFixture {
protected:
    BenchFixture()
        : MeasureFixture(measure_test::config_with([](sim::BoardConfig& c) { c.bench_fixture = true; }))
    {
    }
};

TEST_F(BenchFixture, IsolatedInputsAreTheFixtureVoltages)
{
    struct Column {
        uint32_t mux;
        unsigned char pos, neg;
        int gain, sps;
        float expected;
    } columns[] = {
        {0, 1, 5, 1, 20, -0.067814f}, {3, 1, 5, 1, 20, 0.132146f}, {0, 1, 6, 1, 5, -0.798713f},
        {3, 1, 6, 1, 5, -0.598748f},  {1, 1, 5, 4, 5, 0.290849f},  {1, 1, 6, 4, 5, -0.501616f},
        {2, 1, 6, 1, 5, -0.399309f},  {2, 5, 6, 1, 5, 0.000326f},  {0, 0, 6, 1, 5, 1.000159f},
    };
    openADS1248_iso();
    ADS1248_gpio_init();
    for (const Column& c : columns) {
        ADS1248_gpio_ADG1609_mux(c.mux);
        delay_ms(10);
        EXPECT_NEAR(pollADS1248_iso(c.pos, c.neg, 1, c.gain, c.sps), c.expected, 2e-5)
            << "mux " << c.mux << " AIN" << int(c.pos) << "-AIN" << int(c.neg);
    }
    closeADS1248_iso();
    EXPECT_EQ(console(), "");
}

// ---------------------------------------------------------------------------
// Determinism: the same options give the same results.

std::vector<uint32_t> run_on_fresh_board(uint32_t seed)
{
    sim::MemoryPersistent mem;
    sim::BoardConfig config;
    config.noise_seed = seed;
    sim::Board* previous = &sim::board();
    sim::Board b(mem.view, config);
    sim::set_board(&b);
    sim_install_vectors(b);
    sysctl_clock_set_50mhz();
    measure_test::park_like_bring_up();
    sim::analog_board(b)->environment().set_water({17.0, 34.0, 7.9});

    std::vector<uint32_t> bits;
    openADS1248_iso();
    ADS1248_gpio_init();
    ADS1248_gpio_ADG1609_mux(3);
    delay_ms(10);
    for (int k = 0; k < 3; ++k) {
        bits.push_back(bits_of(pollADS1248_iso(1, 5, 10, 1, 20)));
        bits.push_back(bits_of(sys_data.AD24_std));
    }
    closeADS1248_iso();
    sim::set_board(previous);
    return bits;
}

TEST_F(SensorChain, SameSeedSameReadingsOtherSeedOtherNoise)
{
    const std::vector<uint32_t> a = run_on_fresh_board(7);
    const std::vector<uint32_t> b = run_on_fresh_board(7);
    const std::vector<uint32_t> c = run_on_fresh_board(8);
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);
}

}  // namespace
