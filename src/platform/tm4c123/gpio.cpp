// GPIO ports A to P. Ports A to J are used on the APB aperture (their reset
// mapping); K to P exist only on the AHB aperture.
#include "hw.h"
#include "platform.h"
#include "registers.h"

namespace {

using namespace reg::gpio;

constexpr uint32_t kPortBase[GPIO_PORT_COUNT] = {
    0x40004000u, 0x40005000u, 0x40006000u, 0x40007000u,  // A B C D
    0x40024000u, 0x40025000u, 0x40026000u, 0x40027000u,  // E F G H
    0x4003D000u,                                         // J
    0x40061000u, 0x40062000u, 0x40063000u, 0x40064000u,  // K L M N
    0x40065000u,                                         // P
};

// Pins whose AFSEL, PUR, PDR and DEN bits are write-protected until unlocked
// and committed: PD7 and PF0 (NMI). The JTAG pins PC0..PC3 are never unlocked.
constexpr uint8_t kCommitProtected[GPIO_PORT_COUNT] = {0, 0, 0, 0x80, 0, 0x01};

uint32_t base_of(GpioPort port)
{
    return kPortBase[static_cast<size_t>(port)];
}

void commit(GpioPort port, uint8_t pins)
{
    const uint8_t locked = kCommitProtected[static_cast<size_t>(port)] & pins;
    if (locked == 0) return;
    const uint32_t base = base_of(port);
    hw::write(base + LOCK, LOCK_KEY);
    hw::set_bits(base + CR, locked);
    hw::write(base + LOCK, 0);
}

void drive(uint32_t base, uint8_t pins, uint8_t drive_ma)
{
    const uint32_t r = drive_ma >= 8 ? DR8R : drive_ma >= 4 ? DR4R : DR2R;
    hw::set_bits(base + r, pins);  // selecting one strength clears the others
}

void pad(uint32_t base, uint8_t pins, PadType type)
{
    const bool od = type == PadType::OpenDrain;
    const bool pu = type == PadType::PullUp;
    const bool pd = type == PadType::PullDown;
    const bool analog = type == PadType::Analog;
    hw::assign_bits(base + ODR, pins, od);
    hw::assign_bits(base + PUR, pins, pu);
    hw::assign_bits(base + PDR, pins, pd);
    hw::assign_bits(base + DEN, pins, !analog);
    hw::assign_bits(base + AMSEL, pins, analog);
}

}  // namespace

namespace {

// A plain digital pin, 2 mA push-pull, in the given direction.
void make_digital(GpioPort port, uint8_t pins, bool output)
{
    commit(port, pins);
    const uint32_t base = base_of(port);
    if (output)
        hw::set_bits(base + DIR, pins);
    else
        hw::clear_bits(base + DIR, pins);
    hw::clear_bits(base + AFSEL, pins);
    drive(base, pins, 2);
    pad(base, pins, PadType::PushPull);
}

}  // namespace

void gpio_output(GpioPort port, uint8_t pins) { make_digital(port, pins, true); }

void gpio_input(GpioPort port, uint8_t pins) { make_digital(port, pins, false); }

void gpio_peripheral_pins(GpioPort port, uint8_t pins, PinKind kind)
{
    commit(port, pins);
    const uint32_t base = base_of(port);
    hw::clear_bits(base + DIR, pins);
    hw::set_bits(base + AFSEL, pins);
    drive(base, pins, 2);
    switch (kind) {
        case PinKind::I2cSda:
            pad(base, pins, PadType::OpenDrain);
            break;
        case PinKind::Analog:
            pad(base, pins, PadType::Analog);
            break;
        default:
            pad(base, pins, PadType::PushPull);
            break;
    }
}

void gpio_pin_function(GpioPort port, uint8_t pin, uint8_t function)
{
    if (pin > 7) return;
    const uint32_t shift = 4u * pin;
    hw::modify(base_of(port) + PCTL, 0xFu << shift, static_cast<uint32_t>(function & 0xFu) << shift);
}

void gpio_pad(GpioPort port, uint8_t pins, uint8_t drive_ma, PadType type)
{
    commit(port, pins);
    const uint32_t base = base_of(port);
    drive(base, pins, drive_ma);
    pad(base, pins, type);
}

void gpio_write(GpioPort port, uint8_t pins, uint8_t value)
{
    // Address bits 9:2 select which pins a data access touches.
    hw::write(base_of(port) + DATA + (static_cast<uint32_t>(pins) << 2), value);
}

uint8_t gpio_read(GpioPort port, uint8_t pins)
{
    return static_cast<uint8_t>(hw::read(base_of(port) + DATA + (static_cast<uint32_t>(pins) << 2)) & pins);
}
