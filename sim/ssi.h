// SSI master model (SPI frame format): 8-entry FIFOs, frames timed at the bit
// rate the prescaler and serial clock rate give. Outside devices on the bus
// decide themselves whether they are selected (chip-select pin or frame signal).
#pragma once

#include <cstdint>

#include "board.h"

namespace sim {

class SpiDevice {
public:
    virtual ~SpiDevice() = default;
    // Whether the device listens to the frame now. `frame_active` is the
    // SSI's own frame signal, which it asserts for every frame.
    virtual bool selected(bool frame_active) const = 0;
    // One frame: the master's bits in, the device's bits out.
    virtual uint8_t exchange(uint8_t mosi) = 0;
};

class Ssi : public Device {
public:
    static constexpr int kMaxDevices = 4;

    Ssi(Board& board, int index) : board_(board), index_(index) {}
    void attach(SpiDevice* d);
    int index() const { return index_; }

    void configure(uint32_t src_clock, int mode, uint32_t bit_rate, uint32_t width);
    void enable(bool on);
    bool enabled() const { return enabled_; }
    bool put(uint32_t data);   // false when the transmit FIFO is full
    bool get(uint32_t* data);  // false when the receive FIFO is empty
    bool busy() const { return shifting_ || tx_count_ > 0; }
    bool tx_full() const { return tx_count_ == 8; }
    bool rx_empty() const { return rx_count_ == 0; }
    uint32_t actual_bit_rate() const { return bit_rate_; }
    int mode() const { return mode_; }

    Nanos next_event() const override { return shifting_ ? done_ : kNever; }
    void run_until(Nanos now) override;

private:
    void start(Nanos at);
    uint8_t transfer(uint8_t out);
    Board& board_;
    int index_;
    SpiDevice* devices_[kMaxDevices] = {};
    uint32_t bit_rate_ = 0;
    uint32_t width_ = 8;
    int mode_ = 0;
    bool enabled_ = false;
    uint16_t tx_[8] = {}, rx_[8] = {};
    int tx_head_ = 0, tx_count_ = 0, rx_head_ = 0, rx_count_ = 0;
    bool shifting_ = false;
    uint16_t shift_ = 0;
    Nanos done_ = kNever;
};

// Bit rate the chip's prescaler (even, 2..254) and serial clock rate (0..255)
// achieve for a requested rate: the nearest one not above it.
uint32_t ssi_achieved_rate(uint32_t src_clock, uint32_t requested);

}  // namespace sim
