// The isolated analog board: its ADS1248 converter on SSI3 with a software
// chip select, and the ADG1609 multiplexer driven by the converter's own
// general-purpose pins. Every sensor voltage passes through pollADS1248_iso.
#pragma once

#include <cstdint>

// Full-scale code 0x7FFFFF is 2.048 V: 2.048 / (2^23 - 1) volts per count,
// held as the single-precision value with bit pattern 0x34831270.
constexpr float ADS1248_VOLTS_PER_COUNT = 0x1.0624E0p-22f;
static_assert(ADS1248_VOLTS_PER_COUNT == static_cast<float>(2.048 / 8388607.0),
              "volts per count is 2.048 / 8388607 rounded to single precision");

// The largest averaging count of one poll (size of its trial buffer).
constexpr int ADS1248_ISO_MAX_TRIALS = 120;

// Two's-complement value of a 24-bit result, first byte most significant.
constexpr int32_t ads1248_code(uint32_t b0, uint32_t b1, uint32_t b2)
{
    const uint32_t code = (b0 & 0xFFu) << 16 | (b1 & 0xFFu) << 8 | (b2 & 0xFFu);
    return (code & 0x800000u) ? -static_cast<int32_t>((~code & 0x7FFFFFu) + 1u) : static_cast<int32_t>(code);
}

void openADS1248_iso();
void closeADS1248_iso();
void ADS1248_gpio_init();
void ADS1248_gpio_ADG1609_mux(uint32_t chan);
void ADS1248_gpio2(uint32_t state);
void ADS1248_gpio3(uint32_t state);
unsigned char ADS1248_gain_sps(int gain, int sps);
// Mean input voltage of `trials` conversions (gain already divided out);
// the population deviation goes to sys_data.AD24_std. NaN when the
// converter gives no result.
float pollADS1248_iso(unsigned char pos_chan, unsigned char neg_chan, int trials, int gain, int sps);
