#include "ADS1248_noniso.h"

#include <limits>

#include "ADS1248_iso.h"
#include "IO.h"
#include "platform.h"

namespace {

constexpr uint8_t CMD_SDATAC = 0x16;
constexpr uint8_t CMD_RDATA = 0x12;
constexpr uint8_t CMD_WREG = 0x40;
constexpr uint8_t CMD_NOP = 0xFF;
constexpr uint32_t REG_MUX0 = 0x00;
constexpr uint32_t REG_MUX1 = 0x02;
constexpr uint32_t REG_SYS0 = 0x03;
constexpr uint32_t SYS0_GAIN1_5SPS = 0x00;
constexpr uint32_t MUX1_INTERNAL_REF = 0x30;

// A result every 200 ms at 5 samples/s; three periods and 10 ms without one
// means the converter is gone.
constexpr uint32_t DRDY_POLL_DELAY = 833;  // 50 us
constexpr uint32_t DRDY_POLLS = (3 * 200 + 10) * 20;
constexpr uint32_t IDLE_POLL_DELAY = 167;  // 10 us
constexpr uint32_t IDLE_POLLS = 200;
constexpr int RX_FIFO_DEPTH = 8;

void drain_rx()
{
    uint32_t dummy;
    for (int i = 0; i < 2 * RX_FIFO_DEPTH && ssi_get_nb(SSI1_BASE, &dummy); ++i) {
    }
}

bool wait_idle()
{
    for (uint32_t n = 0; n < IDLE_POLLS; ++n) {
        if (!ssi_busy(SSI1_BASE)) return true;
        sysctl_delay(IDLE_POLL_DELAY);
    }
    uprintf("Non-isolated ADS1248: serial port SSI1 stuck busy\n");
    return false;
}

bool wait_drdy()
{
    for (uint32_t n = 0; n < DRDY_POLLS; ++n) {
        if (Read_ADS1248_noniso_DRDY() == 0) return true;
        sysctl_delay(DRDY_POLL_DELAY);
    }
    return false;
}

}  // namespace

void power_ADS1248_noniso_on()
{
    pin_output(Signal::NonisoPower, true);
}
void power_ADS1248_noniso_off()
{
    pin_output(Signal::NonisoPower, false);
}
void set_ADS1248_noniso_start_high()
{
    pin_output(Signal::NonisoStart, true);
}
void set_ADS1248_noniso_start_low()
{
    pin_output(Signal::NonisoStart, false);
}
void set_ADS1248_noniso_RESET_high()
{
    pin_output(Signal::NonisoReset, true);
}
void set_ADS1248_noniso_RESET_low()
{
    pin_output(Signal::NonisoReset, false);
}
long Read_ADS1248_noniso_DRDY()
{
    return pin_read(Signal::NonisoDrdy) ? 1 : 0;
}

void openADS1248_noniso()
{
    power_ADS1248_noniso_on();
    delay_ms(25);
    set_ADS1248_noniso_start_high();
    set_ADS1248_noniso_RESET_high();
    delay_ms(25);
    set_ADS1248_noniso_RESET_low();
    sysctl_delay(34);  // 2 us
    set_ADS1248_noniso_RESET_high();
    delay_ms(400);
    ADS1248_noniso_set_mode_SDATAC();
    write_ADS1248_noniso_register(REG_SYS0, SYS0_GAIN1_5SPS);
    write_ADS1248_noniso_register(REG_MUX1, MUX1_INTERNAL_REF);
}

void closeADS1248_noniso()
{
    set_ADS1248_noniso_RESET_high();
    set_ADS1248_noniso_start_low();
    power_ADS1248_noniso_off();
}

void ADS1248_noniso_set_mode_SDATAC()
{
    ssi_put(SSI1_BASE, CMD_SDATAC);
    if (!wait_idle()) return;
    // The mode changes with the next result.
    if (!wait_drdy()) uprintf("Non-isolated ADS1248 not ready after SDATAC (DRDY stayed high)\n");
}

void write_ADS1248_noniso_register(uint32_t reg_num, uint32_t data)
{
    ssi_put(SSI1_BASE, CMD_WREG + (reg_num & 0x0F));
    ssi_put(SSI1_BASE, 0x00);
    ssi_put(SSI1_BASE, data & 0xFF);
    ssi_put(SSI1_BASE, CMD_NOP);
    wait_idle();
}

void ADS1248ChangeChannel_noniso(unsigned char channel1, unsigned char channel2)
{
    const uint32_t newChannel = channel2 | ((static_cast<uint32_t>(channel1) << 3) & 0xFFu);
    drain_rx();
    write_ADS1248_noniso_register(REG_MUX0, newChannel);
}

long ADS1248GetValue_noniso()
{
    drain_rx();
    if (!wait_drdy()) {
        uprintf("Non-isolated ADS1248 gave no result (DRDY stayed high)\n");
        return ADS1248_NONISO_NO_RESULT;
    }
    ssi_put(SSI1_BASE, CMD_RDATA);
    for (int i = 0; i < 3; ++i) ssi_put(SSI1_BASE, CMD_NOP);
    if (!wait_idle()) return ADS1248_NONISO_NO_RESULT;
    uint32_t counts[4] = {0, 0, 0, 0};
    for (auto& c : counts) {
        if (!ssi_get_nb(SSI1_BASE, &c)) {
            uprintf("Non-isolated ADS1248: no data received on SSI1\n");
            return ADS1248_NONISO_NO_RESULT;
        }
    }
    // The first byte came back while the command went out.
    return ads1248_code(counts[1], counts[2], counts[3]);
}

float pollADS1248_noniso(unsigned char channel1, unsigned char channel2, int trials)
{
    ADS1248ChangeChannel_noniso(channel1, channel2);
    if (trials < 1) return 0.0f;
    // Wider than the codes' sum can need, so any trial count is safe.
    int64_t sample = 0;
    for (int i = 0; i < trials; ++i) {
        const long code = ADS1248GetValue_noniso();
        if (code == ADS1248_NONISO_NO_RESULT) return std::numeric_limits<float>::quiet_NaN();
        sample += code;
    }
    return static_cast<float>(static_cast<int32_t>(sample / trials)) * ADS1248_VOLTS_PER_COUNT;
}
