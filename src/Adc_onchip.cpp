#include "Adc_onchip.h"

#include <limits>

#include "IO.h"
#include "platform.h"

uint32_t adc_data[ADC_DATA_SIZE];

namespace {

constexpr uint32_t SEQ = 0;
constexpr uint32_t TEMP_SENSOR_STEP = ADC_STEP_TS | ADC_STEP_IE | ADC_STEP_END;
// Inputs of the eight steps: battery, pressure, humidity, water, board
// temperature, battery twice more, then the die temperature.
constexpr uint32_t STEPS[ADC_BURST_STEPS] = {4, 6, 10, 16, 17, 4, 4, TEMP_SENSOR_STEP};
constexpr uint32_t MAX_COUNT = 4095;
constexpr Signal ANALOG_PINS[] = {Signal::AdcPressure, Signal::AdcBattery, Signal::AdcHumidity,
                                  Signal::AdcWater, Signal::AdcBoardTemp};

// Eight conversions take 8 us at 1 Msps (0.5 ms with the largest hardware
// averaging); 10 ms without completion means the converter is not running.
constexpr uint32_t POLL_DELAY = 83;  // 5 us
constexpr uint32_t MAX_POLLS = 2000;

constexpr float NO_VALUE = std::numeric_limits<float>::quiet_NaN();

bool valid(uint32_t count)
{
    return count <= MAX_COUNT;
}

}  // namespace

void adc_onchip_init()
{
    sysctl_periph_enable(Periph::ADC0);
    for (Signal s : ANALOG_PINS) {
        const PinDef& d = pin_def(s);
        gpio_peripheral_pins(d.port, d.mask(), PinKind::Analog);
    }
    adc_seq_configure(ADC0_BASE, SEQ, ADC_TRIGGER_PROCESSOR, 0);
    for (uint32_t step = 0; step < ADC_BURST_STEPS; ++step) adc_seq_step(ADC0_BASE, SEQ, step, STEPS[step]);
    adc_seq_enable(ADC0_BASE, SEQ);
    adc_int_clear(ADC0_BASE, SEQ);
}

uint32_t* read_all_adc()
{
    uint32_t fifo[ADC_BURST_STEPS];
    adc_seq_data_get(ADC0_BASE, SEQ, fifo);  // nothing left over from an earlier burst
    adc_processor_trigger(ADC0_BASE, SEQ);

    uint32_t polls = 0;
    while (!adc_int_status_raw(ADC0_BASE, SEQ)) {
        if (++polls > MAX_POLLS) {
            uprintf("\nOn-chip ADC0 did not complete its conversions in read_all_adc()\n");
            for (int i = 0; i < ADC_BURST_STEPS; ++i) adc_data[i] = ADC_COUNT_INVALID;
            return adc_data;
        }
        sysctl_delay(POLL_DELAY);
    }
    adc_int_clear(ADC0_BASE, SEQ);
    const uint32_t n = adc_seq_data_get(ADC0_BASE, SEQ, fifo);
    for (uint32_t i = 0; i < ADC_BURST_STEPS; ++i) adc_data[i] = i < n ? fifo[i] : ADC_COUNT_INVALID;
    return adc_data;
}

float adc_battery_volts(uint32_t count)
{
    if (!valid(count)) return NO_VALUE;
    return static_cast<float>(static_cast<double>(static_cast<float>(count * 100u)) / 18687.707);
}

float adc_board_temp(uint32_t count)
{
    if (!valid(count)) return NO_VALUE;
    return static_cast<float>((static_cast<double>(static_cast<float>(count)) * 0.80566 - 424.0) / 6.25);
}

float adc_die_temp(uint32_t count)
{
    if (!valid(count)) return NO_VALUE;
    return static_cast<float>(147.5 - (247.5 * count) / 4096.0);
}

uint32_t adc_humidity(uint32_t count)
{
    if (!valid(count)) return ADC_PERCENT_INVALID;
    return (count * 100u) / 3284u;
}

float adc_humidity_float(uint32_t count)
{
    if (!valid(count)) return NO_VALUE;
    return static_cast<float>(count * 100u) / 3284.0f;
}

uint32_t adc_water(uint32_t count)
{
    if (!valid(count)) return ADC_PERCENT_INVALID;
    const uint32_t w = (count * 100u) / 2596u;
    return w > 100u ? 100u : w;
}

float adc_pressure(uint32_t count)
{
    if (!valid(count)) return NO_VALUE;
    return static_cast<float>(static_cast<double>(static_cast<float>(count)) * 0.0072772);
}
