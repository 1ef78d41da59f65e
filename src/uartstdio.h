// The operator console on UART0: interrupt-driven, ring-buffered, with
// terminal line editing while echo is on.
#pragma once

#include <cstdint>

constexpr uint32_t UART_RX_BUFFER_SIZE = 2048;
constexpr uint32_t UART_TX_BUFFER_SIZE = 1024;

void UARTStdioConfig(uint32_t ui32PortNum, uint32_t ui32Baud, uint32_t ui32SrcClock);
int UARTwrite(const unsigned char* pcBuf, uint32_t ui32Len);
int UARTgets(unsigned char* pcBuf, uint32_t ui32Len);
unsigned char UARTgetc(void);
int UARTRxBytesAvail(void);
int UARTTxBytesFree(void);
int UARTPeek(unsigned char ucChar);
void UARTFlushRx(void);
void UARTFlushTx(bool bDiscard);
void UARTEchoSet(bool bEnable);
void UARTStdioIntHandler(void);

// Text callers pass char buffers.
inline int UARTwrite(const char* pcBuf, uint32_t ui32Len)
{
    return UARTwrite(reinterpret_cast<const unsigned char*>(pcBuf), ui32Len);
}
inline int UARTgets(char* pcBuf, uint32_t ui32Len)
{
    return UARTgets(reinterpret_cast<unsigned char*>(pcBuf), ui32Len);
}
