#include "ADS1248_iso.h"

#include <cmath>
#include <limits>

#include "IO.h"
#include "System.h"
#include "platform.h"

namespace {

constexpr uint32_t ISO_SSI_RATE = 1000000;
constexpr uint8_t PCTL_SSI3 = 2;
constexpr Signal SSI_PINS[] = {Signal::IsoDout, Signal::IsoDin, Signal::IsoClk};

// Converter commands and registers.
constexpr uint8_t CMD_WREG = 0x40;
constexpr uint8_t CMD_NOP = 0xFF;
constexpr uint8_t REG_MUX0 = 0x00;
constexpr uint8_t REG_GPIOCFG = 0x0C;
constexpr uint8_t REG_GPIODAT = 0x0E;
constexpr uint8_t MUX1_INTERNAL_REF = 0x30;  // reference always on and selected
constexpr uint8_t GPIO_ALL_PINS = 0x0F;

struct Code {
    int value;
    uint8_t code;
};
constexpr Code GAIN_CODES[] = {{1, 0x00},  {2, 0x10},  {4, 0x20},  {8, 0x30},
                               {16, 0x40}, {32, 0x50}, {64, 0x60}, {128, 0x70}};
constexpr Code RATE_CODES[] = {{5, 0},   {10, 1},  {20, 2},  {40, 3},   {80, 4},
                               {160, 5}, {320, 6}, {640, 7}, {1000, 8}, {2000, 9}};
constexpr int DEFAULT_GAIN = 1;
constexpr int DEFAULT_SPS = 5;

template <size_t N>
const Code* find_code(const Code (&table)[N], int value)
{
    for (const Code& c : table)
        if (c.value == value) return &c;
    return nullptr;
}

// Bounded waits. A result comes once per conversion period, the first after
// a register write one period and a little later; a converter silent for
// three periods (and 10 ms) is taken for dead.
constexpr uint32_t DRDY_POLL_DELAY = 833;  // 50 us
constexpr uint32_t DRDY_POLLS_PER_MS = 20;
constexpr uint32_t DRDY_PERIODS = 3;
constexpr uint32_t DRDY_MARGIN_MS = 10;
constexpr uint32_t IDLE_POLL_DELAY = 167;  // 10 us
constexpr uint32_t IDLE_POLLS = 200;       // 2 ms, against 48 us for six bytes
constexpr int RX_FIFO_DEPTH = 8;
constexpr uint32_t PERIPH_READY_POLLS = 1000;

void cs(bool high)
{
    pin_write(Signal::IsoCs, high);
}

void drain_rx()
{
    uint32_t dummy;
    for (int i = 0; i < 2 * RX_FIFO_DEPTH && ssi_get_nb(SSI3_BASE, &dummy); ++i) {
    }
}

bool wait_idle()
{
    for (uint32_t n = 0; n < IDLE_POLLS; ++n) {
        if (!ssi_busy(SSI3_BASE)) return true;
        sysctl_delay(IDLE_POLL_DELAY);
    }
    uprintf("Isolated ADS1248: serial port SSI3 stuck busy\n");
    return false;
}

// Drains the receive FIFO, queues the bytes (never more than the FIFO's
// eight) and waits until they are out. Chip select is the caller's.
bool send(const uint8_t* bytes, int n)
{
    drain_rx();
    for (int i = 0; i < n; ++i) ssi_put(SSI3_BASE, bytes[i]);
    return wait_idle();
}

void write_gpiodat(uint8_t value)
{
    cs(false);
    const uint8_t cmd[] = {CMD_WREG | REG_GPIODAT, 0x00, value};
    send(cmd, sizeof cmd);
    cs(true);
}

bool wait_drdy(int sps)
{
    const uint32_t period_ms = (1000u + static_cast<uint32_t>(sps) - 1u) / static_cast<uint32_t>(sps);
    const uint32_t polls = (DRDY_PERIODS * period_ms + DRDY_MARGIN_MS) * DRDY_POLLS_PER_MS;
    for (uint32_t n = 0; n < polls; ++n) {
        if (!pin_read(Signal::IsoDrdy)) return true;
        sysctl_delay(DRDY_POLL_DELAY);
    }
    return false;
}

// Clocks one result out (the converter is in continuous-read mode).
bool read_code(int32_t* code)
{
    drain_rx();
    cs(false);
    const uint8_t nops[] = {CMD_NOP, CMD_NOP, CMD_NOP};
    const bool sent = send(nops, sizeof nops);
    uint32_t b[3] = {0, 0, 0};
    bool ok = sent;
    for (int i = 0; ok && i < 3; ++i) ok = ssi_get_nb(SSI3_BASE, &b[i]);
    cs(true);
    if (sent && !ok) uprintf("Isolated ADS1248: no data received on SSI3\n");
    *code = ads1248_code(b[0], b[1], b[2]);
    return ok;
}

float no_result()
{
    sys_data.AD24_std = std::numeric_limits<float>::quiet_NaN();
    return std::numeric_limits<float>::quiet_NaN();
}

}  // namespace

void openADS1248_iso()
{
    pin_output(Signal::IsoBoardPower, true);
    pin_output(Signal::IsoReset, true);
    pin_output(Signal::IsoStart, true);
    pin_output(Signal::IsoCs, true);
    delay_ms(2);

    pin_write(Signal::IsoReset, false);
    sysctl_delay(170);  // 10 us
    pin_write(Signal::IsoReset, true);

    sysctl_periph_enable(Periph::SSI3);
    for (uint32_t n = 0; n < PERIPH_READY_POLLS && !sysctl_periph_ready(Periph::SSI3); ++n) {
    }
    for (Signal s : SSI_PINS) {
        const PinDef& d = pin_def(s);
        gpio_pin_function(d.port, d.pin, PCTL_SSI3);
    }
    const uint8_t ssi_pins =
        pin_def(Signal::IsoClk).mask() | pin_def(Signal::IsoDout).mask() | pin_def(Signal::IsoDin).mask();
    gpio_peripheral_pins(pin_def(Signal::IsoClk).port, ssi_pins, PinKind::Ssi);

    ssi_config_master(SSI3_BASE, sysctl_clock_get(), SsiMode::Mode1, ISO_SSI_RATE, 8);
    ssi_enable(SSI3_BASE);
    delay_ms(20);
}

void closeADS1248_iso()
{
    pin_write(Signal::IsoStart, true);
    pin_write(Signal::IsoReset, true);
    ssi_disable(SSI3_BASE);
    sysctl_periph_disable(Periph::SSI3);
    pin_output(Signal::IsoClk, false);
    pin_input(Signal::IsoDout);
    pin_output(Signal::IsoDin, false);
    pin_write(Signal::IsoCs, false);
    pin_write(Signal::IsoBoardPower, false);
}

void ADS1248_gpio_init()
{
    cs(false);
    // GPIOCFG = 0x0F, GPIODIR = 0x00 (outputs), GPIODAT = 0x00.
    const uint8_t cmd[] = {CMD_WREG | REG_GPIOCFG, 0x02, GPIO_ALL_PINS, 0x00, 0x00};
    send(cmd, sizeof cmd);
    cs(true);
}

void ADS1248_gpio_ADG1609_mux(uint32_t chan)
{
    if (chan > 3) {
        uprintf("Mux channels are 0 to 3 in ADS1248_iso, error in arg for ADS1248_gpio_ADG1609_mux\n");
        chan = 3;
    }
    // The address lines see GPIO1:GPIO0 inverted; GPIO2 is high for pairs 1 and 4.
    const uint8_t value = static_cast<uint8_t>((~chan & 3u) | ((chan == 0 || chan == 3) ? 0x04u : 0u));
    write_gpiodat(value);
}

void ADS1248_gpio2(uint32_t state)
{
    write_gpiodat(state == 1 ? 0x04 : 0x00);
}

void ADS1248_gpio3(uint32_t state)
{
    write_gpiodat(state == 1 ? 0x08 : 0x00);
}

unsigned char ADS1248_gain_sps(int gain, int sps)
{
    const Code* g = find_code(GAIN_CODES, gain);
    if (!g) uprintf("\n\nUnrecognized PGA gain. Setting to 1.");
    const Code* r = find_code(RATE_CODES, sps);
    if (!r) uprintf("\n\nUnrecognized data rate. Setting to 5 sps.");
    return static_cast<unsigned char>((g ? g->code : 0x00) | (r ? r->code : 0x00));
}

float pollADS1248_iso(unsigned char pos_chan, unsigned char neg_chan, int trials, int gain, int sps)
{
    float voltages[ADS1248_ISO_MAX_TRIALS];

    if (trials > ADS1248_ISO_MAX_TRIALS) {
        uprintf(
            "MAX TRIALS is %u in ADS1248_iso, more trials (avg) than %u was requested, edit "
            "pollADS1248_iso() and recompile\n",
            static_cast<unsigned>(ADS1248_ISO_MAX_TRIALS), static_cast<unsigned>(ADS1248_ISO_MAX_TRIALS));
        trials = ADS1248_ISO_MAX_TRIALS;
    }

    cs(false);
    const uint8_t mux0 = static_cast<uint8_t>((neg_chan & 7u) | ((pos_chan & 7u) << 3));
    const uint8_t sys0 = ADS1248_gain_sps(gain, sps);
    const uint8_t cmd[] = {CMD_WREG | REG_MUX0, 0x03, mux0, 0x00, MUX1_INTERNAL_REF, sys0};
    const bool written = send(cmd, sizeof cmd);
    cs(true);
    if (!written) return no_result();

    if (trials < 1) {
        sys_data.AD24_std = 0.0f;
        return 0.0f;
    }

    // The result is scaled by the gain the converter actually runs at, so a
    // gain the table lacks (converted at 1) still gives volts.
    const int divisor = find_code(GAIN_CODES, gain) ? gain : DEFAULT_GAIN;
    const int rate = find_code(RATE_CODES, sps) ? sps : DEFAULT_SPS;

    int32_t result = 0;  // at most 120 codes of 2^23: no overflow
    for (int i = 0; i < trials; ++i) {
        int32_t code = 0;
        if (!wait_drdy(rate)) {
            uprintf("pollADS1248_iso: isolated ADS1248 gave no result (DRDY stayed high)\n");
            return no_result();
        }
        if (!read_code(&code)) return no_result();
        voltages[i] = (static_cast<float>(code) / static_cast<float>(divisor)) * ADS1248_VOLTS_PER_COUNT;
        result += code;
    }

    // Integer mean, truncated toward zero twice, as the record has always had it.
    const float mean = static_cast<float>((result / trials) / divisor) * ADS1248_VOLTS_PER_COUNT;

    if (trials < 2) {
        sys_data.AD24_std = 0.0f;
    } else {
        float sum_deviation = 0.0f;
        for (int i = 0; i < trials; ++i) {
            const float d = voltages[i] - mean;
            sum_deviation += d * d;
        }
        sys_data.AD24_std = static_cast<float>(std::sqrt(static_cast<double>(sum_deviation / trials)));
    }
    return mean;
}
