// ADC0 of the chip: four sample sequencers (FIFO depths 8, 4, 4, 1), the
// processor trigger, the raw interrupt status and the internal temperature
// sensor. 12-bit results against the 3.3 V reference, one conversion per
// microsecond (times the hardware averaging factor).
#pragma once

#include <cstdint>

#include "board.h"

namespace sim {

// Where the converter's analog inputs come from (the board's sensors).
class AdcSource {
public:
    virtual ~AdcSource() = default;
    // Voltage on analog input AINn at `now`.
    virtual double ain_volts(int n, Nanos now) = 0;
    // Die temperature seen by the internal sensor, in degrees Celsius.
    virtual double die_temp_c(Nanos now) = 0;
};

class Adc : public Device {
public:
    static constexpr int kSequencers = 4;
    static constexpr int kMaxSteps = 8;
    static constexpr double kRefVolts = 3.3;
    static constexpr Nanos kConversionTime = kMicro;  // 1 Msps

    explicit Adc(Board& board) : board_(board) {}
    void set_source(AdcSource* s) { source_ = s; }

    void seq_configure(uint32_t seq, uint32_t trigger, uint32_t priority);
    void seq_step(uint32_t seq, uint32_t step, uint32_t config);
    void hw_oversample(uint32_t factor);
    void seq_enable(uint32_t seq, bool on);
    void processor_trigger(uint32_t seq);
    bool raw_status(uint32_t seq) const;
    void int_clear(uint32_t seq);
    // Drains the FIFO of `seq` into `buffer` (at most its depth); returns the count.
    uint32_t data_get(uint32_t seq, uint32_t* buffer);

    // Inspection for tests.
    uint32_t step_config(uint32_t seq, uint32_t step) const;
    uint32_t trigger(uint32_t seq) const;
    bool enabled(uint32_t seq) const;
    uint32_t bursts() const { return bursts_; }

    // Fault: a triggered sequence never completes.
    void set_stalled(bool on) { stalled_ = on; }

    // 12-bit code of a voltage on the 3.3 V reference.
    static uint32_t code_of(double volts);
    // Internal temperature sensor output for a die temperature.
    static double temp_sensor_volts(double celsius);

    Nanos next_event() const override;
    void run_until(Nanos now) override;

private:
    struct Sequencer {
        uint32_t trigger = 0, priority = 0;
        uint32_t steps[kMaxSteps] = {};
        bool enabled = false;
        bool running = false;
        int next_step = 0;
        Nanos next_done = kNever;
        uint32_t fifo[kMaxSteps] = {};
        int fifo_head = 0, fifo_count = 0;
        bool ris = false;
    };
    static int depth(uint32_t seq);
    uint32_t convert(uint32_t config, Nanos now);
    void push(Sequencer& s, int depth, uint32_t value);
    Nanos sample_time() const { return kConversionTime * averaging_; }

    Board& board_;
    AdcSource* source_ = nullptr;
    Sequencer seq_[kSequencers];
    uint32_t averaging_ = 1;
    bool stalled_ = false;
    uint32_t bursts_ = 0;
};

}  // namespace sim
