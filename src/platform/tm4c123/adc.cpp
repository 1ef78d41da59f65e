// ADC0 sample sequencers. A step's configuration word carries the input in
// bits 4:0 and the step control nibble (D, END, IE, TS) in bits 11:8.
#include "hw.h"
#include "platform.h"
#include "registers.h"

namespace {

using namespace reg::adc;

bool valid(uint32_t base, uint32_t seq)
{
    return base == ADC0_BASE && seq < SEQUENCERS;
}

uint32_t ss(uint32_t base, uint32_t seq, uint32_t reg)
{
    return base + SS_BASE + seq * SS_STRIDE + reg;
}

void set_nibble(uint32_t addr, uint32_t index, uint32_t value)
{
    hw::modify(addr, 0xFu << (4 * index), (value & 0xFu) << (4 * index));
}

}  // namespace

void adc_seq_configure(uint32_t base, uint32_t seq, uint32_t trigger, uint32_t priority)
{
    if (!valid(base, seq)) return;
    set_nibble(base + EMUX, seq, trigger);
    hw::modify(base + SSPRI, 0x3u << (4 * seq), (priority & 0x3u) << (4 * seq));
}

void adc_seq_step(uint32_t base, uint32_t seq, uint32_t step, uint32_t config)
{
    if (!valid(base, seq) || step >= FIFO_DEPTH[seq]) return;
    const uint32_t channel = config & ADC_STEP_CH_MASK;
    set_nibble(ss(base, seq, SSMUX), step, channel);
    set_nibble(ss(base, seq, SSEMUX), step, channel >> 4);  // AIN16..AIN23
    set_nibble(ss(base, seq, SSCTL), step, config >> 8);
}

// SAC holds log2 of the averaging factor (1..64).
void adc_hw_oversample(uint32_t base, uint32_t factor)
{
    if (base != ADC0_BASE) return;
    uint32_t avg = 0;
    while (avg < 6 && (2u << avg) <= factor) ++avg;
    hw::write(base + SAC, avg);
}

void adc_seq_enable(uint32_t base, uint32_t seq)
{
    if (valid(base, seq)) hw::set_bits(base + ACTSS, 1u << seq);
}

void adc_seq_disable(uint32_t base, uint32_t seq)
{
    if (valid(base, seq)) hw::clear_bits(base + ACTSS, 1u << seq);
}

void adc_processor_trigger(uint32_t base, uint32_t seq)
{
    if (valid(base, seq)) hw::write(base + PSSI, 1u << seq);
}

bool adc_int_status_raw(uint32_t base, uint32_t seq)
{
    return valid(base, seq) && (hw::read(base + RIS) & (1u << seq)) != 0;
}

void adc_int_clear(uint32_t base, uint32_t seq)
{
    if (valid(base, seq)) hw::write(base + ISC, 1u << seq);
}

// Drains the sequencer's FIFO, never more than its depth.
uint32_t adc_seq_data_get(uint32_t base, uint32_t seq, uint32_t* buffer)
{
    if (!valid(base, seq)) return 0;
    uint32_t n = 0;
    while (n < FIFO_DEPTH[seq] && (hw::read(ss(base, seq, SSFSTAT)) & SSFSTAT_EMPTY) == 0)
        buffer[n++] = hw::read(ss(base, seq, SSFIFO)) & SSFIFO_DATA_MASK;
    return n;
}
