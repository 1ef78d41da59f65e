// TM4C123GH6PGE registers used by the peripheral interface, named after the
// data sheet's registers and bit fields. Addresses are absolute; per-instance
// registers are offsets from the instance base.
#pragma once

#include <cstdint>

namespace reg {

// ---------------------------------------------------------------------------
// System control
namespace sysctl {
constexpr uint32_t BASE = 0x400FE000u;
constexpr uint32_t RIS = BASE + 0x050;
constexpr uint32_t RCC = BASE + 0x060;
constexpr uint32_t GPIOHBCTL = BASE + 0x06C;
constexpr uint32_t RCC2 = BASE + 0x070;
constexpr uint32_t PLLSTAT = BASE + 0x168;

// Peripheral-specific register blocks: PPxx (present), SRxx (software reset),
// RCGCxx (run-mode clock gating), PRxx (peripheral ready). One register per
// peripheral class, one bit per instance.
constexpr uint32_t PP_BASE = BASE + 0x300;
constexpr uint32_t SR_BASE = BASE + 0x500;
constexpr uint32_t RCGC_BASE = BASE + 0x600;
constexpr uint32_t PR_BASE = BASE + 0xA00;
// Offsets of each class inside those blocks.
constexpr uint32_t CLASS_GPIO = 0x08;
constexpr uint32_t CLASS_HIB = 0x14;
constexpr uint32_t CLASS_UART = 0x18;
constexpr uint32_t CLASS_SSI = 0x1C;
constexpr uint32_t CLASS_I2C = 0x20;
constexpr uint32_t CLASS_ADC = 0x38;
constexpr uint32_t CLASS_EEPROM = 0x58;

constexpr uint32_t RIS_PLLLRIS = 1u << 6;
constexpr uint32_t PLLSTAT_LOCK = 1u << 0;

constexpr uint32_t RCC_MOSCDIS = 1u << 0;
constexpr uint32_t RCC_OSCSRC_MASK = 0x3u << 4;
constexpr uint32_t RCC_OSCSRC_MOSC = 0x0u << 4;
constexpr uint32_t RCC_XTAL_MASK = 0x1Fu << 6;
constexpr uint32_t RCC_XTAL_16MHZ = 0x15u << 6;
constexpr uint32_t RCC_BYPASS = 1u << 11;
constexpr uint32_t RCC_PWRDN = 1u << 13;
constexpr uint32_t RCC_USESYSDIV = 1u << 22;
constexpr uint32_t RCC_SYSDIV_MASK = 0xFu << 23;

constexpr uint32_t RCC2_OSCSRC2_MASK = 0x7u << 4;
constexpr uint32_t RCC2_OSCSRC2_MOSC = 0x0u << 4;
constexpr uint32_t RCC2_BYPASS2 = 1u << 11;
constexpr uint32_t RCC2_PWRDN2 = 1u << 13;
constexpr uint32_t RCC2_USBPWRDN = 1u << 14;
constexpr uint32_t RCC2_SYSDIV2_SHIFT = 23;
constexpr uint32_t RCC2_SYSDIV2_MASK = 0x3Fu << 23;
constexpr uint32_t RCC2_SYSDIV2LSB = 1u << 22;
constexpr uint32_t RCC2_DIV400 = 1u << 30;
constexpr uint32_t RCC2_USERCC2 = 1u << 31;
}  // namespace sysctl

// ---------------------------------------------------------------------------
// GPIO (per port)
namespace gpio {
constexpr uint32_t DATA = 0x000;  // address bits 9:2 mask the access
constexpr uint32_t DIR = 0x400;
constexpr uint32_t AFSEL = 0x420;
constexpr uint32_t DR2R = 0x500;
constexpr uint32_t DR4R = 0x504;
constexpr uint32_t DR8R = 0x508;
constexpr uint32_t ODR = 0x50C;
constexpr uint32_t PUR = 0x510;
constexpr uint32_t PDR = 0x514;
constexpr uint32_t SLR = 0x518;
constexpr uint32_t DEN = 0x51C;
constexpr uint32_t LOCK = 0x520;
constexpr uint32_t CR = 0x524;
constexpr uint32_t AMSEL = 0x528;
constexpr uint32_t PCTL = 0x52C;

constexpr uint32_t LOCK_KEY = 0x4C4F434Bu;
}  // namespace gpio

// ---------------------------------------------------------------------------
// UART (per instance)
namespace uart {
constexpr uint32_t DR = 0x000;
constexpr uint32_t RSR = 0x004;
constexpr uint32_t FR = 0x018;
constexpr uint32_t IBRD = 0x024;
constexpr uint32_t FBRD = 0x028;
constexpr uint32_t LCRH = 0x02C;
constexpr uint32_t CTL = 0x030;
constexpr uint32_t IFLS = 0x034;
constexpr uint32_t IM = 0x038;
constexpr uint32_t RIS = 0x03C;
constexpr uint32_t MIS = 0x040;
constexpr uint32_t ICR = 0x044;
constexpr uint32_t CC = 0xFC8;

constexpr uint32_t FR_BUSY = 1u << 3;
constexpr uint32_t FR_RXFE = 1u << 4;
constexpr uint32_t FR_TXFF = 1u << 5;
constexpr uint32_t FR_RXFF = 1u << 6;
constexpr uint32_t FR_TXFE = 1u << 7;

constexpr uint32_t LCRH_FEN = 1u << 4;
constexpr uint32_t LCRH_WLEN_8 = 0x3u << 5;

constexpr uint32_t CTL_UARTEN = 1u << 0;
constexpr uint32_t CTL_HSE = 1u << 5;
constexpr uint32_t CTL_TXE = 1u << 8;
constexpr uint32_t CTL_RXE = 1u << 9;

constexpr uint32_t IFLS_TX_SHIFT = 0;
constexpr uint32_t IFLS_RX_SHIFT = 3;

constexpr uint32_t CC_CS_SYSCLK = 0x0;
constexpr uint32_t CC_CS_PIOSC = 0x5;

constexpr uint32_t FIFO_DEPTH = 16;
}  // namespace uart

// ---------------------------------------------------------------------------
// SSI (per instance)
namespace ssi {
constexpr uint32_t CR0 = 0x000;
constexpr uint32_t CR1 = 0x004;
constexpr uint32_t DR = 0x008;
constexpr uint32_t SR = 0x00C;
constexpr uint32_t CPSR = 0x010;
constexpr uint32_t CC = 0xFC8;

constexpr uint32_t CR0_DSS_MASK = 0xFu;
constexpr uint32_t CR0_FRF_SPI = 0x0u << 4;
constexpr uint32_t CR0_SPO = 1u << 6;
constexpr uint32_t CR0_SPH = 1u << 7;
constexpr uint32_t CR0_SCR_SHIFT = 8;

constexpr uint32_t CR1_SSE = 1u << 1;
constexpr uint32_t CR1_MS = 1u << 2;

constexpr uint32_t SR_TFE = 1u << 0;
constexpr uint32_t SR_TNF = 1u << 1;
constexpr uint32_t SR_RNE = 1u << 2;
constexpr uint32_t SR_BSY = 1u << 4;

constexpr uint32_t CC_CS_SYSCLK = 0x0;
}  // namespace ssi

// ---------------------------------------------------------------------------
// I2C master (per instance)
namespace i2c {
constexpr uint32_t MSA = 0x000;
constexpr uint32_t MCS = 0x004;
constexpr uint32_t MDR = 0x008;
constexpr uint32_t MTPR = 0x00C;
constexpr uint32_t MCR = 0x020;

constexpr uint32_t MSA_RS = 1u << 0;  // 1 = receive
constexpr uint32_t MCS_BUSY = 1u << 0;
constexpr uint32_t MCR_MFE = 1u << 4;
}  // namespace i2c

// ---------------------------------------------------------------------------
// ADC (per module). Sample sequencer n registers start at SS_BASE + n * SS_STRIDE.
namespace adc {
constexpr uint32_t ACTSS = 0x000;
constexpr uint32_t RIS = 0x004;
constexpr uint32_t ISC = 0x00C;
constexpr uint32_t EMUX = 0x014;
constexpr uint32_t SSPRI = 0x020;
constexpr uint32_t PSSI = 0x028;
constexpr uint32_t SAC = 0x030;
constexpr uint32_t SS_BASE = 0x040;
constexpr uint32_t SS_STRIDE = 0x020;
constexpr uint32_t SSMUX = 0x00;
constexpr uint32_t SSCTL = 0x04;
constexpr uint32_t SSFIFO = 0x08;
constexpr uint32_t SSFSTAT = 0x0C;
constexpr uint32_t SSEMUX = 0x18;

constexpr uint32_t SSFSTAT_EMPTY = 1u << 8;
constexpr uint32_t SSFIFO_DATA_MASK = 0xFFFu;
constexpr uint32_t SEQUENCERS = 4;
constexpr uint32_t FIFO_DEPTH[SEQUENCERS] = {8, 4, 4, 1};
}  // namespace adc

// ---------------------------------------------------------------------------
// Core peripherals: SysTick, NVIC, FPU
namespace core {
constexpr uint32_t STCTRL = 0xE000E010u;
constexpr uint32_t STRELOAD = 0xE000E014u;
constexpr uint32_t STCURRENT = 0xE000E018u;
constexpr uint32_t EN0 = 0xE000E100u;
constexpr uint32_t DIS0 = 0xE000E180u;
constexpr uint32_t CPACR = 0xE000ED88u;
constexpr uint32_t FPCCR = 0xE000EF34u;

constexpr uint32_t STCTRL_ENABLE = 1u << 0;
constexpr uint32_t STCTRL_INTEN = 1u << 1;
constexpr uint32_t STCTRL_CLK_SRC = 1u << 2;  // 1 = system clock
constexpr uint32_t STRELOAD_MAX = 0x00FFFFFFu;

constexpr uint32_t CPACR_CP10_CP11_FULL = 0xFu << 20;
constexpr uint32_t FPCCR_LSPEN = 1u << 30;
constexpr uint32_t FPCCR_ASPEN = 1u << 31;
}  // namespace core

// ---------------------------------------------------------------------------
// Hibernation module
namespace hib {
constexpr uint32_t BASE = 0x400FC000u;
constexpr uint32_t RTCC = BASE + 0x000;
constexpr uint32_t RTCM0 = BASE + 0x004;
constexpr uint32_t RTCLD = BASE + 0x00C;
constexpr uint32_t CTL = BASE + 0x010;
constexpr uint32_t IM = BASE + 0x014;
constexpr uint32_t RIS = BASE + 0x018;
constexpr uint32_t MIS = BASE + 0x01C;
constexpr uint32_t IC = BASE + 0x020;
constexpr uint32_t RTCT = BASE + 0x024;

constexpr uint32_t CTL_RTCEN = 1u << 0;
constexpr uint32_t CTL_HIBREQ = 1u << 1;
constexpr uint32_t CTL_RTCWEN = 1u << 3;
constexpr uint32_t CTL_PINWEN = 1u << 4;
constexpr uint32_t CTL_CLK32EN = 1u << 6;
constexpr uint32_t CTL_VDD3ON = 1u << 8;
constexpr uint32_t CTL_OSCBYP = 1u << 16;
constexpr uint32_t CTL_OSCDRV = 1u << 17;
constexpr uint32_t CTL_WRC = 1u << 31;
constexpr uint32_t CTL_WAKE_MASK = CTL_RTCWEN | CTL_PINWEN;
constexpr uint32_t CTL_OSC_MASK = CTL_OSCBYP | CTL_OSCDRV;
}  // namespace hib

// ---------------------------------------------------------------------------
// EEPROM
namespace eeprom {
constexpr uint32_t BASE = 0x400AF000u;
constexpr uint32_t EESIZE = BASE + 0x000;
constexpr uint32_t EEBLOCK = BASE + 0x004;
constexpr uint32_t EEOFFSET = BASE + 0x008;
constexpr uint32_t EERDWR = BASE + 0x010;
constexpr uint32_t EERDWRINC = BASE + 0x014;
constexpr uint32_t EEDONE = BASE + 0x018;
constexpr uint32_t EESUPP = BASE + 0x01C;

constexpr uint32_t EEDONE_WORKING = 1u << 0;
constexpr uint32_t EESUPP_ERETRY = 1u << 2;
constexpr uint32_t EESUPP_PRETRY = 1u << 3;
constexpr uint32_t EESIZE_WORDCNT_MASK = 0xFFFFu;

constexpr uint32_t WORDS_PER_BLOCK = 16;
}  // namespace eeprom

}  // namespace reg
