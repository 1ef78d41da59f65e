// Hibernation module: the battery-backed 32-bit seconds counter, match 0,
// wake sources, raw interrupt status and the hibernate request.
#pragma once

#include <cstdint>

#include "board.h"
#include "persistent.h"

namespace sim {

class Hibernate : public Device {
public:
    static constexpr uint32_t kRtcMatch0 = 0x01, kPinWake = 0x08;
    static constexpr uint32_t kWakePin = 0x10, kWakeRtc = 0x08;

    Hibernate(Board& board, HibState& state) : board_(board), s_(state), last_look_(board.now()) {}

    // The module clock gate of the chip; the battery-backed state needs no model of it.
    void enable_clock() {}
    void clock_config(uint32_t config);
    void rtc_enable();
    void rtc_set(uint32_t seconds);
    uint32_t rtc_get() const;
    void trim_set(uint32_t trim) { s_.trim = trim; }
    void match_set(uint32_t seconds) { s_.match0 = seconds; }
    uint32_t match_get() const { return s_.match0; }
    void wake_set(uint32_t sources) { s_.wake_sources = sources; }
    uint32_t raw_status() const { return s_.raw_status; }
    void int_clear(uint32_t flags) { s_.raw_status &= ~flags; }
    void int_disable(uint32_t flags) { s_.int_mask &= ~flags; }
    bool active() const { return s_.active != 0; }
    void request();

    Nanos next_event() const override;
    void run_until(Nanos now) override;

    HibState& state() { return s_; }

private:
    Board& board_;
    HibState& s_;
    Nanos last_look_;
};

// Clock arithmetic shared by the awake board and the runner's hibernation.
uint32_t rtc_seconds_at(const HibState& s, Nanos now);
void rtc_sync(HibState& s, Nanos now);  // fold elapsed whole seconds into the count
// Virtual time at which the counter reaches `seconds`, kNever if it never does.
Nanos rtc_time_of(const HibState& s, uint32_t seconds);

}  // namespace sim
