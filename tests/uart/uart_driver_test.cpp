// The buffered serial port driver on the simulated UARTs: ring capacity,
// LF translation, line editing with echo, line reads, flushing and
// reconfiguration, for the console and the four instrument ports.
#include <string>

#include "Aux1.h"
#include "Aux2.h"
#include "Optode.h"
#include "Salinor.h"
#include "gpio.h"
#include "platform.h"
#include "support/board_fixture.h"
#include "uartstdio.h"

namespace {

using sim::kMilli;
using sim::kSecond;
using testing_support::BoardFixture;

const unsigned char* bytes(const std::string& s)
{
    return reinterpret_cast<const unsigned char*>(s.data());
}

// Time for n characters at a rate, with the receive time-out on top.
sim::Nanos chars_time(size_t n, uint32_t baud)
{
    return (n + 4) * sim::char_time(baud) + kMilli;
}

// What each instance offers the tests; AUX ports have no putc.
struct Instance {
    const char* name;
    int uart;
    void (*config)(uint32_t, uint32_t, uint32_t);
    int (*write)(const unsigned char*, uint32_t);
    int (*putc)(const unsigned char);
    int (*tx_free)();
    int (*peek)(unsigned char);
    void (*flush_rx)();
    void (*echo)(bool);
    uint32_t rx_size, tx_size;
};

const Instance kInstances[] = {
    {"console", 0, UARTStdioConfig, UARTwrite, nullptr, UARTTxBytesFree, UARTPeek, UARTFlushRx, UARTEchoSet,
     2048, 1024},
    {"CTD", 4, Salinor_UARTConfig, Salinor_UARTwrite, Salinor_putc, Salinor_UARTTxBytesFree, Salinor_UARTPeek,
     Salinor_UARTFlushRx, Salinor_UARTEchoSet, 2048, 128},
    {"optode", 3, Optode_UARTConfig, Optode_UARTwrite, Optode_putc, Optode_UARTTxBytesFree, Optode_UARTPeek,
     Optode_UARTFlushRx, Optode_UARTEchoSet, 512, 128},
    {"AUX 1", 2, AUX1_UARTConfig, AUX1_UARTwrite, nullptr, AUX1_UARTTxBytesFree, AUX1_UARTPeek,
     AUX1_UARTFlushRx, AUX1_UARTEchoSet, 128, 1024},
    {"AUX 2", 5, AUX2_UARTConfig, AUX2_UARTwrite, nullptr, AUX2_UARTTxBytesFree, AUX2_UARTPeek,
     AUX2_UARTFlushRx, AUX2_UARTEchoSet, 128, 1024},
};

constexpr uint32_t kInstrumentBaud = 9600;

uint32_t uart_base(int n)
{
    return UART0_BASE + 0x1000u * static_cast<uint32_t>(n);
}

class UartPorts : public BoardFixture {
protected:
    void SetUp() override
    {
        BoardFixture::SetUp();
        sysctl_clock_set_50mhz();
    }
    void configure(const Instance& p, bool echo)
    {
        p.config(static_cast<uint32_t>(p.uart), kInstrumentBaud, PIOSC_HZ);
        p.echo(echo);
    }
    // Fills a transmit ring with the UART stopped: the hardware FIFO takes
    // what it can, then the ring fills up. Returns the bytes accepted.
    size_t fill_stopped(const Instance& p)
    {
        uart_disable(uart_base(p.uart));
        const std::string big(p.tx_size + 64, 'x');
        size_t accepted = static_cast<size_t>(p.write(bytes(big), static_cast<uint32_t>(big.size())));
        EXPECT_EQ(accepted, p.tx_size - 1) << "a ring of N takes N - 1 bytes";
        for (int i = 0; i < 64 && p.tx_free() > 1; ++i)
            accepted += static_cast<size_t>(p.write(bytes("x"), 1));
        return accepted;
    }
};

TEST_F(UartPorts, ReceiveRingsKeepOneLessThanTheirSizeAndDropTheRest)
{
    for (const auto& p : kInstances) {
        SCOPED_TRACE(p.name);
        configure(p, false);
        const std::string in = std::string(p.rx_size - 2, 'a') + "zy";
        type(p.uart, in);
        run_for(chars_time(in.size(), kInstrumentBaud));
        EXPECT_EQ(p.peek('z'), static_cast<int>(p.rx_size - 2));
        EXPECT_EQ(p.peek('y'), -1) << "the byte beyond N - 1 is dropped";
        EXPECT_EQ(output(p.uart), "") << "echo off: nothing sent back";
    }
}

TEST_F(UartPorts, FullTransmitRingRefusesMoreAndReportsOneFree)
{
    for (const auto& p : kInstances) {
        SCOPED_TRACE(p.name);
        configure(p, false);
        const size_t accepted = fill_stopped(p);
        EXPECT_EQ(p.tx_free(), 1);
        EXPECT_EQ(p.write(bytes("q"), 1), 0);
        if (p.putc) {
            EXPECT_EQ(p.putc('q'), 0);
        }
        // Nothing accepted is lost once the UART runs again.
        uart_enable(uart_base(p.uart));
        run_for(chars_time(accepted, kInstrumentBaud));
        EXPECT_EQ(output(p.uart), std::string(accepted, 'x'));
        EXPECT_EQ(p.tx_free(), static_cast<int>(p.tx_size));
    }
}

TEST_F(UartPorts, ReconfiguringDiscardsQueuedOutputAndUnreadInput)
{
    for (const auto& p : kInstances) {
        SCOPED_TRACE(p.name);
        configure(p, false);
        type(p.uart, "unread\r");
        run_for(chars_time(8, kInstrumentBaud));
        ASSERT_EQ(p.peek('u'), 0);
        const std::string out(100, 'o');
        ASSERT_EQ(p.write(bytes(out), 100), 100);
        p.config(static_cast<uint32_t>(p.uart), kInstrumentBaud, PIOSC_HZ);
        EXPECT_EQ(p.peek('u'), -1);
        EXPECT_EQ(p.tx_free(), static_cast<int>(p.tx_size));
        run_for(chars_time(100, kInstrumentBaud));
        // At most what was already in the hardware FIFO still goes out.
        EXPECT_LE(output(p.uart).size(), 17u);
    }
}

TEST_F(UartPorts, PutcSendsTheByteUntranslated)
{
    for (const auto& p : kInstances) {
        if (!p.putc) continue;
        SCOPED_TRACE(p.name);
        configure(p, false);
        EXPECT_EQ(p.putc('\n'), 1);
        EXPECT_EQ(p.putc('A'), 1);
        EXPECT_EQ(p.write(bytes("\n"), 1), 1);
        run_for(chars_time(4, kInstrumentBaud));
        EXPECT_EQ(output(p.uart), "\nA\r\n");
    }
}

TEST_F(UartPorts, AuxEchoGoesBackOnItsOwnPortAndStopsWhenTheRingIsFull)
{
    const Instance& aux = kInstances[3];
    configure(aux, true);
    type(aux.uart, std::string(127, 'a') + "b");
    run_for(chars_time(128, kInstrumentBaud) + chars_time(128, kInstrumentBaud));
    EXPECT_EQ(output(aux.uart), std::string(127, 'a')) << "a dropped byte is not echoed";
    EXPECT_EQ(console_output(), "");
    EXPECT_EQ(aux.peek('b'), -1);
    aux.echo(false);
}

TEST_F(UartPorts, OpenAux1PowersItsSwitchesAndTurnsEchoOff)
{
    const Instance& aux = kInstances[3];
    configure(aux, true);
    for (Signal s : {Signal::Aux1Power, Signal::AuxCommonPower}) pin_output(s, false);
    Open_AUX1();
    EXPECT_TRUE(board_->gpio().level(Signal::Aux1Power));
    EXPECT_TRUE(board_->gpio().level(Signal::AuxCommonPower));
    type(aux.uart, "x\r");
    run_for(chars_time(2, kInstrumentBaud));
    EXPECT_EQ(output(aux.uart), "");
    EXPECT_EQ(aux.peek('\r'), 1);
    Close_AUX1();
    EXPECT_FALSE(board_->gpio().level(Signal::Aux1Power));
    EXPECT_FALSE(board_->gpio().level(Signal::AuxCommonPower));
}

// ---------------------------------------------------------------------------
// The console

constexpr uint32_t kConsoleBaud = 115200;

class UartConsole : public UartPorts {
protected:
    void SetUp() override
    {
        UartPorts::SetUp();
        UARTStdioConfig(0, kConsoleBaud, PIOSC_HZ);
        UARTEchoSet(true);
    }
    void key_in(const std::string& s)
    {
        console_type(s);
        run_for(chars_time(s.size(), kConsoleBaud) * 2);  // the echo takes as long again
    }
    std::string drain()
    {
        std::string s;
        while (UARTRxBytesAvail() > 0) s.push_back(static_cast<char>(UARTgetc()));
        return s;
    }
    // What the terminal has received by now, without waiting for the rest.
    std::string sent_so_far() { return peer_[0].take(); }
    int gets(std::string* line, uint32_t len)
    {
        char buf[64];
        const int n = UARTgets(buf, len);
        *line = buf;
        return n;
    }
};

struct WriteCase {
    std::string text;
    int returned;
    std::string sent;
};

TEST_F(UartConsole, WriteSendsEveryLfAsCrLfAndCountsOnlySourceBytes)
{
    const WriteCase cases[] = {
        {"a\nb", 3, "a\r\nb"},
        {"\n\n", 2, "\r\n\r\n"},
        {"\r\n", 2, "\r\r\n"},
        {"", 0, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(UARTwrite(bytes(c.text), static_cast<uint32_t>(c.text.size())), c.returned) << c.text;
        run_for(chars_time(c.sent.size(), kConsoleBaud));
        EXPECT_EQ(console_output(), c.sent);
    }
}

TEST_F(UartConsole, LfAtTheLastFreeSlotQueuesOnlyItsCr)
{
    const Instance& p = kInstances[0];
    uart_disable(UART0_BASE);
    ASSERT_EQ(UARTwrite(bytes(std::string(1023, 'x')), 1023), 1023);
    size_t queued = 1023;
    while (UARTTxBytesFree() > 2) queued += static_cast<size_t>(UARTwrite(bytes("y"), 1));
    EXPECT_EQ(UARTwrite(bytes("\n"), 1), 0);
    EXPECT_EQ(UARTTxBytesFree(), 1);
    uart_enable(UART0_BASE);
    run_for(chars_time(queued + 1, kConsoleBaud));
    const std::string out = console_output();
    EXPECT_EQ(out.size(), queued + 1);
    EXPECT_EQ(out.substr(out.size() - 2), "y\r");
    EXPECT_EQ(p.tx_free(), 1024);
}

struct EditCase {
    const char* what;
    std::string typed, stored, echoed;
};

TEST_F(UartConsole, EchoOnEditsTheLineAsTyped)
{
    const EditCase cases[] = {
        {"Enter from a CR LF terminal", "abc\r\n", "abc\r", "abc\r\n\r"},
        {"LF alone ends a line", "abc\n", "abc\n", "abc\r\n\r"},
        {"ESC ends a line like Enter", "ab\x1b", "ab\x1b", "ab\r\n\r"},
        {"DEL is an ordinary byte", "ab\x7f", "ab\x7f", "ab\x7f"},
        {"backspace rubs out", "ab\bc", "ac", "ab\b \bc"},
        {"backspace on an empty ring", "\b\bx", "x", "x"},
        {"backspace can take back a line end", "a\r\b", "a", "a\r\n\r\b \b"},
        {"an LF long after a CR is still swallowed", "a\rx\n", "a\rx", "a\r\n\rx"},
        {"only the first LF after a CR goes", "\r\n\n", "\r\n", "\r\n\r\r\n\r"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        UARTStdioConfig(0, kConsoleBaud, PIOSC_HZ);  // a fresh line each time
        key_in(c.typed);
        EXPECT_EQ(drain(), c.stored);
        EXPECT_EQ(console_output(), c.echoed);
    }
}

TEST_F(UartConsole, EchoOffStoresEveryByteAsItCame)
{
    UARTEchoSet(false);
    const std::string raw = "a\b\r\n\x1b\x7f\n";
    key_in(raw);
    EXPECT_EQ(drain(), raw);
    EXPECT_EQ(console_output(), "");
}

TEST_F(UartConsole, BackspaceStepsTheWriteIndexBackAcrossTheWrap)
{
    UARTEchoSet(false);
    // Bring both indexes to the last slot, then store one byte there so
    // that the write index wraps to 0.
    key_in(std::string(2047, 'a'));
    ASSERT_EQ(drain(), std::string(2047, 'a'));
    key_in("x");
    ASSERT_EQ(UARTRxBytesAvail(), 1);
    UARTEchoSet(true);
    key_in("\b");
    EXPECT_EQ(UARTRxBytesAvail(), 0);
    EXPECT_EQ(console_output(), "\b \b");
    key_in("y");
    EXPECT_EQ(drain(), "y");
}

TEST_F(UartConsole, GetsEndsAtCrLfOrEscAndKeepsAtMostLenMinusOne)
{
    UARTEchoSet(false);
    std::string line;
    key_in("abc\r\n");
    EXPECT_EQ(gets(&line, 64), 3);
    EXPECT_EQ(line, "abc");
    ASSERT_EQ(UARTRxBytesAvail(), 1);
    EXPECT_EQ(gets(&line, 64), 0) << "the LF of the CR LF is an empty line";
    EXPECT_EQ(line, "");

    key_in("whole line\r");
    EXPECT_EQ(gets(&line, 1), 0);
    EXPECT_EQ(line, "");
    EXPECT_EQ(UARTRxBytesAvail(), 0) << "the whole line is consumed";

    key_in("abcdef\x1bxy\n");
    EXPECT_EQ(gets(&line, 4), 3);
    EXPECT_EQ(line, "abc");
    EXPECT_EQ(gets(&line, 4), 2);
    EXPECT_EQ(line, "xy");
    EXPECT_EQ(UARTRxBytesAvail(), 0);
}

TEST_F(UartConsole, EnterWithEchoGivesOneLineAndNoEmptyOne)
{
    std::string line;
    key_in("abc\r\n");
    EXPECT_EQ(gets(&line, 64), 3);
    EXPECT_EQ(line, "abc");
    EXPECT_EQ(UARTRxBytesAvail(), 0);
    EXPECT_EQ(console_output(), "abc\r\n\r");
}

TEST_F(UartConsole, PeekCountsFromTheOldestUnreadByte)
{
    EXPECT_EQ(UARTPeek('\r'), -1);
    UARTEchoSet(false);
    key_in("abc\rdef");
    EXPECT_EQ(UARTgetc(), 'a');
    EXPECT_EQ(UARTgetc(), 'b');
    EXPECT_EQ(UARTPeek('\r'), 1);
    EXPECT_EQ(UARTPeek('f'), 4);
    EXPECT_EQ(UARTPeek('a'), -1) << "read bytes are not searched";
    EXPECT_EQ(UARTRxBytesAvail(), 5) << "peeking consumes nothing";
}

TEST_F(UartConsole, FlushTxWithoutDiscardReturnsWhileTheFifoStillSends)
{
    const std::string text(200, 'f');
    ASSERT_EQ(UARTwrite(bytes(text), 200), 200);
    UARTFlushTx(false);
    EXPECT_EQ(UARTTxBytesFree(), 1024);
    EXPECT_TRUE(board_->uart(0).busy());
    EXPECT_LT(sent_so_far().size(), 200u);
    run_for(chars_time(20, kConsoleBaud));
    EXPECT_FALSE(board_->uart(0).busy());
}

TEST_F(UartConsole, FlushTxWithDiscardDropsQueuedOutput)
{
    ASSERT_EQ(UARTwrite(bytes(std::string(200, 'd')), 200), 200);
    UARTFlushTx(true);
    EXPECT_EQ(UARTTxBytesFree(), 1024);
    run_for(chars_time(200, kConsoleBaud));
    EXPECT_LE(console_output().size(), 17u);
}

TEST_F(UartConsole, At9600ACharacterTakesAMillisecondOnTheLine)
{
    UARTStdioConfig(0, 9600, PIOSC_HZ);
    ASSERT_EQ(UARTwrite(bytes(std::string(96, 't')), 96), 96);
    run_for(50 * kMilli);
    const size_t half = sent_so_far().size();
    EXPECT_GE(half, 47u);
    EXPECT_LE(half, 48u);
    run_for(60 * kMilli);
    EXPECT_EQ(half + sent_so_far().size(), 96u);

    // Typing comes in at the same rate, and the echo goes back at it.
    console_type("hi\r");
    run_for(20 * kMilli);
    EXPECT_EQ(console_output(), "hi\r\n\r");
    EXPECT_EQ(drain(), "hi\r");
}

TEST_F(UartConsole, ConfiguringAPortBeyondTheTableChangesNothing)
{
    UARTStdioConfig(3, 9600, PIOSC_HZ);  // the console table ends at UART2
    EXPECT_FALSE(board_->uart(3).enabled());
    EXPECT_EQ(board_->uart(0).baud(), kConsoleBaud);
    ASSERT_EQ(UARTwrite(bytes("ok"), 2), 2);
    run_for(chars_time(2, kConsoleBaud));
    EXPECT_EQ(console_output(), "ok");
}

}  // namespace
