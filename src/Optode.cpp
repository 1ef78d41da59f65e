#include "Optode.h"

#include "uart_ring.h"

namespace {
struct OptodePort {
    static constexpr uint32_t kRxSize = OPTODE_RX_BUFFER_SIZE;
    static constexpr uint32_t kTxSize = OPTODE_TX_BUFFER_SIZE;
    static constexpr size_t kPortCount = 6;  // UART0 to UART5
};
using Port = UartInstance<OptodePort>;
}  // namespace

void Optode_UARTConfig(uint32_t ui32PortNum, uint32_t ui32Baud, uint32_t ui32SrcClock)
{
    Port::Config(ui32PortNum, ui32Baud, ui32SrcClock);
}
int Optode_UARTwrite(const unsigned char* pcBuf, uint32_t ui32Len)
{
    return Port::Write(pcBuf, ui32Len);
}
int Optode_putc(const unsigned char c)
{
    return Port::Putc(c);
}
int Optode_UARTgets(unsigned char* pcBuf, uint32_t ui32Len)
{
    return Port::Gets(pcBuf, ui32Len);
}
unsigned char Optode_UARTgetc(void)
{
    return Port::Getc();
}
int Optode_UARTRxBytesAvail(void)
{
    return Port::RxBytesAvail();
}
int Optode_UARTTxBytesFree(void)
{
    return Port::TxBytesFree();
}
int Optode_UARTPeek(unsigned char ucChar)
{
    return Port::Peek(ucChar);
}
void Optode_UARTFlushRx(void)
{
    Port::FlushRx();
}
void Optode_UARTFlushTx(bool bDiscard)
{
    Port::FlushTx(bDiscard);
}
void Optode_UARTEchoSet(bool bEnable)
{
    Port::EchoSet(bEnable);
}
void Optode_UARTIntHandler(void)
{
    Port::IntHandler();
}
