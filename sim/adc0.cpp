#include "adc0.h"

#include <cmath>

#include "platform.h"

namespace sim {

int Adc::depth(uint32_t seq)
{
    constexpr int kDepth[kSequencers] = {8, 4, 4, 1};
    return seq < kSequencers ? kDepth[seq] : 0;
}

uint32_t Adc::code_of(double volts)
{
    const double c = std::floor(volts * 4096.0 / kRefVolts + 0.5);
    if (!(c > 0.0)) return 0;  // also NaN
    return c >= 4095.0 ? 4095u : static_cast<uint32_t>(c);
}

// The sensor's transfer function from the chip's data sheet.
double Adc::temp_sensor_volts(double celsius)
{
    return 2.7 - (celsius + 55.0) / 75.0;
}

void Adc::seq_configure(uint32_t seq, uint32_t trigger, uint32_t priority)
{
    if (seq >= kSequencers) return;
    seq_[seq].trigger = trigger;
    seq_[seq].priority = priority;
}

void Adc::seq_step(uint32_t seq, uint32_t step, uint32_t config)
{
    if (seq >= kSequencers || static_cast<int>(step) >= depth(seq)) return;
    seq_[seq].steps[step] = config;
}

void Adc::hw_oversample(uint32_t factor)
{
    uint32_t f = 1;
    while (f < 64 && f * 2 <= factor) f *= 2;
    averaging_ = f;
}

void Adc::seq_enable(uint32_t seq, bool on)
{
    if (seq >= kSequencers) return;
    seq_[seq].enabled = on;
    if (!on) {
        seq_[seq].running = false;
        seq_[seq].next_done = kNever;
    }
}

void Adc::processor_trigger(uint32_t seq)
{
    if (seq >= kSequencers) return;
    Sequencer& s = seq_[seq];
    if (!s.enabled || s.trigger != ADC_TRIGGER_PROCESSOR || s.running) return;
    ++bursts_;
    if (stalled_) return;
    s.running = true;
    s.next_step = 0;
    s.next_done = board_.now() + sample_time();
}

bool Adc::raw_status(uint32_t seq) const
{
    return seq < kSequencers && seq_[seq].ris;
}

void Adc::int_clear(uint32_t seq)
{
    if (seq < kSequencers) seq_[seq].ris = false;
}

uint32_t Adc::data_get(uint32_t seq, uint32_t* buffer)
{
    if (seq >= kSequencers) return 0;
    Sequencer& s = seq_[seq];
    const int d = depth(seq);
    uint32_t n = 0;
    while (s.fifo_count > 0) {
        buffer[n++] = s.fifo[s.fifo_head];
        s.fifo_head = (s.fifo_head + 1) % d;
        --s.fifo_count;
    }
    return n;
}

uint32_t Adc::step_config(uint32_t seq, uint32_t step) const
{
    return (seq < kSequencers && static_cast<int>(step) < depth(seq)) ? seq_[seq].steps[step] : 0;
}

uint32_t Adc::trigger(uint32_t seq) const
{
    return seq < kSequencers ? seq_[seq].trigger : 0;
}
bool Adc::enabled(uint32_t seq) const
{
    return seq < kSequencers && seq_[seq].enabled;
}

uint32_t Adc::convert(uint32_t config, Nanos now)
{
    if (!source_) return 0;
    if (config & ADC_STEP_TS) return code_of(temp_sensor_volts(source_->die_temp_c(now)));
    const int ch = static_cast<int>(config & ADC_STEP_CH_MASK);
    if (config & ADC_STEP_D) {
        // Differential pair 2n / 2n+1, mid-scale at 0 V difference.
        const double diff = source_->ain_volts(2 * ch, now) - source_->ain_volts(2 * ch + 1, now);
        return code_of(kRefVolts / 2.0 + diff / 2.0);
    }
    return code_of(source_->ain_volts(ch, now));
}

void Adc::push(Sequencer& s, int d, uint32_t value)
{
    if (s.fifo_count >= d) return;  // overflow: the chip drops the sample
    s.fifo[(s.fifo_head + s.fifo_count) % d] = value;
    ++s.fifo_count;
}

Nanos Adc::next_event() const
{
    Nanos t = kNever;
    for (const auto& s : seq_)
        if (s.running && s.next_done < t) t = s.next_done;
    return t;
}

void Adc::run_until(Nanos now)
{
    for (uint32_t q = 0; q < kSequencers; ++q) {
        Sequencer& s = seq_[q];
        const int d = depth(q);
        while (s.running && s.next_done <= now) {
            const uint32_t config = s.steps[s.next_step];
            push(s, d, convert(config, s.next_done));
            if (config & ADC_STEP_IE) s.ris = true;
            ++s.next_step;
            if ((config & ADC_STEP_END) || s.next_step >= d) {
                s.running = false;
                s.next_done = kNever;
            } else {
                s.next_done += sample_time();
            }
        }
    }
}

}  // namespace sim
