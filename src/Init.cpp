#include "Init.h"

#include <initializer_list>

#include "Aux1.h"
#include "Aux2.h"
#include "IO.h"
#include "Optode.h"
#include "SDCard.h"
#include "Salinor.h"
#include "Sleep.h"
#include "System.h"
#include "i2c_fram.h"
#include "platform.h"
#include "uartstdio.h"

namespace {

// Port control values of the pins' peripheral functions.
constexpr uint8_t PCTL_UART = 1;
constexpr uint8_t PCTL_SSI1 = 2;
constexpr uint32_t PERIPH_READY_POLLS = 1000;
constexpr uint32_t UART_DRAIN_POLLS = 10;  // ms: a full 16-byte FIFO at 115200 takes 1.4 ms

constexpr uint32_t CONSOLE_BAUD = 115200;
constexpr uint32_t CONSOLE_BAUD_SLOW = 9600;
constexpr uint32_t INSTRUMENT_BAUD = 9600;
constexpr uint32_t NONISO_SSI_RATE = 1000000;

void output_low(Signal s)
{
    pin_output(s, false);
}
void output_high(Signal s)
{
    pin_output(s, true);
}

void output_low(GpioPort port, uint8_t pins)
{
    gpio_output(port, pins);
    gpio_write(port, pins, 0);
}

// Route a UART's receive and transmit pins and clock it from the 16 MHz
// internal oscillator, so its rate does not depend on the system clock.
void route_uart(uint32_t n, Signal rx, Signal tx)
{
    sysctl_periph_enable(periph_uart(n));
    for (Signal s : {rx, tx}) {
        const PinDef& d = pin_def(s);
        gpio_pin_function(d.port, d.pin, PCTL_UART);
        gpio_peripheral_pins(d.port, d.mask(), PinKind::Uart);
    }
    uart_clock_source_piosc(UART0_BASE + n * 0x1000u);
}

void wait_ready(Periph p)
{
    for (uint32_t n = 0; n < PERIPH_READY_POLLS; ++n)
        if (sysctl_periph_ready(p)) return;
}

void start_console()
{
    route_uart(0, Signal::ConsoleRx, Signal::ConsoleTx);
    UARTStdioConfig(0, CONSOLE_BAUD, PIOSC_HZ);
    output_low(Signal::ConsoleXcvr0);
    output_high(Signal::ConsoleXcvr1);
    UARTEchoSet(true);
    delay_ms(2);
}

void park_isolated_converter()
{
    output_low(Signal::IsoClk);
    output_low(Signal::IsoCs);
    pin_input(Signal::IsoDout);
    output_low(Signal::IsoDin);
    output_low(Signal::NonisoStart);
    output_high(Signal::IsoStart);
    pin_input(Signal::IsoDrdy);
    output_high(Signal::IsoReset);
    output_low(Signal::IsoBoardPower);
    output_low(GpioPort::N, 1u << 4);
}

void start_noniso_link()
{
    sysctl_periph_enable(Periph::SSI1);
    for (Signal s : {Signal::NonisoTx, Signal::NonisoRx, Signal::NonisoClk, Signal::NonisoFss}) {
        const PinDef& d = pin_def(s);
        gpio_pin_function(d.port, d.pin, PCTL_SSI1);
        gpio_peripheral_pins(d.port, d.mask(), PinKind::Ssi);
    }
    ssi_config_master(SSI1_BASE, sysctl_clock_get(), SsiMode::Mode1, NONISO_SSI_RATE, 8);
    ssi_enable(SSI1_BASE);
    pin_input(Signal::NonisoDrdy);
    output_high(Signal::NonisoReset);
    output_low(Signal::NonisoStart);
    output_low(Signal::NonisoPower);
}

void start_instrument_ports()
{
    output_low(Signal::CtdPower1);
    output_low(Signal::CtdPower2);
    route_uart(4, Signal::CtdRx, Signal::CtdTx);
    Salinor_UARTConfig(4, INSTRUMENT_BAUD, PIOSC_HZ);
    Salinor_UARTEchoSet(false);
    output_low(GpioPort::D, 1u << 1);

    route_uart(3, Signal::OptodeRx, Signal::OptodeTx);
    Optode_UARTConfig(3, INSTRUMENT_BAUD, PIOSC_HZ);
    Optode_UARTEchoSet(false);

    output_low(Signal::PumpPower);
    output_low(GpioPort::M, 1u << 5);
    output_low(Signal::Aux1Power);
    output_low(Signal::Aux2Power);
    output_low(Signal::AuxCommonPower);

    route_uart(2, Signal::Aux1Rx, Signal::Aux1Tx);
    AUX1_UARTConfig(2, INSTRUMENT_BAUD, PIOSC_HZ);
    route_uart(5, Signal::Aux2Rx, Signal::Aux2Tx);
    AUX2_UARTConfig(5, INSTRUMENT_BAUD, PIOSC_HZ);
}

// LEDs off, then every spare and unused line parked in a known level.
void park_remaining_pins()
{
    output_low(Signal::GreenLed);
    output_low(Signal::RedLed);
    using P = GpioPort;
    output_low(P::D, 1u << 6);
    output_low(P::E, 0xF0);
    output_low(P::H, 0xF0);
    gpio_output(P::B, 0x0C);
    gpio_write(P::B, 0x0C, 0x0C);  // I2C lines idle high until the bus takes them
    output_low(P::P, 0x03);
    output_low(P::A, 0xC0);
    output_low(P::B, 0x13);
    output_low(P::D, 0xA0);
    output_low(P::G, 0xCF);
    output_low(P::J, 0xF3);
    output_low(P::K, 0xE0);
    output_low(P::L, 0x7C);
    output_low(P::M, 0xCF);
    output_low(P::N, 0x07);
}

void start_onchip_converter()
{
    sysctl_periph_enable(Periph::ADC0);
    sysctl_delay(3);
    sysctl_periph_reset(Periph::ADC0);
    wait_ready(Periph::ADC0);
}

void start_tick()
{
    systick_period(sysctl_clock_get() / 100);
    systick_int_enable();
    systick_enable();
}

}  // namespace

void Init()
{
    fpu_enable_lazy_stacking();
    sysctl_clock_set_50mhz();
    for (int p = static_cast<int>(Periph::GPIOA); p <= static_cast<int>(Periph::GPIOP); ++p)
        sysctl_periph_enable(static_cast<Periph>(p));

    start_console();
    park_isolated_converter();
    start_noniso_link();
    start_instrument_ports();
    park_remaining_pins();
    start_onchip_converter();
    start_tick();

    fram_init();
    retrieveSysDataVariables();
    if (sys_data.baud_rate == CONSOLE_BAUD_SLOW) {
        // Reconfiguring discards what is queued: let the start-up messages
        // go out at the old rate first.
        UARTFlushTx(false);
        for (uint32_t n = 0; n < UART_DRAIN_POLLS && uart_busy(UART0_BASE); ++n) delay_ms(1);
        UARTStdioConfig(0, CONSOLE_BAUD_SLOW, PIOSC_HZ);
    }
    sleep_handler();
    Init_SDCard();
}
