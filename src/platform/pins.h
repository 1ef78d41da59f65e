// The board's pin map: one table of (port, pin, signal). Bring-up, the drivers
// and the simulated board all wire themselves to these names.
#pragma once

#include <cstddef>
#include <cstdint>

enum class GpioPort : uint8_t { A, B, C, D, E, F, G, H, J, K, L, M, N, P };
constexpr size_t GPIO_PORT_COUNT = 14;

enum class Signal : uint8_t {
    ConsoleRx, ConsoleTx,                       // UART0
    SdClk, SdCs, SdMiso, SdMosi,                // SSI0 and the card's chip select
    FramScl, FramSda,                           // I2C0
    AdcHumidity,                                // on-chip converter inputs
    CtdRx, CtdTx,                               // UART4
    OptodeRx, OptodeTx,                         // UART3
    CtdPower1, NonisoRx, PumpPower, Aux1Power,
    AdcPressure, AdcBattery,
    GreenLed,
    NonisoTx, NonisoClk, NonisoFss, NonisoDrdy, NonisoReset,
    Aux1Rx, Aux1Tx,                             // UART2
    IsoClk, IsoCs, IsoDout, IsoDin,             // SSI3 lines of the isolated converter
    Aux2Rx, Aux2Tx,                             // UART5
    AdcWater, AdcBoardTemp, IsoBoardPower, CtdPower2, AuxCommonPower,
    ConsoleXcvr0, ConsoleXcvr1, OptodePower, Aux2Power,
    NonisoPower, BattMonEnable, SensorSupply,
    IsoDrdy, IsoReset, IsoStart, NonisoStart,
    RedLed,
    Count
};

struct PinDef {
    GpioPort port;
    uint8_t pin;
    Signal signal;
    const char* name;
    constexpr uint8_t mask() const { return static_cast<uint8_t>(1u << pin); }
};

namespace pinmap_detail {
using P = GpioPort;
inline constexpr PinDef kPinMap[] = {
    {P::A, 0, Signal::ConsoleRx, "console receive"},
    {P::A, 1, Signal::ConsoleTx, "console transmit"},
    {P::A, 2, Signal::SdClk, "SD card clock"},
    {P::A, 3, Signal::SdCs, "SD card chip select"},
    {P::A, 4, Signal::SdMiso, "SD card data in"},
    {P::A, 5, Signal::SdMosi, "SD card data out"},
    {P::B, 2, Signal::FramScl, "FRAM I2C clock"},
    {P::B, 3, Signal::FramSda, "FRAM I2C data"},
    {P::B, 4, Signal::AdcHumidity, "humidity input"},
    {P::C, 4, Signal::CtdRx, "CTD receive"},
    {P::C, 5, Signal::CtdTx, "CTD transmit"},
    {P::C, 6, Signal::OptodeRx, "optode receive"},
    {P::C, 7, Signal::OptodeTx, "optode transmit"},
    {P::D, 0, Signal::CtdPower1, "CTD power, first switch"},
    {P::D, 2, Signal::NonisoRx, "non-isolated converter receive"},
    {P::D, 3, Signal::PumpPower, "pump power"},
    {P::D, 4, Signal::Aux1Power, "AUX 1 power"},
    {P::D, 5, Signal::AdcPressure, "pressure input"},
    {P::D, 7, Signal::AdcBattery, "battery input"},
    {P::E, 3, Signal::GreenLed, "green LED"},
    {P::F, 1, Signal::NonisoTx, "non-isolated converter transmit"},
    {P::F, 2, Signal::NonisoClk, "non-isolated converter clock"},
    {P::F, 3, Signal::NonisoFss, "non-isolated converter frame"},
    {P::F, 5, Signal::NonisoDrdy, "non-isolated converter data ready"},
    {P::F, 6, Signal::NonisoReset, "non-isolated converter reset"},
    {P::G, 4, Signal::Aux1Rx, "AUX 1 receive"},
    {P::G, 5, Signal::Aux1Tx, "AUX 1 transmit"},
    {P::H, 0, Signal::IsoClk, "isolated converter clock"},
    {P::H, 1, Signal::IsoCs, "isolated converter chip select"},
    {P::H, 2, Signal::IsoDout, "isolated converter data out"},
    {P::H, 3, Signal::IsoDin, "isolated converter data in"},
    {P::J, 2, Signal::Aux2Rx, "AUX 2 receive"},
    {P::J, 3, Signal::Aux2Tx, "AUX 2 transmit"},
    {P::K, 0, Signal::AdcWater, "water sensor input"},
    {P::K, 1, Signal::AdcBoardTemp, "board temperature input"},
    {P::K, 2, Signal::IsoBoardPower, "isolated analog board power"},
    {P::K, 3, Signal::CtdPower2, "CTD power, second switch"},
    {P::K, 4, Signal::AuxCommonPower, "AUX ports common power"},
    {P::L, 0, Signal::ConsoleXcvr0, "console transceiver control 0"},
    {P::L, 1, Signal::ConsoleXcvr1, "console transceiver control 1"},
    {P::L, 2, Signal::OptodePower, "optode power"},
    {P::L, 7, Signal::Aux2Power, "AUX 2 power"},
    {P::M, 4, Signal::NonisoPower, "non-isolated converter power"},
    {P::M, 6, Signal::BattMonEnable, "battery-monitor enable"},
    {P::M, 7, Signal::SensorSupply, "housekeeping sensor supply"},
    {P::N, 3, Signal::IsoDrdy, "isolated converter data ready"},
    {P::N, 5, Signal::IsoReset, "isolated converter reset"},
    {P::N, 6, Signal::IsoStart, "isolated converter start"},
    {P::N, 7, Signal::NonisoStart, "non-isolated converter start"},
    {P::P, 2, Signal::RedLed, "red LED"},
};
}  // namespace pinmap_detail
using pinmap_detail::kPinMap;

constexpr size_t PIN_COUNT = sizeof(kPinMap) / sizeof(kPinMap[0]);
static_assert(PIN_COUNT == static_cast<size_t>(Signal::Count), "one pin map row per signal");

constexpr bool pin_map_in_signal_order()
{
    for (size_t i = 0; i < PIN_COUNT; ++i)
        if (static_cast<size_t>(kPinMap[i].signal) != i) return false;
    return true;
}
static_assert(pin_map_in_signal_order(), "pin map rows must follow the Signal order");

constexpr const PinDef& pin_def(Signal s) { return kPinMap[static_cast<size_t>(s)]; }
