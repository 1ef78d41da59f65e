// The ADC operations of the peripheral interface on the simulated ADC0.
#include "adc0.h"
#include "board.h"
#include "platform.h"

using sim::board;

namespace {

sim::Adc* adc_of(uint32_t base)
{
    return base == ADC0_BASE ? &board().adc0() : nullptr;
}

}  // namespace

void adc_seq_configure(uint32_t base, uint32_t seq, uint32_t trigger, uint32_t priority)
{
    if (auto* a = adc_of(base)) a->seq_configure(seq, trigger, priority);
    board().access();
}

void adc_seq_step(uint32_t base, uint32_t seq, uint32_t step, uint32_t config)
{
    if (auto* a = adc_of(base)) a->seq_step(seq, step, config);
    board().access();
}

void adc_hw_oversample(uint32_t base, uint32_t factor)
{
    if (auto* a = adc_of(base)) a->hw_oversample(factor);
    board().access();
}

void adc_seq_enable(uint32_t base, uint32_t seq)
{
    if (auto* a = adc_of(base)) a->seq_enable(seq, true);
    board().access();
}

void adc_seq_disable(uint32_t base, uint32_t seq)
{
    if (auto* a = adc_of(base)) a->seq_enable(seq, false);
    board().access();
}

void adc_processor_trigger(uint32_t base, uint32_t seq)
{
    if (auto* a = adc_of(base)) a->processor_trigger(seq);
    board().access();
}

bool adc_int_status_raw(uint32_t base, uint32_t seq)
{
    board().access();
    auto* a = adc_of(base);
    return a && a->raw_status(seq);
}

void adc_int_clear(uint32_t base, uint32_t seq)
{
    if (auto* a = adc_of(base)) a->int_clear(seq);
    board().access();
}

uint32_t adc_seq_data_get(uint32_t base, uint32_t seq, uint32_t* buffer)
{
    board().access();
    auto* a = adc_of(base);
    return a ? a->data_get(seq, buffer) : 0;
}
