// The register-level backend against a fake register map: the values and
// the order of the register accesses the TM4C123GH6PGE data sheet asks for.
// Register addresses are written out here from the data sheet, independently
// of the backend's own register table.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "fake_hw.h"
#include "platform.h"

namespace {

// System control
constexpr uint32_t RCC = 0x400FE060, RCC2 = 0x400FE070, PLLSTAT = 0x400FE168;
constexpr uint32_t RCC_RESET = 0x078E3AD1, RCC2_RESET = 0x07C06810;
constexpr uint32_t RCGCUART = 0x400FE618;
// UART0 (console) and UART2
constexpr uint32_t U0_DR = 0x4000C000, U0_CTL = 0x4000C030;
constexpr uint32_t U2 = 0x4000E000;
constexpr uint32_t U_DR = 0x000, U_FR = 0x018, U_IBRD = 0x024, U_FBRD = 0x028, U_LCRH = 0x02C, U_CTL = 0x030,
                   U_IFLS = 0x034;
// Hibernation module
constexpr uint32_t HIB_RTCM0 = 0x400FC004, HIB_RTCLD = 0x400FC00C, HIB_CTL = 0x400FC010, HIB_IC = 0x400FC020,
                   HIB_RTCT = 0x400FC024;
constexpr uint32_t WRC = 1u << 31;
// EEPROM
constexpr uint32_t EEBLOCK = 0x400AF004, EEOFFSET = 0x400AF008, EERDWRINC = 0x400AF014, EEDONE = 0x400AF018,
                   EESUPP = 0x400AF01C, SREEPROM = 0x400FE558;

class Backend : public ::testing::Test {
protected:
    void SetUp() override { fake::reset(); }

    // Makes the console UART look clocked and running, so that timeout
    // reports reach it.
    void console_running()
    {
        c.at(RCGCUART) = 1;
        c.at(U0_CTL) = 0x301;
    }

    fake::Chip& c = fake::chip();
};

// ---------------------------------------------------------------------------
// UART

struct BaudCase {
    uint32_t baud;
    uint32_t ibrd;
    uint32_t fbrd;
};

class UartBaud : public Backend, public ::testing::WithParamInterface<BaudCase> {};

TEST_P(UartBaud, DivisorsFrom16MHzLatchedWithTheUartStopped)
{
    const BaudCase k = GetParam();
    c.at(U2 + U_CTL) = 0x301;  // running from an earlier configuration
    uart_config_8n1(UART2_BASE, PIOSC_HZ, k.baud);

    EXPECT_EQ(c.at(U2 + U_IBRD), k.ibrd);
    EXPECT_EQ(c.at(U2 + U_FBRD), k.fbrd);
    const double rate = 16e6 / (16.0 * (k.ibrd + k.fbrd / 64.0));
    EXPECT_NEAR(rate, k.baud, k.baud * 0.005);

    // Stopped before the divisors change; LCRH (8 bits, FIFOs) written after
    // them, since that write latches them; running again at the end.
    const size_t ibrd = c.first_write(U2 + U_IBRD);
    const size_t stop = c.first_write(U2 + U_CTL);
    ASSERT_NE(stop, fake::Chip::npos);
    EXPECT_LT(stop, ibrd);
    EXPECT_EQ(c.log[stop].value & 1u, 0u) << "UARTEN must be clear while reprogramming";
    EXPECT_GT(c.first_write(U2 + U_LCRH, c.first_write(U2 + U_FBRD)), c.first_write(U2 + U_FBRD));
    EXPECT_EQ(c.at(U2 + U_LCRH) & 0x7Eu, 0x70u);   // WLEN 8 bits, FEN, 1 stop bit, no parity
    EXPECT_EQ(c.at(U2 + U_CTL) & 0x321u, 0x301u);  // UARTEN, TXE, RXE; no HSE
}

INSTANTIATE_TEST_SUITE_P(Rates, UartBaud,
                         ::testing::Values(BaudCase{9600, 104, 11}, BaudCase{115200, 8, 44}));

TEST_F(Backend, UartConfigurationLeavesAStoppedUartStopped)
{
    uart_config_8n1(UART2_BASE, PIOSC_HZ, 9600);
    EXPECT_EQ(c.at(U2 + U_CTL) & 1u, 0u);
    EXPECT_EQ(c.at(U2 + U_IBRD), 104u);
    uart_enable(UART2_BASE);
    EXPECT_EQ(c.at(U2 + U_CTL) & 0x301u, 0x301u);
    EXPECT_EQ(c.at(U2 + U_LCRH) & 0x10u, 0x10u);  // FIFOs on
}

TEST_F(Backend, UartReconfigurationWaitsForTheLastFrame)
{
    c.at(U2 + U_CTL) = 0x301;
    c.on_read[U2 + U_FR] = fake::after_reads(5, 1u << 3, 0);  // BUSY for five reads
    uart_config_8n1(UART2_BASE, PIOSC_HZ, 9600);
    EXPECT_EQ(c.reads_of(U2 + U_FR), 6u);
    const size_t stop = c.first_write(U2 + U_CTL);
    size_t last_fr = 0;
    for (size_t i = 0; i < c.log.size(); ++i)
        if (!c.log[i].write && c.log[i].addr == U2 + U_FR) last_fr = i;
    EXPECT_GT(stop, last_fr);
}

TEST_F(Backend, UartFifoTriggerLevels)
{
    uart_fifo_levels(UART2_BASE, UartFifoLevel::Eighth, UartFifoLevel::Eighth);
    EXPECT_EQ(c.at(U2 + U_IFLS), 0x00u);
    uart_fifo_levels(UART2_BASE, UartFifoLevel::ThreeQuarters, UartFifoLevel::Half);
    EXPECT_EQ(c.at(U2 + U_IFLS), 0x13u);
}

TEST_F(Backend, UartReadsOnlyWhenTheFifoHoldsData)
{
    c.at(U2 + U_FR) = 1u << 4;  // RXFE
    EXPECT_EQ(uart_char_get_nb(UART2_BASE), -1);
    EXPECT_FALSE(uart_chars_avail(UART2_BASE));
    c.at(U2 + U_FR) = 0;
    c.at(U2 + U_DR) = 0x45A;  // overrun flag with the byte 0x5A
    EXPECT_EQ(uart_char_get_nb(UART2_BASE), 0x5A);
    EXPECT_EQ(uart_char_get_nb(0x40012000u), -1) << "not a UART of this board";
}

TEST_F(Backend, BlockingPutWaitsForRoomThenWrites)
{
    c.at(U2 + U_CTL) = 0x301;
    c.on_read[U2 + U_FR] = fake::after_reads(3, 1u << 5, 0);  // TXFF three times
    UARTCharPut(UART2_BASE, 'x');
    EXPECT_EQ(c.written_bytes(U2 + U_DR), "x");
    EXPECT_EQ(c.reads_of(U2 + U_FR), 4u);
}

TEST_F(Backend, BlockingPutOnAStuckUartGivesUpAndSaysSo)
{
    console_running();
    c.at(U2 + U_CTL) = 0x301;
    c.on_read[U2 + U_FR] = [](uint32_t) { return 1u << 5; };  // full for ever
    UARTCharPut(UART2_BASE, 'x');
    EXPECT_EQ(c.written_bytes(U2 + U_DR), "");
    EXPECT_LT(c.reads_of(U2 + U_FR), 1000u);
    EXPECT_EQ(c.written_bytes(U0_DR), "\r\nUART transmit timed out\r\n");
}

TEST_F(Backend, BlockingPutOnAStoppedUartReturnsAtOnce)
{
    UARTCharPut(UART2_BASE, 'x');
    EXPECT_EQ(c.reads_of(U2 + U_FR), 0u);
    EXPECT_EQ(c.written_bytes(U2 + U_DR), "");
}

// ---------------------------------------------------------------------------
// I2C master

struct I2cCase {
    bool fast;
    uint32_t tpr;
    uint32_t limit_hz;
};

class I2cRate : public Backend, public ::testing::WithParamInterface<I2cCase> {};

TEST_P(I2cRate, TimerPeriodAt50MHzNeverExceedsTheMode)
{
    const I2cCase k = GetParam();
    i2c_master_init(I2C0_BASE, SYSTEM_CLOCK_HZ, k.fast);
    EXPECT_EQ(c.at(0x40020020), 0x10u);  // MCR: master function enabled
    EXPECT_EQ(c.at(0x4002000C), k.tpr);  // MTPR
    const double scl = 50e6 / (20.0 * (1 + k.tpr));
    EXPECT_LE(scl, k.limit_hz);
    EXPECT_GE(scl, k.limit_hz * 0.85);
}

INSTANTIATE_TEST_SUITE_P(Modes, I2cRate,
                         ::testing::Values(I2cCase{false, 24, 100000}, I2cCase{true, 6, 400000}));

TEST_F(Backend, I2cAddressDirectionAndCommand)
{
    i2c_master_slave_addr(I2C0_BASE, 0x50, true);
    EXPECT_EQ(c.at(0x40020000), 0xA1u);
    i2c_master_slave_addr(I2C0_BASE, 0x50, false);
    EXPECT_EQ(c.at(0x40020000), 0xA0u);

    // BUSY shows a few reads after the command; a caller polling busy
    // straight after control() must not see the idle bus of before.
    c.on_read[0x40020004] = fake::after_reads(3, 0, 1);
    i2c_master_control(I2C0_BASE, I2C_CMD_BURST_SEND_START);
    EXPECT_EQ(c.writes_to(0x40020004), std::vector<uint32_t>{0x03});
    EXPECT_TRUE(i2c_master_busy(I2C0_BASE));
}

// ---------------------------------------------------------------------------
// SSI

struct SsiCase {
    uint32_t rate;
    uint32_t cpsdvsr;
    uint32_t scr;
};

class SsiRate : public Backend, public ::testing::WithParamInterface<SsiCase> {};

TEST_P(SsiRate, PrescaleAndClockRateAt50MHz)
{
    const SsiCase k = GetParam();
    constexpr uint32_t S1 = 0x40009000;
    c.at(S1 + 0x004) = 0x2;  // enabled from before
    ssi_config_master(SSI1_BASE, SYSTEM_CLOCK_HZ, SsiMode::Mode1, k.rate, 8);
    EXPECT_EQ(c.at(S1 + 0x010), k.cpsdvsr);
    EXPECT_EQ(c.at(S1 + 0x000) >> 8, k.scr);
    EXPECT_EQ(c.at(S1 + 0x000) & 0xFFu, 0x87u);  // SPH (mode 1), SPO 0, SPI frames, 8 bits
    const uint32_t actual = SYSTEM_CLOCK_HZ / (k.cpsdvsr * (1 + k.scr));
    EXPECT_LE(actual, k.rate);
    // Disabled, as a master, before the rate changes.
    const size_t cpsr = c.first_write(S1 + 0x010);
    const size_t cr1 = c.first_write(S1 + 0x004);
    EXPECT_LT(cr1, cpsr);
    EXPECT_EQ(c.at(S1 + 0x004), 0u);
}

INSTANTIATE_TEST_SUITE_P(Rates, SsiRate,
                         ::testing::Values(SsiCase{400000, 2, 62}, SsiCase{1000000, 2, 24},
                                           SsiCase{12500000, 2, 1}, SsiCase{50000, 4, 249}));

TEST_F(Backend, SsiModesSetPolarityAndPhase)
{
    const uint32_t want[] = {0x07, 0x87, 0x47, 0xC7};
    for (int m = 0; m < 4; ++m) {
        ssi_config_master(SSI0_BASE, SYSTEM_CLOCK_HZ, static_cast<SsiMode>(m), 400000, 8);
        EXPECT_EQ(c.at(0x40008000) & 0xFFu, want[m]) << "mode " << m;
    }
}

TEST_F(Backend, SsiGetWithNothingComingIsBounded)
{
    console_running();
    uint32_t v = 0xDEAD;
    ssi_get(SSI3_BASE, &v);
    EXPECT_EQ(v, 0u);
    EXPECT_EQ(c.written_bytes(U0_DR), "\r\nSSI receive timed out\r\n");
}

// ---------------------------------------------------------------------------
// SysTick and NVIC

TEST_F(Backend, SysTickTenMillisecondsFromTheSystemClock)
{
    systick_period(SYSTEM_CLOCK_HZ / 100);
    EXPECT_EQ(c.at(0xE000E014), 499999u);
    systick_int_enable();
    systick_enable();
    EXPECT_EQ(c.at(0xE000E010) & 0x7u, 0x7u);  // system clock source, interrupt, enabled
    systick_period(1u << 25);
    EXPECT_EQ(c.at(0xE000E014), 0xFFFFFFu) << "the reload register is 24 bits wide";
}

TEST_F(Backend, InterruptEnableAndDisableBits)
{
    int_enable(INT_UART0);
    int_enable(INT_UART5);
    int_disable(INT_UART3);
    int_enable(NUM_INTERRUPTS);
    EXPECT_EQ(c.writes_to(0xE000E100), std::vector<uint32_t>{1u << 5});
    EXPECT_EQ(c.writes_to(0xE000E104), std::vector<uint32_t>{1u << 29});
    EXPECT_EQ(c.writes_to(0xE000E184), std::vector<uint32_t>{1u << 27});
    EXPECT_EQ(c.writes_to(0xE000E108), std::vector<uint32_t>{}) << "out of range";
}

TEST_F(Backend, MasterMaskReportsThePreviousState)
{
    EXPECT_FALSE(int_master_disable());
    EXPECT_TRUE(c.primask);
    EXPECT_TRUE(int_master_disable());
    EXPECT_TRUE(int_master_enable());
    EXPECT_FALSE(c.primask);
    EXPECT_FALSE(int_master_enable());
}

// ---------------------------------------------------------------------------
// System control

struct PeriphCase {
    Periph p;
    uint32_t class_offset;
    uint32_t bit;
};

class PeriphBits : public Backend, public ::testing::WithParamInterface<PeriphCase> {};

TEST_P(PeriphBits, ClockGateResetReadyAndPresentRegisters)
{
    const PeriphCase k = GetParam();
    const uint32_t rcgc = 0x400FE600 + k.class_offset, sr = 0x400FE500 + k.class_offset,
                   pr = 0x400FEA00 + k.class_offset, pp = 0x400FE300 + k.class_offset;
    sysctl_periph_enable(k.p);
    EXPECT_EQ(c.at(rcgc), k.bit);
    sysctl_periph_reset(k.p);
    EXPECT_EQ(c.writes_to(sr), (std::vector<uint32_t>{k.bit, 0}));
    EXPECT_FALSE(sysctl_periph_ready(k.p));
    c.at(pr) = k.bit;
    EXPECT_TRUE(sysctl_periph_ready(k.p));
    c.at(pp) = ~k.bit;
    EXPECT_FALSE(sysctl_periph_present(k.p));
    sysctl_periph_disable(k.p);
    EXPECT_EQ(c.at(rcgc), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Peripherals, PeriphBits,
    ::testing::Values(PeriphCase{Periph::GPIOA, 0x08, 1u << 0}, PeriphCase{Periph::GPIOJ, 0x08, 1u << 8},
                      PeriphCase{Periph::GPIOP, 0x08, 1u << 13}, PeriphCase{Periph::UART3, 0x18, 1u << 3},
                      PeriphCase{Periph::SSI1, 0x1C, 1u << 1}, PeriphCase{Periph::I2C0, 0x20, 1u << 0},
                      PeriphCase{Periph::ADC0, 0x38, 1u << 0}, PeriphCase{Periph::HIBERNATE, 0x14, 1u << 0},
                      PeriphCase{Periph::EEPROM0, 0x58, 1u << 0}));

TEST_F(Backend, ClockTo50MHzFromTheCrystalThroughThePll)
{
    c.at(RCC) = RCC_RESET;
    c.at(RCC2) = RCC2_RESET;
    c.on_read[PLLSTAT] = fake::after_reads(4, 0, 1);
    sysctl_clock_set_50mhz();

    const uint32_t rcc = c.at(RCC), rcc2 = c.at(RCC2);
    EXPECT_EQ((rcc >> 6) & 0x1Fu, 0x15u) << "16 MHz crystal";
    EXPECT_EQ(rcc & 1u, 0u) << "main oscillator on";
    EXPECT_NE(rcc2 & (1u << 31), 0u) << "RCC2 in use";
    EXPECT_EQ((rcc2 >> 4) & 0x7u, 0u) << "main oscillator as source";
    EXPECT_EQ(rcc2 & (1u << 13), 0u) << "PLL powered";
    EXPECT_EQ((rcc2 >> 23) & 0x3Fu, 3u) << "200 MHz / 4";
    EXPECT_EQ(rcc2 & (1u << 30), 0u) << "no 400 MHz divider";
    EXPECT_EQ(rcc2 & (1u << 11), 0u) << "PLL output in use";
    EXPECT_EQ(sysctl_clock_get(), 50000000u);

    // Bypassed from the first write until the PLL reported lock.
    size_t last_lock_read = 0, unbypass = 0;
    for (size_t i = 0; i < c.log.size(); ++i) {
        const fake::Access& a = c.log[i];
        if (!a.write && a.addr == PLLSTAT) last_lock_read = i;
        if (a.write && a.addr == RCC2 && (a.value & (1u << 11)) == 0 && unbypass == 0) unbypass = i;
    }
    EXPECT_EQ(c.log[c.first_write(RCC2)].value & (1u << 11), 1u << 11);
    EXPECT_GT(unbypass, last_lock_read);
    EXPECT_FALSE(c.delays.empty()) << "the crystal is given time to start";
}

TEST_F(Backend, ClockStaysOnTheCrystalWhenThePllDoesNotLock)
{
    console_running();
    c.at(RCC) = RCC_RESET;
    c.at(RCC2) = RCC2_RESET;
    sysctl_clock_set_50mhz();
    EXPECT_NE(c.at(RCC2) & (1u << 11), 0u) << "still bypassed";
    EXPECT_EQ(sysctl_clock_get(), 16000000u);
    EXPECT_EQ(c.written_bytes(U0_DR), "\r\nPLL lock timed out\r\n");
}

TEST_F(Backend, DelaysUseThreeCycleTurns)
{
    delay_ms(3);
    EXPECT_EQ(c.delays, std::vector<uint32_t>{3u * 16667u});
}

TEST_F(Backend, FpuFullAccessAndLazyStacking)
{
    fpu_enable_lazy_stacking();
    EXPECT_EQ(c.at(0xE000ED88) & (0xFu << 20), 0xFu << 20);
    EXPECT_EQ(c.at(0xE000EF34) & 0xC0000000u, 0xC0000000u);
}

// ---------------------------------------------------------------------------
// GPIO

TEST_F(Backend, PortBasesApbForAToJAhbForKToP)
{
    const uint32_t base[] = {0x40004000, 0x40005000, 0x40006000, 0x40007000, 0x40024000,
                             0x40025000, 0x40026000, 0x40027000, 0x4003D000, 0x40061000,
                             0x40062000, 0x40063000, 0x40064000, 0x40065000};
    for (size_t p = 0; p < GPIO_PORT_COUNT; ++p) {
        fake::reset();
        gpio_write(static_cast<GpioPort>(p), 0x24, 0x20);
        // Address bits 9:2 carry the pin mask.
        EXPECT_EQ(c.writes_to(base[p] + (0x24u << 2)), std::vector<uint32_t>{0x20}) << "port " << p;
    }
}

TEST_F(Backend, ReadsReturnOnlyTheAskedPins)
{
    c.on_read[0x40065000 + (0x04u << 2)] = [](uint32_t) { return 0xFFu; };
    EXPECT_EQ(gpio_read(GpioPort::P, 0x04), 0x04);
}

TEST_F(Backend, OutputOnTheLockedPinPD7IsUnlockedAndCommitted)
{
    constexpr uint32_t D = 0x40007000;
    gpio_output(GpioPort::D, 0x80);
    const size_t unlock = c.first_write(D + 0x520);
    ASSERT_NE(unlock, fake::Chip::npos);
    EXPECT_EQ(c.log[unlock].value, 0x4C4F434Bu);
    EXPECT_EQ(c.at(D + 0x524) & 0x80u, 0x80u);                      // committed
    EXPECT_LT(c.first_write(D + 0x524), c.first_write(D + 0x51C));  // before DEN changes
    EXPECT_EQ(c.at(D + 0x400), 0x80u);                              // output
    EXPECT_EQ(c.at(D + 0x51C), 0x80u);                              // digital
    EXPECT_EQ(c.at(D + 0x420), 0u);                                 // GPIO, not a peripheral
    EXPECT_EQ(c.at(D + 0x528), 0u);                                 // not analog

    fake::reset();
    gpio_output(GpioPort::D, 0x10);
    EXPECT_EQ(c.first_write(D + 0x520), fake::Chip::npos) << "PD4 needs no unlock";
}

TEST_F(Backend, PeripheralPinKinds)
{
    constexpr uint32_t B = 0x40005000, D = 0x40007000;
    gpio_peripheral_pins(GpioPort::B, 0x04, PinKind::I2cScl);
    gpio_peripheral_pins(GpioPort::B, 0x08, PinKind::I2cSda);
    EXPECT_EQ(c.at(B + 0x420), 0x0Cu);  // AFSEL
    EXPECT_EQ(c.at(B + 0x50C), 0x08u);  // open drain on SDA only
    EXPECT_EQ(c.at(B + 0x51C), 0x0Cu);  // digital

    gpio_peripheral_pins(GpioPort::D, 0xA0, PinKind::Analog);
    EXPECT_EQ(c.at(D + 0x528), 0xA0u);  // AMSEL
    EXPECT_EQ(c.at(D + 0x51C), 0u);     // not digital
    EXPECT_EQ(c.at(D + 0x420), 0xA0u);  // AFSEL
    EXPECT_EQ(c.at(D + 0x400), 0u);     // input
}

TEST_F(Backend, PinFunctionTouchesOnlyItsField)
{
    constexpr uint32_t PCTL = 0x4000452C;
    c.at(PCTL) = 0x11111111;
    gpio_pin_function(GpioPort::A, 2, 2);
    EXPECT_EQ(c.at(PCTL), 0x11111211u);
}

TEST_F(Backend, PadDriveAndPulls)
{
    constexpr uint32_t A = 0x40004000;
    gpio_pad(GpioPort::A, 0x10, 8, PadType::PullUp);
    EXPECT_EQ(c.at(A + 0x508), 0x10u);  // 8 mA
    EXPECT_EQ(c.at(A + 0x510), 0x10u);  // pull-up
    EXPECT_EQ(c.at(A + 0x514), 0u);
    EXPECT_EQ(c.at(A + 0x50C), 0u);
}

// ---------------------------------------------------------------------------
// Hibernation module: every write framed by write-complete polls

bool hib_reg(uint32_t addr)
{
    return addr >= 0x400FC000 && addr < 0x400FC070;
}

// Each write to a hibernation register must follow a read of HIBCTL that
// showed WRC, with no other hibernation write in between, and must itself be
// followed by such a read.
void expect_writes_framed(const std::vector<fake::Access>& log)
{
    bool ready = false;
    bool pending = false;
    for (const fake::Access& a : log) {
        if (!hib_reg(a.addr)) continue;
        if (a.write) {
            EXPECT_TRUE(ready) << "write of 0x" << std::hex << a.addr << " without WRC seen";
            ready = false;
            pending = true;
        } else if (a.addr == HIB_CTL && (a.value & WRC)) {
            ready = true;
            pending = false;
        }
    }
    EXPECT_FALSE(pending) << "last write not followed by a write-complete poll";
}

class Hib : public Backend {
protected:
    void SetUp() override
    {
        Backend::SetUp();
        // After each write WRC stays clear for three reads, as the slow
        // hibernation clock domain takes its time.
        c.on_write = [this](uint32_t addr, uint32_t) {
            if (hib_reg(addr)) busy = 3;
        };
        c.on_read[HIB_CTL] = [this](uint32_t v) { return busy-- > 0 ? v & ~WRC : v | WRC; };
    }

    int busy = 0;
};

TEST_F(Hib, FirstWriteWaitsForAWriteStillUnderWay)
{
    busy = 5;  // e.g. a write made just before a reset
    hib_rtc_match_set(1000);
    expect_writes_framed(c.log);
    EXPECT_EQ(c.at(HIB_RTCM0), 1000u);
}

TEST_F(Hib, ClockSequenceWithWriteCompleteWaits)
{
    hib_enable_clock(SYSTEM_CLOCK_HZ);
    hib_clock_config(HIB_OSC_LOWDRIVE);
    hib_rtc_enable();
    hib_rtc_trim_set(0x7FFF);
    hib_rtc_set(3900000000u);
    hib_rtc_match_set(3900000060u);
    hib_wake_set(HIB_WAKE_PIN | HIB_WAKE_RTC);
    hib_int_clear(HIB_INT_RTC_MATCH_0 | HIB_INT_PIN_WAKE);
    expect_writes_framed(c.log);

    const uint32_t ctl = c.at(HIB_CTL);
    EXPECT_EQ(ctl & 0x40u, 0x40u);  // CLK32EN
    EXPECT_EQ(ctl & 0x01u, 0x01u);  // RTCEN
    EXPECT_EQ(ctl & 0x18u, 0x18u);  // PINWEN, RTCWEN
    EXPECT_EQ(ctl & 0x30000u, 0u);  // crystal, low drive
    EXPECT_EQ(c.at(HIB_RTCT), 0x7FFFu);
    EXPECT_EQ(c.at(HIB_RTCLD), 3900000000u);
    EXPECT_EQ(c.at(HIB_RTCM0), 3900000060u);
    EXPECT_EQ(c.writes_to(HIB_IC), std::vector<uint32_t>{0x09});
}

TEST_F(Hib, WakeSourcesReplaceEachOtherAndKeepTheRest)
{
    c.at(HIB_CTL) = 0x41;  // CLK32EN, RTCEN
    hib_wake_set(HIB_WAKE_PIN | HIB_WAKE_RTC);
    hib_wake_set(HIB_WAKE_PIN);
    EXPECT_EQ(c.at(HIB_CTL) & 0x7FFFFFFFu, 0x51u);
    expect_writes_framed(c.log);
}

TEST_F(Hib, RequestSetsHibreqAndReturns)
{
    c.at(HIB_CTL) = 0x59;
    hib_request();
    EXPECT_EQ(c.at(HIB_CTL) & 0x7FFFFFFFu, 0x5Bu);
    expect_writes_framed(c.log);
}

TEST_F(Hib, ReleasingPinsLeavesVdd3onMode)
{
    c.at(HIB_CTL) = 0x141;
    hib_release_pins();
    EXPECT_EQ(c.at(HIB_CTL) & 0x7FFFFFFFu, 0x41u);
}

TEST_F(Backend, HibWriteWithoutWriteCompleteIsBoundedAndReported)
{
    console_running();
    hib_rtc_set(5);
    EXPECT_LT(c.reads_of(HIB_CTL), 2000u);
    EXPECT_EQ(c.at(HIB_RTCLD), 5u);
    EXPECT_NE(c.written_bytes(U0_DR).find("hibernation register write timed out"), std::string::npos);
}

TEST_F(Backend, HibActiveMeansItsClockRuns)
{
    EXPECT_FALSE(hib_is_active());
    c.at(HIB_CTL) = 0x40;
    EXPECT_TRUE(hib_is_active());
}

// ---------------------------------------------------------------------------
// EEPROM

TEST_F(Backend, EepromInitWaitsResetsAndChecksAgain)
{
    c.on_read[EEDONE] = fake::after_reads(3, 1, 0);
    EXPECT_EQ(eeprom_init(), 0u);
    EXPECT_EQ(c.writes_to(SREEPROM), (std::vector<uint32_t>{1, 0}));
    EXPECT_EQ(c.reads_of(EESUPP), 2u);
    // WORKING polled until clear before the reset.
    EXPECT_GE(c.reads_of(EEDONE), 4u);
}

TEST_F(Backend, EepromInitRefusesAPendingRetry)
{
    c.at(EESUPP) = 1u << 3;  // PRETRY
    EXPECT_NE(eeprom_init(), 0u);
    EXPECT_TRUE(c.writes_to(SREEPROM).empty());
}

TEST_F(Backend, EepromProgramsWordByWordAcrossABlock)
{
    // Word 254 is block 15, offset 14: the transfer crosses into block 16.
    const uint32_t data[4] = {0x11111111, 0x22222222, 0x33333333, 0x44444444};
    auto working = std::make_shared<int>(0);
    c.on_write = [working](uint32_t addr, uint32_t) {
        if (addr == EERDWRINC) *working = 2;
    };
    c.on_read[EEDONE] = [working](uint32_t) { return (*working)-- > 0 ? 1u : 0u; };

    EXPECT_EQ(eeprom_program(data, 0x3F8, sizeof data), 0u);
    EXPECT_EQ(c.writes_to(EERDWRINC), std::vector<uint32_t>(data, data + 4));
    EXPECT_EQ(c.writes_to(EEBLOCK), (std::vector<uint32_t>{15, 16}));
    EXPECT_EQ(c.writes_to(EEOFFSET), (std::vector<uint32_t>{14, 0}));
    // The block moves on only after the second word, and every word is
    // waited for before the next is written.
    const size_t second_block = c.first_write(EEBLOCK, c.first_write(EEBLOCK) + 1);
    ASSERT_NE(second_block, fake::Chip::npos);
    size_t words_before = 0;
    for (size_t i = 0; i < second_block; ++i)
        if (c.log[i].write && c.log[i].addr == EERDWRINC) ++words_before;
    EXPECT_EQ(words_before, 2u);
    EXPECT_GE(c.reads_of(EEDONE), 4u * 3u);
}

TEST_F(Backend, EepromProgramStopsAtTheFirstError)
{
    const uint32_t data[3] = {1, 2, 3};
    c.at(EEDONE) = 1u << 4;  // NOPERM
    EXPECT_EQ(eeprom_program(data, 0x400, sizeof data), 1u << 4);
    EXPECT_EQ(c.writes_to(EERDWRINC).size(), 1u);
}

TEST_F(Backend, EepromProgramThatNeverCompletesIsBoundedAndReported)
{
    console_running();
    const uint32_t data[1] = {7};
    c.at(EEDONE) = 1;  // WORKING for ever
    EXPECT_NE(eeprom_program(data, 0, sizeof data), 0u);
    EXPECT_LT(c.reads_of(EEDONE), 2000u);
    EXPECT_EQ(c.written_bytes(U0_DR), "\r\nEEPROM operation timed out\r\n");
}

TEST_F(Backend, EepromRefusesWritesPastItsEnd)
{
    const uint32_t data[2] = {1, 2};
    EXPECT_NE(eeprom_program(data, 0x7FC, sizeof data), 0u);
    EXPECT_TRUE(c.writes_to(EERDWRINC).empty());
}

TEST_F(Backend, EepromReadsTheStoredRecordWordByWord)
{
    // The 376-byte configuration image at byte 0x400: 94 words, blocks 16 to 21.
    auto next = std::make_shared<uint32_t>(0);
    c.on_read[EERDWRINC] = [next](uint32_t) { return (*next)++; };
    std::vector<uint32_t> out(94, 0xFFFFFFFF);
    eeprom_read(out.data(), 0x400, 376);
    for (uint32_t i = 0; i < 94; ++i) EXPECT_EQ(out[i], i);
    EXPECT_EQ(c.writes_to(EEBLOCK), (std::vector<uint32_t>{16, 17, 18, 19, 20, 21}));
    EXPECT_EQ(c.reads_of(EERDWRINC), 94u);
}

// ---------------------------------------------------------------------------
// ADC sequencer 0

constexpr uint32_t ADC = 0x40038000;

TEST_F(Backend, AdcStepsSetInputAndControlNibbles)
{
    adc_seq_step(ADC0_BASE, 0, 2, 17 | ADC_STEP_IE | ADC_STEP_END);
    adc_seq_step(ADC0_BASE, 0, 0, ADC_STEP_TS);
    EXPECT_EQ(c.at(ADC + 0x040), 0x00000100u);  // SSMUX0: AIN17's low bits in step 2
    EXPECT_EQ(c.at(ADC + 0x058), 0x00000100u);  // SSEMUX0: its high bit
    EXPECT_EQ(c.at(ADC + 0x044), 0x00000608u);  // SSCTL0: step 2 IE|END, step 0 TS
    adc_seq_step(ADC0_BASE, 0, 8, 1);           // sequencer 0 has 8 steps
    EXPECT_EQ(c.writes_to(ADC + 0x040).size(), 2u);
}

TEST_F(Backend, AdcAveragingTriggerAndStatus)
{
    adc_hw_oversample(ADC0_BASE, 64);
    EXPECT_EQ(c.at(ADC + 0x030), 6u);
    adc_hw_oversample(ADC0_BASE, 4);
    EXPECT_EQ(c.at(ADC + 0x030), 2u);
    adc_seq_configure(ADC0_BASE, 0, ADC_TRIGGER_PROCESSOR, 0);
    EXPECT_EQ(c.at(ADC + 0x014) & 0xFu, 0u);
    adc_seq_enable(ADC0_BASE, 0);
    EXPECT_EQ(c.at(ADC + 0x000), 1u);
    adc_processor_trigger(ADC0_BASE, 0);
    EXPECT_EQ(c.writes_to(ADC + 0x028), std::vector<uint32_t>{1});
    EXPECT_FALSE(adc_int_status_raw(ADC0_BASE, 0));
    c.at(ADC + 0x004) = 1;
    EXPECT_TRUE(adc_int_status_raw(ADC0_BASE, 0));
    adc_int_clear(ADC0_BASE, 0);
    EXPECT_EQ(c.writes_to(ADC + 0x00C), std::vector<uint32_t>{1});
}

TEST_F(Backend, AdcDataDrainsTheFifoButNoMoreThanItsDepth)
{
    c.on_read[ADC + 0x04C] = fake::after_reads(3, 0, 1u << 8);  // three results, then EMPTY
    c.on_read[ADC + 0x048] = [](uint32_t) { return 0xF123u; };
    uint32_t buf[8] = {};
    EXPECT_EQ(adc_seq_data_get(ADC0_BASE, 0, buf), 3u);
    EXPECT_EQ(buf[0], 0x123u);

    fake::reset();
    c.at(ADC + 0x04C) = 0;  // never empty
    uint32_t full[8] = {};
    EXPECT_EQ(adc_seq_data_get(ADC0_BASE, 0, full), 8u);
}

}  // namespace
