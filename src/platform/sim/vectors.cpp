// The simulated chip's vector table: which firmware handler each interrupt
// line enters, and the reset entry. Handler references are weak so that a
// line whose module is not linked is simply never entered.
#include "vectors.h"

#include "board.h"
#include "platform.h"

int marivant_main();  // the firmware's main, renamed in the host build
void SysTickHandler() __attribute__((weak));
void UARTStdioIntHandler() __attribute__((weak));
void AUX1_UARTIntHandler() __attribute__((weak));
void Optode_UARTIntHandler() __attribute__((weak));
void Salinor_UARTIntHandler() __attribute__((weak));
void AUX2_UARTIntHandler() __attribute__((weak));

void sim_install_vectors(sim::Board& b)
{
    b.nvic().set_systick_handler(SysTickHandler);
    b.nvic().set_handler(INT_UART0, UARTStdioIntHandler);
    b.nvic().set_handler(INT_UART2, AUX1_UARTIntHandler);
    b.nvic().set_handler(INT_UART3, Optode_UARTIntHandler);
    b.nvic().set_handler(INT_UART4, Salinor_UARTIntHandler);
    b.nvic().set_handler(INT_UART5, AUX2_UARTIntHandler);
}

void sim_reset_entry()
{
    marivant_main();
}
