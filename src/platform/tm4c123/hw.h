// The one road to the chip's registers and to the few processor instructions
// the peripheral interface needs. On the chip these are volatile accesses and
// inline assembly; the host tests build the same backend with
// MARIVANT_HW_FAKE and supply these functions over a fake register map.
#pragma once

#include <cstdint>

namespace hw {

#ifdef MARIVANT_HW_FAKE

uint32_t read(uint32_t addr);
void write(uint32_t addr, uint32_t value);
// Processor state and instructions.
bool primask();  // true when interrupts are masked
void cpsid();
void cpsie();
void barrier();  // dsb; isb
void delay_loop(uint32_t count);

#else

inline uint32_t read(uint32_t addr)
{
    return *reinterpret_cast<volatile uint32_t*>(static_cast<uintptr_t>(addr));
}
inline void write(uint32_t addr, uint32_t value)
{
    *reinterpret_cast<volatile uint32_t*>(static_cast<uintptr_t>(addr)) = value;
}
inline bool primask()
{
    uint32_t v;
    __asm volatile("mrs %0, primask" : "=r"(v));
    return (v & 1u) != 0;
}
inline void cpsid()
{
    __asm volatile("cpsid i" ::: "memory");
}
inline void cpsie()
{
    __asm volatile("cpsie i" ::: "memory");
}
inline void barrier()
{
    __asm volatile("dsb\n\tisb" ::: "memory");
}
// Three cycles a turn: subs (1) and a taken bne (2).
inline void delay_loop(uint32_t count)
{
    if (count == 0) return;
    __asm volatile(
        "1: subs %0, %0, #1\n\t"
        "   bne 1b"
        : "+r"(count)
        :
        : "cc");
}

#endif

inline void set_bits(uint32_t addr, uint32_t bits)
{
    write(addr, read(addr) | bits);
}
inline void clear_bits(uint32_t addr, uint32_t bits)
{
    write(addr, read(addr) & ~bits);
}
inline void assign_bits(uint32_t addr, uint32_t bits, bool on)
{
    if (on)
        set_bits(addr, bits);
    else
        clear_bits(addr, bits);
}
inline void modify(uint32_t addr, uint32_t mask, uint32_t value)
{
    write(addr, (read(addr) & ~mask) | (value & mask));
}

// Polls until (read(addr) & mask) == want, at most `tries` reads. Every wait
// on the hardware goes through here so that none can last for ever.
bool wait_for(uint32_t addr, uint32_t mask, uint32_t want, uint32_t tries);

// One console line naming the wait that expired. Written straight into the
// console UART's FIFO, since the firmware's console driver is above us.
void report_timeout(const char* what);

// Read bounds: generous multiples of the longest legitimate wait, counted in
// register reads (a read costs a few cycles at 50 MHz). The fake register
// map of the host tests uses small bounds so a stuck wait ends quickly.
#ifdef MARIVANT_HW_FAKE
constexpr uint32_t TRIES_SHORT = 200u;
constexpr uint32_t TRIES_BYTE = 300u;
constexpr uint32_t TRIES_LONG = 400u;
#else
constexpr uint32_t TRIES_SHORT = 100000u;   // peripheral ready, PLL lock: ~10 ms
constexpr uint32_t TRIES_BYTE = 500000u;    // FIFO room or drain at 9600 baud
constexpr uint32_t TRIES_LONG = 20000000u;  // EEPROM erase and copy, HIB writes: ~2 s
#endif

}  // namespace hw
