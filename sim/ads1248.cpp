#include "ads1248.h"

#include <cmath>

namespace sim {

namespace {

constexpr uint8_t kDefaults[Ads1248::kRegCount] = {
    0x01, 0x00, 0x00, 0x00,  // MUX0, VBIAS, MUX1, SYS0
    0x00, 0x00, 0x00,        // OFC
    0x00, 0x00, 0x40,        // FSC: the factory trim, 0x400000 (unity)
    0x90, 0xFF,              // IDAC0 (device ID 1001), IDAC1
    0x00, 0xFF, 0x00,        // GPIOCFG, GPIODIR, GPIODAT
};

constexpr uint32_t kRates[16] = {5,    10,   20,   40,   80,   160,  320,  640,
                                 1000, 2000, 2000, 2000, 2000, 2000, 2000, 2000};

// Commands (the low bit of most is "don't care").
constexpr uint8_t CMD_WAKEUP = 0x00, CMD_SLEEP = 0x02, CMD_SYNC = 0x04, CMD_RESET = 0x06;
constexpr uint8_t CMD_RDATA = 0x12, CMD_RDATAC = 0x14, CMD_SDATAC = 0x16;
constexpr uint8_t CMD_SYSOCAL = 0x60, CMD_SYSGCAL = 0x61, CMD_SELFOCAL = 0x62;
constexpr uint8_t CMD_NOP = 0xFF;

constexpr int32_t kMinCode = -0x800000;
constexpr int32_t kMaxCode = 0x7FFFFF;
constexpr double kUnitFsc = 0x400000;

uint64_t splitmix(uint64_t* s)
{
    uint64_t z = (*s += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

int32_t clamp_code(int64_t c)
{
    return c < kMinCode ? kMinCode : (c > kMaxCode ? kMaxCode : static_cast<int32_t>(c));
}

int32_t sign_extend24(uint32_t v)
{
    v &= 0xFFFFFF;
    return (v & 0x800000) ? static_cast<int32_t>(v) - 0x1000000 : static_cast<int32_t>(v);
}

}  // namespace

Ads1248::Ads1248(Board& board, const Ads1248Wiring& wiring, Ads1248Inputs& inputs, const Ads1248Options& opt)
    : board_(board), wiring_(wiring), inputs_(inputs), opt_(opt), rng_(opt.seed)
{
    reset_registers();
    board_.ssi(wiring_.ssi).attach(this);
    board_.gpio().listen(this);
    board_.add_device(this);
    // Unpowered, or not yet converting: the line reads high.
    board_.gpio().drive_input(wiring_.drdy, true);
    in_reset_ = !board_.gpio().level(wiring_.reset);
    start_high_ = board_.gpio().level(wiring_.start);
    if (board_.gpio().level(wiring_.supply) && !opt_.supply_failed) power_on(board_.now());
}

Ads1248::~Ads1248()
{
    board_.remove_device(this);
    board_.gpio().unlisten(this);
}

// ---------------------------------------------------------------------------
// State

void Ads1248::reset_registers()
{
    for (int i = 0; i < kRegCount; ++i) regs_[i] = kDefaults[i];
    rdatac_ = true;
    pending_sdatac_ = pending_rdatac_ = false;
    asleep_ = false;
    out_len_ = out_pos_ = 0;
    parse_ = Parse::Idle;
    cal_done_ = kNever;
}

bool Ads1248::able() const
{
    return powered_ && !in_reset_ && !opt_.dead && board_.now() >= ready_at_;
}

bool Ads1248::may_convert() const
{
    return powered_ && !in_reset_ && !opt_.dead && start_high_ && !asleep_;
}

uint32_t Ads1248::data_rate() const
{
    return kRates[regs_[SYS0] & 0x0F];
}
Nanos Ads1248::period() const
{
    return kSecond / data_rate();
}

uint8_t Ads1248::reg(int addr) const
{
    return (addr >= 0 && addr < kRegCount) ? regs_[addr] : 0;
}

uint8_t Ads1248::gpio_driven() const
{
    return powered_ ? static_cast<uint8_t>(regs_[GPIOCFG] & ~regs_[GPIODIR]) : 0;
}

uint8_t Ads1248::gpio_levels() const
{
    return regs_[GPIODAT] & gpio_driven();
}

void Ads1248::set_drdy(bool low)
{
    drdy_low_ = low;
    board_.gpio().drive_input(wiring_.drdy, !low);
}

void Ads1248::power_on(Nanos now)
{
    powered_ = true;
    reset_registers();
    ready_at_ = now + kPowerUpTime;
    next_done_ = kNever;
    set_drdy(false);
    restart(now);
}

void Ads1248::power_off()
{
    powered_ = false;
    next_done_ = kNever;
    cal_done_ = kNever;
    out_len_ = out_pos_ = 0;
    set_drdy(false);
}

// The digital filter restarts: DRDY rises and the first result comes one
// conversion period (plus the filter's start-up) after the later of now and
// the end of start-up.
void Ads1248::restart(Nanos now)
{
    cal_done_ = kNever;
    if (!may_convert()) {
        next_done_ = kNever;
        return;
    }
    const Nanos from = now > ready_at_ ? now : ready_at_;
    next_done_ = from + period() + kFilterOverhead;
    set_drdy(false);
}

void Ads1248::script_codes(const int32_t* codes, size_t n)
{
    for (size_t i = 0; i < n; ++i) script_.push_back(codes[i]);
}

// ---------------------------------------------------------------------------
// Pins

void Ads1248::pins_changed(GpioPort port, uint8_t changed, uint8_t levels)
{
    (void)levels;
    const Nanos now = board_.now();
    auto hit = [&](Signal s) {
        const PinDef& d = pin_def(s);
        return d.port == port && (changed & d.mask());
    };
    const Gpio& g = board_.gpio();

    if (hit(wiring_.supply)) {
        const bool on = g.level(wiring_.supply) && !opt_.supply_failed;
        if (on && !powered_) power_on(now);
        if (!on && powered_) power_off();
    }
    if (hit(wiring_.reset)) {
        const bool held = !g.level(wiring_.reset);
        if (held != in_reset_) {
            in_reset_ = held;
            if (powered_ && held) {
                reset_registers();
                next_done_ = kNever;
                set_drdy(false);
            } else if (powered_) {
                const Nanos t = now + kResetTime;
                if (t > ready_at_) ready_at_ = t;
                restart(now);
            }
        }
    }
    if (hit(wiring_.start)) {
        const bool high = g.level(wiring_.start);
        if (high != start_high_) {
            start_high_ = high;
            // Low: the conversion under way finishes, then the converter stops.
            if (high && powered_) restart(now);
        }
    }
    if (wiring_.software_cs && hit(wiring_.cs) && g.level(wiring_.cs)) {
        // Chip select high resets the serial interface; converted data stays.
        parse_ = Parse::Idle;
        if (!out_is_data_) out_len_ = out_pos_ = 0;
    }
}

// ---------------------------------------------------------------------------
// Serial interface

bool Ads1248::selected(bool frame_active) const
{
    if (!powered_ || opt_.dead) return false;
    if (!board_.gpio().is_alternate(wiring_.clk)) return false;  // no clock reaches it
    if (wiring_.software_cs) return !board_.gpio().level(wiring_.cs);
    return frame_active;
}

uint8_t Ads1248::exchange(uint8_t mosi)
{
    const Nanos now = board_.now();
    if (!able()) return 0x00;
    // The converter shifts on SCLK's falling edge: only mode 1 frames it right.
    if (board_.ssi(wiring_.ssi).mode() != 1) return 0x00;
    if (recording_) received_.push_back(mosi);

    uint8_t out = 0x00;
    const bool reading_registers = out_pos_ < out_len_ && !out_is_data_;
    if (out_pos_ < out_len_) {
        if (out_is_data_ && out_pos_ == 0) {
            set_drdy(false);  // DRDY rises with the first clock of a data read
            ++data_reads_;
        }
        out = out_[out_pos_++];
        if (out_pos_ >= out_len_) out_len_ = out_pos_ = 0;
    }
    // Commands sent during a register read-back are ignored.
    if (!reading_registers) command(mosi, now);
    return out;
}

void Ads1248::load_data()
{
    const uint32_t v = static_cast<uint32_t>(data_) & 0xFFFFFF;
    out_[0] = static_cast<uint8_t>(v >> 16);
    out_[1] = static_cast<uint8_t>(v >> 8);
    out_[2] = static_cast<uint8_t>(v);
    out_len_ = 3;
    out_pos_ = 0;
    out_is_data_ = true;
}

void Ads1248::write_reg(uint8_t addr, uint8_t value, Nanos now)
{
    if (addr >= kRegCount) return;
    if (addr == MUX1) value = static_cast<uint8_t>((value & 0x7F) | (regs_[MUX1] & 0x80));
    if (addr == IDAC0) value = static_cast<uint8_t>((value & 0x0F) | (regs_[IDAC0] & 0xF0));
    regs_[addr] = value;
    // New input, reference or rate settings restart the filter.
    if (addr <= SYS0) restart(now);
}

void Ads1248::command(uint8_t byte, Nanos now)
{
    switch (parse_) {
        case Parse::WregCount:
            parse_left_ = (byte & 0x0F) + 1;
            parse_ = Parse::WregData;
            return;
        case Parse::WregData:
            write_reg(parse_addr_, byte, now);
            parse_addr_ = static_cast<uint8_t>((parse_addr_ + 1) % kRegCount);
            if (--parse_left_ == 0) parse_ = Parse::Idle;
            return;
        case Parse::RregCount: {
            const int n = (byte & 0x0F) + 1;
            for (int i = 0; i < n; ++i) {
                const int a = (parse_addr_ + i) % kRegCount;
                out_[i] = a == GPIODAT ? static_cast<uint8_t>((regs_[a] & ~gpio_driven()) | gpio_levels())
                                       : regs_[a];
            }
            out_len_ = n;
            out_pos_ = 0;
            out_is_data_ = false;
            parse_ = Parse::Idle;
            return;
        }
        case Parse::SyncSecond:
            parse_ = Parse::Idle;
            if ((byte & 0xFE) == CMD_SYNC) {
                restart(now);
                return;
            }
            break;  // not a SYNC after all: a new command
        case Parse::Idle:
            break;
    }

    if (byte == CMD_NOP) return;
    if ((byte & 0xF0) == 0x40) {
        parse_addr_ = byte & 0x0F;
        parse_ = Parse::WregCount;
        return;
    }
    if ((byte & 0xF0) == 0x20) {
        parse_addr_ = byte & 0x0F;
        parse_ = Parse::RregCount;
        return;
    }
    if (byte == CMD_SYSOCAL || byte == CMD_SYSGCAL || byte == CMD_SELFOCAL) {
        if (!may_convert()) return;
        next_done_ = kNever;
        cal_kind_ = byte;
        cal_done_ = now + 3 * period() + kFilterOverhead;
        set_drdy(false);
        return;
    }
    switch (byte & 0xFE) {
        case CMD_WAKEUP:
            if (asleep_) {
                asleep_ = false;
                restart(now);
            }
            return;
        case CMD_SLEEP:
            asleep_ = true;  // the conversion under way still completes
            return;
        case CMD_SYNC:
            parse_ = Parse::SyncSecond;
            return;
        case CMD_RESET:
            reset_registers();
            if (now + kResetTime > ready_at_) ready_at_ = now + kResetTime;
            restart(now);
            return;
        case CMD_RDATA:
            load_data();
            return;
        case CMD_RDATAC:
            if (converting())
                pending_rdatac_ = true;
            else
                rdatac_ = true;
            pending_sdatac_ = false;
            return;
        case CMD_SDATAC:
            if (converting())
                pending_sdatac_ = true;
            else
                rdatac_ = false;
            pending_rdatac_ = false;
            return;
        default:
            return;  // unassigned and restricted codes do nothing
    }
}

// ---------------------------------------------------------------------------
// Conversions

double Ads1248::gaussian()
{
    // Box-Muller on two uniform numbers in (0, 1).
    const double u1 = (static_cast<double>(splitmix(&rng_) >> 11) + 0.5) / 9007199254740992.0;
    const double u2 = (static_cast<double>(splitmix(&rng_) >> 11) + 0.5) / 9007199254740992.0;
    return std::sqrt(-2.0 * std::log(u1)) * std::cos(6.283185307179586 * u2);
}

int32_t Ads1248::code_for(double volts) const
{
    // Internal reference on (VREFCON != 0) and selected (REFSELT 1x); the
    // external reference inputs are not fitted on this board.
    const bool ref_on = ((regs_[MUX1] >> 5) & 3) != 0 && ((regs_[MUX1] >> 3) & 3) >= 2;
    const int g = (regs_[MUX1] & 7) >= 3 ? 1 : gain();
    int64_t raw;
    if (!ref_on) {
        raw = volts >= 0.0 ? kMaxCode : kMinCode;
    } else {
        double c = volts * g * 8388608.0 / kRefVolts;
        if (!(c > -16777216.0)) c = -16777216.0;  // also NaN
        if (c > 16777216.0) c = 16777216.0;
        raw = std::llround(c);
    }
    const int32_t ofc = sign_extend24(static_cast<uint32_t>(regs_[OFC2]) << 16 |
                                      static_cast<uint32_t>(regs_[OFC1]) << 8 | regs_[OFC0]);
    const uint32_t fsc =
        static_cast<uint32_t>(regs_[FSC2]) << 16 | static_cast<uint32_t>(regs_[FSC1]) << 8 | regs_[FSC0];
    const double scaled = static_cast<double>(raw - ofc) * fsc / kUnitFsc;
    return clamp_code(std::llround(scaled));
}

int32_t Ads1248::measure(Nanos at, int muxcal_override)
{
    const int muxcal = muxcal_override >= 0 ? muxcal_override : (regs_[MUX1] & 7);
    double v = 0.0;
    switch (muxcal) {
        case 0: {
            const int p = (regs_[MUX0] >> 3) & 7, n = regs_[MUX0] & 7;
            v = inputs_.ain_volts(p, *this, at) - inputs_.ain_volts(n, *this, at);
            break;
        }
        case 1:
            v = 0.0;
            break;  // offset: inputs shorted
        case 2:
            v = kRefVolts / gain();
            break;  // gain: reference on the inputs
        case 3:
            v = 0.118;
            break;  // temperature diode near 25 C
        case 4:
        case 5:
            v = 0.0;
            break;  // external reference monitors: none fitted
        case 6:
            v = 5.0 / 4.0;
            break;  // analog supply monitor
        default:
            v = 3.3 / 4.0;
            break;  // digital supply monitor
    }
    v += gaussian() * opt_.noise_volts;
    return code_for(v);
}

void Ads1248::complete_conversion(Nanos at)
{
    ++conversions_;
    if (script_pos_ < script_.size()) {
        data_ = clamp_code(script_[script_pos_++]);
    } else {
        data_ = measure(at, -1);
    }
    if (pending_sdatac_) rdatac_ = false;
    if (pending_rdatac_) rdatac_ = true;
    pending_sdatac_ = pending_rdatac_ = false;
    // A register read-back under way keeps the output register.
    const bool reading_registers = out_pos_ < out_len_ && !out_is_data_;
    if (rdatac_ && !reading_registers) load_data();
    set_drdy(true);
    next_done_ = may_convert() ? at + period() : kNever;
}

void Ads1248::finish_calibration(Nanos at)
{
    cal_done_ = kNever;
    // Calibrate against the uncalibrated code.
    uint8_t saved[6];
    for (int i = 0; i < 6; ++i) saved[i] = regs_[OFC0 + i];
    for (int i = 0; i < 6; ++i) regs_[OFC0 + i] = kDefaults[OFC0 + i];
    const int32_t raw = measure(at, cal_kind_ == CMD_SELFOCAL ? 1 : -1);  // self: inputs shorted
    for (int i = 0; i < 6; ++i) regs_[OFC0 + i] = saved[i];
    if (cal_kind_ == CMD_SYSGCAL) {
        const int32_t ofc = sign_extend24(static_cast<uint32_t>(regs_[OFC2]) << 16 |
                                          static_cast<uint32_t>(regs_[OFC1]) << 8 | regs_[OFC0]);
        const int64_t span = static_cast<int64_t>(raw) - ofc;
        if (span > 0) {
            int64_t fsc = static_cast<int64_t>(kUnitFsc * kMaxCode / static_cast<double>(span) + 0.5);
            if (fsc > 0xFFFFFF) fsc = 0xFFFFFF;
            regs_[FSC0] = static_cast<uint8_t>(fsc);
            regs_[FSC1] = static_cast<uint8_t>(fsc >> 8);
            regs_[FSC2] = static_cast<uint8_t>(fsc >> 16);
        }
    } else {
        const uint32_t v = static_cast<uint32_t>(raw) & 0xFFFFFF;
        regs_[OFC0] = static_cast<uint8_t>(v);
        regs_[OFC1] = static_cast<uint8_t>(v >> 8);
        regs_[OFC2] = static_cast<uint8_t>(v >> 16);
    }
    // Settled data of the selected input follow.
    next_done_ = may_convert() ? at + period() : kNever;
}

Nanos Ads1248::next_event() const
{
    return next_done_ < cal_done_ ? next_done_ : cal_done_;
}

void Ads1248::run_until(Nanos now)
{
    for (int guard = 0; guard < 1000000; ++guard) {
        const Nanos t = next_event();
        if (t > now) return;
        if (t == cal_done_) {
            finish_calibration(t);
        } else {
            complete_conversion(t);
        }
    }
}

}  // namespace sim
