#include "board.h"

#include <cstring>

#include "adc0.h"
#include "eeprom.h"
#include "gpio.h"
#include "hibernate.h"
#include "i2c.h"
#include "outside.h"
#include "persistent.h"
#include "ssi.h"
#include "uart.h"

namespace sim {

// ---------------------------------------------------------------------------
// Interrupt controller

void Nvic::set_handler(uint32_t irq, Handler h)
{
    if (irq < kIrqs) handlers_[irq] = h;
}

void Nvic::enable(uint32_t irq)
{
    if (irq < kIrqs) enabled_[irq] = true;
}

void Nvic::disable(uint32_t irq)
{
    if (irq < kIrqs) enabled_[irq] = false;
}

void Nvic::set_level(uint32_t irq, bool asserted)
{
    if (irq < kIrqs) level_[irq] = asserted;
}

void Nvic::pend(uint32_t irq)
{
    if (irq < kIrqs) pending_[irq] = true;
}

bool Nvic::mask_all()
{
    const bool was = primask_;
    primask_ = true;
    return was;
}

bool Nvic::unmask_all()
{
    const bool was = primask_;
    primask_ = false;
    return was;
}

bool Nvic::take_next(Handler* h)
{
    // SysTick is an exception: it comes before any peripheral interrupt.
    if (systick_pending_ && systick_handler_) {
        systick_pending_ = false;
        *h = systick_handler_;
        return true;
    }
    for (uint32_t i = 0; i < kIrqs; ++i) {
        if (enabled_[i] && (pending_[i] || level_[i]) && handlers_[i]) {
            pending_[i] = false;
            *h = handlers_[i];
            return true;
        }
    }
    return false;
}

int Nvic::deliver()
{
    if (primask_ || in_handler_) return 0;
    int ran = 0;
    Handler h = nullptr;
    // Bounded: a level that a handler cannot clear would otherwise spin here.
    while (ran < 64 && !primask_ && take_next(&h)) {
        in_handler_ = true;
        h();
        in_handler_ = false;
        ++ran;
    }
    return ran;
}

// ---------------------------------------------------------------------------
// SysTick

void SysTick::enable(Nanos now)
{
    running_ = period_cycles_ != 0;
    next_ = running_ ? now + cycles_to_nanos(period_cycles_) : kNever;
}

void SysTick::run_until(Nanos now)
{
    while (running_ && next_ <= now) {
        if (int_enabled_) nvic_.pend_systick();
        next_ += cycles_to_nanos(period_cycles_);
    }
}

// ---------------------------------------------------------------------------
// Board

namespace {
Board* g_board = nullptr;
constexpr uint32_t kUartIrq[6] = {5, 6, 33, 59, 60, 61};
}  // namespace

Board& board()
{
    return *g_board;
}
void set_board(Board* b)
{
    g_board = b;
}
bool has_board()
{
    return g_board != nullptr;
}

Board::Board(Persistent& persistent, const BoardConfig& config, Nanos start)
    : persistent_(persistent), config_(config), now_(start)
{
    gpio_ = new Gpio();
    for (int i = 0; i < 6; ++i) {
        uarts_[i] = new Uart(*this, i, kUartIrq[i]);
        add_device(uarts_[i]);
    }
    for (int i = 0; i < 4; ++i) {
        ssis_[i] = new Ssi(*this, i);
        add_device(ssis_[i]);
    }
    i2c0_ = new I2cMaster(*this);
    fram_ = config.fram_present ? new Fram(persistent.fram) : nullptr;
    if (fram_) i2c0_->attach(fram_);
    hib_ = new Hibernate(*this, *persistent.hib);
    add_device(hib_);
    eeprom_ = new Eeprom(*this, persistent.eeprom);
    adc0_ = new Adc(*this);
    add_device(adc0_);
    add_device(&systick_);
    attach_outside_devices(*this);
}

Board::~Board()
{
    detach_outside_devices(*this);
    delete eeprom_;
    delete adc0_;
    delete hib_;
    delete fram_;
    delete i2c0_;
    for (auto* s : ssis_) delete s;
    for (auto* u : uarts_) delete u;
    delete gpio_;
    if (g_board == this) g_board = nullptr;
}

void Board::add_device(Device* d)
{
    if (device_count_ < kMaxDevices) devices_[device_count_++] = d;
}

void Board::remove_device(Device* d)
{
    for (size_t i = 0; i < device_count_; ++i)
        if (devices_[i] == d) {
            devices_[i] = devices_[--device_count_];
            return;
        }
}

Nanos Board::earliest_event() const
{
    Nanos t = kNever;
    for (size_t i = 0; i < device_count_; ++i) {
        const Nanos e = devices_[i]->next_event();
        if (e < t) t = e;
    }
    return t;
}

void Board::step_to(Nanos t)
{
    if (t > now_) now_ = t;
    for (size_t i = 0; i < device_count_; ++i) devices_[i]->run_until(now_);
}

void Board::advance_to(Nanos t)
{
    ++advance_depth_;
    for (;;) {
        Nanos next = earliest_event();
        if (next > t) break;
        step_to(next);
        nvic_.deliver();
        if (!powered_) break;
    }
    if (powered_ && t > now_) step_to(t);
    --advance_depth_;
    if (hooks.after_advance && advance_depth_ == 0) hooks.after_advance(now_);
}

void Board::spend(Nanos dt)
{
    advance_to(now_ + dt);
}

void Board::access()
{
    spend(kAccessCost);
    nvic_.deliver();
}

void Board::idle()
{
    Nanos next = earliest_event();
    // Nothing scheduled at all: let time pass in small steps so that limits
    // (--until, script deadlines) still apply.
    if (next == kNever || next > now_ + 10 * kMilli) next = now_ + 10 * kMilli;
    if (next <= now_) next = now_ + kAccessCost;
    if (hooks.pace) hooks.pace(now_, next);
    advance_to(next < earliest_event() ? next : earliest_event());
    nvic_.deliver();
}

}  // namespace sim
