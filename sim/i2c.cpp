#include "i2c.h"

#include "persistent.h"

namespace sim {

void I2cMaster::attach(I2cDevice* d)
{
    for (auto& slot : devices_)
        if (!slot) {
            slot = d;
            return;
        }
}

void I2cMaster::init(uint32_t sys_clock, bool fast)
{
    // The timer period register gives SCL = clock / (20 x (TPR + 1)).
    const uint32_t scl = fast ? 400000 : 100000;
    const uint32_t tpr = (sys_clock + 2 * 10 * scl - 1) / (2 * 10 * scl) - 1;
    rate_ = sys_clock / (20 * (tpr + 1));
    enabled_ = true;
}

I2cDevice* I2cMaster::find(uint8_t addr7)
{
    for (auto* d : devices_)
        if (d && d->start(addr7, receive_)) return d;
    return nullptr;
}

void I2cMaster::control(uint32_t cmd)
{
    if (!enabled_ || !(cmd & (kRun | kStart | kStop))) return;
    uint32_t bits = 0;
    error_ = false;
    if (cmd & kStart) {
        bits += 10;  // start condition and address byte with its acknowledge
        current_ = find(addr_);
        if (!current_) error_ = true;
    }
    if ((cmd & kRun) && !error_) {
        bits += 9;
        if (!current_) {
            error_ = true;
        } else if (receive_) {
            mdr_ = current_->read();
        } else if (!current_->write(mdr_)) {
            error_ = true;
        }
    } else if ((cmd & kRun) && receive_) {
        mdr_ = 0xFF;  // nobody drives SDA
    }
    if ((cmd & kStop) || error_) {
        bits += 1;
        if (current_) current_->stop();
        current_ = nullptr;
    }
    busy_until_ = stuck_ ? kNever : board_.now() + bits * kSecond / rate_;
}

bool Fram::start(uint8_t addr7, bool read)
{
    if ((addr7 & 0x7E) != 0x50) return false;
    page_ = addr7 & 1u;
    expect_address_ = !read;
    return true;
}

bool Fram::write(uint8_t byte)
{
    if (expect_address_) {
        offset_ = byte;
        expect_address_ = false;
        return true;
    }
    mem_[page_ * 256 + offset_] = byte;
    ++offset_;  // wraps within the page, as the memory's address counter does
    return true;
}

uint8_t Fram::read()
{
    const uint8_t b = mem_[page_ * 256 + offset_];
    ++offset_;
    return b;
}

}  // namespace sim
