// The instrument's shared records and enumerations: the configuration and
// state record `sys_data` (stored in EEPROM), the run-state record kept in
// FRAM, and the operations that load, save and reset them. Also the LEDs and
// profiling marks of the board.
#pragma once

#include <cstddef>
#include <cstdint>

enum deploy_state : int32_t { IDLE = 0, START = 1, DEPLOYED = 2, COMMAND = 3 };
enum output_mode : uint8_t { NORMAL = 1, VERBOSE = 2 };
enum BOOL : uint8_t { FALSE = 0, TRUE = 1 };

constexpr int DATA_CFG_FIELDS = 30;
constexpr int DATA_CFG_SWITCHES = 24;  // letters A to X

// Configuration and state record; also the EEPROM image (little-endian, gaps kept).
struct systemData {
    float low_batt_volt;
    uint32_t sampling_period;
    int32_t sample_average;
    uint32_t averaging_interval;
    uint32_t pumpon_time;
    float TCOffset;
    float Eo_ext_25C;
    float Eo_int_25C;
    float default_sal;
    char fileName[80];
    char sensor_name[20];
    char durafet_SN[30];
    char capadap_SN[30];
    char ISE_SN[30];
    char salinor_SN[30];
    char pump_SN[30];
    uint8_t gap286[2];
    int32_t press_full_scale;
    int32_t Vint_gain;
    int32_t Vint_sps;
    output_mode output;
    uint8_t gap301[3];
    int32_t test_mode;
    int32_t state;
    uint32_t nextWakeUp;
    uint32_t next_gdata_fptr;
    uint32_t current_sample;
    char user[10];
    uint8_t GMT;
    uint8_t sample_aligned;
    float AD24_std;
    uint32_t baud_rate;
    uint8_t data_cfg[DATA_CFG_FIELDS];
    uint8_t fast_mode;
    uint8_t gap375;
};

// Run state kept in FRAM; `chksum` marks a valid record.
struct systemDataVolatile {
    uint32_t state;
    uint32_t nextWakeUp;
    uint32_t next_gdata_fptr;
    uint32_t current_sample;
    float AD24_std;
    uint32_t samp_state;
    uint32_t chksum;
};

constexpr uint32_t SYS_DATA_VALID = 0x55AA55AAu;
constexpr uint32_t SYS_DATA_EEPROM_ADDR = 0x400;
constexpr uint8_t SYS_DATA_FRAM_OFFSET = 16;

static_assert(sizeof(systemData) == 376, "EEPROM image is 376 bytes");
static_assert(offsetof(systemData, low_batt_volt) == 0);
static_assert(offsetof(systemData, sampling_period) == 4);
static_assert(offsetof(systemData, sample_average) == 8);
static_assert(offsetof(systemData, averaging_interval) == 12);
static_assert(offsetof(systemData, pumpon_time) == 16);
static_assert(offsetof(systemData, TCOffset) == 20);
static_assert(offsetof(systemData, Eo_ext_25C) == 24);
static_assert(offsetof(systemData, Eo_int_25C) == 28);
static_assert(offsetof(systemData, default_sal) == 32);
static_assert(offsetof(systemData, fileName) == 36);
static_assert(offsetof(systemData, sensor_name) == 116);
static_assert(offsetof(systemData, durafet_SN) == 136);
static_assert(offsetof(systemData, capadap_SN) == 166);
static_assert(offsetof(systemData, ISE_SN) == 196);
static_assert(offsetof(systemData, salinor_SN) == 226);
static_assert(offsetof(systemData, pump_SN) == 256);
static_assert(offsetof(systemData, press_full_scale) == 288);
static_assert(offsetof(systemData, Vint_gain) == 292);
static_assert(offsetof(systemData, Vint_sps) == 296);
static_assert(offsetof(systemData, output) == 300);
static_assert(offsetof(systemData, test_mode) == 304);
static_assert(offsetof(systemData, state) == 308);
static_assert(offsetof(systemData, nextWakeUp) == 312);
static_assert(offsetof(systemData, next_gdata_fptr) == 316);
static_assert(offsetof(systemData, current_sample) == 320);
static_assert(offsetof(systemData, user) == 324);
static_assert(offsetof(systemData, GMT) == 334);
static_assert(offsetof(systemData, sample_aligned) == 335);
static_assert(offsetof(systemData, AD24_std) == 336);
static_assert(offsetof(systemData, baud_rate) == 340);
static_assert(offsetof(systemData, data_cfg) == 344);
static_assert(offsetof(systemData, fast_mode) == 374);
static_assert(sizeof(output_mode) == 1 && sizeof(float) == 4, "field sizes of the image");

static_assert(sizeof(systemDataVolatile) == 28, "FRAM image is 28 bytes");
static_assert(offsetof(systemDataVolatile, AD24_std) == 16);
static_assert(offsetof(systemDataVolatile, samp_state) == 20);
static_assert(offsetof(systemDataVolatile, chksum) == 24);

extern systemData sys_data;
extern systemDataVolatile sys_data_chg;
extern systemDataVolatile sys_data_vol;

void retrieveSysDataVariables();
uint32_t storeSysDataVariables();
void initSysDataVolatileVariables();
// Settings of a factory-new instrument, applied when the EEPROM was never programmed.
void setFactoryDefaults(systemData* d);

// Appends a time-stamped line to the error log on the card.
void error_store(const char* text);

// LEDs and profiling marks.
extern unsigned int ledGreenState;
extern unsigned int ledRedState;
extern int profileTarget;
extern int profile2Target;
void led_green_on();
void led_green_off();
void led_green_toggle();
void led_green(int state);
void led_red_on();
void led_red_off();
void led_red_toggle();
void led_red(int state);
void profile_on(int target);
void profile_off(int target);
void profile_toggle(int target);
void profile2_on(int target);
void profile2_off(int target);
void profile2_toggle(int target);

// ---------------------------------------------------------------------------
// Measurement chain: housekeeping readings in engineering units and the
// sensor's temperature and pH equations.

// One on-chip burst with the housekeeping supplies on; returns the main
// battery volts (NaN when the converter did not complete) and prints the
// readings through dbg_printf. Leaves the sensor supply (port M pin 7) on.
float read_env_sensors();
float batt_volt();
// Controller temperature, degrees C; the caller has opened the non-isolated converter.
float controller_temp();
// Bias battery, positive side, volts; the caller has opened the isolated
// converter and set up its general-purpose pins.
float batt_volt_iso();
// Five pairs of bias-battery readings on the console.
void print_bias_volt_iso();

// Sensor temperature from the thermistor voltage, degrees C.
float DuraFET_temp(float V_therm, float TCOffset);
// pH against the internal reference, with sys_data.Eo_int_25C.
float calc_pHint(float Eint, float TC);
// pH on the total scale against the external reference, with sys_data.Eo_ext_25C.
float calc_pHext(float Eext, float TC, float salt);
