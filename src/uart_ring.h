// One interrupt-driven, ring-buffered serial port driver, instantiated once
// per port (console, CTD, optode, AUX 1, AUX 2). Each module defines its
// instance's configuration type in an unnamed namespace, so every instance's
// state is private to its module.
//
// Ownership of the indexes: the receive write index belongs to the interrupt
// handler, the receive read index to foreground readers; the transmit read
// index belongs to PrimeTransmit; the transmit write index is advanced by
// foreground writers and by the handler's echo, which is why foreground
// appends mask the port's interrupt line.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "platform.h"

// ---------------------------------------------------------------------------
// Ring rules. Each helper reads each index once: the other side may move it.

inline bool IsBufferFull(const volatile uint32_t* pui32Read, const volatile uint32_t* pui32Write,
                         uint32_t ui32Size)
{
    const uint32_t ui32Write = *pui32Write;
    const uint32_t ui32Read = *pui32Read;
    return ((ui32Write + 1) % ui32Size) == ui32Read;
}

inline bool IsBufferEmpty(const volatile uint32_t* pui32Read, const volatile uint32_t* pui32Write)
{
    const uint32_t ui32Write = *pui32Write;
    const uint32_t ui32Read = *pui32Read;
    return ui32Write == ui32Read;
}

inline uint32_t GetBufferCount(const volatile uint32_t* pui32Read, const volatile uint32_t* pui32Write,
                               uint32_t ui32Size)
{
    const uint32_t ui32Write = *pui32Write;
    const uint32_t ui32Read = *pui32Read;
    return (ui32Write >= ui32Read) ? (ui32Write - ui32Read) : (ui32Size - ui32Read + ui32Write);
}

constexpr bool is_power_of_two(uint32_t n)
{
    return n != 0 && (n & (n - 1)) == 0;
}

// ---------------------------------------------------------------------------
// Port tables: port n is always UARTn.

namespace uart_ports {
inline constexpr uint32_t kBase[6] = {UART0_BASE, UART1_BASE, UART2_BASE, UART3_BASE, UART4_BASE, UART5_BASE};
inline constexpr uint32_t kInt[6] = {INT_UART0, INT_UART1, INT_UART2, INT_UART3, INT_UART4, INT_UART5};
inline constexpr Periph kPeriph[6] = {Periph::UART0, Periph::UART1, Periph::UART2,
                                      Periph::UART3, Periph::UART4, Periph::UART5};

template <size_t N, typename T>
constexpr std::array<T, N> first(const T (&all)[6])
{
    static_assert(N <= 6, "the chip has six UARTs");
    std::array<T, N> a{};
    for (size_t i = 0; i < N; ++i) a[i] = all[i];
    return a;
}
}  // namespace uart_ports

constexpr uint8_t ASCII_BS = 0x08;
constexpr uint8_t ASCII_LF = 0x0A;
constexpr uint8_t ASCII_CR = 0x0D;
constexpr uint8_t ASCII_ESC = 0x1B;

// ---------------------------------------------------------------------------
// Cfg provides kRxSize and kTxSize (powers of two) and kPortCount (entries of
// the port tables, the ports this instance may drive).
template <typename Cfg>
class UartInstance {
    static_assert(is_power_of_two(Cfg::kRxSize) && is_power_of_two(Cfg::kTxSize),
                  "ring sizes are powers of two so indexes advance with a mask");

public:
    static constexpr uint32_t kRxSize = Cfg::kRxSize;
    static constexpr uint32_t kTxSize = Cfg::kTxSize;

    static constexpr std::array<uint32_t, Cfg::kPortCount> g_ui32UARTBase =
        uart_ports::first<Cfg::kPortCount>(uart_ports::kBase);
    static constexpr std::array<uint32_t, Cfg::kPortCount> g_ui32UARTInt =
        uart_ports::first<Cfg::kPortCount>(uart_ports::kInt);
    static constexpr std::array<Periph, Cfg::kPortCount> g_ui32UARTPeriph =
        uart_ports::first<Cfg::kPortCount>(uart_ports::kPeriph);

    // A port outside the table counts as absent: nothing changes.
    static void Config(uint32_t ui32PortNum, uint32_t ui32Baud, uint32_t ui32SrcClock)
    {
        if (ui32PortNum >= Cfg::kPortCount || !sysctl_periph_present(g_ui32UARTPeriph[ui32PortNum])) return;

        g_ui32Base = g_ui32UARTBase[ui32PortNum];
        sysctl_periph_enable(g_ui32UARTPeriph[ui32PortNum]);
        uart_config_8n1(g_ui32Base, ui32SrcClock, ui32Baud);
        uart_fifo_levels(g_ui32Base, UartFifoLevel::Eighth, UartFifoLevel::Eighth);

        FlushRx();
        FlushTx(true);
        // A CR of the discarded input must not swallow the first LF after it.
        bLastWasCR = false;

        g_ui32PortNum = ui32PortNum;
        uart_int_disable(g_ui32Base, UART_INT_ALL);
        uart_int_enable(g_ui32Base, UART_INT_RX | UART_INT_RT);
        int_enable(g_ui32UARTInt[g_ui32PortNum]);
        uart_enable(g_ui32Base);
    }

    // Queues without waiting; every LF is preceded by a CR. Returns the
    // source bytes queued (inserted CRs not counted); the rest is lost.
    static int Write(const unsigned char* pcBuf, uint32_t ui32Len)
    {
        if (!configured()) return 0;
        // The receive handler's echo also appends to this ring.
        int_disable(line());
        uint32_t uIdx = 0;
        for (; uIdx < ui32Len; ++uIdx) {
            if (pcBuf[uIdx] == ASCII_LF && !tx_append(ASCII_CR)) break;
            if (!tx_append(pcBuf[uIdx])) break;
        }
        start_transmit();
        int_enable(line());
        return static_cast<int>(uIdx);
    }

    // One byte, untranslated: 1 when queued, 0 when the ring is full.
    static int Putc(unsigned char c)
    {
        if (!configured()) return 0;
        int_disable(line());
        const bool queued = tx_append(c);
        if (queued) start_transmit();
        int_enable(line());
        return queued ? 1 : 0;
    }

    // One line, ended by CR, LF or ESC (consumed, not stored). Keeps at most
    // ui32Len - 1 bytes, drops the rest of the line, zero-terminates.
    static int Gets(unsigned char* pcBuf, uint32_t ui32Len)
    {
        if (ui32Len == 0) return 0;  // no room even for the terminator
        uint32_t ui32Count = 0;
        for (;;) {
            const unsigned char cChar = take();
            if (cChar == ASCII_CR || cChar == ASCII_LF || cChar == ASCII_ESC) break;
            if (ui32Count < ui32Len - 1) pcBuf[ui32Count++] = cChar;
        }
        pcBuf[ui32Count] = 0;
        return static_cast<int>(ui32Count);
    }

    static unsigned char Getc() { return take(); }

    static int RxBytesAvail()
    {
        return static_cast<int>(GetBufferCount(&g_ui32UARTRxReadIndex, &g_ui32UARTRxWriteIndex, kRxSize));
    }

    static int TxBytesFree()
    {
        return static_cast<int>(kTxSize -
                                GetBufferCount(&g_ui32UARTTxReadIndex, &g_ui32UARTTxWriteIndex, kTxSize));
    }

    // Position of the first unread ucChar, counted from the oldest unread
    // byte, or -1. Consumes nothing.
    static int Peek(unsigned char ucChar)
    {
        const uint32_t ui32Count = GetBufferCount(&g_ui32UARTRxReadIndex, &g_ui32UARTRxWriteIndex, kRxSize);
        uint32_t ui32Idx = g_ui32UARTRxReadIndex;
        for (uint32_t ui32Pos = 0; ui32Pos < ui32Count; ++ui32Pos) {
            if (g_pcUARTRxBuffer[ui32Idx] == ucChar) return static_cast<int>(ui32Pos);
            ui32Idx = advance(ui32Idx, kRxSize);
        }
        return -1;
    }

    static void FlushRx()
    {
        const bool bWasMasked = int_master_disable();
        g_ui32UARTRxReadIndex = 0;
        g_ui32UARTRxWriteIndex = 0;
        if (!bWasMasked) int_master_enable();
    }

    // false: wait until the ring is empty (the hardware FIFO may still be
    // sending); true: discard what is queued.
    static void FlushTx(bool bDiscard)
    {
        if (!bDiscard) {
            while (configured() && !IsBufferEmpty(&g_ui32UARTTxReadIndex, &g_ui32UARTTxWriteIndex))
                platform_idle();
            return;
        }
        const bool bWasMasked = int_master_disable();
        g_ui32UARTTxReadIndex = 0;
        g_ui32UARTTxWriteIndex = 0;
        if (!bWasMasked) int_master_enable();
    }

    static void EchoSet(bool bEnable) { g_bDisableEcho = !bEnable; }

    static void IntHandler()
    {
        if (!configured()) return;
        const uint32_t ui32Ints = uart_int_status(g_ui32Base, true);
        uart_int_clear(g_ui32Base, ui32Ints);

        if (ui32Ints & UART_INT_TX) {
            PrimeTransmit(g_ui32Base);
            if (IsBufferEmpty(&g_ui32UARTTxReadIndex, &g_ui32UARTTxWriteIndex))
                uart_int_disable(g_ui32Base, UART_INT_TX);
        }

        if (ui32Ints & (UART_INT_RX | UART_INT_RT)) {
            while (uart_chars_avail(g_ui32Base))
                receive_byte(static_cast<uint8_t>(uart_char_get_nb(g_ui32Base)));
            PrimeTransmit(g_ui32Base);
            uart_int_enable(g_ui32Base, UART_INT_TX);
        }
    }

private:
    static bool configured() { return g_ui32Base != 0; }
    static uint32_t line() { return g_ui32UARTInt[g_ui32PortNum]; }
    static uint32_t advance(uint32_t ui32Index, uint32_t ui32Size)
    {
        return (ui32Index + 1) & (ui32Size - 1);
    }

    static bool tx_append(unsigned char c)
    {
        if (IsBufferFull(&g_ui32UARTTxReadIndex, &g_ui32UARTTxWriteIndex, kTxSize)) return false;
        const uint32_t ui32Write = g_ui32UARTTxWriteIndex;
        g_pcUARTTxBuffer[ui32Write] = c;
        g_ui32UARTTxWriteIndex = advance(ui32Write, kTxSize);
        return true;
    }

    // With the port's line masked by the caller.
    static void start_transmit()
    {
        if (IsBufferEmpty(&g_ui32UARTTxReadIndex, &g_ui32UARTTxWriteIndex)) return;
        move_to_fifo(g_ui32Base);
        uart_int_enable(g_ui32Base, UART_INT_TX);
    }

    static void move_to_fifo(uint32_t ui32Base)
    {
        while (uart_space_avail(ui32Base) &&
               !IsBufferEmpty(&g_ui32UARTTxReadIndex, &g_ui32UARTTxWriteIndex)) {
            const uint32_t ui32Read = g_ui32UARTTxReadIndex;
            uart_char_put_nb(ui32Base, g_pcUARTTxBuffer[ui32Read]);
            g_ui32UARTTxReadIndex = advance(ui32Read, kTxSize);
        }
    }

    // The only consumer of the transmit ring; runs from foreground and from
    // the handler, so it keeps the handler out while it moves bytes.
    static void PrimeTransmit(uint32_t ui32Base)
    {
        if (IsBufferEmpty(&g_ui32UARTTxReadIndex, &g_ui32UARTTxWriteIndex)) return;
        int_disable(line());
        move_to_fifo(ui32Base);
        int_enable(line());
    }

    static unsigned char take()
    {
        while (IsBufferEmpty(&g_ui32UARTRxReadIndex, &g_ui32UARTRxWriteIndex)) platform_idle();
        const uint32_t ui32Read = g_ui32UARTRxReadIndex;
        const unsigned char cChar = g_pcUARTRxBuffer[ui32Read];
        g_ui32UARTRxReadIndex = advance(ui32Read, kRxSize);
        return cChar;
    }

    // Line editing for a terminal when echo is on; raw bytes otherwise.
    static void receive_byte(uint8_t cRaw)
    {
        uint8_t cEcho = cRaw;
        if (!g_bDisableEcho) {
            if (cRaw == ASCII_BS) {
                if (!IsBufferEmpty(&g_ui32UARTRxReadIndex, &g_ui32UARTRxWriteIndex)) {
                    static constexpr unsigned char kRubOut[3] = {ASCII_BS, ' ', ASCII_BS};
                    Write(kRubOut, 3);
                    const uint32_t ui32Write = g_ui32UARTRxWriteIndex;
                    g_ui32UARTRxWriteIndex = (ui32Write == 0) ? kRxSize - 1 : ui32Write - 1;
                }
                return;
            }
            if (cRaw == ASCII_LF && bLastWasCR) {
                bLastWasCR = false;
                return;
            }
            if (cRaw == ASCII_CR || cRaw == ASCII_LF || cRaw == ASCII_ESC) {
                if (cRaw == ASCII_CR) bLastWasCR = true;
                cEcho = ASCII_CR;
                static constexpr unsigned char kNewLine[1] = {ASCII_LF};
                Write(kNewLine, 1);
            }
        }
        if (IsBufferFull(&g_ui32UARTRxReadIndex, &g_ui32UARTRxWriteIndex, kRxSize)) return;
        const uint32_t ui32Write = g_ui32UARTRxWriteIndex;
        g_pcUARTRxBuffer[ui32Write] = cRaw;
        g_ui32UARTRxWriteIndex = advance(ui32Write, kRxSize);
        if (!g_bDisableEcho) Write(&cEcho, 1);
    }

    static inline unsigned char g_pcUARTTxBuffer[kTxSize] = {};
    static inline volatile uint32_t g_ui32UARTTxWriteIndex = 0;
    static inline volatile uint32_t g_ui32UARTTxReadIndex = 0;
    static inline unsigned char g_pcUARTRxBuffer[kRxSize] = {};
    static inline volatile uint32_t g_ui32UARTRxWriteIndex = 0;
    static inline volatile uint32_t g_ui32UARTRxReadIndex = 0;
    static inline uint32_t g_ui32Base = 0;
    static inline uint32_t g_ui32PortNum = 0;
    // Echo off until told otherwise: the AUX ports receive long before they
    // are opened, and opening them switches echo off anyway.
    static inline bool g_bDisableEcho = true;
    static inline bool bLastWasCR = false;
};
