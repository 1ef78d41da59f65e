// Fake register map behind the tm4c123 backend's register layer (hw::read,
// hw::write and the processor instructions), for host tests. Every access is
// logged in order; tests script the hardware's answers with read hooks.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace fake {

struct Access {
    bool write;
    uint32_t addr;
    uint32_t value;
};

struct Chip {
    std::map<uint32_t, uint32_t> regs;
    std::vector<Access> log;
    // Called on every read of the address with the stored value; returns the
    // value the hardware shows.
    std::map<uint32_t, std::function<uint32_t(uint32_t stored)>> on_read;
    // Called after every write.
    std::function<void(uint32_t addr, uint32_t value)> on_write;
    bool primask = false;
    std::vector<uint32_t> delays;  // counts given to the 3-cycle loop

    uint32_t& at(uint32_t addr) { return regs[addr]; }
    // Bytes written to a data register, in order (e.g. a UART's console output).
    std::string written_bytes(uint32_t addr) const;
    std::vector<uint32_t> writes_to(uint32_t addr) const;
    size_t reads_of(uint32_t addr) const;
    // Index in the log of the first write to addr at or after `from`, or npos.
    size_t first_write(uint32_t addr, size_t from = 0) const;
    static constexpr size_t npos = static_cast<size_t>(-1);
};

// The chip the backend talks to; reset before each test.
Chip& chip();
void reset();

// A register that reads `busy` the first `n` times, then `ready`.
std::function<uint32_t(uint32_t)> after_reads(int n, uint32_t busy, uint32_t ready);

}  // namespace fake
