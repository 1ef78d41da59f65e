// GPIO ports A to P: direction, data, alternate function and analog enables.
// Outside devices read the pins the chip drives and drive the chip's inputs.
#pragma once

#include <cstdint>

#include "pins.h"

namespace sim {

class PinListener {
public:
    virtual ~PinListener() = default;
    // A pin of `port` the chip drives changed level (bits in `changed`).
    virtual void pins_changed(GpioPort port, uint8_t changed, uint8_t levels) = 0;
};

class Gpio {
public:
    static constexpr int kMaxListeners = 16;

    void set_output(GpioPort p, uint8_t pins);
    void set_input(GpioPort p, uint8_t pins);
    void set_alternate(GpioPort p, uint8_t pins, bool on);
    void set_analog(GpioPort p, uint8_t pins, bool on);
    void set_function(GpioPort p, uint8_t pin, uint8_t function);
    void write(GpioPort p, uint8_t pins, uint8_t value);
    uint8_t read(GpioPort p, uint8_t pins) const;

    // Level a device drives onto a chip input.
    void drive_input(GpioPort p, uint8_t pins, bool high);
    void drive_input(Signal s, bool high);

    // Level of a pin as the board sees it: the chip's output when it drives
    // the pin as a GPIO output, else low (unpowered rails, parked lines).
    bool level(Signal s) const;
    bool is_output(Signal s) const;
    uint8_t function(Signal s) const;
    bool is_alternate(Signal s) const;

    void listen(PinListener* l);
    void unlisten(PinListener* l);

private:
    struct Port {
        uint8_t dir = 0, data = 0, afsel = 0, amsel = 0, external = 0;
        uint8_t pctl[8] = {};
    };
    Port& port(GpioPort p) { return ports_[static_cast<int>(p)]; }
    const Port& port(GpioPort p) const { return ports_[static_cast<int>(p)]; }
    uint8_t driven(const Port& s) const { return s.data & s.dir & static_cast<uint8_t>(~s.afsel); }
    void notify(GpioPort p, uint8_t before);
    Port ports_[GPIO_PORT_COUNT];
    PinListener* listeners_[kMaxListeners] = {};
};

}  // namespace sim
