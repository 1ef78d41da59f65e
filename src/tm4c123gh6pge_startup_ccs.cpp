// Vector table and reset entry of the TM4C123GH6PGE (target build only).
#include <cstddef>
#include <cstdint>

#include "platform.h"
#include "tm4c123/libc_glue.h"

// Interrupt handlers of the firmware modules (Sleep, uartstdio, Aux1, Optode,
// Salinor, Aux2).
void SysTickHandler(void);
void UARTStdioIntHandler(void);
void AUX1_UARTIntHandler(void);
void Optode_UARTIntHandler(void);
void Salinor_UARTIntHandler(void);
void AUX2_UARTIntHandler(void);

int main(void);

void ResetISR(void);
void NmiSR(void);
void FaultISR(void);
void IntDefaultHandler(void);

// Placed by the linker script.
extern "C" {
extern uint32_t __stack_top[];
extern uint32_t __data_load[], __data_start[], __data_end[];
extern uint32_t __tdata_load[], __tdata_start[], __tdata_end[];
extern uint32_t __bss_start[], __bss_end[];
extern void (*const __init_array_start[])(void);
extern void (*const __init_array_end[])(void);
}

// One word of the vector table: the initial stack pointer, a handler, or 0
// for a reserved entry.
union Vector {
    void (*handler)(void);
    const void* stack;
    uintptr_t reserved;

    constexpr Vector(void (*h)(void)) : handler(h) {}
    constexpr Vector(const uint32_t* sp) : stack(sp) {}
    constexpr Vector(std::nullptr_t) : reserved(0) {}
};

constexpr size_t VECTOR_COUNT = 16 + NUM_INTERRUPTS;
static_assert(VECTOR_COUNT == 155, "system exceptions and the chip's interrupts");
static_assert(sizeof(Vector) == 4, "one word per entry");

// Entries 16 and up are the chip's interrupts, numbered as in the data
// sheet's interrupt table; entries it lists as reserved hold 0.
extern const Vector g_pfnVectors[VECTOR_COUNT];
__attribute__((section(".isr_vector"), used)) const Vector g_pfnVectors[VECTOR_COUNT] = {
    __stack_top,             // 0 initial stack pointer
    ResetISR,                // 1 reset
    NmiSR,                   // 2 NMI
    FaultISR,                // 3 hard fault
    IntDefaultHandler,       // 4 memory management fault
    IntDefaultHandler,       // 5 bus fault
    IntDefaultHandler,       // 6 usage fault
    nullptr,                 // 7 reserved
    nullptr,                 // 8 reserved
    nullptr,                 // 9 reserved
    nullptr,                 // 10 reserved
    IntDefaultHandler,       // 11 SVCall
    IntDefaultHandler,       // 12 debug monitor
    nullptr,                 // 13 reserved
    IntDefaultHandler,       // 14 PendSV
    SysTickHandler,          // 15 SysTick
    IntDefaultHandler,       // 16 GPIO port A
    IntDefaultHandler,       // 17 GPIO port B
    IntDefaultHandler,       // 18 GPIO port C
    IntDefaultHandler,       // 19 GPIO port D
    IntDefaultHandler,       // 20 GPIO port E
    UARTStdioIntHandler,     // 21 UART0
    IntDefaultHandler,       // 22 UART1
    IntDefaultHandler,       // 23 SSI0
    IntDefaultHandler,       // 24 I2C0
    IntDefaultHandler,       // 25 PWM0 fault
    IntDefaultHandler,       // 26 PWM0 generator 0
    IntDefaultHandler,       // 27 PWM0 generator 1
    IntDefaultHandler,       // 28 PWM0 generator 2
    IntDefaultHandler,       // 29 QEI0
    IntDefaultHandler,       // 30 ADC0 sequence 0
    IntDefaultHandler,       // 31 ADC0 sequence 1
    IntDefaultHandler,       // 32 ADC0 sequence 2
    IntDefaultHandler,       // 33 ADC0 sequence 3
    IntDefaultHandler,       // 34 watchdog timers 0 and 1
    IntDefaultHandler,       // 35 timer 0A
    IntDefaultHandler,       // 36 timer 0B
    IntDefaultHandler,       // 37 timer 1A
    IntDefaultHandler,       // 38 timer 1B
    IntDefaultHandler,       // 39 timer 2A
    IntDefaultHandler,       // 40 timer 2B
    IntDefaultHandler,       // 41 analog comparator 0
    IntDefaultHandler,       // 42 analog comparator 1
    IntDefaultHandler,       // 43 analog comparator 2
    IntDefaultHandler,       // 44 system control
    IntDefaultHandler,       // 45 flash and EEPROM control
    IntDefaultHandler,       // 46 GPIO port F
    IntDefaultHandler,       // 47 GPIO port G
    IntDefaultHandler,       // 48 GPIO port H
    AUX1_UARTIntHandler,     // 49 UART2
    IntDefaultHandler,       // 50 SSI1
    IntDefaultHandler,       // 51 timer 3A
    IntDefaultHandler,       // 52 timer 3B
    IntDefaultHandler,       // 53 I2C1
    IntDefaultHandler,       // 54 QEI1
    IntDefaultHandler,       // 55 CAN0
    IntDefaultHandler,       // 56 CAN1
    nullptr,                 // 57 reserved
    nullptr,                 // 58 reserved
    IntDefaultHandler,       // 59 hibernation module
    IntDefaultHandler,       // 60 USB
    IntDefaultHandler,       // 61 PWM0 generator 3
    IntDefaultHandler,       // 62 uDMA software
    IntDefaultHandler,       // 63 uDMA error
    IntDefaultHandler,       // 64 ADC1 sequence 0
    IntDefaultHandler,       // 65 ADC1 sequence 1
    IntDefaultHandler,       // 66 ADC1 sequence 2
    IntDefaultHandler,       // 67 ADC1 sequence 3
    nullptr,                 // 68 reserved
    nullptr,                 // 69 reserved
    IntDefaultHandler,       // 70 GPIO port J
    IntDefaultHandler,       // 71 GPIO port K
    IntDefaultHandler,       // 72 GPIO port L
    IntDefaultHandler,       // 73 SSI2
    IntDefaultHandler,       // 74 SSI3
    Optode_UARTIntHandler,   // 75 UART3
    Salinor_UARTIntHandler,  // 76 UART4
    AUX2_UARTIntHandler,     // 77 UART5
    IntDefaultHandler,       // 78 UART6
    IntDefaultHandler,       // 79 UART7
    nullptr,                 // 80 reserved
    nullptr,                 // 81 reserved
    nullptr,                 // 82 reserved
    nullptr,                 // 83 reserved
    IntDefaultHandler,       // 84 I2C2
    IntDefaultHandler,       // 85 I2C3
    IntDefaultHandler,       // 86 timer 4A
    IntDefaultHandler,       // 87 timer 4B
    nullptr,                 // 88 reserved
    nullptr,                 // 89 reserved
    nullptr,                 // 90 reserved
    nullptr,                 // 91 reserved
    nullptr,                 // 92 reserved
    nullptr,                 // 93 reserved
    nullptr,                 // 94 reserved
    nullptr,                 // 95 reserved
    nullptr,                 // 96 reserved
    nullptr,                 // 97 reserved
    nullptr,                 // 98 reserved
    nullptr,                 // 99 reserved
    nullptr,                 // 100 reserved
    nullptr,                 // 101 reserved
    nullptr,                 // 102 reserved
    nullptr,                 // 103 reserved
    nullptr,                 // 104 reserved
    nullptr,                 // 105 reserved
    nullptr,                 // 106 reserved
    nullptr,                 // 107 reserved
    IntDefaultHandler,       // 108 timer 5A
    IntDefaultHandler,       // 109 timer 5B
    IntDefaultHandler,       // 110 wide timer 0A
    IntDefaultHandler,       // 111 wide timer 0B
    IntDefaultHandler,       // 112 wide timer 1A
    IntDefaultHandler,       // 113 wide timer 1B
    IntDefaultHandler,       // 114 wide timer 2A
    IntDefaultHandler,       // 115 wide timer 2B
    IntDefaultHandler,       // 116 wide timer 3A
    IntDefaultHandler,       // 117 wide timer 3B
    IntDefaultHandler,       // 118 wide timer 4A
    IntDefaultHandler,       // 119 wide timer 4B
    IntDefaultHandler,       // 120 wide timer 5A
    IntDefaultHandler,       // 121 wide timer 5B
    IntDefaultHandler,       // 122 system exception (imprecise)
    nullptr,                 // 123 reserved
    nullptr,                 // 124 reserved
    IntDefaultHandler,       // 125 I2C4
    IntDefaultHandler,       // 126 I2C5
    IntDefaultHandler,       // 127 GPIO port M
    IntDefaultHandler,       // 128 GPIO port N
    nullptr,                 // 129 reserved
    nullptr,                 // 130 reserved
    nullptr,                 // 131 reserved
    IntDefaultHandler,       // 132 GPIO port P (summary or P0)
    IntDefaultHandler,       // 133 GPIO port P1
    IntDefaultHandler,       // 134 GPIO port P2
    IntDefaultHandler,       // 135 GPIO port P3
    IntDefaultHandler,       // 136 GPIO port P4
    IntDefaultHandler,       // 137 GPIO port P5
    IntDefaultHandler,       // 138 GPIO port P6
    IntDefaultHandler,       // 139 GPIO port P7
    nullptr,                 // 140 reserved
    nullptr,                 // 141 reserved
    nullptr,                 // 142 reserved
    nullptr,                 // 143 reserved
    nullptr,                 // 144 reserved
    nullptr,                 // 145 reserved
    nullptr,                 // 146 reserved
    nullptr,                 // 147 reserved
    nullptr,                 // 148 reserved
    nullptr,                 // 149 reserved
    IntDefaultHandler,       // 150 PWM1 generator 0
    IntDefaultHandler,       // 151 PWM1 generator 1
    IntDefaultHandler,       // 152 PWM1 generator 2
    IntDefaultHandler,       // 153 PWM1 generator 3
    IntDefaultHandler,       // 154 PWM1 fault
};

namespace {

// Plain word loops: the C library's copy routines are not to be trusted
// before .data exists.
__attribute__((optimize("no-tree-loop-distribute-patterns"))) void copy_words(const uint32_t* from,
                                                                              uint32_t* to, uint32_t* end)
{
    while (to < end) *to++ = *from++;
}

__attribute__((optimize("no-tree-loop-distribute-patterns"))) void zero_words(uint32_t* to, uint32_t* end)
{
    while (to < end) *to++ = 0;
}

}  // namespace

// The floating point unit comes first: any compiled function, main's own
// prologue included, may touch the FP registers.
void ResetISR(void)
{
    fpu_enable_lazy_stacking();
    copy_words(__data_load, __data_start, __data_end);
    copy_words(__tdata_load, __tdata_start, __tdata_end);
    zero_words(__bss_start, __bss_end);
    libc_init();
    for (auto* ctor = __init_array_start; ctor != __init_array_end; ++ctor) (*ctor)();
    main();
    for (;;) {
    }
}

// Faults and unexpected interrupts stop here until the next reset, where a
// debugger can still see what happened.
void NmiSR(void)
{
    for (;;) {
    }
}

void FaultISR(void)
{
    for (;;) {
    }
}

void IntDefaultHandler(void)
{
    for (;;) {
    }
}
