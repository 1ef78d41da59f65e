// A serial line from an outside device into one of the chip's UARTs: queued
// bytes arrive one character time apart at the UART's current rate.
#pragma once

#include <cstddef>
#include <cstdint>

#include "uart.h"

namespace sim {

class SerialLine : public Device {
public:
    static constexpr size_t kCapacity = 8192;

    SerialLine(Board& board, Uart& uart) : board_(board), uart_(uart) {}
    // Queue bytes; returns how many fit.
    size_t send(const uint8_t* data, size_t n);
    size_t pending() const { return count_; }
    void clear()
    {
        head_ = count_ = 0;
        next_ = kNever;
    }

    Nanos next_event() const override { return count_ ? next_ : kNever; }
    void run_until(Nanos now) override;

private:
    Board& board_;
    Uart& uart_;
    uint8_t buf_[kCapacity] = {};
    size_t head_ = 0, count_ = 0;
    Nanos next_ = kNever;
};

}  // namespace sim
