#include "uart.h"

namespace sim {

void Uart::configure(uint32_t src_clock, uint32_t baud)
{
    // The divisor is 16x oversampling from the source clock; model the
    // resulting rate rather than the requested one only when it is usable.
    baud_ = (src_clock && baud) ? baud : 0;
}

void Uart::set_fifo_levels(int tx_eighths, int rx_eighths)
{
    tx_level_ = tx_eighths * 2;
    rx_level_ = rx_eighths * 2;
}

void Uart::enable(bool on)
{
    enabled_ = on;
    if (!on) {
        shifting_ = false;
        shift_done_ = kNever;
    } else if (!shifting_ && !tx_.empty()) {
        start_shift(board_.now());
    }
}

int32_t Uart::read()
{
    if (rx_.empty()) return -1;
    const uint8_t b = rx_.pop();
    if (rx_.count() < rx_level_) ris_ &= ~kRx;
    if (rx_.empty()) {
        ris_ &= ~kRt;
        rx_timeout_at_ = kNever;
    } else {
        rx_timeout_at_ = board_.now() + 32 * char_time() / 10;
    }
    update_irq();
    return b;
}

bool Uart::write(uint8_t b)
{
    if (tx_.full()) return false;
    tx_.push(b);
    if (enabled_ && !shifting_) start_shift(board_.now());
    return true;
}

void Uart::start_shift(Nanos at)
{
    const int before = tx_.count();
    shift_byte_ = tx_.pop();
    shifting_ = true;
    shift_done_ = at + char_time();
    // The transmit interrupt fires when the FIFO drains through its trigger level.
    if (before > tx_level_ && tx_.count() <= tx_level_) {
        ris_ |= kTx;
        update_irq();
    }
}

void Uart::int_enable(uint32_t flags)
{
    im_ |= flags;
    update_irq();
}

void Uart::int_disable(uint32_t flags)
{
    im_ &= ~flags;
    update_irq();
}

void Uart::int_clear(uint32_t flags)
{
    ris_ &= ~flags;
    update_irq();
}

void Uart::line_receive(uint8_t byte)
{
    if (!enabled_ || baud_ == 0) return;
    if (rx_.full()) {
        ris_ |= kOverrun;
        return;
    }
    rx_.push(byte);
    if (rx_.count() >= rx_level_) ris_ |= kRx;
    // Time-out: 32 bit periods without a new character while data waits.
    rx_timeout_at_ = board_.now() + 32 * char_time() / 10;
    update_irq();
}

Nanos Uart::next_event() const
{
    Nanos t = shifting_ ? shift_done_ : kNever;
    if (rx_timeout_at_ < t) t = rx_timeout_at_;
    return t;
}

void Uart::run_until(Nanos now)
{
    while (shifting_ && shift_done_ <= now) {
        const Nanos done = shift_done_;
        shifting_ = false;
        shift_done_ = kNever;
        if (peer_) peer_->receive(shift_byte_, done);
        if (enabled_ && !tx_.empty()) start_shift(done);
    }
    if (rx_timeout_at_ <= now) {
        rx_timeout_at_ = kNever;
        if (!rx_.empty()) {
            ris_ |= kRt;
            update_irq();
        }
    }
}

void Uart::update_irq()
{
    board_.nvic().set_level(irq_, (ris_ & im_) != 0);
}

}  // namespace sim
