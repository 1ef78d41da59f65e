// The peripheral interface on the simulated board. Every call costs a little
// virtual time and lets due interrupts run before it returns.
#include "board.h"
#include "eeprom.h"
#include "gpio.h"
#include "hibernate.h"
#include "i2c.h"
#include "platform.h"
#include "ssi.h"
#include "uart.h"

using sim::board;

namespace {

uint32_t g_clock_hz = PIOSC_HZ;  // until the PLL is set
bool g_enabled[static_cast<int>(Periph::EEPROM0) + 1];

sim::Uart* uart_of(uint32_t base)
{
    const int i = uart_index(base);
    return i < 0 ? nullptr : &board().uart(i);
}

sim::Ssi* ssi_of(uint32_t base)
{
    const int i = ssi_index(base);
    return i < 0 ? nullptr : &board().ssi(i);
}

int eighths(UartFifoLevel l)
{
    switch (l) {
        case UartFifoLevel::Eighth:
            return 1;
        case UartFifoLevel::Quarter:
            return 2;
        case UartFifoLevel::Half:
            return 4;
        case UartFifoLevel::ThreeQuarters:
            return 6;
        case UartFifoLevel::SevenEighths:
            return 7;
    }
    return 1;
}

void access()
{
    board().access();
}

}  // namespace

// ---------------------------------------------------------------------------
void sysctl_clock_set_50mhz()
{
    g_clock_hz = SYSTEM_CLOCK_HZ;
    access();
}
uint32_t sysctl_clock_get()
{
    return g_clock_hz;
}
bool sysctl_periph_present(Periph p)
{
    (void)p;  // every peripheral the firmware names exists on this chip
    return true;
}
void sysctl_periph_enable(Periph p)
{
    g_enabled[static_cast<int>(p)] = true;
    access();
}
void sysctl_periph_disable(Periph p)
{
    g_enabled[static_cast<int>(p)] = false;
    access();
}
void sysctl_periph_reset(Periph p)
{
    (void)p;
    access();
}
bool sysctl_periph_ready(Periph p)
{
    access();
    return g_enabled[static_cast<int>(p)];
}
void sysctl_delay(uint32_t count)
{
    board().spend(sim::cycles_to_nanos(3ull * count));
}
void fpu_enable_lazy_stacking()
{
    access();
}
void platform_idle()
{
    board().idle();
}

// ---------------------------------------------------------------------------
void gpio_output(GpioPort port, uint8_t pins)
{
    board().gpio().set_output(port, pins);
    access();
}
void gpio_input(GpioPort port, uint8_t pins)
{
    board().gpio().set_input(port, pins);
    access();
}
void gpio_peripheral_pins(GpioPort port, uint8_t pins, PinKind kind)
{
    if (kind == PinKind::Analog)
        board().gpio().set_analog(port, pins, true);
    else
        board().gpio().set_alternate(port, pins, true);
    access();
}
void gpio_pin_function(GpioPort port, uint8_t pin, uint8_t function)
{
    board().gpio().set_function(port, pin, function);
    access();
}
void gpio_pad(GpioPort port, uint8_t pins, uint8_t drive_ma, PadType type)
{
    (void)port, (void)pins, (void)drive_ma, (void)type;
    access();
}
void gpio_write(GpioPort port, uint8_t pins, uint8_t value)
{
    board().gpio().write(port, pins, value);
    access();
}
uint8_t gpio_read(GpioPort port, uint8_t pins)
{
    access();
    return board().gpio().read(port, pins);
}

// ---------------------------------------------------------------------------
void uart_clock_source_piosc(uint32_t base)
{
    (void)base;
    access();
}
void uart_config_8n1(uint32_t base, uint32_t src_clock, uint32_t baud)
{
    if (auto* u = uart_of(base)) u->configure(src_clock, baud);
    access();
}
void uart_fifo_levels(uint32_t base, UartFifoLevel tx, UartFifoLevel rx)
{
    if (auto* u = uart_of(base)) u->set_fifo_levels(eighths(tx), eighths(rx));
    access();
}
void uart_enable(uint32_t base)
{
    if (auto* u = uart_of(base)) u->enable(true);
    access();
}
void uart_disable(uint32_t base)
{
    if (auto* u = uart_of(base)) u->enable(false);
    access();
}
bool uart_chars_avail(uint32_t base)
{
    access();
    auto* u = uart_of(base);
    return u && u->rx_available();
}
int32_t uart_char_get_nb(uint32_t base)
{
    auto* u = uart_of(base);
    const int32_t c = u ? u->read() : -1;
    access();
    return c;
}
bool uart_space_avail(uint32_t base)
{
    access();
    auto* u = uart_of(base);
    return u && u->tx_space();
}
bool uart_char_put_nb(uint32_t base, uint8_t c)
{
    auto* u = uart_of(base);
    const bool ok = u && u->write(c);
    access();
    return ok;
}
void UARTCharPut(uint32_t base, uint8_t c)
{
    auto* u = uart_of(base);
    if (!u || !u->enabled()) return;
    while (!u->write(c)) board().idle();
    access();
}
bool uart_busy(uint32_t base)
{
    access();
    auto* u = uart_of(base);
    return u && u->busy();
}
void uart_int_enable(uint32_t base, uint32_t flags)
{
    if (auto* u = uart_of(base)) u->int_enable(flags);
    access();
}
void uart_int_disable(uint32_t base, uint32_t flags)
{
    if (auto* u = uart_of(base)) u->int_disable(flags);
    access();
}
uint32_t uart_int_status(uint32_t base, bool masked)
{
    access();
    auto* u = uart_of(base);
    if (!u) return 0;
    return masked ? u->masked_status() : u->raw_status();
}
void uart_int_clear(uint32_t base, uint32_t flags)
{
    if (auto* u = uart_of(base)) u->int_clear(flags);
    access();
}

// ---------------------------------------------------------------------------
void ssi_config_master(uint32_t base, uint32_t src_clock, SsiMode mode, uint32_t bit_rate, uint32_t width)
{
    if (auto* s = ssi_of(base)) s->configure(src_clock, static_cast<int>(mode), bit_rate, width);
    access();
}
void ssi_enable(uint32_t base)
{
    if (auto* s = ssi_of(base)) s->enable(true);
    access();
}
void ssi_disable(uint32_t base)
{
    if (auto* s = ssi_of(base)) s->enable(false);
    access();
}
void ssi_put(uint32_t base, uint32_t data)
{
    auto* s = ssi_of(base);
    if (!s || !s->enabled()) return;
    while (!s->put(data)) board().spend(sim::kMicro);
    access();
}
bool ssi_put_nb(uint32_t base, uint32_t data)
{
    auto* s = ssi_of(base);
    const bool ok = s && s->put(data);
    access();
    return ok;
}
void ssi_get(uint32_t base, uint32_t* data)
{
    auto* s = ssi_of(base);
    *data = 0;
    if (!s) return;
    // A frame is always under way when the FIFO is empty and the caller
    // waits, unless nothing was sent: then waiting would never end.
    while (!s->get(data)) {
        if (!s->busy() || !s->enabled()) return;
        board().advance_to(s->next_event());
    }
    access();
}
bool ssi_get_nb(uint32_t base, uint32_t* data)
{
    auto* s = ssi_of(base);
    const bool ok = s && s->get(data);
    access();
    return ok;
}
bool ssi_busy(uint32_t base)
{
    access();
    auto* s = ssi_of(base);
    return s && s->busy();
}

// ---------------------------------------------------------------------------
void i2c_master_init(uint32_t base, uint32_t sys_clock, bool fast)
{
    if (base == I2C0_BASE) board().i2c0().init(sys_clock, fast);
    access();
}
void i2c_master_enable(uint32_t base)
{
    if (base == I2C0_BASE) board().i2c0().enable(true);
    access();
}
void i2c_master_slave_addr(uint32_t base, uint8_t addr7, bool receive)
{
    if (base == I2C0_BASE) board().i2c0().set_slave(addr7, receive);
    access();
}
void i2c_master_data_put(uint32_t base, uint8_t data)
{
    if (base == I2C0_BASE) board().i2c0().data_put(data);
    access();
}
uint32_t i2c_master_data_get(uint32_t base)
{
    access();
    return base == I2C0_BASE ? board().i2c0().data_get() : 0;
}
void i2c_master_control(uint32_t base, uint32_t cmd)
{
    if (base == I2C0_BASE) board().i2c0().control(cmd);
    access();
}
bool i2c_master_busy(uint32_t base)
{
    access();
    return base == I2C0_BASE && board().i2c0().busy();
}

// ---------------------------------------------------------------------------
void systick_period(uint32_t ticks)
{
    board().systick().set_period(ticks);
    access();
}
void systick_int_enable()
{
    board().systick().set_int_enable(true);
    access();
}
void systick_enable()
{
    board().systick().enable(board().now());
    access();
}

// ---------------------------------------------------------------------------
void int_enable(uint32_t irq)
{
    board().nvic().enable(irq);
    access();
}
void int_disable(uint32_t irq)
{
    board().nvic().disable(irq);
    access();
}
bool int_master_disable()
{
    const bool was = board().nvic().mask_all();
    access();
    return was;
}
bool int_master_enable()
{
    const bool was = board().nvic().unmask_all();
    access();
    return was;
}

// ---------------------------------------------------------------------------
void hib_enable_clock(uint32_t sys_clock)
{
    (void)sys_clock;
    board().hib().enable_clock();
    access();
}
void hib_clock_config(uint32_t config)
{
    board().hib().clock_config(config);
    access();
}
void hib_rtc_enable()
{
    board().hib().rtc_enable();
    access();
}
void hib_rtc_set(uint32_t seconds)
{
    board().hib().rtc_set(seconds);
    access();
}
uint32_t hib_rtc_get()
{
    access();
    return board().hib().rtc_get();
}
void hib_rtc_trim_set(uint32_t trim)
{
    board().hib().trim_set(trim);
    access();
}
void hib_rtc_match_set(uint32_t seconds)
{
    board().hib().match_set(seconds);
    access();
}
uint32_t hib_rtc_match_get()
{
    access();
    return board().hib().match_get();
}
void hib_wake_set(uint32_t sources)
{
    board().hib().wake_set(sources);
    access();
}
uint32_t hib_int_status_raw()
{
    access();
    return board().hib().raw_status();
}
void hib_int_clear(uint32_t flags)
{
    board().hib().int_clear(flags);
    access();
}
void hib_int_disable(uint32_t flags)
{
    board().hib().int_disable(flags);
    access();
}
bool hib_is_active()
{
    access();
    return board().hib().active();
}
void hib_release_pins()
{
    access();
}
void hib_request()
{
    access();
    board().hib().request();
}

// ---------------------------------------------------------------------------
uint32_t eeprom_init()
{
    access();
    return board().eeprom().init();
}
void eeprom_read(uint32_t* data, uint32_t addr, uint32_t count_bytes)
{
    board().eeprom().read(data, addr, count_bytes);
    access();
}
uint32_t eeprom_program(const uint32_t* data, uint32_t addr, uint32_t count_bytes)
{
    const uint32_t status = board().eeprom().program(data, addr, count_bytes);
    access();
    return status;
}
