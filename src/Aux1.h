// Auxiliary port 1 (UART2): an instance of the buffered serial port driver,
// and the switched supply of the device on it. Nothing reads its receive
// ring; its echo stays off.
#pragma once

#include <cstdint>

constexpr uint32_t AUX1_RX_BUFFER_SIZE = 128;
constexpr uint32_t AUX1_TX_BUFFER_SIZE = 1024;

void AUX1_UARTConfig(uint32_t ui32PortNum, uint32_t ui32Baud, uint32_t ui32SrcClock);
int AUX1_UARTwrite(const unsigned char* pcBuf, uint32_t ui32Len);
int AUX1_UARTgets(unsigned char* pcBuf, uint32_t ui32Len);
unsigned char AUX1_UARTgetc(void);
int AUX1_UARTTxBytesFree(void);
int AUX1_UARTPeek(unsigned char ucChar);
void AUX1_UARTFlushRx(void);
void AUX1_UARTFlushTx(bool bDiscard);
void AUX1_UARTEchoSet(bool bEnable);
void AUX1_UARTIntHandler(void);

// Text callers pass char buffers.
inline int AUX1_UARTwrite(const char* pcBuf, uint32_t ui32Len)
{
    return AUX1_UARTwrite(reinterpret_cast<const unsigned char*>(pcBuf), ui32Len);
}
inline int AUX1_UARTgets(char* pcBuf, uint32_t ui32Len)
{
    return AUX1_UARTgets(reinterpret_cast<unsigned char*>(pcBuf), ui32Len);
}

// Supply on (AUX 1 switch, then the switch both AUX ports share), echo off.
void Open_AUX1(void);
// Supply off. The shared switch goes off too, whatever AUX 2's state.
void Close_AUX1(void);
