#include "analog_board.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <string>

#include "adc0.h"
#include "adg1609.h"
#include "ads1248.h"
#include "environment.h"
#include "gpio.h"
#include "outside.h"

namespace sim {

namespace {

// The fixture board of the bench test: fixed voltages on the isolated inputs.
namespace fixture {
constexpr double kExtRefOff = -0.067814, kIntRefOff = 0.132146;
constexpr double kExtRefV = -0.798713, kIntRefV = -0.598748;
constexpr double kCntrC = 0.290849, kCntrV = -0.501616;
constexpr double kSubstCur = -0.399309, kSubstV = 0.000326;
constexpr double kThermistor = 1.000159;
}  // namespace fixture

constexpr double kAdcRef = 3.3;
constexpr double kVoltsPerCount = kAdcRef / 4096.0;
// Housekeeping scales, as the instrument's conversions expect them.
constexpr double kBatteryCountsPerVolt = 18687.707 / 100.0;
constexpr double kPressurePerCount = 0.0072772;
constexpr double kHumidityCountsPerPercent = 3284.0 / 100.0;
constexpr double kWaterCountsPerPercent = 2596.0 / 100.0;
constexpr double kBoardTempVolts0 = 0.424, kBoardTempVoltsPerC = 0.00625;
constexpr double kControllerVolts0 = 0.480, kControllerVoltsPerC = 0.0156;
constexpr Nanos kSensorSettling = 5 * kMilli;  // time constant after a supply comes on

const Ads1248Wiring kIsoWiring = {
    "isolated ADS1248", 3,    Signal::IsoBoardPower, Signal::IsoReset, Signal::IsoStart, Signal::IsoDrdy,
    Signal::IsoClk,     true, Signal::IsoCs};
const Ads1248Wiring kNonisoWiring = {"non-isolated ADS1248", 1,
                                     Signal::NonisoPower,    Signal::NonisoReset,
                                     Signal::NonisoStart,    Signal::NonisoDrdy,
                                     Signal::NonisoClk,      false,
                                     Signal::NonisoFss};

struct Registry {
    Board* board;
    AnalogBoard* analog;
};
Registry g_registry[8] = {};

}  // namespace

// ---------------------------------------------------------------------------

struct AnalogBoard::Impl : public AdcSource, public PinListener {
    struct IsoInputs : public Ads1248Inputs {
        Impl* owner = nullptr;
        double ain_volts(int n, const Ads1248&, Nanos now) override { return owner->iso_ain(n, now); }
    };
    struct NonisoInputs : public Ads1248Inputs {
        Impl* owner = nullptr;
        double ain_volts(int n, const Ads1248&, Nanos) override
        {
            const EnvironmentSettings& s = owner->env.settings;
            switch (n) {
                case 2:
                    return kControllerVolts0 + kControllerVoltsPerC * s.controller_temp;
                case 3:
                    return s.noniso_ain3;
                default:
                    return 0.0;  // AIN7 is the sensor's ground
            }
        }
    };

    explicit Impl(Board& b) : board(b)
    {
        const BoardConfig& c = b.config();
        if (c.scenario) {
            std::string err;
            if (!env.load(c.scenario, &err)) {
                std::fprintf(stderr, "marivant-sim: scenario %s: %s\n", c.scenario, err.c_str());
                std::exit(2);
            }
        }
        iso_inputs.owner = this;
        noniso_inputs.owner = this;
        Ads1248Options iso_opt;
        iso_opt.noise_volts = c.noise_volts;
        iso_opt.seed = 0x150ull + 0x10000ull * c.noise_seed;
        iso_opt.dead = c.iso_converter_dead;
        iso_opt.supply_failed = c.iso_supply_failed;
        Ads1248Options noniso_opt;
        noniso_opt.noise_volts = c.noise_volts;
        noniso_opt.seed = 0x4E0ull + 0x10000ull * c.noise_seed;
        noniso_opt.dead = c.noniso_converter_dead;
        iso = new Ads1248(b, kIsoWiring, iso_inputs, iso_opt);
        noniso = new Ads1248(b, kNonisoWiring, noniso_inputs, noniso_opt);
        b.gpio().listen(this);
        b.adc0().set_source(this);
    }

    ~Impl() override
    {
        board.adc0().set_source(nullptr);
        board.gpio().unlisten(this);
        delete noniso;
        delete iso;
    }

    bool iso_powered() const
    {
        return board.gpio().level(Signal::IsoBoardPower) && !board.config().iso_supply_failed;
    }

    int mux_pair() const
    {
        if (!iso_powered()) return Adg1609::kNone;
        const uint8_t g = iso->gpio_levels();
        // Inverting level shifters between the converter's pins and A1:A0.
        return Adg1609::pair(true, true, (g & 2) == 0, (g & 1) == 0);
    }

    double iso_ain(int n, Nanos now) const
    {
        if (!iso_powered()) return 0.0;
        const EnvironmentSettings& s = env.settings;
        double sa[4], sb[4], therm, ext_direct;
        if (board.config().bench_fixture) {
            using namespace fixture;
            const double a[4] = {kExtRefV, kCntrV, kSubstCur, kIntRefV};
            const double b[4] = {kExtRefV - kExtRefOff, kCntrV - kCntrC, kSubstV, kIntRefV - kIntRefOff};
            for (int i = 0; i < 4; ++i) sa[i] = a[i], sb[i] = b[i];
            therm = kThermistor;
            ext_direct = kExtRefV;
        } else {
            const Water w = env.water_at(now);
            const double e_int = internal_ref_volts(s.e0_int, w.temperature_c, w.ph);
            const double e_ext = external_ref_volts(s.e0_ext, w.temperature_c, w.salinity, w.ph);
            const double a[4] = {e_ext, s.ce_volt, s.subst_current, e_int};
            const double b[4] = {s.ref_offset, s.ce_volt - s.ce_current, s.subst_volt, s.ref_offset};
            for (int i = 0; i < 4; ++i) sa[i] = a[i], sb[i] = b[i];
            therm = thermistor_volts(w.temperature_c);
            ext_direct = e_ext;
        }
        const int pair = mux_pair();
        switch (n) {
            case 0:
                return therm;
            case 1:
                return Adg1609::drain(pair, sa, 0.0);
            case 2:
                return 0.0;
            case 3:
                return s.ik;
            case 4:
                return ext_direct;
            case 5:
                return Adg1609::drain(pair, sb, 0.0);
            case 7:
                return ((iso->gpio_levels() & 8) ? s.bias_plus : s.bias_minus) / 2.0;
            default:
                return 0.0;  // AIN6: analog ground
        }
    }

    // Housekeeping sensors on ADC0 ---------------------------------------

    double supply_factor(Signal enable, Nanos since, Nanos now) const
    {
        if (!board.gpio().level(enable)) return 0.0;
        const double dt =
            static_cast<double>(now > since ? now - since : 0) / static_cast<double>(kSensorSettling);
        return 1.0 - std::exp(-dt);
    }

    double ain_volts(int n, Nanos now) override
    {
        Signal pin;
        switch (n) {
            case 4:
                pin = Signal::AdcBattery;
                break;
            case 6:
                pin = Signal::AdcPressure;
                break;
            case 10:
                pin = Signal::AdcHumidity;
                break;
            case 16:
                pin = Signal::AdcWater;
                break;
            case 17:
                pin = Signal::AdcBoardTemp;
                break;
            default:
                return 0.0;
        }
        // A pin the chip drives as an output overrides the sensor.
        const Gpio& g = board.gpio();
        if (g.is_output(pin)) return g.level(pin) ? kAdcRef : 0.0;
        const EnvironmentSettings& s = env.settings;
        if (n == 4)
            return s.battery * kBatteryCountsPerVolt * kVoltsPerCount *
                   supply_factor(Signal::BattMonEnable, batt_on_since, now);
        double v = 0.0;
        switch (n) {
            case 6:
                v = s.pressure / kPressurePerCount * kVoltsPerCount;
                break;
            case 10:
                v = s.humidity * kHumidityCountsPerPercent * kVoltsPerCount;
                break;
            case 16:
                v = s.water * kWaterCountsPerPercent * kVoltsPerCount;
                break;
            default:
                v = kBoardTempVolts0 + kBoardTempVoltsPerC * s.board_temp;
                break;
        }
        return v * supply_factor(Signal::SensorSupply, sensors_on_since, now);
    }

    double die_temp_c(Nanos) override { return env.settings.controller_temp; }

    void pins_changed(GpioPort port, uint8_t changed, uint8_t) override
    {
        const Gpio& g = board.gpio();
        for (Signal s : {Signal::BattMonEnable, Signal::SensorSupply}) {
            const PinDef& d = pin_def(s);
            if (d.port != port || !(changed & d.mask()) || !g.level(s)) continue;
            (s == Signal::BattMonEnable ? batt_on_since : sensors_on_since) = board.now();
        }
    }

    Board& board;
    Environment env;
    IsoInputs iso_inputs;
    NonisoInputs noniso_inputs;
    Ads1248* iso = nullptr;
    Ads1248* noniso = nullptr;
    Nanos batt_on_since = 0;
    Nanos sensors_on_since = 0;
};

// ---------------------------------------------------------------------------

AnalogBoard::AnalogBoard(Board& board) : impl_(new Impl(board)) {}
AnalogBoard::~AnalogBoard()
{
    delete impl_;
}
Environment& AnalogBoard::environment()
{
    return impl_->env;
}
Ads1248& AnalogBoard::iso_converter()
{
    return *impl_->iso;
}
Ads1248& AnalogBoard::noniso_converter()
{
    return *impl_->noniso;
}
bool AnalogBoard::iso_powered() const
{
    return impl_->iso_powered();
}
int AnalogBoard::mux_pair() const
{
    return impl_->mux_pair();
}
double AnalogBoard::iso_ain(int n, Nanos now) const
{
    return impl_->iso_ain(n, now);
}

AnalogBoard* analog_board(Board& board)
{
    for (auto& r : g_registry)
        if (r.board == &board) return r.analog;
    return nullptr;
}

void attach_analog_board(Board& board)
{
    for (auto& r : g_registry)
        if (!r.board) {
            r.board = &board;
            r.analog = new AnalogBoard(board);
            return;
        }
    std::fprintf(stderr, "marivant-sim: too many boards for the analog board registry\n");
    std::abort();
}

void detach_analog_board(Board& board)
{
    for (auto& r : g_registry)
        if (r.board == &board) {
            delete r.analog;
            r = Registry{};
        }
}

}  // namespace sim
