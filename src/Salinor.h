// The CTD's serial port (UART4): an instance of the buffered serial port
// driver. Echo is switched off at start-up.
#pragma once

#include <cstdint>

constexpr uint32_t SALINOR_RX_BUFFER_SIZE = 2048;
constexpr uint32_t SALINOR_TX_BUFFER_SIZE = 128;

void Salinor_UARTConfig(uint32_t ui32PortNum, uint32_t ui32Baud, uint32_t ui32SrcClock);
int Salinor_UARTwrite(const unsigned char* pcBuf, uint32_t ui32Len);
int Salinor_putc(const unsigned char c);
int Salinor_UARTgets(unsigned char* pcBuf, uint32_t ui32Len);
unsigned char Salinor_UARTgetc(void);
int Salinor_UARTRxBytesAvail(void);
int Salinor_UARTTxBytesFree(void);
int Salinor_UARTPeek(unsigned char ucChar);
void Salinor_UARTFlushRx(void);
void Salinor_UARTFlushTx(bool bDiscard);
void Salinor_UARTEchoSet(bool bEnable);
void Salinor_UARTIntHandler(void);

// Text callers pass char buffers.
inline int Salinor_UARTwrite(const char* pcBuf, uint32_t ui32Len)
{
    return Salinor_UARTwrite(reinterpret_cast<const unsigned char*>(pcBuf), ui32Len);
}
inline int Salinor_UARTgets(char* pcBuf, uint32_t ui32Len)
{
    return Salinor_UARTgets(reinterpret_cast<unsigned char*>(pcBuf), ui32Len);
}
