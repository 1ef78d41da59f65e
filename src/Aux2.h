// Auxiliary port 2 (UART5): an instance of the buffered serial port driver.
// Nothing reads its receive ring; its echo stays off.
#pragma once

#include <cstdint>

constexpr uint32_t AUX2_RX_BUFFER_SIZE = 128;
constexpr uint32_t AUX2_TX_BUFFER_SIZE = 1024;

void AUX2_UARTConfig(uint32_t ui32PortNum, uint32_t ui32Baud, uint32_t ui32SrcClock);
int AUX2_UARTwrite(const unsigned char* pcBuf, uint32_t ui32Len);
int AUX2_UARTgets(unsigned char* pcBuf, uint32_t ui32Len);
unsigned char AUX2_UARTgetc(void);
int AUX2_UARTTxBytesFree(void);
int AUX2_UARTPeek(unsigned char ucChar);
void AUX2_UARTFlushRx(void);
void AUX2_UARTFlushTx(bool bDiscard);
void AUX2_UARTEchoSet(bool bEnable);
void AUX2_UARTIntHandler(void);

// Text callers pass char buffers.
inline int AUX2_UARTwrite(const char* pcBuf, uint32_t ui32Len)
{
    return AUX2_UARTwrite(reinterpret_cast<const unsigned char*>(pcBuf), ui32Len);
}
inline int AUX2_UARTgets(char* pcBuf, uint32_t ui32Len)
{
    return AUX2_UARTgets(reinterpret_cast<unsigned char*>(pcBuf), ui32Len);
}
