// The isolated converter and its multiplexer: what goes over SSI3, how codes
// become volts and deviations, and what happens when the converter is silent.
#include <cmath>

#include "ADS1248_iso.h"
#include "measure_fixture.h"

namespace {

using measure_test::bits_of;
using measure_test::bytes;
using measure_test::contains;
using measure_test::count_messages;
using measure_test::MeasureFixture;
constexpr float VPC = ADS1248_VOLTS_PER_COUNT;

class IsoAdc : public MeasureFixture {
protected:
    void open_and_init()
    {
        openADS1248_iso();
        ADS1248_gpio_init();
        iso().record(true);
        iso().clear_received();
    }
    void script(std::initializer_list<int32_t> codes)
    {
        const std::vector<int32_t> v(codes);
        iso().script_codes(v.data(), v.size());
    }
};

TEST_F(IsoAdc, VoltsPerCountHasTheStatedBitPattern)
{
    EXPECT_EQ(bits_of(VPC), 0x34831270u);
    EXPECT_EQ(bits_of(8388607.0f * VPC), bits_of(2.0480001f));
}

TEST_F(IsoAdc, OpenPowersAndResetsTheBoardAndCloseParksEveryLine)
{
    openADS1248_iso();
    const sim::Gpio& g = board_->gpio();
    EXPECT_TRUE(g.level(Signal::IsoBoardPower));
    EXPECT_TRUE(g.level(Signal::IsoReset));
    EXPECT_TRUE(g.level(Signal::IsoStart));
    EXPECT_TRUE(g.level(Signal::IsoCs));
    for (Signal s : {Signal::IsoClk, Signal::IsoDout, Signal::IsoDin}) EXPECT_TRUE(g.is_alternate(s));
    EXPECT_FALSE(g.is_alternate(Signal::IsoCs));
    EXPECT_TRUE(board_->ssi(3).enabled());
    EXPECT_EQ(board_->ssi(3).mode(), 1);
    EXPECT_EQ(board_->ssi(3).actual_bit_rate(), 1000000u);
    EXPECT_TRUE(iso().powered());
    EXPECT_TRUE(iso().converting());
    EXPECT_TRUE(iso().continuous_mode());

    closeADS1248_iso();
    EXPECT_FALSE(g.level(Signal::IsoBoardPower));
    EXPECT_FALSE(iso().powered());
    EXPECT_FALSE(board_->ssi(3).enabled());
    EXPECT_TRUE(g.is_output(Signal::IsoClk));
    EXPECT_FALSE(g.level(Signal::IsoClk));
    EXPECT_TRUE(g.is_output(Signal::IsoDin));
    EXPECT_FALSE(g.level(Signal::IsoDin));
    EXPECT_FALSE(g.is_output(Signal::IsoDout));
    EXPECT_FALSE(g.is_alternate(Signal::IsoDout));
    EXPECT_FALSE(g.level(Signal::IsoCs));
    // START and RESET stay high toward the unpowered board.
    EXPECT_TRUE(g.level(Signal::IsoStart));
    EXPECT_TRUE(g.level(Signal::IsoReset));
}

TEST_F(IsoAdc, GpioInitMakesTheFourPinsOutputsLow)
{
    openADS1248_iso();
    iso().record(true);
    ADS1248_gpio_init();
    EXPECT_EQ(iso().received(), bytes({0x4C, 0x02, 0x0F, 0x00, 0x00}));
    EXPECT_EQ(iso().reg(sim::Ads1248::GPIOCFG), 0x0F);
    EXPECT_EQ(iso().reg(sim::Ads1248::GPIODIR), 0x00);
    EXPECT_EQ(iso().gpio_driven() & 0x0F, 0x0F);
    EXPECT_EQ(iso().gpio_levels(), 0x00);
}

struct MuxCase {
    uint32_t chan;
    uint8_t gpiodat;
    int pair;  // ADG1609 switch pair the board then connects
    bool message;
};

class IsoMux : public IsoAdc, public ::testing::WithParamInterface<MuxCase> {};

TEST_P(IsoMux, WritesGpiodatWholeAndSelectsThePair)
{
    const MuxCase& c = GetParam();
    open_and_init();
    ADS1248_gpio_ADG1609_mux(c.chan);
    EXPECT_EQ(iso().received(), bytes({0x4E, 0x00, c.gpiodat}));
    EXPECT_EQ(iso().reg(sim::Ads1248::GPIODAT), c.gpiodat);
    EXPECT_EQ(analog_->mux_pair(), c.pair);
    const std::string out = console();
    EXPECT_EQ(
        contains(out,
                 "Mux channels are 0 to 3 in ADS1248_iso, error in arg for ADS1248_gpio_ADG1609_mux\r\n"),
        c.message);
}

INSTANTIATE_TEST_SUITE_P(Channels, IsoMux,
                         ::testing::Values(MuxCase{0, 0x07, 0, false}, MuxCase{1, 0x02, 1, false},
                                           MuxCase{2, 0x01, 2, false}, MuxCase{3, 0x04, 3, false},
                                           MuxCase{7, 0x04, 3, true}));

TEST_F(IsoAdc, Gpio2AndGpio3OverwriteTheWholeRegister)
{
    open_and_init();
    ADS1248_gpio_ADG1609_mux(0);
    ADS1248_gpio3(1);
    EXPECT_EQ(iso().reg(sim::Ads1248::GPIODAT), 0x08);
    // The multiplexer address bits went with it: pair 3 now.
    EXPECT_EQ(analog_->mux_pair(), 3);
    ADS1248_gpio3(0);
    ADS1248_gpio2(1);
    ADS1248_gpio2(0);
    ADS1248_gpio3(2);  // only 1 means high
    EXPECT_EQ(iso().received(), bytes({0x4E, 0x00, 0x07, 0x4E, 0x00, 0x08, 0x4E, 0x00, 0x00, 0x4E, 0x00, 0x04,
                                       0x4E, 0x00, 0x00, 0x4E, 0x00, 0x00}));
}

struct ConfigCase {
    unsigned char pos, neg;
    int gain, sps;
    uint8_t mux0, sys0;
    const char* message;  // nullptr: none
};

class IsoConfig : public IsoAdc, public ::testing::WithParamInterface<ConfigCase> {};

TEST_P(IsoConfig, EveryPollRewritesTheFourConfigurationRegisters)
{
    const ConfigCase& c = GetParam();
    open_and_init();
    pollADS1248_iso(c.pos, c.neg, 1, c.gain, c.sps);
    const std::vector<uint8_t>& rx = iso().received();
    ASSERT_GE(rx.size(), 6u);
    EXPECT_EQ(std::vector<uint8_t>(rx.begin(), rx.begin() + 6),
              bytes({0x40, 0x03, c.mux0, 0x00, 0x30, c.sys0}));
    EXPECT_EQ(iso().reg(sim::Ads1248::MUX0), c.mux0);
    EXPECT_EQ(iso().reg(sim::Ads1248::VBIAS), 0x00);
    EXPECT_EQ(iso().reg(sim::Ads1248::MUX1), 0x30);
    EXPECT_EQ(iso().reg(sim::Ads1248::SYS0), c.sys0);
    const std::string out = console();
    if (c.message)
        EXPECT_TRUE(contains(out, c.message)) << out;
    else
        EXPECT_EQ(out, "");
}

INSTANTIATE_TEST_SUITE_P(
    Settings, IsoConfig,
    ::testing::Values(
        ConfigCase{1, 5, 16, 20, 0x0D, 0x42, nullptr}, ConfigCase{0, 6, 1, 5, 0x06, 0x00, nullptr},
        ConfigCase{7, 6, 128, 2000, 0x3E, 0x79, nullptr}, ConfigCase{1, 6, 32, 1000, 0x0E, 0x58, nullptr},
        ConfigCase{5, 1, 64, 640, 0x29, 0x67, nullptr}, ConfigCase{4, 6, 2, 10, 0x26, 0x11, nullptr},
        ConfigCase{3, 2, 8, 40, 0x1A, 0x33, nullptr}, ConfigCase{1, 5, 4, 80, 0x0D, 0x24, nullptr},
        ConfigCase{1, 5, 1, 160, 0x0D, 0x05, nullptr}, ConfigCase{1, 5, 1, 320, 0x0D, 0x06, nullptr},
        ConfigCase{1, 5, 3, 20, 0x0D, 0x02, "\r\n\r\nUnrecognized PGA gain. Setting to 1."},
        ConfigCase{1, 5, 1, 7, 0x0D, 0x00, "\r\n\r\nUnrecognized data rate. Setting to 5 sps."}));

TEST_F(IsoAdc, GainAndRateCodesOfTheTables)
{
    const int gains[] = {1, 2, 4, 8, 16, 32, 64, 128};
    const int rates[] = {5, 10, 20, 40, 80, 160, 320, 640, 1000, 2000};
    for (int g = 0; g < 8; ++g)
        for (int r = 0; r < 10; ++r) EXPECT_EQ(ADS1248_gain_sps(gains[g], rates[r]), (g << 4) | r);
    EXPECT_EQ(console(), "");
}

struct CodeCase {
    int32_t code;
    uint8_t b0, b1, b2;
    float volts;
};

class IsoCodes : public IsoAdc, public ::testing::WithParamInterface<CodeCase> {};

TEST_P(IsoCodes, TwentyFourBitWordsBecomeSignedVolts)
{
    const CodeCase& c = GetParam();
    EXPECT_EQ(ads1248_code(c.b0, c.b1, c.b2), c.code);
    open_and_init();
    script({c.code});
    sys_data.AD24_std = 99.0f;
    const float v = pollADS1248_iso(1, 6, 1, 1, 2000);
    EXPECT_EQ(bits_of(v), bits_of(c.volts)) << v;
    EXPECT_EQ(sys_data.AD24_std, 0.0f);
}

INSTANTIATE_TEST_SUITE_P(Words, IsoCodes,
                         ::testing::Values(CodeCase{-8388608, 0x80, 0x00, 0x00, -8388608.0f * VPC},
                                           CodeCase{8388607, 0x7F, 0xFF, 0xFF, 2.0480001f},
                                           CodeCase{-1, 0xFF, 0xFF, 0xFF, -VPC},
                                           CodeCase{1, 0x00, 0x00, 0x01, VPC},
                                           CodeCase{256, 0x00, 0x01, 0x00, 256.0f * VPC}));

struct MeanCase {
    int gain;
    std::vector<int32_t> codes;
    int32_t mean_counts;  // the truncated integer mean over the gain
    double std_counts;    // population deviation of the untruncated per-trial values, in counts
};

class IsoMean : public IsoAdc, public ::testing::WithParamInterface<MeanCase> {};

TEST_P(IsoMean, IntegerMeanTruncatesAndTheDeviationDoesNot)
{
    const MeanCase& c = GetParam();
    open_and_init();
    iso().script_codes(c.codes.data(), c.codes.size());
    const float v = pollADS1248_iso(1, 5, static_cast<int>(c.codes.size()), c.gain, 2000);
    EXPECT_EQ(v, static_cast<float>(c.mean_counts) * VPC);
    if (c.std_counts == 0.0)
        EXPECT_EQ(sys_data.AD24_std, 0.0f);
    else
        EXPECT_NEAR(sys_data.AD24_std / (c.std_counts * VPC), 1.0, 1e-4);
}

std::vector<int32_t> repeat(int32_t code, int n)
{
    return std::vector<int32_t>(n, code);
}
std::vector<int32_t> nine_1001_one_1000()
{
    std::vector<int32_t> v(9, 1001);
    v.push_back(1000);
    return v;
}

INSTANTIATE_TEST_SUITE_P(
    Bursts, IsoMean,
    ::testing::Values(
        // 1000.9 on average: integer mean 1000, over 16 gives 62.
        MeanCase{16, nine_1001_one_1000(), 62, std::sqrt((9 * 0.5625 * 0.5625 + 0.5 * 0.5) / 10)},
        // Per-trial values 62.5 counts against a result of 62.
        MeanCase{16, repeat(1000, 10), 62, 0.5}, MeanCase{1, repeat(1000, 10), 1000, 0.0},
        // Truncation toward zero for negative means: -10.5 -> -10.
        MeanCase{1, {-10, -11}, -10, std::sqrt(0.5)}, MeanCase{4, {-7, -7, -7}, -1, 0.75}));

TEST_F(IsoAdc, OneTrialReturnsThatConversionWithZeroDeviation)
{
    open_and_init();
    script({12345});
    sys_data.AD24_std = 1.0f;
    EXPECT_EQ(pollADS1248_iso(1, 5, 1, 1, 20), 12345.0f * VPC);
    EXPECT_EQ(sys_data.AD24_std, 0.0f);
    EXPECT_EQ(iso().scripted_left(), 0u);
}

TEST_F(IsoAdc, MoreThanMaxTrialsAveragesOneHundredTwenty)
{
    open_and_init();
    std::vector<int32_t> codes(120, 500);
    codes.push_back(-999999);  // would show in the mean if a 121st were taken
    iso().script_codes(codes.data(), codes.size());
    EXPECT_EQ(pollADS1248_iso(1, 5, 121, 1, 2000), 500.0f * VPC);
    EXPECT_EQ(iso().scripted_left(), 1u);
    const std::string out = console();
    EXPECT_TRUE(contains(out,
                         "MAX TRIALS is 120 in ADS1248_iso, more trials (avg) than 120 was requested, edit "
                         "pollADS1248_iso() and recompile\r\n"))
        << out;
}

TEST_F(IsoAdc, NoTrialsWritesTheRegistersButConvertsNothing)
{
    open_and_init();
    script({777});
    sys_data.AD24_std = 1.0f;
    const uint32_t reads = iso().data_reads();
    const sim::Nanos t0 = board_->now();
    EXPECT_EQ(pollADS1248_iso(1, 5, 0, 1, 5), 0.0f);
    EXPECT_EQ(sys_data.AD24_std, 0.0f);
    EXPECT_EQ(iso().received().size(), 6u);
    EXPECT_EQ(iso().data_reads(), reads);
    EXPECT_LT(board_->now() - t0, 10 * sim::kMilli);
}

TEST_F(IsoAdc, UntabledGainConvertsAtOneAndScalesAtOne)
{
    open_and_init();
    script({1200, 1200});
    // Gain 3 is not a PGA setting: the converter runs at 1, so must the result.
    EXPECT_EQ(pollADS1248_iso(1, 5, 2, 3, 20), 1200.0f * VPC);
    EXPECT_EQ(iso().gain(), 1);
}

TEST_F(IsoAdc, ResultsComeOneConversionPeriodApart)
{
    open_and_init();
    const sim::Nanos t0 = board_->now();
    pollADS1248_iso(0, 6, 10, 1, 20);
    const sim::Nanos spent = board_->now() - t0;
    // Ten conversions at 20 samples/s after a filter restart.
    EXPECT_GE(spent, 500 * sim::kMilli);
    EXPECT_LT(spent, 520 * sim::kMilli);
    EXPECT_EQ(iso().data_reads(), 10u);
}

TEST_F(IsoAdc, NoisyInputGivesARealisticDeviation)
{
    open_and_init();
    const float v = pollADS1248_iso(0, 6, 40, 1, 20);
    const double truth = analog_->iso_ain(0, board_->now());
    // 2 uV rms noise on a 1 V thermistor signal.
    EXPECT_GT(sys_data.AD24_std, 1.0e-6f);
    EXPECT_LT(sys_data.AD24_std, 4.0e-6f);
    EXPECT_NEAR(v, truth, 2.0e-6);
}

// A silent converter: each poll gives up after a few conversion periods with
// one console line, and the instrument carries on.
struct SilentCase {
    const char* name;
    void (*configure)(sim::BoardConfig&);
    bool open;
};

class IsoSilent : public MeasureFixture, public ::testing::WithParamInterface<SilentCase> {
protected:
    IsoSilent() : MeasureFixture(measure_test::config_with(GetParam().configure)) {}
};

TEST_P(IsoSilent, PollReturnsNanWithOneMessageAndNoHang)
{
    if (GetParam().open) {
        openADS1248_iso();
        ADS1248_gpio_init();
    }
    console();
    const sim::Nanos t0 = board_->now();
    const float v = pollADS1248_iso(1, 5, 10, 1, 20);
    const sim::Nanos spent = board_->now() - t0;
    EXPECT_TRUE(std::isnan(v));
    EXPECT_TRUE(std::isnan(sys_data.AD24_std));
    EXPECT_LT(spent, 300 * sim::kMilli);  // a few 50 ms periods, not ten trials' worth
    const std::string out = console();
    EXPECT_EQ(count_messages(out), 1) << out;
    EXPECT_TRUE(contains(out, "isolated ADS1248")) << out;

    // The next poll tries again and reports again.
    EXPECT_TRUE(std::isnan(pollADS1248_iso(0, 6, 1, 1, 5)));
    EXPECT_EQ(count_messages(console()), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, IsoSilent,
    ::testing::Values(SilentCase{"dead", [](sim::BoardConfig& c) { c.iso_converter_dead = true; }, true},
                      SilentCase{"supply", [](sim::BoardConfig& c) { c.iso_supply_failed = true; }, true},
                      SilentCase{"closed", nullptr, false}),
    [](const ::testing::TestParamInfo<SilentCase>& i) { return std::string(i.param.name); });

}  // namespace
