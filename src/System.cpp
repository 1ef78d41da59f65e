#include "System.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "ADS1248_iso.h"
#include "ADS1248_noniso.h"
#include "Adc_onchip.h"
#include "IO.h"
#include "SDCard.h"
#include "Sleep.h"
#include "i2c_fram.h"
#include "platform.h"

systemData sys_data;
systemDataVolatile sys_data_chg;
systemDataVolatile sys_data_vol;

unsigned int ledGreenState = 0;
unsigned int ledRedState = 0;
int profileTarget = 0;
int profile2Target = 0;

namespace {

constexpr uint32_t SYS_DATA_WORDS = sizeof(systemData) / 4;
static_assert(sizeof(systemData) % 4 == 0, "the EEPROM moves whole words");

// The EEPROM works in words; the record is staged through this buffer so the
// record itself needs no particular alignment.
uint32_t g_eepromImage[SYS_DATA_WORDS];

template <size_t N>
void terminate_text(char (&field)[N])
{
    field[N - 1] = '\0';
}

// Text fields must be terminated whatever the EEPROM held: every reader
// prints them with %s.
void terminate_text_fields(systemData* d)
{
    terminate_text(d->fileName);
    terminate_text(d->sensor_name);
    terminate_text(d->durafet_SN);
    terminate_text(d->capadap_SN);
    terminate_text(d->ISE_SN);
    terminate_text(d->salinor_SN);
    terminate_text(d->pump_SN);
    terminate_text(d->user);
}

bool image_is_blank(const uint32_t* words, uint32_t count)
{
    for (uint32_t i = 0; i < count; ++i)
        if (words[i] != 0xFFFFFFFFu) return false;
    return true;
}

void run_state_to_volatile(const systemData& d, systemDataVolatile* v)
{
    v->state = static_cast<uint32_t>(d.state);
    v->nextWakeUp = d.nextWakeUp;
    v->next_gdata_fptr = d.next_gdata_fptr;
    v->current_sample = d.current_sample;
    v->AD24_std = d.AD24_std;
}

void run_state_from_volatile(const systemDataVolatile& v, systemData* d)
{
    d->state = static_cast<int32_t>(v.state);
    d->nextWakeUp = v.nextWakeUp;
    d->next_gdata_fptr = v.next_gdata_fptr;
    d->current_sample = v.current_sample;
    d->AD24_std = v.AD24_std;
}

}  // namespace

void setFactoryDefaults(systemData* d)
{
    std::memset(d, 0, sizeof(*d));
    d->low_batt_volt = 5.5f;
    d->sampling_period = 20;
    d->sample_aligned = 1;
    d->sample_average = 10;
    d->pumpon_time = 0;
    d->Eo_int_25C = -0.4f;
    d->Eo_ext_25C = -1.43f;
    d->default_sal = 35.0f;
    std::strncpy(d->fileName, "DATA.TXT", sizeof(d->fileName) - 1);
    d->press_full_scale = 100;
    d->Vint_gain = 1;
    d->Vint_sps = 20;
    d->output = NORMAL;
    d->state = IDLE;
    d->baud_rate = 115200;
    for (int k = 0; k < DATA_CFG_SWITCHES; ++k) d->data_cfg[k] = 1;
    d->fast_mode = 1;
}

void retrieveSysDataVariables()
{
    sysctl_periph_enable(Periph::EEPROM0);
    if (eeprom_init() != 0) uprintf("EEPROM Initialization error.\n");

    eeprom_read(g_eepromImage, SYS_DATA_EEPROM_ADDR, sizeof(systemData));
    if (image_is_blank(g_eepromImage, SYS_DATA_WORDS)) {
        // Never programmed: 0xFF everywhere would give NaN thresholds and a
        // period of four billion seconds.
        setFactoryDefaults(&sys_data);
        uprintf("\nEEPROM is blank: factory default settings loaded\n");
    } else {
        std::memcpy(&sys_data, g_eepromImage, sizeof(systemData));
        terminate_text_fields(&sys_data);
    }
    run_state_to_volatile(sys_data, &sys_data_vol);

    fram_retrieve();
    if (sys_data_chg.chksum != SYS_DATA_VALID) {
        uprintf("FRAM sys_data_chg.chksum is not 0x55AA55AA\n");
        initSysDataVolatileVariables();
    }
    run_state_from_volatile(sys_data_chg, &sys_data);
}

uint32_t storeSysDataVariables()
{
    run_state_to_volatile(sys_data, &sys_data_chg);
    fram_store();
    // The EEPROM image keeps the run state captured at the last load; the
    // live run state lives in FRAM, which tolerates a write per sample.
    run_state_from_volatile(sys_data_vol, &sys_data);
    std::memcpy(g_eepromImage, &sys_data, sizeof(systemData));
    return eeprom_program(g_eepromImage, SYS_DATA_EEPROM_ADDR, sizeof(systemData));
}

void initSysDataVolatileVariables()
{
    uprintf("\nWarning: Initialized volatile sys data variables\n");
    sys_data.state = IDLE;
    sys_data.nextWakeUp = hib_rtc_get() + sys_data.sampling_period;
    sys_data.next_gdata_fptr = 0;
    sys_data.current_sample = 0;
    sys_data.AD24_std = 0.0f;
    run_state_to_volatile(sys_data, &sys_data_vol);
    run_state_to_volatile(sys_data, &sys_data_chg);
    sys_data_chg.chksum = SYS_DATA_VALID;
    fram_store();
    run_state_from_volatile(sys_data_vol, &sys_data);
}

// Error log: every step is tried whatever the earlier ones gave, so a card
// fault shows as one console line per step; the caller is never told.
void error_store(const char* text)
{
    constexpr const char* ERROR_LOG_NAME = "Error.txt";
    constexpr size_t ERROR_TEXT_MAX = 255;  // longer texts are cut
    static FIL errorFile;  // off the stack: a file object holds a whole sector
    FRESULT res = f_open(&errorFile, ERROR_LOG_NAME, FA_WRITE | FA_OPEN_ALWAYS);
    if (res != FR_OK) uprintf("Error.txt f_open error: %s\n", StringFromFresult(res));
    res = f_lseek(&errorFile, f_size(&errorFile));
    if (res != FR_OK) uprintf("Error.txt f_lseek error: %s\n", StringFromFresult(res));

    CalendarTime now;
    clock_to_calendar(hib_rtc_get(), &now);
    char stamp[50];
    snprintf(stamp, sizeof stamp, "\n%d/%02d/%02d %02d:%02d:%02d ", now.year + 1900, now.mon + 1, now.mday,
             now.hour, now.min, now.sec);
    UINT written;
    res = f_write(&errorFile, stamp, static_cast<UINT>(strlen(stamp)), &written);
    if (res != FR_OK) uprintf("Error.txt f_write error: %s\n", StringFromFresult(res));
    const char* message = text ? text : "";
    res = f_write(&errorFile, message, static_cast<UINT>(strnlen(message, ERROR_TEXT_MAX)), &written);
    if (res != FR_OK) uprintf("Error.txt f_write error: %s\n", StringFromFresult(res));
    res = f_close(&errorFile);
    if (res != FR_OK) uprintf("Error.txt f_close error: %s\n", StringFromFresult(res));
}

// ---------------------------------------------------------------------------
// LEDs and profiling marks

void led_green_on()
{
    pin_write(Signal::GreenLed, true);
    ledGreenState = 1;
}
void led_green_off()
{
    pin_write(Signal::GreenLed, false);
    ledGreenState = 0;
}
void led_green_toggle() { ledGreenState == 0 ? led_green_on() : led_green_off(); }
void led_green(int state) { state ? led_green_on() : led_green_off(); }

void led_red_on()
{
    pin_write(Signal::RedLed, true);
    ledRedState = 1;
}
void led_red_off()
{
    pin_write(Signal::RedLed, false);
    ledRedState = 0;
}
void led_red_toggle() { ledRedState == 0 ? led_red_on() : led_red_off(); }
void led_red(int state) { state ? led_red_on() : led_red_off(); }

void profile_on(int target)
{
    if (target == profileTarget) led_red_on();
}
void profile_off(int target)
{
    if (target == profileTarget) led_red_off();
}
void profile_toggle(int target)
{
    if (target == profileTarget) led_red_toggle();
}
void profile2_on(int target)
{
    if (target == profile2Target) led_green_on();
}
void profile2_off(int target)
{
    if (target == profile2Target) led_green_off();
}
void profile2_toggle(int target)
{
    if (target == profile2Target) led_green_toggle();
}

// ---------------------------------------------------------------------------
// Measurement chain: housekeeping readings in engineering units and the
// sensor's temperature and pH equations.

namespace {

// Housekeeping.
constexpr float CONTROLLER_MV_AT_0C = 480.0f;
constexpr double CONTROLLER_MV_PER_C = 15.6;
constexpr uint32_t ENV_SETTLE_MS = 150;
constexpr int BIAS_PAIRS = 5;
constexpr int BIAS_TRIALS = 5;
constexpr int BIAS_SPS = 20;
constexpr unsigned char AIN_BIAS = 7, AIN_GND = 6;
constexpr unsigned char AIN_CONTROLLER = 2, AIN_NONISO_REF = 7;

// Sensor equations. Every named quantity is kept in single precision and
// computed in double from its single-precision inputs, except where a step
// says otherwise: that is the arithmetic the calibrations were made with.
constexpr double KELVIN = 273.15;
constexpr double GAS_R = 8.31451;
constexpr double FARADAY = 96487.0;
constexpr double LN10 = 2.302585;  // the literal, not the library's value
constexpr double INT_REF_TEMPCO = -0.0011012;  // V per degree C
constexpr double EXT_REF_TEMPCO = -0.0010482;
constexpr double THERM_SUPPLY = 3.3;
constexpr double THERM_SERIES = 20000.0;
constexpr float THERM_C0 = 340.982f, THERM_C1 = -9.10257e-5f, THERM_C2 = -95.088066f, THERM_C3 = 0.9653703f;
constexpr double SO4_PER_SALINITY = 0.001457392100934813;  // 0.14 / 96.062
constexpr double CL_PER_SALINITY = 0.028175048655967053;   // 0.99889 / 35.453
constexpr double CHLORINITY_RATIO = 1.80655;

float kelvin(float TC) { return static_cast<float>(TC + KELVIN); }

// Nernst slope in volts per pH unit, evaluated left to right.
float nernst_slope(float TK) { return static_cast<float>(GAS_R * TK / FARADAY * LN10); }

}  // namespace

float read_env_sensors()
{
    pin_output(Signal::SensorSupply, true);
    pin_output(Signal::BattMonEnable, true);
    pin_output(Signal::IsoBoardPower, true);
    dbg_printf("iso power on\n");

    adc_onchip_init();
    delay_ms(ENV_SETTLE_MS);
    read_all_adc();

    const float fVbat = adc_battery_volts(adc_data[ADC_BATTERY]);
    const float fOnChipTemp = adc_die_temp(adc_data[ADC_DIE_TEMP]);
    const float fExtTemp = adc_board_temp(adc_data[ADC_BOARD_TEMP]);
    const uint32_t uiWater = adc_water(adc_data[ADC_WATER]);
    const uint32_t uiHumidity = adc_humidity(adc_data[ADC_HUMIDITY]);
    const unsigned i = 0;  // one reading per call
    dbg_printf("Bat = %6.2fV Pressure = %4u  Humidity = %3u  Water = %3u  Temperature = %5.1fC (%4u)   "
               "ChipTemp = %5.1fC  i=%u\n\r",
               fVbat, static_cast<unsigned>(adc_data[ADC_PRESSURE]), static_cast<unsigned>(uiHumidity),
               static_cast<unsigned>(uiWater), fExtTemp, static_cast<unsigned>(adc_data[ADC_BOARD_TEMP]),
               fOnChipTemp, i);

    // The sensor supply stays on; the battery monitor and the isolated board go off.
    pin_output(Signal::BattMonEnable, false);
    pin_output(Signal::IsoBoardPower, false);
    dbg_printf("iso power off, vbat monitoring off\n");
    return fVbat;
}

float batt_volt() { return read_env_sensors(); }

float controller_temp()
{
    const float ADC_volts = pollADS1248_noniso(AIN_CONTROLLER, AIN_NONISO_REF, 1);
    const float millivolts = ADC_volts * 1000.0f - CONTROLLER_MV_AT_0C;
    return static_cast<float>(millivolts / CONTROLLER_MV_PER_C);
}

float batt_volt_iso()
{
    ADS1248_gpio3(1);  // positive side
    const float ADC_volts = pollADS1248_iso(AIN_BIAS, AIN_GND, BIAS_TRIALS, 1, BIAS_SPS);
    return 2.0f * ADC_volts;  // through a 2:1 divider
}

void print_bias_volt_iso()
{
    openADS1248_iso();
    delay_ms(100);
    ADS1248_gpio_init();
    for (int k = 0; k < BIAS_PAIRS; ++k) {
        ADS1248_gpio3(0);
        delay_ms(10);
        const float biasneg = 2.0f * pollADS1248_iso(AIN_BIAS, AIN_GND, BIAS_TRIALS, 1, BIAS_SPS);
        ADS1248_gpio3(1);
        delay_ms(10);
        const float biasplus = 2.0f * pollADS1248_iso(AIN_BIAS, AIN_GND, BIAS_TRIALS, 1, BIAS_SPS);
        uprintf("Iso Bat Bias- %7.3F,  Bias+ %7.3F\n", static_cast<double>(biasneg),
                static_cast<double>(biasplus));
        delay_ms(500);
    }
    closeADS1248_iso();
}

float DuraFET_temp(float V_therm, float TCOffset)
{
    const float Rtherm = static_cast<float>(THERM_SERIES / (THERM_SUPPLY / V_therm - 1.0));
    const double log_r = std::log10(static_cast<double>(Rtherm));
    const float linear = THERM_C0 + THERM_C1 * Rtherm;  // single
    float TC = static_cast<float>(linear + THERM_C2 * log_r + THERM_C3 * std::pow(log_r, 3.0));
    TC = TC + TCOffset;  // single
    return TC;
}

float calc_pHint(float Eint, float TC)
{
    const float TK = kelvin(TC);
    const float S_T = nernst_slope(TK);
    const float Eoint = static_cast<float>(sys_data.Eo_int_25C + INT_REF_TEMPCO * (TC - 25.0f));
    const float pHint = (Eint - Eoint) / S_T;  // single
    return pHint;
}

float calc_pHext(float Eext, float TC, float salt)
{
    const float TK = kelvin(TC);
    const float S_T = nernst_slope(TK);
    const float Eoext = static_cast<float>(sys_data.Eo_ext_25C + EXT_REF_TEMPCO * (TC - 25.0f));

    // Ionic strength, total sulfate and chloride of seawater of this salinity.
    const float Z = static_cast<float>(19.924 * salt / (1000.0 - 1.005 * salt));
    const float SO4_tot = static_cast<float>(SO4_PER_SALINITY * (salt / CHLORINITY_RATIO));
    const float mCl = static_cast<float>(CL_PER_SALINITY * salt / CHLORINITY_RATIO);

    // Bisulfate dissociation constant; the divisions by TK marked single are single.
    const double lnTK = std::log(static_cast<double>(TK));
    const double sqrtZ = std::sqrt(static_cast<double>(Z));
    const float K_HSO4 = static_cast<float>(std::exp(
        -4276.1 / TK + 141.328 - 23.093 * lnTK + (-13856.0f / TK + 324.57 - 47.986 * lnTK) * sqrtZ +
        (35474.0f / TK - 771.54 + 114.723 * lnTK) * Z - (2698.0f / TK) * std::pow(sqrtZ, 3.0) +
        (1776.0f / TK) * (static_cast<double>(Z) * Z) + std::log(1.0 - 0.001005 * salt)));

    // Debye-Hueckel constant and the HCl activity coefficient term.
    const float DHconst =
        static_cast<float>(3.43e-6 * std::pow(static_cast<double>(TC), 2.0) + 0.00067524 * TC + 0.49172143);
    const float log10gamma_HCl =
        static_cast<float>(2.0 * ((-DHconst * sqrtZ) / (1.0 + 1.394 * sqrtZ) + (0.08885 - 0.000111 * TC) * Z));

    const float pHext_free = static_cast<float>(
        -(static_cast<double>(Eoext - Eext) - S_T * (std::log10(static_cast<double>(mCl)) + log10gamma_HCl)) /
        S_T);
    const float sulfate_term = 1.0f + SO4_tot / K_HSO4;  // single
    const float pHext_tot = static_cast<float>(pHext_free - std::log10(static_cast<double>(sulfate_term)));
    return pHext_tot;
}
