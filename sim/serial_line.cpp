#include "serial_line.h"

namespace sim {

size_t SerialLine::send(const uint8_t* data, size_t n)
{
    size_t i = 0;
    for (; i < n && count_ < kCapacity; ++i) buf_[(head_ + count_++) % kCapacity] = data[i];
    if (i && next_ == kNever) next_ = board_.now() + uart_.char_time();
    return i;
}

void SerialLine::run_until(Nanos now)
{
    while (count_ && next_ <= now) {
        const uint8_t b = buf_[head_];
        head_ = (head_ + 1) % kCapacity;
        --count_;
        uart_.line_receive(b);
        next_ = count_ ? next_ + uart_.char_time() : kNever;
    }
}

}  // namespace sim
