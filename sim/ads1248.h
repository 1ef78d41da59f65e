// TI ADS1248 24-bit delta-sigma converter at the level of its serial
// protocol and pins: the command set, the register map, continuous and
// stop-continuous read modes, conversion timing by data rate with DRDY, the
// RESET and START pins, power from a supply pin, input voltages to codes with
// gain, reference, calibration registers, 24-bit saturation and seeded
// Gaussian input noise.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "board.h"
#include "gpio.h"
#include "ssi.h"

namespace sim {

class Ads1248;

// The analog side the converter sees: input voltages against its analog ground.
class Ads1248Inputs {
public:
    virtual ~Ads1248Inputs() = default;
    virtual double ain_volts(int n, const Ads1248& adc, Nanos now) = 0;
};

// How one converter is wired to the chip.
struct Ads1248Wiring {
    const char* name;
    int ssi;           // SSI index of its serial link
    Signal supply;     // high = powered
    Signal reset;      // low = held in reset
    Signal start;      // high = converting
    Signal drdy;       // chip input the converter drives; low = data ready
    Signal clk;        // serial clock; must be routed to the SSI
    bool software_cs;  // chip select on a plain pin (else the SSI frame signal)
    Signal cs;         // the chip-select pin when software_cs
};

struct Ads1248Options {
    double noise_volts = 0.0;  // RMS, input referred
    uint64_t seed = 1;
    bool dead = false;           // never ready, never answers
    bool supply_failed = false;  // its supply stays off whatever the pin says
};

class Ads1248 : public Device, public SpiDevice, public PinListener {
public:
    // Register addresses.
    enum Reg : uint8_t {
        MUX0 = 0x00,
        VBIAS = 0x01,
        MUX1 = 0x02,
        SYS0 = 0x03,
        OFC0 = 0x04,
        OFC1 = 0x05,
        OFC2 = 0x06,
        FSC0 = 0x07,
        FSC1 = 0x08,
        FSC2 = 0x09,
        IDAC0 = 0x0A,
        IDAC1 = 0x0B,
        GPIOCFG = 0x0C,
        GPIODIR = 0x0D,
        GPIODAT = 0x0E,
        kRegCount = 15
    };
    static constexpr double kRefVolts = 2.048;
    static constexpr Nanos kPowerUpTime = 16 * kMilli;      // 2^16 oscillator cycles
    static constexpr Nanos kResetTime = 600 * kMicro;       // after RESET rises
    static constexpr Nanos kFilterOverhead = 200 * kMicro;  // first conversion after a restart

    Ads1248(Board& board, const Ads1248Wiring& wiring, Ads1248Inputs& inputs, const Ads1248Options& opt);
    ~Ads1248() override;
    Ads1248(const Ads1248&) = delete;
    Ads1248& operator=(const Ads1248&) = delete;

    // SpiDevice
    bool selected(bool frame_active) const override;
    uint8_t exchange(uint8_t mosi) override;
    // PinListener
    void pins_changed(GpioPort port, uint8_t changed, uint8_t levels) override;
    // Device
    Nanos next_event() const override;
    void run_until(Nanos now) override;

    // State, for the board's front end and for tests.
    uint8_t reg(int addr) const;
    // Levels of its GPIO0..GPIO3 pins (bit n = GPIOn); pins that are not
    // driven outputs read low (pulled down on the board).
    uint8_t gpio_levels() const;
    uint8_t gpio_driven() const;
    bool powered() const { return powered_; }
    bool continuous_mode() const { return rdatac_; }
    bool converting() const { return next_done_ != kNever; }
    int gain() const { return 1 << ((regs_[SYS0] >> 4) & 7); }
    uint32_t data_rate() const;  // samples per second
    Nanos period() const;
    uint32_t conversions() const { return conversions_; }
    uint32_t data_reads() const { return data_reads_; }
    int32_t last_code() const { return data_; }
    const char* name() const { return wiring_.name; }

    // Test hooks: the next conversions give these codes instead of the input's.
    void script_codes(const int32_t* codes, size_t n);
    size_t scripted_left() const { return script_.size() - script_pos_; }
    // Every byte received while selected and ready (off until enabled).
    void record(bool on) { recording_ = on; }
    const std::vector<uint8_t>& received() const { return received_; }
    void clear_received() { received_.clear(); }

    // Code the converter gives for a differential input at its settings (no noise).
    int32_t code_for(double volts) const;

private:
    enum class Parse : uint8_t { Idle, WregCount, WregData, RregCount, SyncSecond };

    bool able() const;  // powered, out of reset, past its start-up time
    bool may_convert() const;
    void power_on(Nanos now);
    void power_off();
    void reset_registers();
    void restart(Nanos now);
    void set_drdy(bool low);
    void complete_conversion(Nanos at);
    void finish_calibration(Nanos at);
    void command(uint8_t byte, Nanos now);
    void write_reg(uint8_t addr, uint8_t value, Nanos now);
    void load_data();
    int32_t measure(Nanos at, int muxcal_override);
    double gaussian();

    Board& board_;
    Ads1248Wiring wiring_;
    Ads1248Inputs& inputs_;
    Ads1248Options opt_;
    uint8_t regs_[kRegCount] = {};

    bool powered_ = false;
    bool in_reset_ = false;
    bool start_high_ = false;
    bool asleep_ = false;
    Nanos ready_at_ = 0;
    Nanos next_done_ = kNever;
    Nanos cal_done_ = kNever;
    uint8_t cal_kind_ = 0;

    bool rdatac_ = true;
    bool pending_sdatac_ = false;
    bool pending_rdatac_ = false;
    bool drdy_low_ = false;
    int32_t data_ = 0;
    uint32_t conversions_ = 0;
    uint32_t data_reads_ = 0;

    uint8_t out_[16] = {};
    int out_len_ = 0, out_pos_ = 0;
    bool out_is_data_ = false;

    Parse parse_ = Parse::Idle;
    uint8_t parse_addr_ = 0;
    int parse_left_ = 0;

    uint64_t rng_;
    std::vector<int32_t> script_;
    size_t script_pos_ = 0;
    bool recording_ = false;
    std::vector<uint8_t> received_;
};

}  // namespace sim
