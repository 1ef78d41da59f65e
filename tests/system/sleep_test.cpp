// Hibernation entry, wake decoding and the 10 ms tick.
#include "Sleep.h"

#include <csetjmp>
#include <cstring>

#include "System.h"
#include "eeprom.h"
#include "gpio.h"
#include "hibernate.h"
#include "platform.h"
#include "support/board_fixture.h"

namespace {

using testing_support::BoardFixture;

jmp_buf g_powered_off;
void power_off()
{
    longjmp(g_powered_off, 1);
}

class Sleeping : public BoardFixture {
protected:
    void SetUp() override
    {
        BoardFixture::SetUp();
        start_console_and_fram();
        board_->hooks.hibernate = power_off;
        retrieveSysDataVariables();
        pin_output(Signal::ConsoleXcvr0, false);
        pin_output(Signal::ConsoleXcvr1, true);
        // A running clock, as after the first start.
        hib_enable_clock(SYSTEM_CLOCK_HZ);
        hib_clock_config(HIB_OSC_LOWDRIVE);
        hib_rtc_enable();
        hib_rtc_set(kNow);
        console_output();
    }

    // Runs sleep(); true when the chip powered off.
    bool enter_sleep(deploy_state s, uint32_t wake)
    {
        if (setjmp(g_powered_off) == 0) {
            sleep(s, wake);
            return false;
        }
        return true;
    }

    static constexpr uint32_t kNow = 3723753000u;
};

struct LeadCase {
    int64_t ahead;
    uint32_t expected_ahead;
};

TEST_F(Sleeping, DeployedWakeIsAtLeastTwoSecondsAhead)
{
    const LeadCase cases[] = {{1, 2}, {2, 2}, {-100, 2}, {0, 2}, {3, 3}, {600, 600}};
    for (const auto& c : cases) {
        const uint32_t now = hib_rtc_get();
        const uint32_t wake = static_cast<uint32_t>(now + c.ahead);
        sys_data.nextWakeUp = wake;
        ASSERT_TRUE(enter_sleep(DEPLOYED, wake)) << c.ahead;
        EXPECT_EQ(mem_.hib.match0, now + c.expected_ahead) << c.ahead;
        EXPECT_EQ(mem_.hib.wake_sources, HIB_WAKE_PIN | HIB_WAKE_RTC);
        // The stored schedule keeps the requested time.
        systemDataVolatile stored;
        std::memcpy(&stored, mem_.fram + 16, sizeof(stored));
        EXPECT_EQ(stored.nextWakeUp, wake);
        mem_.hib.hibernating = 0;
        board_->restore_power();
    }
}

TEST_F(Sleeping, AnnouncementsAndWakeSourcesPerState)
{
    struct Case {
        deploy_state state;
        uint32_t wake;
        output_mode mode;
        const char* text;
        uint32_t sources;
    } cases[] = {
        {COMMAND, 0, NORMAL, "\r\n\r\nSleeping... ", HIB_WAKE_PIN},
        {IDLE, 0, VERBOSE, "\r\n\r\nSleeping... hit any key to wake\r\n\r\n\r\n", HIB_WAKE_PIN},
        {DEPLOYED, 0, NORMAL, "\r\n\r\nSleeping in polled mode..\r\n\r\n\r\n", HIB_WAKE_PIN},
        {DEPLOYED, kNow + 100, VERBOSE, "\r\n\r\nSleeping until ", HIB_WAKE_PIN | HIB_WAKE_RTC},
    };
    for (const auto& c : cases) {
        sys_data.output = c.mode;
        ASSERT_TRUE(enter_sleep(c.state, c.wake));
        run_for(10 * sim::kMilli);
        const std::string out = console_output();
        EXPECT_EQ(out.rfind(c.text, 0), 0u) << out;
        EXPECT_EQ(mem_.hib.wake_sources, c.sources);
        systemDataVolatile stored;
        std::memcpy(&stored, mem_.fram + 16, sizeof(stored));
        EXPECT_EQ(stored.state, static_cast<uint32_t>(c.state));
        mem_.hib.hibernating = 0;
        board_->restore_power();
    }
}

TEST_F(Sleeping, SavesTheRecordsBeforeHibernating)
{
    sys_data.current_sample = 41;
    ASSERT_TRUE(enter_sleep(DEPLOYED, hib_rtc_get() + 20));
    systemDataVolatile stored;
    std::memcpy(&stored, mem_.fram + 16, sizeof(stored));
    EXPECT_EQ(stored.current_sample, 41u);
    EXPECT_EQ(stored.state, static_cast<uint32_t>(DEPLOYED));
    // The console transceiver is switched off.
    EXPECT_TRUE(board_->gpio().level(Signal::ConsoleXcvr0));
    EXPECT_FALSE(board_->gpio().level(Signal::ConsoleXcvr1));
}

TEST_F(Sleeping, SaveFailureReturnsWithoutHibernating)
{
    board_->eeprom().set_program_fails(true);
    EXPECT_FALSE(enter_sleep(IDLE, 0));
    EXPECT_NE(console_output().find("Error storing system data (sleep.c).\r\n"), std::string::npos);
    EXPECT_EQ(mem_.hib.hibernating, 0u);
}

TEST_F(Sleeping, RequestWithoutEffectIsReported)
{
    // With no wake source armable the module ignores the request.
    mem_.hib.active = 0;
    EXPECT_FALSE(enter_sleep(IDLE, 0));
    EXPECT_NE(console_output().find("\r\n\r\n\r\nHybernation error!\r\n\r\n\r\n"), std::string::npos);
}

struct WakeCase {
    deploy_state saved;
    uint32_t status;
    bool active;
    deploy_state expected;
};

TEST_F(Sleeping, WakeCauseDecidesTheState)
{
    const WakeCase cases[] = {
        {DEPLOYED, HIB_INT_RTC_MATCH_0, true, DEPLOYED},
        {DEPLOYED, HIB_INT_PIN_WAKE, true, COMMAND},
        {DEPLOYED, HIB_INT_PIN_WAKE | HIB_INT_RTC_MATCH_0, true, COMMAND},
        {COMMAND, HIB_INT_PIN_WAKE, true, COMMAND},
        {IDLE, HIB_INT_PIN_WAKE, true, IDLE},
        {DEPLOYED, HIB_INT_RESET_WAKE, true, IDLE},
        {DEPLOYED, HIB_INT_LOW_BAT, true, IDLE},
        {DEPLOYED, 0, true, IDLE},
        {DEPLOYED, HIB_INT_PIN_WAKE, false, IDLE},  // first power-up: status counts as zero
    };
    for (const auto& c : cases) {
        sys_data.state = c.saved;
        mem_.hib.raw_status = c.status;
        mem_.hib.active = c.active;
        sleep_handler();
        EXPECT_EQ(sys_data.state, c.expected) << c.saved << " status " << c.status;
        EXPECT_EQ(mem_.hib.raw_status & (c.active ? c.status : 0), 0u) << "status bits cleared";
        EXPECT_TRUE(mem_.hib.active);
    }
}

TEST_F(Sleeping, ColdStartStartsTheClockWithoutChangingIt)
{
    mem_.hib.active = 0;
    mem_.hib.rtc_enabled = 0;
    mem_.hib.rtc_seconds = 123;
    const sim::Nanos start = board_->now();
    sleep_handler();
    EXPECT_EQ(sys_data.state, IDLE);
    EXPECT_EQ(mem_.hib.rtc_enabled, 1u);
    EXPECT_EQ(mem_.hib.trim, HIB_TRIM);
    EXPECT_EQ(hib_rtc_get(), 123u);
    EXPECT_GE(board_->now() - start, 200 * sim::kMilli);
}

TEST_F(Sleeping, TenMillisecondTimerCountsTicksSinceReset)
{
    systick_period(SYSTEM_CLOCK_HZ / 100);
    systick_int_enable();
    systick_enable();
    EXPECT_EQ(Timer_10ms(1), 0u);
    run_for(55 * sim::kMilli);
    EXPECT_EQ(Timer_10ms(0), 5u);
    run_for(1000 * sim::kMilli);
    EXPECT_EQ(Timer_10ms(0), 105u);
}

TEST_F(Sleeping, RtcTimeIsTheCalendarOfTheClock)
{
    hib_rtc_set(3723753599u);  // 12/31/17 23:59:59
    const CalendarTime* t = get_RTC_time();
    EXPECT_EQ(t->year, 117);
    EXPECT_EQ(t->mon, 11);
    EXPECT_EQ(t->mday, 31);
    EXPECT_EQ(t->hour, 23);
    EXPECT_EQ(t->sec, 59);
}

}  // namespace
