// A fresh board with the measurement chain as bring-up leaves it: console
// running, the isolated converter's lines parked, SSI1 configured for the
// non-isolated converter, every supply off, factory settings in sys_data.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "System.h"
#include "adc0.h"
#include "ads1248.h"
#include "analog_board.h"
#include "environment.h"
#include "gpio.h"
#include "platform.h"
#include "support/board_fixture.h"

namespace measure_test {

inline sim::BoardConfig config_with(void (*edit)(sim::BoardConfig&))
{
    sim::BoardConfig c;
    if (edit) edit(c);
    return c;
}

// The measurement lines as bring-up leaves them.
inline void park_like_bring_up()
{
    pin_output(Signal::IsoClk, false);
    pin_output(Signal::IsoCs, false);
    pin_input(Signal::IsoDout);
    pin_output(Signal::IsoDin, false);
    pin_output(Signal::NonisoStart, false);
    pin_output(Signal::IsoStart, true);
    pin_input(Signal::IsoDrdy);
    pin_output(Signal::IsoReset, true);
    pin_output(Signal::IsoBoardPower, false);

    sysctl_periph_enable(Periph::SSI1);
    for (Signal s : {Signal::NonisoTx, Signal::NonisoRx, Signal::NonisoClk, Signal::NonisoFss}) {
        const PinDef& d = pin_def(s);
        gpio_pin_function(d.port, d.pin, 2);
        gpio_peripheral_pins(d.port, d.mask(), PinKind::Ssi);
    }
    ssi_config_master(SSI1_BASE, sysctl_clock_get(), SsiMode::Mode1, 1000000, 8);
    ssi_enable(SSI1_BASE);
    pin_input(Signal::NonisoDrdy);
    pin_output(Signal::NonisoReset, true);
    pin_output(Signal::NonisoStart, false);
    pin_output(Signal::NonisoPower, false);
    pin_output(Signal::SensorSupply, false);
    pin_output(Signal::BattMonEnable, false);
}

inline int count_lines(const std::string& text)
{
    int n = 0;
    for (char c : text) n += c == '\n';
    return n;
}

// Lines with text on them (messages may start with a blank line).
inline int count_messages(const std::string& text)
{
    int n = 0;
    bool text_seen = false;
    for (char c : text) {
        if (c == '\n') {
            n += text_seen;
            text_seen = false;
        } else if (c != '\r') {
            text_seen = true;
        }
    }
    return n + text_seen;
}

inline bool contains(const std::string& text, const char* what)
{
    return text.find(what) != std::string::npos;
}

inline std::vector<uint8_t> bytes(std::initializer_list<int> list)
{
    std::vector<uint8_t> v;
    for (int b : list) v.push_back(static_cast<uint8_t>(b));
    return v;
}

inline uint32_t bits_of(float f)
{
    uint32_t u;
    std::memcpy(&u, &f, sizeof u);
    return u;
}

class MeasureFixture : public testing_support::BoardFixture {
protected:
    explicit MeasureFixture(sim::BoardConfig c = {}) : BoardFixture(c) {}

    void SetUp() override
    {
        BoardFixture::SetUp();
        start_console_and_fram();
        setFactoryDefaults(&sys_data);
        park_like_bring_up();
        analog_ = sim::analog_board(*board_);
        ASSERT_NE(analog_, nullptr);
        run_for(10 * sim::kMilli);
        console_output();
    }

    sim::Ads1248& iso() { return analog_->iso_converter(); }
    sim::Ads1248& noniso() { return analog_->noniso_converter(); }
    sim::Environment& env() { return analog_->environment(); }

    // What the console printed, after letting the transmitter drain.
    std::string console()
    {
        run_for(300 * sim::kMilli);
        return console_output();
    }

    sim::AnalogBoard* analog_ = nullptr;
};

}  // namespace measure_test
