// UART model: 16-byte FIFOs, trigger levels, receive time-out, interrupt
// status, bytes timed at the configured baud rate.
#pragma once

#include <cstdint>

#include "board.h"

namespace sim {

// The far end of a serial line: the console's terminal, the CTD, the optode.
class SerialPeer {
public:
    virtual ~SerialPeer() = default;
    // A byte the chip transmitted has fully arrived at the peer.
    virtual void receive(uint8_t byte, Nanos when) = 0;
};

class Fifo16 {
public:
    bool empty() const { return count_ == 0; }
    bool full() const { return count_ == 16; }
    int count() const { return count_; }
    void push(uint8_t b) { buf_[(head_ + count_++) & 15] = b; }
    uint8_t pop()
    {
        uint8_t b = buf_[head_];
        head_ = (head_ + 1) & 15;
        --count_;
        return b;
    }
    void clear() { head_ = count_ = 0; }

private:
    uint8_t buf_[16] = {};
    int head_ = 0, count_ = 0;
};

class Uart : public Device {
public:
    static constexpr uint32_t kRx = 0x010, kTx = 0x020, kRt = 0x040, kOverrun = 0x400;

    Uart(Board& board, int index, uint32_t irq) : board_(board), index_(index), irq_(irq) {}

    void attach(SerialPeer* peer) { peer_ = peer; }
    int index() const { return index_; }

    // Chip side.
    void configure(uint32_t src_clock, uint32_t baud);
    void set_fifo_levels(int tx_eighths, int rx_eighths);
    void enable(bool on);
    bool enabled() const { return enabled_; }
    uint32_t baud() const { return baud_; }
    bool rx_available() const { return !rx_.empty(); }
    int32_t read();  // -1 when empty
    bool tx_space() const { return !tx_.full(); }
    bool write(uint8_t b);
    bool busy() const { return shifting_ || !tx_.empty(); }
    void int_enable(uint32_t flags);
    void int_disable(uint32_t flags);
    uint32_t raw_status() const { return ris_; }
    uint32_t masked_status() const { return ris_ & im_; }
    void int_clear(uint32_t flags);

    // Line side: a byte has fully arrived from the peer. Lost when the UART
    // is not enabled or the receive FIFO overflows.
    void line_receive(uint8_t byte);
    // Time one character takes at the current rate.
    Nanos char_time() const { return sim::char_time(baud_); }

    Nanos next_event() const override;
    void run_until(Nanos now) override;

private:
    void update_irq();
    void start_shift(Nanos at);
    Board& board_;
    int index_;
    uint32_t irq_;
    SerialPeer* peer_ = nullptr;
    uint32_t baud_ = 0;
    bool enabled_ = false;
    int tx_level_ = 2, rx_level_ = 2;  // bytes for the 1/8 trigger
    Fifo16 rx_, tx_;
    uint32_t ris_ = 0, im_ = 0;
    bool shifting_ = false;
    uint8_t shift_byte_ = 0;
    Nanos shift_done_ = kNever;
    Nanos rx_timeout_at_ = kNever;
};

}  // namespace sim
