// Peripheral interface of the TM4C123GH6PGE.
//
// Every firmware module reaches the hardware only through these free
// functions. Two backends implement them: src/platform/tm4c123 on the chip's
// registers, src/platform/sim on the simulated board. Peripheral instances are
// named by their register base address, as the data sheet names them.
#pragma once

#include <cstdint>

#include "pins.h"

// ---------------------------------------------------------------------------
// Register bases (TM4C123GH6PGE data sheet, memory map)
constexpr uint32_t UART0_BASE = 0x4000C000u;
constexpr uint32_t UART1_BASE = 0x4000D000u;
constexpr uint32_t UART2_BASE = 0x4000E000u;
constexpr uint32_t UART3_BASE = 0x4000F000u;
constexpr uint32_t UART4_BASE = 0x40010000u;
constexpr uint32_t UART5_BASE = 0x40011000u;
constexpr uint32_t SSI0_BASE = 0x40008000u;
constexpr uint32_t SSI1_BASE = 0x40009000u;
constexpr uint32_t SSI2_BASE = 0x4000A000u;
constexpr uint32_t SSI3_BASE = 0x4000B000u;
constexpr uint32_t I2C0_BASE = 0x40020000u;
constexpr uint32_t ADC0_BASE = 0x40038000u;

// Index 0..5 of a UART from its base, or -1.
constexpr int uart_index(uint32_t base)
{
    return (base >= UART0_BASE && base <= UART5_BASE && (base & 0xFFFu) == 0)
               ? static_cast<int>((base - UART0_BASE) >> 12)
               : -1;
}
// Index 0..3 of an SSI from its base, or -1.
constexpr int ssi_index(uint32_t base)
{
    return (base >= SSI0_BASE && base <= SSI3_BASE && (base & 0xFFFu) == 0)
               ? static_cast<int>((base - SSI0_BASE) >> 12)
               : -1;
}

// Interrupt numbers (vector number - 16).
constexpr uint32_t INT_UART0 = 5;
constexpr uint32_t INT_UART1 = 6;
constexpr uint32_t INT_SSI0 = 7;
constexpr uint32_t INT_I2C0 = 8;
constexpr uint32_t INT_ADC0SS0 = 14;
constexpr uint32_t INT_SSI1 = 18;
constexpr uint32_t INT_UART2 = 33;
constexpr uint32_t INT_HIBERNATE = 43;
constexpr uint32_t INT_SSI3 = 58;
constexpr uint32_t INT_UART3 = 59;
constexpr uint32_t INT_UART4 = 60;
constexpr uint32_t INT_UART5 = 61;
constexpr uint32_t NUM_INTERRUPTS = 139;  // vector table entries 16..154

// ---------------------------------------------------------------------------
// System control
// clang-format off
enum class Periph : uint8_t {
    GPIOA, GPIOB, GPIOC, GPIOD, GPIOE, GPIOF, GPIOG, GPIOH,
    GPIOJ, GPIOK, GPIOL, GPIOM, GPION, GPIOP,
    UART0, UART1, UART2, UART3, UART4, UART5,
    SSI0, SSI1, SSI2, SSI3,
    I2C0, ADC0, HIBERNATE, EEPROM0,
};
// clang-format on
constexpr Periph periph_uart(uint32_t n)
{
    return static_cast<Periph>(static_cast<uint8_t>(Periph::UART0) + n);
}
constexpr Periph periph_gpio(GpioPort p)
{
    return static_cast<Periph>(static_cast<uint8_t>(p));
}

constexpr uint32_t SYSTEM_CLOCK_HZ = 50000000u;
constexpr uint32_t PIOSC_HZ = 16000000u;

void sysctl_clock_set_50mhz();  // 16 MHz crystal, PLL, /4
uint32_t sysctl_clock_get();    // Hz
bool sysctl_periph_present(Periph p);
void sysctl_periph_enable(Periph p);
void sysctl_periph_disable(Periph p);
void sysctl_periph_reset(Periph p);
bool sysctl_periph_ready(Periph p);
// Busy wait of 3 processor cycles per count.
void sysctl_delay(uint32_t count);
// Busy wait of n milliseconds: count ceil(50 MHz / 3000) per ms.
constexpr uint32_t DELAY_COUNT_PER_MS = (SYSTEM_CLOCK_HZ + 2999u) / 3000u;  // 16667
inline void delay_ms(uint32_t ms)
{
    sysctl_delay(DELAY_COUNT_PER_MS * ms);
}

void fpu_enable_lazy_stacking();

// Called once per turn by every loop that spins on state changed by an
// interrupt. Nothing on the chip; lets virtual time run in the simulation.
void platform_idle();

// ---------------------------------------------------------------------------
// GPIO. Pins are a bit mask of one port.
enum class PinKind : uint8_t { Uart, Ssi, I2cScl, I2cSda, Analog };
enum class PadType : uint8_t { PushPull, OpenDrain, PullUp, PullDown, Analog };

void gpio_output(GpioPort port, uint8_t pins);
void gpio_input(GpioPort port, uint8_t pins);
// Route pins to a peripheral (alternate function, digital or analog enable,
// pad type). The multiplexer selection comes from gpio_pin_function.
void gpio_peripheral_pins(GpioPort port, uint8_t pins, PinKind kind);
// Select the peripheral signal of one pin (port control field value).
void gpio_pin_function(GpioPort port, uint8_t pin, uint8_t function);
void gpio_pad(GpioPort port, uint8_t pins, uint8_t drive_ma, PadType type);
// Masked write: the pins in `pins` take the matching bits of `value`.
void gpio_write(GpioPort port, uint8_t pins, uint8_t value);
uint8_t gpio_read(GpioPort port, uint8_t pins);

inline void pin_write(Signal s, bool high)
{
    const PinDef& d = pin_def(s);
    gpio_write(d.port, d.mask(), high ? d.mask() : 0);
}
inline bool pin_read(Signal s)
{
    const PinDef& d = pin_def(s);
    return gpio_read(d.port, d.mask()) != 0;
}
inline void pin_output(Signal s, bool high)
{
    const PinDef& d = pin_def(s);
    gpio_output(d.port, d.mask());
    pin_write(s, high);
}
inline void pin_input(Signal s)
{
    const PinDef& d = pin_def(s);
    gpio_input(d.port, d.mask());
}

// ---------------------------------------------------------------------------
// UART (8 data bits, no parity, 1 stop bit)
constexpr uint32_t UART_INT_RX = 0x010;  // receive FIFO at its trigger level
constexpr uint32_t UART_INT_TX = 0x020;  // transmit FIFO fell to its trigger level
constexpr uint32_t UART_INT_RT = 0x040;  // receive time-out
constexpr uint32_t UART_INT_ALL = 0x7F2;

enum class UartFifoLevel : uint8_t { Eighth, Quarter, Half, ThreeQuarters, SevenEighths };

void uart_clock_source_piosc(uint32_t base);
void uart_config_8n1(uint32_t base, uint32_t src_clock, uint32_t baud);
void uart_fifo_levels(uint32_t base, UartFifoLevel tx, UartFifoLevel rx);
void uart_enable(uint32_t base);  // transmitter, receiver and FIFOs
void uart_disable(uint32_t base);
bool uart_chars_avail(uint32_t base);
int32_t uart_char_get_nb(uint32_t base);  // -1 when the receive FIFO is empty
bool uart_space_avail(uint32_t base);
bool uart_char_put_nb(uint32_t base, uint8_t c);
void UARTCharPut(uint32_t base, uint8_t c);  // waits for FIFO space
bool uart_busy(uint32_t base);
void uart_int_enable(uint32_t base, uint32_t flags);
void uart_int_disable(uint32_t base, uint32_t flags);
uint32_t uart_int_status(uint32_t base, bool masked);
void uart_int_clear(uint32_t base, uint32_t flags);

// ---------------------------------------------------------------------------
// SSI master
enum class SsiMode : uint8_t { Mode0, Mode1, Mode2, Mode3 };  // SPI clock polarity/phase

void ssi_config_master(uint32_t base, uint32_t src_clock, SsiMode mode, uint32_t bit_rate, uint32_t width);
void ssi_enable(uint32_t base);
void ssi_disable(uint32_t base);
void ssi_put(uint32_t base, uint32_t data);  // waits for FIFO space
bool ssi_put_nb(uint32_t base, uint32_t data);
void ssi_get(uint32_t base, uint32_t* data);  // waits for a received frame
bool ssi_get_nb(uint32_t base, uint32_t* data);
bool ssi_busy(uint32_t base);

// ---------------------------------------------------------------------------
// I2C master. Control commands are the master control/status register values.
constexpr uint32_t I2C_CMD_SINGLE_SEND = 0x07;
constexpr uint32_t I2C_CMD_SINGLE_RECEIVE = 0x07;
constexpr uint32_t I2C_CMD_BURST_SEND_START = 0x03;
constexpr uint32_t I2C_CMD_BURST_SEND_CONT = 0x01;
constexpr uint32_t I2C_CMD_BURST_SEND_FINISH = 0x05;
constexpr uint32_t I2C_CMD_BURST_RECEIVE_START = 0x0B;
constexpr uint32_t I2C_CMD_BURST_RECEIVE_CONT = 0x09;
constexpr uint32_t I2C_CMD_BURST_RECEIVE_FINISH = 0x05;

void i2c_master_init(uint32_t base, uint32_t sys_clock, bool fast);
void i2c_master_enable(uint32_t base);
void i2c_master_slave_addr(uint32_t base, uint8_t addr7, bool receive);
void i2c_master_data_put(uint32_t base, uint8_t data);
uint32_t i2c_master_data_get(uint32_t base);
void i2c_master_control(uint32_t base, uint32_t cmd);
bool i2c_master_busy(uint32_t base);

// ---------------------------------------------------------------------------
// ADC (sequencer operations)
constexpr uint32_t ADC_TRIGGER_PROCESSOR = 0x0;
constexpr uint32_t ADC_STEP_CH_MASK = 0x1F;  // analog input AIN0..AIN23
constexpr uint32_t ADC_STEP_D = 0x100;       // differential
constexpr uint32_t ADC_STEP_END = 0x200;     // last step of the sequence
constexpr uint32_t ADC_STEP_IE = 0x400;      // raise the interrupt flag after this step
constexpr uint32_t ADC_STEP_TS = 0x800;      // internal temperature sensor

void adc_seq_configure(uint32_t base, uint32_t seq, uint32_t trigger, uint32_t priority);
void adc_seq_step(uint32_t base, uint32_t seq, uint32_t step, uint32_t config);
void adc_hw_oversample(uint32_t base, uint32_t factor);
void adc_seq_enable(uint32_t base, uint32_t seq);
void adc_seq_disable(uint32_t base, uint32_t seq);
void adc_processor_trigger(uint32_t base, uint32_t seq);
bool adc_int_status_raw(uint32_t base, uint32_t seq);
void adc_int_clear(uint32_t base, uint32_t seq);
uint32_t adc_seq_data_get(uint32_t base, uint32_t seq, uint32_t* buffer);  // returns count

// ---------------------------------------------------------------------------
// SysTick
void systick_period(uint32_t ticks);
void systick_int_enable();
void systick_enable();

// ---------------------------------------------------------------------------
// Interrupt controller
void int_enable(uint32_t irq);
void int_disable(uint32_t irq);
bool int_master_disable();  // true when interrupts were already masked
bool int_master_enable();   // true when interrupts were masked before

// ---------------------------------------------------------------------------
// Hibernation module and real-time clock
constexpr uint32_t HIB_INT_RTC_MATCH_0 = 0x01;
constexpr uint32_t HIB_INT_LOW_BAT = 0x04;
constexpr uint32_t HIB_INT_PIN_WAKE = 0x08;
constexpr uint32_t HIB_INT_WR_COMPLETE = 0x10;
constexpr uint32_t HIB_INT_GPIO_WAKE = 0x20;
constexpr uint32_t HIB_INT_RESET_WAKE = 0x40;
constexpr uint32_t HIB_INT_VDDFAIL = 0x80;
constexpr uint32_t HIB_WAKE_PIN = 0x10;
constexpr uint32_t HIB_WAKE_RTC = 0x08;
constexpr uint32_t HIB_OSC_LOWDRIVE = 0x0;  // crystal, not bypassed, low drive

void hib_enable_clock(uint32_t sys_clock);
void hib_clock_config(uint32_t config);
void hib_rtc_enable();
void hib_rtc_set(uint32_t seconds);
uint32_t hib_rtc_get();
void hib_rtc_trim_set(uint32_t trim);
void hib_rtc_match_set(uint32_t seconds);
uint32_t hib_rtc_match_get();
void hib_wake_set(uint32_t sources);
uint32_t hib_int_status_raw();
void hib_int_clear(uint32_t flags);
void hib_int_disable(uint32_t flags);
bool hib_is_active();
void hib_release_pins();
void hib_request();  // power off until a wake source fires; returns only on failure

// ---------------------------------------------------------------------------
// EEPROM: whole 32-bit words at a byte address
uint32_t eeprom_init();  // 0 = ready
void eeprom_read(uint32_t* data, uint32_t addr, uint32_t count_bytes);
uint32_t eeprom_program(const uint32_t* data, uint32_t addr, uint32_t count_bytes);  // 0 = ok
