#include "ssi.h"

namespace sim {

uint32_t ssi_achieved_rate(uint32_t src_clock, uint32_t requested)
{
    if (!src_clock || !requested) return 0;
    const uint32_t ratio = src_clock / requested;
    uint32_t prescale = 0, scr = 256;
    do {
        prescale += 2;
        scr = ratio / prescale;
        if (scr) --scr;
    } while (scr > 255 && prescale < 254);
    if (scr > 255) scr = 255;
    return src_clock / (prescale * (1 + scr));
}

void Ssi::attach(SpiDevice* d)
{
    for (auto& slot : devices_)
        if (!slot) {
            slot = d;
            return;
        }
}

void Ssi::configure(uint32_t src_clock, int mode, uint32_t bit_rate, uint32_t width)
{
    bit_rate_ = ssi_achieved_rate(src_clock, bit_rate);
    mode_ = mode;
    width_ = width ? width : 8;
}

void Ssi::enable(bool on)
{
    enabled_ = on;
    if (on && !shifting_ && tx_count_) start(board_.now());
}

bool Ssi::put(uint32_t data)
{
    if (tx_count_ == 8) return false;
    tx_[(tx_head_ + tx_count_++) & 7] = static_cast<uint16_t>(data);
    if (enabled_ && !shifting_) start(board_.now());
    return true;
}

bool Ssi::get(uint32_t* data)
{
    if (!rx_count_) return false;
    *data = rx_[rx_head_];
    rx_head_ = (rx_head_ + 1) & 7;
    --rx_count_;
    return true;
}

void Ssi::start(Nanos at)
{
    shift_ = tx_[tx_head_];
    tx_head_ = (tx_head_ + 1) & 7;
    --tx_count_;
    shifting_ = true;
    const uint64_t rate = bit_rate_ ? bit_rate_ : 1000000;
    done_ = at + (width_ * kSecond + rate - 1) / rate;
}

uint8_t Ssi::transfer(uint8_t out)
{
    uint8_t in = 0xFF;  // MISO idles high with no device driving it
    for (auto* d : devices_)
        if (d && d->selected(true)) in &= d->exchange(out);
    return in;
}

void Ssi::run_until(Nanos now)
{
    while (shifting_ && done_ <= now) {
        const Nanos at = done_;
        const uint8_t in = transfer(static_cast<uint8_t>(shift_));
        shifting_ = false;
        done_ = kNever;
        if (rx_count_ < 8) rx_[(rx_head_ + rx_count_++) & 7] = in;
        if (tx_count_) start(at);
    }
}

}  // namespace sim
