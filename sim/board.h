// The simulated board: one thread, virtual time, the chip's peripheral models
// and the outside devices wired to the pin map.
//
// Time advances on busy waits (by their length), on every peripheral access
// (a small fixed cost) and on the idle hook (to the next due event). Due
// interrupts run before a peripheral access returns, as they would between
// instructions on the chip.
#pragma once

#include <cstddef>
#include <cstdint>

#include "config.h"
#include "simtime.h"

namespace sim {

class Gpio;
class Uart;
class Ssi;
class I2cMaster;
class Hibernate;
class Eeprom;
class Adc;
class Fram;
struct Persistent;

// Anything with behaviour in time. `next_event` is the absolute virtual time
// of its next own change (kNever when none); `run_until` processes every
// change due up to `now`.
class Device {
public:
    virtual ~Device() = default;
    virtual Nanos next_event() const { return kNever; }
    virtual void run_until(Nanos now) { (void)now; }
};

using Handler = void (*)();

// Interrupt controller: enables, pending flags, level inputs, global mask.
// All interrupts share one priority, so handlers never nest.
class Nvic {
public:
    static constexpr uint32_t kIrqs = 139;
    static constexpr uint32_t kSysTick = 0xFFFF;  // pseudo number for the SysTick exception

    void set_handler(uint32_t irq, Handler h);
    void set_systick_handler(Handler h) { systick_handler_ = h; }
    void enable(uint32_t irq);
    void disable(uint32_t irq);
    bool enabled(uint32_t irq) const { return irq < kIrqs && enabled_[irq]; }
    void set_level(uint32_t irq, bool asserted);  // level-sensitive peripheral line
    void pend(uint32_t irq);
    void pend_systick() { systick_pending_ = true; }
    bool primask() const { return primask_; }
    bool mask_all();    // returns the previous mask
    bool unmask_all();  // returns the previous mask
    bool in_handler() const { return in_handler_; }
    // Runs every deliverable interrupt; returns how many ran.
    int deliver();

private:
    bool take_next(Handler* h);
    Handler handlers_[kIrqs] = {};
    bool enabled_[kIrqs] = {};
    bool pending_[kIrqs] = {};
    bool level_[kIrqs] = {};
    Handler systick_handler_ = nullptr;
    bool systick_pending_ = false;
    bool primask_ = false;
    bool in_handler_ = false;
};

class SysTick : public Device {
public:
    explicit SysTick(Nvic& nvic) : nvic_(nvic) {}
    void set_period(uint32_t cycles) { period_cycles_ = cycles; }
    void set_int_enable(bool on) { int_enabled_ = on; }
    void enable(Nanos now);
    Nanos next_event() const override { return running_ ? next_ : kNever; }
    void run_until(Nanos now) override;

private:
    Nvic& nvic_;
    uint32_t period_cycles_ = 0;
    bool int_enabled_ = false;
    bool running_ = false;
    Nanos next_ = kNever;
};

// Hooks the runner sets; tests leave them empty.
struct BoardHooks {
    // Called before virtual time jumps forward to `target` when nothing is due
    // sooner. A pacer may sleep to keep step with the wall clock and may
    // schedule new events (console keys) before returning.
    void (*pace)(Nanos now, Nanos target) = nullptr;
    // Called after each advance; may end the process (time limit, script end).
    void (*after_advance)(Nanos now) = nullptr;
    // Called on a hibernate request with the chip already powered down.
    void (*hibernate)() = nullptr;
};

class Board {
public:
    static constexpr size_t kMaxDevices = 48;
    static constexpr Nanos kAccessCost = 100;  // one peripheral access, ns

    // `start` is the virtual time the board powers up at (time runs on across boots).
    Board(Persistent& persistent, const BoardConfig& config, Nanos start = 0);
    ~Board();
    Board(const Board&) = delete;
    Board& operator=(const Board&) = delete;

    Nanos now() const { return now_; }
    void add_device(Device* d);
    void remove_device(Device* d);

    // Time.
    void spend(Nanos dt);  // busy wait or access cost
    void advance_to(Nanos t);
    void access();  // a peripheral access: cost, then due interrupts
    void idle();    // firmware spins on interrupt-changed state
    Nanos earliest_event() const;

    Nvic& nvic() { return nvic_; }
    SysTick& systick() { return systick_; }
    Gpio& gpio() { return *gpio_; }
    Uart& uart(int n) { return *uarts_[n]; }
    Ssi& ssi(int n) { return *ssis_[n]; }
    I2cMaster& i2c0() { return *i2c0_; }
    Hibernate& hib() { return *hib_; }
    Eeprom& eeprom() { return *eeprom_; }
    Adc& adc0() { return *adc0_; }
    Persistent& persistent() { return persistent_; }
    const BoardConfig& config() const { return config_; }

    BoardHooks hooks;
    bool powered() const { return powered_; }
    void power_off() { powered_ = false; }
    // Tests that caught a hibernation carry on with the same board.
    void restore_power() { powered_ = true; }

private:
    void step_to(Nanos t);
    Persistent& persistent_;
    BoardConfig config_;
    Nanos now_ = 0;
    Device* devices_[kMaxDevices] = {};
    size_t device_count_ = 0;
    Nvic nvic_;
    SysTick systick_{nvic_};
    Gpio* gpio_;
    Uart* uarts_[6];
    Ssi* ssis_[4];
    I2cMaster* i2c0_;
    Hibernate* hib_;
    Eeprom* eeprom_;
    Adc* adc0_;
    Fram* fram_;
    bool powered_ = true;
    int advance_depth_ = 0;
};

// The board the peripheral interface talks to. Set by whoever built it (the
// runner for each boot, a test fixture for each test).
Board& board();
void set_board(Board* b);
bool has_board();

}  // namespace sim
