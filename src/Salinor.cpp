#include "Salinor.h"

#include "uart_ring.h"

namespace {
struct SalinorPort {
    static constexpr uint32_t kRxSize = SALINOR_RX_BUFFER_SIZE;
    static constexpr uint32_t kTxSize = SALINOR_TX_BUFFER_SIZE;
    static constexpr size_t kPortCount = 6;  // UART0 to UART5
};
using Port = UartInstance<SalinorPort>;
}  // namespace

void Salinor_UARTConfig(uint32_t ui32PortNum, uint32_t ui32Baud, uint32_t ui32SrcClock)
{
    Port::Config(ui32PortNum, ui32Baud, ui32SrcClock);
}
int Salinor_UARTwrite(const unsigned char* pcBuf, uint32_t ui32Len)
{
    return Port::Write(pcBuf, ui32Len);
}
int Salinor_putc(const unsigned char c)
{
    return Port::Putc(c);
}
int Salinor_UARTgets(unsigned char* pcBuf, uint32_t ui32Len)
{
    return Port::Gets(pcBuf, ui32Len);
}
unsigned char Salinor_UARTgetc(void)
{
    return Port::Getc();
}
int Salinor_UARTRxBytesAvail(void)
{
    return Port::RxBytesAvail();
}
int Salinor_UARTTxBytesFree(void)
{
    return Port::TxBytesFree();
}
int Salinor_UARTPeek(unsigned char ucChar)
{
    return Port::Peek(ucChar);
}
void Salinor_UARTFlushRx(void)
{
    Port::FlushRx();
}
void Salinor_UARTFlushTx(bool bDiscard)
{
    Port::FlushTx(bDiscard);
}
void Salinor_UARTEchoSet(bool bEnable)
{
    Port::EchoSet(bEnable);
}
void Salinor_UARTIntHandler(void)
{
    Port::IntHandler();
}
