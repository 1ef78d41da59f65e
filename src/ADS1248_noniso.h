// The non-isolated ADS1248 on SSI1 (its frame signal is the chip select):
// controller temperature (AIN2 against AIN7) and a raw input (AIN3 against
// AIN7), always at gain 1 and 5 samples/s, read once per conversion in
// stop-continuous mode.
#pragma once

#include <cstdint>

// What ADS1248GetValue_noniso returns when the converter gave no result;
// no 24-bit code has this value.
constexpr long ADS1248_NONISO_NO_RESULT = INT32_MIN;

void openADS1248_noniso();
void closeADS1248_noniso();
// Plain average of `trials` conversions in volts; NaN when the converter
// gave no result.
float pollADS1248_noniso(unsigned char channel1, unsigned char channel2, int trials);
void ADS1248ChangeChannel_noniso(unsigned char channel1, unsigned char channel2);
long ADS1248GetValue_noniso();
void write_ADS1248_noniso_register(uint32_t reg_num, uint32_t data);
void ADS1248_noniso_set_mode_SDATAC();
long Read_ADS1248_noniso_DRDY();
void power_ADS1248_noniso_on();
void power_ADS1248_noniso_off();
void set_ADS1248_noniso_start_high();
void set_ADS1248_noniso_start_low();
void set_ADS1248_noniso_RESET_high();
void set_ADS1248_noniso_RESET_low();
