// The on-chip 12-bit converter ADC0: one software-triggered burst of
// sequencer 0 reads the housekeeping inputs and the die temperature, and the
// conversions every client applies to those counts.
#pragma once

#include <cstdint>

constexpr int ADC_DATA_SIZE = 12;
constexpr int ADC_BURST_STEPS = 8;

// Entries of one burst.
enum AdcIndex : int {
    ADC_BATTERY = 0,
    ADC_PRESSURE = 1,
    ADC_HUMIDITY = 2,
    ADC_WATER = 3,
    ADC_BOARD_TEMP = 4,
    ADC_DIE_TEMP = 7,
};

// An entry of a burst that did not complete; no 12-bit count has this value
// and every conversion below turns it into "no value".
constexpr uint32_t ADC_COUNT_INVALID = 0xFFFFFFFFu;
// What the percentage conversions give for an invalid count.
constexpr uint32_t ADC_PERCENT_INVALID = 0xFFFFFFFFu;

extern uint32_t adc_data[ADC_DATA_SIZE];

void adc_onchip_init();
// Entries 0-7 refreshed; all ADC_COUNT_INVALID when the burst did not complete.
uint32_t* read_all_adc();

// Conversions (NaN, or ADC_PERCENT_INVALID, for an invalid count).
float adc_battery_volts(uint32_t count);
float adc_board_temp(uint32_t count);
float adc_die_temp(uint32_t count);
uint32_t adc_humidity(uint32_t count);
float adc_humidity_float(uint32_t count);
uint32_t adc_water(uint32_t count);
float adc_pressure(uint32_t count);
