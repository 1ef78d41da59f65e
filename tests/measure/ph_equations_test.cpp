// Sensor temperature and the two pH equations against the reference values,
// to the digits those values are given with.
#include <gtest/gtest.h>

#include <cmath>

#include "System.h"

namespace {

class Equations : public ::testing::Test {
protected:
    void SetUp() override { setFactoryDefaults(&sys_data); }
};

struct ThermCase {
    float volts, offset;
    double celsius, tolerance;
};

class Thermistor : public Equations, public ::testing::WithParamInterface<ThermCase> {};

TEST_P(Thermistor, VoltageBecomesDegrees)
{
    const ThermCase& c = GetParam();
    EXPECT_NEAR(DuraFET_temp(c.volts, c.offset), c.celsius, c.tolerance);
}

INSTANTIATE_TEST_SUITE_P(Values, Thermistor,
                         ::testing::Values(ThermCase{1.65f, 0.0f, 6.9937, 5e-5},  // 20 kohm
                                           ThermCase{1.0f, 0.0f, 24.6234, 5e-5},  // 8695.65 ohm
                                           ThermCase{1.0f, 0.5f, 25.1234, 5e-5}));

TEST_F(Equations, ThermistorOffsetIsAddedAfterThePolynomial)
{
    EXPECT_EQ(DuraFET_temp(1.0f, 0.5f), DuraFET_temp(1.0f, 0.0f) + 0.5f);
    EXPECT_EQ(DuraFET_temp(1.2f, -1.25f), DuraFET_temp(1.2f, 0.0f) - 1.25f);
}

TEST_F(Equations, ThermistorOutOfRangeIsNotANumberNotAClamp)
{
    EXPECT_TRUE(std::isnan(DuraFET_temp(3.5f, 0.0f)));  // negative resistance
    EXPECT_FALSE(std::isfinite(DuraFET_temp(0.0f, 0.0f)));
}

struct PhIntCase {
    float eint, tc;
    double ph;
};

class InternalPh : public Equations, public ::testing::WithParamInterface<PhIntCase> {};

TEST_P(InternalPh, FromTheInternalReference)
{
    const PhIntCase& c = GetParam();
    EXPECT_NEAR(calc_pHint(c.eint, c.tc), c.ph, 5e-6);
}

INSTANTIATE_TEST_SUITE_P(Values, InternalPh,
                         ::testing::Values(PhIntCase{0.07f, 25.0f, 7.94474},    // S_T 0.0591587, Eoint = Eo
                                           PhIntCase{0.07f, 15.0f, 8.02785}));  // Eoint -0.388988

TEST_F(Equations, ReferenceTemperatureCoefficientActsInBothDirections)
{
    // At 35 C: Eoint = Eo - 0.011012; at 15 C: Eo + 0.011012.
    for (float tc : {35.0f, 15.0f}) {
        const double st = 8.31451 * (tc + 273.15) / 96487.0 * 2.302585;
        const double eo = -0.4 - 0.0011012 * (tc - 25.0);
        EXPECT_NEAR(calc_pHint(0.05f, tc), (0.05 - eo) / st, 5e-6) << tc;
    }
}

struct PhExtCase {
    float eext, tc, salt;
    double ph;
};

class ExternalPh : public Equations, public ::testing::WithParamInterface<PhExtCase> {};

TEST_P(ExternalPh, TotalScaleFromTheExternalReference)
{
    const PhExtCase& c = GetParam();
    EXPECT_NEAR(calc_pHext(c.eext, c.tc, c.salt), c.ph, 5e-6);
}

INSTANTIATE_TEST_SUITE_P(Values, ExternalPh,
                         ::testing::Values(PhExtCase{-0.96f, 25.0f, 35.0f, 7.30110},    // K_HSO4 0.100303
                                           PhExtCase{-0.96f, 15.0f, 35.0f, 7.43275}));  // K_HSO4 0.146866

TEST_F(Equations, ZeroSalinityGivesMinusInfinity)
{
    const float ph = calc_pHext(-0.96f, 25.0f, 0.0f);
    EXPECT_TRUE(std::isinf(ph));
    EXPECT_LT(ph, 0.0f);
}

TEST_F(Equations, CalibrationConstantsOfABathGiveTheBathBack)
{
    // A bath of pH 8 at 15 C and salinity 35 read 0.07 V and -0.96 V.
    sys_data.Eo_int_25C = -0.398408f;
    sys_data.Eo_ext_25C = -1.46243f;
    EXPECT_NEAR(calc_pHint(0.07f, 15.0f), 8.0, 5e-5);
    EXPECT_NEAR(calc_pHext(-0.96f, 15.0f, 35.0f), 8.0, 5e-5);
}

}  // namespace
