#include "Aux2.h"

#include "uart_ring.h"

namespace {
struct Aux2Port {
    static constexpr uint32_t kRxSize = AUX2_RX_BUFFER_SIZE;
    static constexpr uint32_t kTxSize = AUX2_TX_BUFFER_SIZE;
    static constexpr size_t kPortCount = 6;  // UART0 to UART5
};
using Port = UartInstance<Aux2Port>;
}  // namespace

void AUX2_UARTConfig(uint32_t ui32PortNum, uint32_t ui32Baud, uint32_t ui32SrcClock)
{
    Port::Config(ui32PortNum, ui32Baud, ui32SrcClock);
}
int AUX2_UARTwrite(const unsigned char* pcBuf, uint32_t ui32Len)
{
    return Port::Write(pcBuf, ui32Len);
}
int AUX2_UARTgets(unsigned char* pcBuf, uint32_t ui32Len)
{
    return Port::Gets(pcBuf, ui32Len);
}
unsigned char AUX2_UARTgetc(void)
{
    return Port::Getc();
}
int AUX2_UARTTxBytesFree(void)
{
    return Port::TxBytesFree();
}
int AUX2_UARTPeek(unsigned char ucChar)
{
    return Port::Peek(ucChar);
}
void AUX2_UARTFlushRx(void)
{
    Port::FlushRx();
}
void AUX2_UARTFlushTx(bool bDiscard)
{
    Port::FlushTx(bDiscard);
}
void AUX2_UARTEchoSet(bool bEnable)
{
    Port::EchoSet(bEnable);
}
void AUX2_UARTIntHandler(void)
{
    Port::IntHandler();
}
