// I2C0 master model and the devices on its bus.
#pragma once

#include <cstdint>

#include "board.h"

namespace sim {

class I2cDevice {
public:
    virtual ~I2cDevice() = default;
    // Addressed after a (repeated) START; returns the acknowledge.
    virtual bool start(uint8_t addr7, bool read) = 0;
    virtual bool write(uint8_t byte) = 0;  // returns the acknowledge
    virtual uint8_t read() = 0;
    virtual void stop() = 0;
};

class I2cMaster : public Device {
public:
    static constexpr uint32_t kRun = 0x01, kStart = 0x02, kStop = 0x04, kAck = 0x08;
    static constexpr int kMaxDevices = 4;

    explicit I2cMaster(Board& board) : board_(board) {}
    void attach(I2cDevice* d);

    void init(uint32_t sys_clock, bool fast);
    void enable(bool on) { enabled_ = on; }
    void set_slave(uint8_t addr7, bool receive)
    {
        addr_ = addr7;
        receive_ = receive;
    }
    void data_put(uint8_t b) { mdr_ = b; }
    uint8_t data_get() const { return mdr_; }
    void control(uint32_t cmd);
    bool busy() const { return board_.now() < busy_until_; }
    bool error() const { return error_; }
    uint32_t bit_rate() const { return rate_; }

    // Stuck bus: the master never leaves busy (fault injection).
    void set_stuck(bool stuck) { stuck_ = stuck; }

private:
    I2cDevice* find(uint8_t addr7);
    Board& board_;
    I2cDevice* devices_[kMaxDevices] = {};
    I2cDevice* current_ = nullptr;
    uint32_t rate_ = 100000;
    bool enabled_ = false;
    uint8_t addr_ = 0;
    bool receive_ = false;
    uint8_t mdr_ = 0;
    bool error_ = false;
    bool stuck_ = false;
    Nanos busy_until_ = 0;
};

// Ferroelectric RAM with one-byte memory addresses: 2 x 256 bytes, the page
// selected by the low bit of the I2C address (0x50, 0x51).
class Fram : public I2cDevice {
public:
    explicit Fram(uint8_t* memory) : mem_(memory) {}
    bool start(uint8_t addr7, bool read) override;
    bool write(uint8_t byte) override;
    uint8_t read() override;
    void stop() override { expect_address_ = false; }

private:
    uint8_t* mem_;
    unsigned page_ = 0;
    uint8_t offset_ = 0;
    bool expect_address_ = false;
};

}  // namespace sim
