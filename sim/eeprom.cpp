#include "eeprom.h"

#include <cstring>

#include "persistent.h"

namespace sim {

namespace {
constexpr uint32_t kWordWrite = 110 * kMicro;  // typical word program time
constexpr uint32_t kProgramError = 0x1;        // bounds or write failure status
}  // namespace

void Eeprom::read(uint32_t* data, uint32_t addr, uint32_t count_bytes)
{
    for (uint32_t i = 0; i < count_bytes / 4; ++i) {
        const uint32_t a = (addr & ~3u) + 4 * i;
        uint32_t w = 0xFFFFFFFFu;
        if (a + 4 <= kEepromBytes) std::memcpy(&w, mem_ + a, 4);
        data[i] = w;
    }
}

uint32_t Eeprom::program(const uint32_t* data, uint32_t addr, uint32_t count_bytes)
{
    if (fails_) return kProgramError;
    for (uint32_t i = 0; i < count_bytes / 4; ++i) {
        const uint32_t a = (addr & ~3u) + 4 * i;
        if (a + 4 > kEepromBytes) return kProgramError;
        std::memcpy(mem_ + a, &data[i], 4);
        board_.spend(kWordWrite);
    }
    return 0;
}

}  // namespace sim
