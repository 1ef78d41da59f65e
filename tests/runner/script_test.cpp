// The simulator's console scripts and command line.
#include "script.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "options.h"

namespace {

using runner::ScriptCommand;

TEST(Script, ParsesCommandsEscapesAndLimits)
{
    std::vector<ScriptCommand> s;
    std::string err;
    ASSERT_TRUE(
        runner::parse_script("# comment\n\n  send \"a\\r\\n\\t\\\\\\\"\\x1b\\x7F\"\n"
                             "expect \"Menu\"\nexpect \"x\" 2.5\nwait 0.25\n",
                             &s, &err))
        << err;
    ASSERT_EQ(s.size(), 4u);
    EXPECT_EQ(s[0].kind, ScriptCommand::Send);
    EXPECT_EQ(s[0].text, std::string("a\r\n\t\\\"\x1b\x7f"));
    EXPECT_EQ(s[1].duration, runner::kDefaultExpectLimit);
    EXPECT_EQ(s[2].duration, 2500 * sim::kMilli);
    EXPECT_EQ(s[3].kind, ScriptCommand::Wait);
    EXPECT_EQ(s[3].duration, 250 * sim::kMilli);
    EXPECT_EQ(s[3].line, 6);
}

TEST(Script, RefusesMalformedLinesNamingTheLine)
{
    const char* bad[] = {"send abc",    "send \"abc",        "send \"\\q\"", "send \"\\x4\"",
                         "expect \"\"", "expect \"a\" soon", "wait",         "wait -1",
                         "type \"a\"",  "send \"a\" extra"};
    for (const char* line : bad) {
        std::vector<ScriptCommand> s;
        std::string err;
        EXPECT_FALSE(runner::parse_script(std::string("wait 1\n") + line + "\n", &s, &err)) << line;
        EXPECT_NE(err.find("line 2"), std::string::npos) << err;
    }
}

class ScriptRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        world_ = std::make_unique<runner::World>();
        std::memset(world_.get(), 0, sizeof(runner::World));
        world_->host.clear();
    }
    void output(const std::string& text)
    {
        for (char c : text) world_->out.append(c);
    }
    std::unique_ptr<runner::World> world_;
};

TEST_F(ScriptRun, ExpectMatchesOnlyOutputAfterThePreviousMatch)
{
    std::vector<ScriptCommand> s;
    std::string err;
    ASSERT_TRUE(runner::parse_script("expect \"OK\"\nexpect \"OK\" 1\nsend \"go\"\n", &s, &err));
    output("boot OK");
    EXPECT_EQ(runner::script_step(s, *world_, 0), sim::kSecond + 1);  // waits for a second OK
    EXPECT_EQ(world_->script.pc, 1u);
    output(" O");
    runner::script_step(s, *world_, 10);
    EXPECT_EQ(world_->script.pc, 1u);
    output("K");  // the match may straddle two arrivals
    runner::script_step(s, *world_, 20);
    EXPECT_TRUE(world_->script.done);
    EXPECT_EQ(world_->host.count, 2u);
}

TEST_F(ScriptRun, ExpectFailsAfterItsLimitAndWaitEndsOnTime)
{
    std::vector<ScriptCommand> s;
    std::string err;
    ASSERT_TRUE(runner::parse_script("wait 2\nexpect \"never\" 1\n", &s, &err));
    EXPECT_EQ(runner::script_step(s, *world_, 0), 2 * sim::kSecond);
    runner::script_step(s, *world_, 2 * sim::kSecond);
    EXPECT_EQ(world_->script.pc, 1u);
    runner::script_step(s, *world_, 3 * sim::kSecond);
    EXPECT_FALSE(world_->script.failed);
    runner::script_step(s, *world_, 3 * sim::kSecond + 1);
    EXPECT_TRUE(world_->script.failed);
}

TEST_F(ScriptRun, LongOutputKeepsTheUnmatchedTail)
{
    std::vector<ScriptCommand> s;
    std::string err;
    ASSERT_TRUE(runner::parse_script("expect \"END\"\n", &s, &err));
    output(std::string(runner::OutputWindow::kCapacity + 100, 'x'));
    runner::script_step(s, *world_, 0);
    output("EN");
    runner::script_step(s, *world_, 1);
    output("D");
    runner::script_step(s, *world_, 2);
    EXPECT_TRUE(world_->script.done);
}

TEST(Options, ClockTextToSecondsSince1900)
{
    uint32_t t = 0;
    ASSERT_TRUE(runner::parse_clock("2026-12-11 04:38:54", &t));
    EXPECT_EQ(t, 4005952734u);
    ASSERT_TRUE(runner::parse_clock("1900-01-01 00:00:00", &t));
    EXPECT_EQ(t, 0u);
    for (const char* bad : {"2026-13-01 00:00:00", "2026-12-11", "2026-12-11 24:00:00", "2040-01-01 00:00:00",
                            "2026-12-11 04:38:54x"})
        EXPECT_FALSE(runner::parse_clock(bad, &t)) << bad;
}

}  // namespace
