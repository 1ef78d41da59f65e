// The oxygen optode's serial port (UART3): an instance of the buffered serial
// port driver. Echo is switched off at start-up.
#pragma once

#include <cstdint>

constexpr uint32_t OPTODE_RX_BUFFER_SIZE = 512;
constexpr uint32_t OPTODE_TX_BUFFER_SIZE = 128;

void Optode_UARTConfig(uint32_t ui32PortNum, uint32_t ui32Baud, uint32_t ui32SrcClock);
int Optode_UARTwrite(const unsigned char* pcBuf, uint32_t ui32Len);
int Optode_putc(const unsigned char c);
int Optode_UARTgets(unsigned char* pcBuf, uint32_t ui32Len);
unsigned char Optode_UARTgetc(void);
int Optode_UARTRxBytesAvail(void);
int Optode_UARTTxBytesFree(void);
int Optode_UARTPeek(unsigned char ucChar);
void Optode_UARTFlushRx(void);
void Optode_UARTFlushTx(bool bDiscard);
void Optode_UARTEchoSet(bool bEnable);
void Optode_UARTIntHandler(void);

// Text callers pass char buffers.
inline int Optode_UARTwrite(const char* pcBuf, uint32_t ui32Len)
{
    return Optode_UARTwrite(reinterpret_cast<const unsigned char*>(pcBuf), ui32Len);
}
inline int Optode_UARTgets(char* pcBuf, uint32_t ui32Len)
{
    return Optode_UARTgets(reinterpret_cast<unsigned char*>(pcBuf), ui32Len);
}
