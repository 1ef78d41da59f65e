#include "gpio.h"

namespace sim {

void Gpio::set_output(GpioPort p, uint8_t pins)
{
    const uint8_t before = driven(port(p));
    port(p).dir |= pins;
    port(p).afsel &= static_cast<uint8_t>(~pins);
    port(p).amsel &= static_cast<uint8_t>(~pins);
    notify(p, before);
}

void Gpio::set_input(GpioPort p, uint8_t pins)
{
    const uint8_t before = driven(port(p));
    port(p).dir &= static_cast<uint8_t>(~pins);
    port(p).afsel &= static_cast<uint8_t>(~pins);
    port(p).amsel &= static_cast<uint8_t>(~pins);
    notify(p, before);
}

void Gpio::set_alternate(GpioPort p, uint8_t pins, bool on)
{
    const uint8_t before = driven(port(p));
    if (on)
        port(p).afsel |= pins;
    else
        port(p).afsel &= static_cast<uint8_t>(~pins);
    notify(p, before);
}

void Gpio::set_analog(GpioPort p, uint8_t pins, bool on)
{
    const uint8_t before = driven(port(p));
    if (on) {
        port(p).amsel |= pins;
        port(p).dir &= static_cast<uint8_t>(~pins);
    } else {
        port(p).amsel &= static_cast<uint8_t>(~pins);
    }
    notify(p, before);
}

void Gpio::set_function(GpioPort p, uint8_t pin, uint8_t function)
{
    if (pin < 8) port(p).pctl[pin] = function;
}

void Gpio::write(GpioPort p, uint8_t pins, uint8_t value)
{
    Port& s = port(p);
    const uint8_t before = driven(s);
    // Only pins configured as outputs take the written value, as on the chip.
    const uint8_t m = pins & s.dir;
    s.data = static_cast<uint8_t>((s.data & ~m) | (value & m));
    notify(p, before);
}

uint8_t Gpio::read(GpioPort p, uint8_t pins) const
{
    const Port& s = port(p);
    const uint8_t value = static_cast<uint8_t>((s.data & s.dir) | (s.external & ~s.dir));
    return value & pins;
}

void Gpio::drive_input(GpioPort p, uint8_t pins, bool high)
{
    Port& s = port(p);
    s.external = high ? (s.external | pins) : static_cast<uint8_t>(s.external & ~pins);
}

void Gpio::drive_input(Signal sig, bool high)
{
    const PinDef& d = pin_def(sig);
    drive_input(d.port, d.mask(), high);
}

bool Gpio::level(Signal sig) const
{
    const PinDef& d = pin_def(sig);
    return (driven(port(d.port)) & d.mask()) != 0;
}

bool Gpio::is_output(Signal sig) const
{
    const PinDef& d = pin_def(sig);
    const Port& s = port(d.port);
    return (s.dir & ~s.afsel & d.mask()) != 0;
}

uint8_t Gpio::function(Signal sig) const
{
    const PinDef& d = pin_def(sig);
    return port(d.port).pctl[d.pin];
}

bool Gpio::is_alternate(Signal sig) const
{
    const PinDef& d = pin_def(sig);
    return (port(d.port).afsel & d.mask()) != 0;
}

void Gpio::listen(PinListener* l)
{
    for (auto& slot : listeners_)
        if (!slot) {
            slot = l;
            return;
        }
}

void Gpio::unlisten(PinListener* l)
{
    for (auto& slot : listeners_)
        if (slot == l) slot = nullptr;
}

void Gpio::notify(GpioPort p, uint8_t before)
{
    const uint8_t now = driven(port(p));
    const uint8_t changed = before ^ now;
    if (!changed) return;
    for (auto* l : listeners_)
        if (l) l->pins_changed(p, changed, now);
}

}  // namespace sim
