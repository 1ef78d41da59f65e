#include "Aux1.h"

#include "uart_ring.h"

namespace {
struct Aux1Port {
    static constexpr uint32_t kRxSize = AUX1_RX_BUFFER_SIZE;
    static constexpr uint32_t kTxSize = AUX1_TX_BUFFER_SIZE;
    static constexpr size_t kPortCount = 6;  // UART0 to UART5
};
using Port = UartInstance<Aux1Port>;
}  // namespace

void AUX1_UARTConfig(uint32_t ui32PortNum, uint32_t ui32Baud, uint32_t ui32SrcClock)
{
    Port::Config(ui32PortNum, ui32Baud, ui32SrcClock);
}
int AUX1_UARTwrite(const unsigned char* pcBuf, uint32_t ui32Len)
{
    return Port::Write(pcBuf, ui32Len);
}
int AUX1_UARTgets(unsigned char* pcBuf, uint32_t ui32Len)
{
    return Port::Gets(pcBuf, ui32Len);
}
unsigned char AUX1_UARTgetc(void)
{
    return Port::Getc();
}
int AUX1_UARTTxBytesFree(void)
{
    return Port::TxBytesFree();
}
int AUX1_UARTPeek(unsigned char ucChar)
{
    return Port::Peek(ucChar);
}
void AUX1_UARTFlushRx(void)
{
    Port::FlushRx();
}
void AUX1_UARTFlushTx(bool bDiscard)
{
    Port::FlushTx(bDiscard);
}
void AUX1_UARTEchoSet(bool bEnable)
{
    Port::EchoSet(bEnable);
}
void AUX1_UARTIntHandler(void)
{
    Port::IntHandler();
}

void Open_AUX1(void)
{
    pin_write(Signal::Aux1Power, true);
    pin_write(Signal::AuxCommonPower, true);
    AUX1_UARTEchoSet(false);
}

void Close_AUX1(void)
{
    pin_write(Signal::Aux1Power, false);
    pin_write(Signal::AuxCommonPower, false);
}
