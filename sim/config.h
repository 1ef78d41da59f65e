// Options of the simulated board: which outside devices are fitted, their
// kinds and the fault switches. Set by the runner from its command line and
// by tests.
#pragma once

#include <cstdint>

namespace sim {

enum class CardType : uint8_t { SdV2Block, SdV2Byte, SdV1, Mmc };

struct BoardConfig {
    // FRAM on the I2C bus.
    bool fram_present = true;

    // SD card in its socket, backed by an image file.
    const char* card_image = nullptr;  // nullptr: no card image (card absent)
    bool card_present = true;
    CardType card_type = CardType::SdV2Block;
    bool card_never_ready = false;
    bool card_write_refused = false;
    uint32_t card_power_cut_after = 0;  // >0: the card dies after this many sector writes

    // Analog board and environment.
    const char* scenario = nullptr;  // time series file, or nullptr for constant water
    bool bench_fixture = false;      // isolated inputs are the fixture board's voltages
    bool iso_converter_dead = false;
    bool noniso_converter_dead = false;
    bool iso_supply_failed = false;
    double noise_volts = 2e-6;       // converter input noise, RMS
    uint32_t noise_seed = 1;
};

}  // namespace sim
