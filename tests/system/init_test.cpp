// Bring-up: the stored console rate, the pins' start-up levels, the LEDs.
#include "Init.h"

#include <cstring>

#include "System.h"
#include "gpio.h"
#include "platform.h"
#include "support/board_fixture.h"
#include "uart.h"

namespace {

using testing_support::BoardFixture;

class Bringup : public BoardFixture {
protected:
    void store_baud(uint32_t baud)
    {
        systemData d;
        setFactoryDefaults(&d);
        d.baud_rate = baud;
        std::memcpy(mem_.eeprom + SYS_DATA_EEPROM_ADDR, &d, sizeof(d));
    }
};

TEST_F(Bringup, StoredRate9600SwitchesTheConsoleAfterTheRecordsAreLoaded)
{
    store_baud(9600);
    Init();
    EXPECT_EQ(board_->uart(0).baud(), 9600u);
    // The blank FRAM message came out at 115200, before the switch.
    EXPECT_NE(console_output().find("FRAM sys_data_chg.chksum is not 0x55AA55AA"), std::string::npos);
    EXPECT_EQ(board_->uart(4).baud(), 9600u);
    EXPECT_EQ(board_->uart(3).baud(), 9600u);
    EXPECT_EQ(board_->uart(2).baud(), 9600u);
    EXPECT_EQ(board_->uart(5).baud(), 9600u);
}

TEST_F(Bringup, AnyOtherStoredRateGives115200)
{
    store_baud(19200);
    Init();
    EXPECT_EQ(board_->uart(0).baud(), 115200u);
}

TEST_F(Bringup, EveryDeviceStartsUnpowered)
{
    Init();
    const sim::Gpio& g = board_->gpio();
    for (Signal s : {Signal::IsoBoardPower, Signal::NonisoPower, Signal::CtdPower1, Signal::CtdPower2,
                     Signal::OptodePower, Signal::PumpPower, Signal::Aux1Power, Signal::Aux2Power,
                     Signal::AuxCommonPower, Signal::SensorSupply, Signal::BattMonEnable, Signal::GreenLed,
                     Signal::RedLed}) {
        EXPECT_TRUE(g.is_output(s)) << pin_def(s).name;
        EXPECT_FALSE(g.level(s)) << pin_def(s).name;
    }
    for (Signal s : {Signal::IsoReset, Signal::IsoStart, Signal::NonisoReset, Signal::ConsoleXcvr1})
        EXPECT_TRUE(g.level(s)) << pin_def(s).name;
    EXPECT_FALSE(g.level(Signal::ConsoleXcvr0));
    EXPECT_FALSE(g.is_output(Signal::IsoDrdy));
    EXPECT_FALSE(g.is_output(Signal::NonisoDrdy));
    EXPECT_EQ(sys_data.state, IDLE);
}

TEST_F(Bringup, LedTogglesAlternateAndTrackTheirState)
{
    Init();
    for (int i = 1; i <= 4; ++i) {
        led_green_toggle();
        led_red_toggle();
        const bool on = i % 2 == 1;
        EXPECT_EQ(ledGreenState, on ? 1u : 0u);
        EXPECT_EQ(ledRedState, on ? 1u : 0u);
        EXPECT_EQ(board_->gpio().level(Signal::GreenLed), on);
        EXPECT_EQ(board_->gpio().level(Signal::RedLed), on);
    }
}

TEST_F(Bringup, ProfilingMarksOnlyForTheSelectedTarget)
{
    Init();
    led_red_off();
    profileTarget = 0;
    profile_on(1);
    EXPECT_EQ(ledRedState, 0u);
    profileTarget = 1;
    profile_on(1);
    EXPECT_EQ(ledRedState, 1u);
    profile_toggle(1);
    EXPECT_EQ(ledRedState, 0u);
    profileTarget = 0;
}

}  // namespace
