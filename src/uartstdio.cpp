#include "uartstdio.h"

#include "uart_ring.h"

namespace {
struct ConsolePort {
    static constexpr uint32_t kRxSize = UART_RX_BUFFER_SIZE;
    static constexpr uint32_t kTxSize = UART_TX_BUFFER_SIZE;
    static constexpr size_t kPortCount = 3;  // UART0 to UART2
};
using Port = UartInstance<ConsolePort>;
}  // namespace

void UARTStdioConfig(uint32_t ui32PortNum, uint32_t ui32Baud, uint32_t ui32SrcClock)
{
    Port::Config(ui32PortNum, ui32Baud, ui32SrcClock);
}
int UARTwrite(const unsigned char* pcBuf, uint32_t ui32Len)
{
    return Port::Write(pcBuf, ui32Len);
}
int UARTgets(unsigned char* pcBuf, uint32_t ui32Len)
{
    return Port::Gets(pcBuf, ui32Len);
}
unsigned char UARTgetc(void)
{
    return Port::Getc();
}
int UARTRxBytesAvail(void)
{
    return Port::RxBytesAvail();
}
int UARTTxBytesFree(void)
{
    return Port::TxBytesFree();
}
int UARTPeek(unsigned char ucChar)
{
    return Port::Peek(ucChar);
}
void UARTFlushRx(void)
{
    Port::FlushRx();
}
void UARTFlushTx(bool bDiscard)
{
    Port::FlushTx(bDiscard);
}
void UARTEchoSet(bool bEnable)
{
    Port::EchoSet(bEnable);
}
void UARTStdioIntHandler(void)
{
    Port::IntHandler();
}
