// On-chip EEPROM: 2 KiB, read and programmed as whole 32-bit words.
#pragma once

#include <cstdint>

#include "board.h"

namespace sim {

class Eeprom {
public:
    Eeprom(Board& board, uint8_t* memory) : board_(board), mem_(memory) {}
    uint32_t init() { return 0; }
    void read(uint32_t* data, uint32_t addr, uint32_t count_bytes);
    uint32_t program(const uint32_t* data, uint32_t addr, uint32_t count_bytes);
    void set_program_fails(bool fails) { fails_ = fails; }

private:
    Board& board_;
    uint8_t* mem_;
    bool fails_ = false;
};

}  // namespace sim
