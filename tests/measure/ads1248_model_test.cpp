// The simulated ADS1248 on its own: the commands the firmware does not use
// still behave as the data sheet describes, so the model can be trusted by
// other clients (bench programs, host integrators poking at the sim).
#include "ADS1248_iso.h"
#include "measure_fixture.h"

namespace {

using measure_test::bytes;
using measure_test::MeasureFixture;

class Ads1248Model : public MeasureFixture {
protected:
    Ads1248Model()
        : MeasureFixture(measure_test::config_with([](sim::BoardConfig& c) { c.noise_volts = 0.0; }))
    {
    }

    void SetUp() override
    {
        MeasureFixture::SetUp();
        openADS1248_iso();
    }

    // One chip-select framed exchange; returns what came back.
    std::vector<uint8_t> spi(std::initializer_list<int> out)
    {
        uint32_t junk;
        while (ssi_get_nb(SSI3_BASE, &junk)) {
        }
        pin_write(Signal::IsoCs, false);
        for (int b : out) ssi_put(SSI3_BASE, static_cast<uint32_t>(b));
        while (ssi_busy(SSI3_BASE)) run_for(sim::kMicro);
        std::vector<uint8_t> in;
        uint32_t v;
        while (ssi_get_nb(SSI3_BASE, &v)) in.push_back(static_cast<uint8_t>(v));
        pin_write(Signal::IsoCs, true);
        return in;
    }

    std::vector<uint8_t> read_registers()
    {
        const std::vector<uint8_t> in = spi({0x20, 0x0E, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
        std::vector<uint8_t> regs(in.begin() + 2, in.end());
        const std::vector<uint8_t> more = spi({0x26, 0x08, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
        regs.insert(regs.end(), more.begin() + 2, more.end());
        return regs;  // registers 0..11
    }

    // Time until DRDY next falls, or kNever within `limit`.
    sim::Nanos time_to_drdy(sim::Nanos limit)
    {
        const sim::Nanos t0 = board_->now();
        while (board_->now() - t0 < limit) {
            if (!pin_read(Signal::IsoDrdy)) return board_->now() - t0;
            run_for(10 * sim::kMicro);
        }
        return sim::kNever;
    }
};

TEST_F(Ads1248Model, RegistersReadBackTheirPowerUpValuesAndWhatWasWritten)
{
    EXPECT_EQ(read_registers(),
              bytes({0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x40, 0x90, 0xFF}));
    spi({0x4A, 0x01, 0xF6, 0x89});  // IDAC0 (ID bits read-only), IDAC1
    EXPECT_EQ(iso().reg(sim::Ads1248::IDAC0), 0x96);
    EXPECT_EQ(iso().reg(sim::Ads1248::IDAC1), 0x89);
    spi({0x06});  // RESET command
    run_for(sim::kMilli);
    EXPECT_EQ(iso().reg(sim::Ads1248::IDAC0), 0x90);
    EXPECT_EQ(iso().reg(sim::Ads1248::IDAC1), 0xFF);
}

TEST_F(Ads1248Model, DataRateSetsTheConversionPeriod)
{
    struct {
        int sys0;
        sim::Nanos period;
    } rates[] = {{0x00, 200 * sim::kMilli},
                 {0x02, 50 * sim::kMilli},
                 {0x06, 3125 * sim::kMicro},
                 {0x09, 500 * sim::kMicro},
                 {0x0F, 500 * sim::kMicro}};
    for (const auto& r : rates) {
        spi({0x43, 0x00, r.sys0});
        const sim::Nanos first = time_to_drdy(sim::kSecond);
        spi({0xFF, 0xFF, 0xFF});  // read it: DRDY rises
        const sim::Nanos next = time_to_drdy(sim::kSecond);
        EXPECT_GE(first, r.period) << r.sys0;
        EXPECT_LT(first, r.period + 300 * sim::kMicro) << r.sys0;
        EXPECT_LE(next, r.period) << r.sys0;
        EXPECT_GT(next, r.period - 100 * sim::kMicro) << r.sys0;
    }
}

TEST_F(Ads1248Model, SleepAndStartLowStopConversionsWakeupAndStartHighResume)
{
    spi({0x43, 0x00, 0x06});  // 320 samples/s
    ASSERT_NE(time_to_drdy(10 * sim::kMilli), sim::kNever);
    spi({0x02});  // SLEEP: the conversion under way still completes
    spi({0xFF, 0xFF, 0xFF});
    time_to_drdy(10 * sim::kMilli);
    spi({0xFF, 0xFF, 0xFF});
    EXPECT_EQ(time_to_drdy(50 * sim::kMilli), sim::kNever);
    spi({0x00});  // WAKEUP
    EXPECT_NE(time_to_drdy(10 * sim::kMilli), sim::kNever);

    spi({0xFF, 0xFF, 0xFF});
    pin_write(Signal::IsoStart, false);
    time_to_drdy(10 * sim::kMilli);
    spi({0xFF, 0xFF, 0xFF});
    EXPECT_EQ(time_to_drdy(50 * sim::kMilli), sim::kNever);
    pin_write(Signal::IsoStart, true);
    EXPECT_NE(time_to_drdy(10 * sim::kMilli), sim::kNever);
}

TEST_F(Ads1248Model, ResetPinHoldsTheConverterAndRestoresDefaults)
{
    spi({0x40, 0x00, 0x0E});
    pin_write(Signal::IsoReset, false);
    EXPECT_EQ(iso().reg(sim::Ads1248::MUX0), 0x01);
    EXPECT_EQ(time_to_drdy(500 * sim::kMilli), sim::kNever);
    pin_write(Signal::IsoReset, true);
    EXPECT_NE(time_to_drdy(250 * sim::kMilli), sim::kNever);
}

TEST_F(Ads1248Model, StopContinuousModeNeedsRdataAndSyncRestartsTheFilter)
{
    env().settings.ik = 0.5;                    // AIN3 - AIN2
    spi({0x40, 0x03, 0x1A, 0x00, 0x30, 0x09});  // AIN3 - AIN2, internal reference, 2000 samples/s
    spi({0x16});                                // SDATAC, effective at the next result
    time_to_drdy(sim::kMilli);
    spi({0xFF, 0xFF, 0xFF});
    time_to_drdy(sim::kMilli);
    EXPECT_FALSE(iso().continuous_mode());
    EXPECT_EQ(spi({0xFF, 0xFF, 0xFF}), bytes({0x00, 0x00, 0x00}));  // nothing loaded
    const std::vector<uint8_t> d = spi({0x12, 0xFF, 0xFF, 0xFF});
    EXPECT_EQ(ads1248_code(d[1], d[2], d[3]), iso().code_for(0.5));
    EXPECT_EQ(iso().code_for(0.5), 2048000);  // 0.5 / 2.048 of 2^23

    spi({0x04, 0x04});  // SYNC
    EXPECT_TRUE(pin_read(Signal::IsoDrdy));
    EXPECT_GE(time_to_drdy(sim::kMilli), 500 * sim::kMicro);
}

TEST_F(Ads1248Model, InputsBeyondFullScaleSaturateAndNoReferenceReadsFullScale)
{
    env().settings.ik = 0.3;
    spi({0x40, 0x03, 0x1A, 0x00, 0x30, 0x79});  // gain 128: 0.3 V is far beyond 16 mV
    EXPECT_EQ(iso().code_for(0.3), 0x7FFFFF);
    EXPECT_EQ(iso().code_for(-0.3), -0x800000);
    spi({0x42, 0x00, 0x00});  // reference off
    EXPECT_EQ(iso().code_for(0.001), 0x7FFFFF);
}

TEST_F(Ads1248Model, OffsetCalibrationSubtractsTheMeasuredOffset)
{
    env().settings.ik = 0.01;
    spi({0x40, 0x03, 0x1A, 0x00, 0x30, 0x09});
    spi({0x60});  // SYSOCAL: the present input becomes zero
    EXPECT_NE(time_to_drdy(10 * sim::kMilli), sim::kNever);
    EXPECT_EQ(iso().code_for(0.01), 0);
    const std::vector<uint8_t> d = spi({0xFF, 0xFF, 0xFF});
    EXPECT_EQ(ads1248_code(d[0], d[1], d[2]), 0);
    spi({0x62});  // SELFOCAL: inputs shorted inside, no offset in this converter
    EXPECT_NE(time_to_drdy(10 * sim::kMilli), sim::kNever);
    EXPECT_EQ(iso().code_for(0.01), 40960);
}

}  // namespace
