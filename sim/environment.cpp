#include "environment.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace sim {

namespace {

constexpr Water kDefaultWater = {20.0, 35.0, 8.0};

// The constants of the instrument's equations.
constexpr double kKelvin = 273.15;
constexpr double kGas = 8.31451;
constexpr double kFaraday = 96487.0;
constexpr double kLn10 = 2.302585;
constexpr double kIntRefTempco = -0.0011012;
constexpr double kExtRefTempco = -0.0010482;
constexpr double kThermSupply = 3.3;
constexpr double kThermSeries = 20000.0;
constexpr double kC0 = 340.982, kC1 = -9.10257e-5, kC2 = -95.088066, kC3 = 0.9653703;

struct SettingName {
    const char* name;
    double EnvironmentSettings::*member;
};

constexpr SettingName kSettings[] = {
    {"e0_int", &EnvironmentSettings::e0_int},
    {"e0_ext", &EnvironmentSettings::e0_ext},
    {"ref_offset", &EnvironmentSettings::ref_offset},
    {"battery", &EnvironmentSettings::battery},
    {"bias_plus", &EnvironmentSettings::bias_plus},
    {"bias_minus", &EnvironmentSettings::bias_minus},
    {"humidity", &EnvironmentSettings::humidity},
    {"water", &EnvironmentSettings::water},
    {"pressure", &EnvironmentSettings::pressure},
    {"board_temp", &EnvironmentSettings::board_temp},
    {"controller_temp", &EnvironmentSettings::controller_temp},
    {"ce_volt", &EnvironmentSettings::ce_volt},
    {"ce_current", &EnvironmentSettings::ce_current},
    {"subst_current", &EnvironmentSettings::subst_current},
    {"subst_volt", &EnvironmentSettings::subst_volt},
    {"ik", &EnvironmentSettings::ik},
    {"noniso_ain3", &EnvironmentSettings::noniso_ain3},
};

bool fail(std::string* error, int line, const std::string& what)
{
    if (error) *error = "line " + std::to_string(line) + ": " + what;
    return false;
}

// Splits a line into at most `max` blank-separated words; returns the count
// (max + 1 when there are more).
int split(char* s, char** words, int max)
{
    int n = 0;
    for (char* tok = std::strtok(s, " \t\r\n"); tok; tok = std::strtok(nullptr, " \t\r\n")) {
        if (n == max) return max + 1;
        words[n++] = tok;
    }
    return n;
}

bool number(const char* word, double* out)
{
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(word, &end);
    if (end == word || *end != '\0' || errno == ERANGE || !std::isfinite(v)) return false;
    *out = v;
    return true;
}

bool plausible(const Water& w, std::string* why)
{
    if (w.temperature_c < -5.0 || w.temperature_c > 50.0) {
        *why = "temperature outside -5 to 50 C";
        return false;
    }
    if (w.salinity <= 0.0 || w.salinity > 50.0) {
        *why = "salinity outside 0 (exclusive) to 50";
        return false;
    }
    if (w.ph < 0.0 || w.ph > 14.0) {
        *why = "pH outside 0 to 14";
        return false;
    }
    return true;
}

// Bisulfate dissociation constant and the HCl activity term of seawater.
double k_hso4(double tk, double salt, double z)
{
    const double lt = std::log(tk), sz = std::sqrt(z);
    return std::exp(-4276.1 / tk + 141.328 - 23.093 * lt + (-13856.0 / tk + 324.57 - 47.986 * lt) * sz +
                    (35474.0 / tk - 771.54 + 114.723 * lt) * z - (2698.0 / tk) * sz * sz * sz +
                    (1776.0 / tk) * z * z + std::log(1.0 - 0.001005 * salt));
}

}  // namespace

// ---------------------------------------------------------------------------
// Scenario

bool Environment::parse(const std::string& text, std::string* error)
{
    EnvironmentSettings s;
    std::vector<WaterPoint> pts;
    size_t pos = 0;
    int line_no = 0;
    while (pos < text.size()) {
        size_t eol = text.find('\n', pos);
        if (eol == std::string::npos) eol = text.size();
        std::string line = text.substr(pos, eol - pos);
        pos = eol + 1;
        ++line_no;
        const size_t hash = line.find('#');
        if (hash != std::string::npos) line.resize(hash);
        if (line.size() > 256) return fail(error, line_no, "line too long");

        char buf[260];
        std::strncpy(buf, line.c_str(), sizeof buf - 1);
        buf[sizeof buf - 1] = '\0';
        char* w[5];
        const int n = split(buf, w, 4);
        if (n == 0) continue;

        double first = 0.0;
        if (number(w[0], &first)) {
            double v[4];
            if (n != 4) return fail(error, line_no, "a point is: seconds temperature salinity pH");
            for (int i = 0; i < 4; ++i)
                if (!number(w[i], &v[i])) return fail(error, line_no, std::string("not a number: ") + w[i]);
            WaterPoint p{v[0], {v[1], v[2], v[3]}};
            std::string why;
            if (p.seconds < 0.0) return fail(error, line_no, "seconds must not be negative");
            if (!pts.empty() && p.seconds <= pts.back().seconds)
                return fail(error, line_no, "seconds must increase from point to point");
            if (!plausible(p.water, &why)) return fail(error, line_no, why);
            pts.push_back(p);
            continue;
        }

        const SettingName* found = nullptr;
        for (const auto& k : kSettings)
            if (std::strcmp(k.name, w[0]) == 0) found = &k;
        if (!found) return fail(error, line_no, std::string("unknown setting: ") + w[0]);
        double v = 0.0;
        if (n != 2 || !number(w[1], &v))
            return fail(error, line_no, std::string("a setting is: ") + w[0] + " value");
        s.*(found->member) = v;
    }
    settings = s;
    points_ = pts;
    return true;
}

bool Environment::load(const char* path, std::string* error)
{
    std::FILE* f = std::fopen(path, "rb");
    if (!f) {
        if (error) *error = std::string("cannot open: ") + std::strerror(errno);
        return false;
    }
    std::string text;
    char chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) {
        text.append(chunk, n);
        if (text.size() > (1u << 24)) {
            std::fclose(f);
            if (error) *error = "file larger than 16 MiB";
            return false;
        }
    }
    std::fclose(f);
    return parse(text, error);
}

bool check_scenario_file(const char* path, std::string* error)
{
    Environment e;
    return e.load(path, error);
}

void Environment::set_water(const Water& w)
{
    points_.clear();
    points_.push_back({0.0, w});
}

Water Environment::water_at(Nanos t) const
{
    if (points_.empty()) return kDefaultWater;
    const double s = static_cast<double>(t) / static_cast<double>(kSecond);
    if (s <= points_.front().seconds) return points_.front().water;
    if (s >= points_.back().seconds) return points_.back().water;
    size_t i = 1;
    while (points_[i].seconds < s) ++i;
    const WaterPoint& a = points_[i - 1];
    const WaterPoint& b = points_[i];
    const double f = (s - a.seconds) / (b.seconds - a.seconds);
    auto lerp = [f](double x, double y) { return x + (y - x) * f; };
    return {lerp(a.water.temperature_c, b.water.temperature_c), lerp(a.water.salinity, b.water.salinity),
            lerp(a.water.ph, b.water.ph)};
}

// ---------------------------------------------------------------------------
// Sensor physics

double nernst_slope(double tc)
{
    return kGas * (tc + kKelvin) / kFaraday * kLn10;
}

// The thermistor's resistance falls monotonically with temperature over the
// whole range of the instrument's polynomial, so bisection on the resistance
// finds the one that reads as `tc`.
double thermistor_volts(double tc)
{
    auto reads_as = [](double r) {
        const double l = std::log10(r);
        return kC0 + kC1 * r + kC2 * l + kC3 * l * l * l;
    };
    double lo = 10.0, hi = 500000.0;  // reads_as(lo) > reads_as(hi)
    for (int i = 0; i < 200; ++i) {
        const double mid = 0.5 * (lo + hi);
        if (reads_as(mid) > tc)
            lo = mid;
        else
            hi = mid;
    }
    const double r = 0.5 * (lo + hi);
    return kThermSupply * r / (kThermSeries + r);
}

double internal_ref_volts(double e0_int_25c, double tc, double ph)
{
    const double e0 = e0_int_25c + kIntRefTempco * (tc - 25.0);
    return e0 + nernst_slope(tc) * ph;
}

double external_ref_volts(double e0_ext_25c, double tc, double salinity, double ph_total)
{
    const double tk = tc + kKelvin;
    const double st = nernst_slope(tc);
    const double e0 = e0_ext_25c + kExtRefTempco * (tc - 25.0);
    const double z = 19.924 * salinity / (1000.0 - 1.005 * salinity);
    const double so4 = 0.001457392100934813 * (salinity / 1.80655);
    const double mcl = 0.028175048655967053 * salinity / 1.80655;
    const double dh = 3.43e-6 * tc * tc + 0.00067524 * tc + 0.49172143;
    const double sz = std::sqrt(z);
    const double log_gamma = 2.0 * ((-dh * sz) / (1.0 + 1.394 * sz) + (0.08885 - 0.000111 * tc) * z);
    const double ph_free = ph_total + std::log10(1.0 + so4 / k_hso4(tk, salinity, z));
    return e0 + st * (ph_free - std::log10(mcl) - log_gamma);
}

}  // namespace sim
