#include "hibernate.h"

namespace sim {

uint32_t rtc_seconds_at(const HibState& s, Nanos now)
{
    if (!s.rtc_enabled || now < s.rtc_anchor) return s.rtc_seconds;
    return s.rtc_seconds + static_cast<uint32_t>((now - s.rtc_anchor) / kSecond);
}

void rtc_sync(HibState& s, Nanos now)
{
    if (!s.rtc_enabled) {
        s.rtc_anchor = now;
        return;
    }
    if (now < s.rtc_anchor) return;
    const uint64_t whole = (now - s.rtc_anchor) / kSecond;
    s.rtc_seconds += static_cast<uint32_t>(whole);
    s.rtc_anchor += whole * kSecond;
}

Nanos rtc_time_of(const HibState& s, uint32_t seconds)
{
    if (!s.rtc_enabled || seconds <= s.rtc_seconds) return kNever;
    return s.rtc_anchor + static_cast<Nanos>(seconds - s.rtc_seconds) * kSecond;
}

void Hibernate::clock_config(uint32_t config)
{
    s_.clock_config = config;
    s_.active = 1;
}

void Hibernate::rtc_enable()
{
    if (!s_.rtc_enabled) {
        s_.rtc_anchor = board_.now();
        s_.rtc_enabled = 1;
    }
    s_.active = 1;
}

void Hibernate::rtc_set(uint32_t seconds)
{
    s_.rtc_seconds = seconds;
    s_.rtc_anchor = board_.now();
}

uint32_t Hibernate::rtc_get() const
{
    return rtc_seconds_at(s_, board_.now());
}

void Hibernate::request()
{
    // Hibernation needs the module clocked and a wake source armed;
    // otherwise the request has no effect and the processor keeps running.
    if (!s_.active || !(s_.wake_sources & (kWakePin | kWakeRtc))) return;
    rtc_sync(s_, board_.now());
    s_.hibernating = 1;
    board_.power_off();
    if (board_.hooks.hibernate) board_.hooks.hibernate();
}

Nanos Hibernate::next_event() const
{
    // The match fires when the counter steps onto it; a match already passed
    // waits for the counter to wrap.
    if (s_.match0 <= rtc_seconds_at(s_, board_.now())) return kNever;
    return rtc_time_of(s_, s_.match0);
}

void Hibernate::run_until(Nanos now)
{
    // Fire when the count stepped onto the match since the last look.
    const uint32_t before = rtc_seconds_at(s_, last_look_);
    const uint32_t after = rtc_seconds_at(s_, now);
    if (now > last_look_ && before < s_.match0 && s_.match0 <= after) s_.raw_status |= kRtcMatch0;
    last_look_ = now;
}

}  // namespace sim
