// The non-isolated converter: stop-continuous mode, one RDATA per result,
// channel changes, plain truncated averages and a bounded wait for DRDY.
#include <cmath>

#include "ADS1248_iso.h"
#include "ADS1248_noniso.h"
#include "measure_fixture.h"

namespace {

using measure_test::bits_of;
using measure_test::bytes;
using measure_test::contains;
using measure_test::count_messages;
using measure_test::MeasureFixture;
constexpr float VPC = ADS1248_VOLTS_PER_COUNT;

sim::BoardConfig quiet()
{
    sim::BoardConfig c;
    c.noise_volts = 0.0;
    return c;
}

class NonisoAdc : public MeasureFixture {
protected:
    NonisoAdc() : MeasureFixture(quiet()) {}
    void open()
    {
        openADS1248_noniso();
        noniso().record(true);
        noniso().clear_received();
    }
};

TEST_F(NonisoAdc, OpenStopsContinuousReadingAndSetsGainRateAndReference)
{
    noniso().record(true);
    openADS1248_noniso();
    EXPECT_EQ(noniso().received(), bytes({0x16, 0x43, 0x00, 0x00, 0xFF, 0x42, 0x00, 0x30, 0xFF}));
    // Stop-continuous mode begins with the next result.
    run_for(250 * sim::kMilli);
    EXPECT_FALSE(noniso().continuous_mode());
    EXPECT_EQ(noniso().reg(sim::Ads1248::SYS0), 0x00);
    EXPECT_EQ(noniso().reg(sim::Ads1248::MUX1), 0x30);
    EXPECT_TRUE(board_->gpio().level(Signal::NonisoStart));
    EXPECT_EQ(console(), "");

    closeADS1248_noniso();
    EXPECT_FALSE(noniso().powered());
    EXPECT_FALSE(board_->gpio().level(Signal::NonisoPower));
    EXPECT_FALSE(board_->gpio().level(Signal::NonisoStart));
    EXPECT_TRUE(board_->gpio().level(Signal::NonisoReset));
}

struct ChannelCase {
    unsigned char ch1, ch2;
    uint8_t mux0;
};

class NonisoChannel : public NonisoAdc, public ::testing::WithParamInterface<ChannelCase> {};

TEST_P(NonisoChannel, PollWritesMux0ThenReadsWithRdata)
{
    const ChannelCase& c = GetParam();
    open();
    pollADS1248_noniso(c.ch1, c.ch2, 1);
    EXPECT_EQ(noniso().received(), bytes({0x40, 0x00, c.mux0, 0xFF, 0x12, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(noniso().reg(sim::Ads1248::MUX0), c.mux0);
}

INSTANTIATE_TEST_SUITE_P(Inputs, NonisoChannel,
                         ::testing::Values(ChannelCase{2, 7, 0x17}, ChannelCase{3, 7, 0x1F},
                                           ChannelCase{0, 1, 0x01}, ChannelCase{7, 6, 0x3E}));

struct AverageCase {
    std::vector<int32_t> codes;
    int32_t mean_counts;
};

class NonisoAverage : public NonisoAdc, public ::testing::WithParamInterface<AverageCase> {};

TEST_P(NonisoAverage, SumOverTrialsTruncatesTowardZero)
{
    const AverageCase& c = GetParam();
    open();
    noniso().script_codes(c.codes.data(), c.codes.size());
    EXPECT_EQ(pollADS1248_noniso(2, 7, static_cast<int>(c.codes.size())),
              static_cast<float>(c.mean_counts) * VPC);
    EXPECT_EQ(noniso().scripted_left(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Codes, NonisoAverage,
                         ::testing::Values(AverageCase{{256}, 256}, AverageCase{{10, 11, 11}, 10},
                                           AverageCase{{-10, -11}, -10}, AverageCase{{8388607}, 8388607},
                                           AverageCase{{-8388608, -8388608}, -8388608}));

TEST_F(NonisoAdc, EachTrialWaitsForItsOwnConversion)
{
    open();
    const uint32_t reads = noniso().data_reads();
    const sim::Nanos t0 = board_->now();
    pollADS1248_noniso(3, 7, 3);
    const sim::Nanos spent = board_->now() - t0;
    // Channel change restarts the filter: three full periods at 5 samples/s.
    EXPECT_GE(spent, 600 * sim::kMilli);
    EXPECT_LT(spent, 620 * sim::kMilli);
    EXPECT_EQ(noniso().data_reads() - reads, 3u);
}

TEST_F(NonisoAdc, NoTrialsReadsNothing)
{
    open();
    const uint32_t reads = noniso().data_reads();
    EXPECT_EQ(pollADS1248_noniso(2, 7, 0), 0.0f);
    EXPECT_EQ(noniso().data_reads(), reads);
    EXPECT_EQ(noniso().received(), bytes({0x40, 0x00, 0x17, 0xFF}));
}

struct ControllerCase {
    double celsius;  // at the sensor
    float expected;
};

class ControllerTemp : public NonisoAdc, public ::testing::WithParamInterface<ControllerCase> {};

TEST_P(ControllerTemp, SensorVoltageBecomesDegrees)
{
    env().settings.controller_temp = GetParam().celsius;
    open();
    EXPECT_NEAR(controller_temp(), GetParam().expected, 1e-4);
}

// 0.480 V at 0 C and 0.792 V at 20 C, 15.6 mV per degree.
INSTANTIATE_TEST_SUITE_P(Readings, ControllerTemp,
                         ::testing::Values(ControllerCase{0.0, 0.0f}, ControllerCase{20.0, 20.0f},
                                           ControllerCase{-5.0, -5.0f}, ControllerCase{45.5, 45.5f}));

class NonisoDead : public MeasureFixture {
protected:
    NonisoDead()
        : MeasureFixture(
              measure_test::config_with([](sim::BoardConfig& c) { c.noniso_converter_dead = true; }))
    {
    }
};

TEST_F(NonisoDead, OpenAndEveryPollReportOnceAndGoOn)
{
    openADS1248_noniso();
    std::string out = console();
    EXPECT_EQ(count_messages(out), 1) << out;
    EXPECT_TRUE(contains(out, "Non-isolated ADS1248")) << out;

    const sim::Nanos t0 = board_->now();
    EXPECT_TRUE(std::isnan(pollADS1248_noniso(3, 7, 5)));
    EXPECT_LT(board_->now() - t0, 1 * sim::kSecond);  // not five trials' worth of waiting
    out = console();
    EXPECT_EQ(count_messages(out), 1) << out;
    EXPECT_TRUE(contains(out, "Non-isolated ADS1248 gave no result")) << out;

    EXPECT_TRUE(std::isnan(controller_temp()));
    EXPECT_EQ(count_messages(console()), 1);
    closeADS1248_noniso();
}

}  // namespace
