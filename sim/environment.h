// The world around the instrument: the water (temperature, salinity, pH,
// constant or a time series from a scenario file), the sensor's own standard
// potentials, the batteries and the housing.
//
// The sensor obeys the instrument's own model: its electrode potentials and
// thermistor voltage are the inverse, in double precision, of the equations
// the firmware uses, so that with the sensor's standard potentials stored as
// calibration the firmware gives back the water it is in.
//
// Scenario file, plain text, one item per line, '#' starts a comment:
//   name value                       a setting (names below), any order
//   seconds temperature salinity pH  a point of the water time series
// Seconds count virtual time from the start of the simulation and must
// increase from point to point; between points the water is interpolated
// linearly, before the first and after the last it stays at that point.
// Without points the water is 20 C, salinity 35, pH 8.0.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "simtime.h"

namespace sim {

struct Water {
    double temperature_c;  // ITS-90 degrees Celsius
    double salinity;       // practical salinity
    double ph;             // total scale
};

struct WaterPoint {
    double seconds;
    Water water;
};

// Everything else the board's inputs are made from. Setting names in a
// scenario file are the member names.
struct EnvironmentSettings {
    double e0_int = -0.40;          // V, internal reference standard potential at 25 C
    double e0_ext = -1.43;          // V, external reference standard potential at 25 C
    double ref_offset = 0.0;        // V, the node the "with Offset" channels are read against
    double battery = 12.0;          // V, main battery
    double bias_plus = 3.6;         // V, isolated bias battery, positive side
    double bias_minus = -3.6;       // V, isolated bias battery, negative side
    double humidity = 30.0;         // % relative humidity in the housing
    double water = 0.0;             // % water sensor (0 = dry)
    double pressure = 0.0;          // pressure input, in the test display's units
    double board_temp = 20.0;       // C, board temperature sensor
    double controller_temp = 20.0;  // C, controller temperature sensor and the chip's die
    double ce_volt = -0.50;         // V, counter electrode
    double ce_current = 0.05;       // V, across the counter electrode's sense resistor
    double subst_current = -0.40;   // V, substrate current sense
    double subst_volt = 0.0003;     // V, substrate
    double ik = 0.0;                // V, isolated converter AIN3 - AIN2
    double noniso_ain3 = 0.0;       // V, non-isolated converter AIN3 (raw input)
};

class Environment {
public:
    Environment() = default;

    // Reads a scenario file; on error returns false and says why ("line N: ...").
    bool load(const char* path, std::string* error);
    bool parse(const std::string& text, std::string* error);

    void set_water(const Water& w);  // constant water from now on
    Water water_at(Nanos t) const;
    size_t points() const { return points_.size(); }

    EnvironmentSettings settings;

private:
    std::vector<WaterPoint> points_;
};

// Checks a scenario file without building a board (for the runner).
bool check_scenario_file(const char* path, std::string* error);

// Sensor physics.
double nernst_slope(double tc);      // V per pH unit
double thermistor_volts(double tc);  // the divider's output at a temperature
double internal_ref_volts(double e0_int_25c, double tc, double ph);
double external_ref_volts(double e0_ext_25c, double tc, double salinity, double ph_total);

}  // namespace sim
