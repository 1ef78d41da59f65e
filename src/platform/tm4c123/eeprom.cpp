// On-chip EEPROM: 2 KiB as 32 blocks of 16 words, reached through a block
// and offset register pair; EERDWRINC steps the offset within the block.
#include "hw.h"
#include "platform.h"
#include "registers.h"

namespace {

using namespace reg::eeprom;

constexpr uint32_t EEPROM_BYTES = 2048;
constexpr uint32_t INIT_ERROR = 2;
constexpr uint32_t OUT_OF_RANGE = 1u << 31;  // not an EEDONE bit

bool wait_done()
{
    if (hw::wait_for(EEDONE, EEDONE_WORKING, 0, hw::TRIES_LONG)) return true;
    hw::report_timeout("EEPROM operation");
    return false;
}

bool retry_pending()
{
    return (hw::read(EESUPP) & (EESUPP_PRETRY | EESUPP_ERETRY)) != 0;
}

// Words of a transfer that lie inside the EEPROM.
uint32_t word_count(uint32_t addr, uint32_t count_bytes)
{
    if (addr >= EEPROM_BYTES) return 0;
    const uint32_t room = (EEPROM_BYTES - addr) / 4;
    const uint32_t words = count_bytes / 4;
    return words < room ? words : room;
}

void select(uint32_t word)
{
    hw::write(EEBLOCK, word / WORDS_PER_BLOCK);
    hw::write(EEOFFSET, word % WORDS_PER_BLOCK);
}

}  // namespace

// The data sheet's start-up: wait for the power-on work to end, refuse on a
// pending retry, reset the module, wait again and check again.
uint32_t eeprom_init()
{
    hw::delay_loop(2);  // 6 cycles after the clock gate opened
    if (!wait_done() || retry_pending()) return INIT_ERROR;
    sysctl_periph_reset(Periph::EEPROM0);
    hw::delay_loop(2);
    if (!wait_done() || retry_pending()) return INIT_ERROR;
    return 0;
}

void eeprom_read(uint32_t* data, uint32_t addr, uint32_t count_bytes)
{
    uint32_t word = addr / 4;
    const uint32_t n = word_count(addr & ~3u, count_bytes);
    select(word);
    for (uint32_t i = 0; i < n; ++i) {
        data[i] = hw::read(EERDWRINC);
        if (++word % WORDS_PER_BLOCK == 0 && i + 1 < n) select(word);  // the offset wrapped
    }
}

// A transfer that does not fit is refused whole rather than cut short.
uint32_t eeprom_program(const uint32_t* data, uint32_t addr, uint32_t count_bytes)
{
    uint32_t word = addr / 4;
    const uint32_t n = word_count(addr & ~3u, count_bytes);
    if (n != count_bytes / 4) return OUT_OF_RANGE;
    select(word);
    for (uint32_t i = 0; i < n; ++i) {
        hw::write(EERDWRINC, data[i]);
        if (!wait_done()) return EEDONE_WORKING;
        const uint32_t status = hw::read(EEDONE);
        if (status != 0) return status;
        if (++word % WORDS_PER_BLOCK == 0 && i + 1 < n) select(word);
    }
    return 0;
}
