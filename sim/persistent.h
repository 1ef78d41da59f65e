// What survives a boot and a restart of the simulator: the battery-backed
// hibernation module with its clock, the EEPROM and the FRAM. The runner maps
// them from files of the state directory; tests keep them in memory.
#pragma once

#include <cstddef>
#include <cstdint>

#include "simtime.h"

namespace sim {

constexpr size_t kEepromBytes = 2048;
constexpr size_t kFramBytes = 512;  // two 256-byte pages at I2C addresses 0x50 and 0x51

// Hibernation module registers kept by the battery. Plain data, fixed layout:
// this is the clock file of the state directory.
struct HibState {
    uint32_t magic;        // kHibMagic once initialised
    uint32_t rtc_enabled;  // counter running
    uint32_t rtc_seconds;  // count at rtc_anchor
    uint32_t reserved0;
    uint64_t rtc_anchor;  // virtual time of the last whole second counted
    uint32_t match0;
    uint32_t trim;
    uint32_t wake_sources;  // HIB_WAKE_PIN | HIB_WAKE_RTC
    uint32_t raw_status;    // raw interrupt status (wake causes)
    uint32_t int_mask;
    uint32_t active;  // module clock enabled: it was in use before a reset
    uint32_t clock_config;
    uint32_t hibernating;  // the chip was powered down when the simulator stopped
};
constexpr uint32_t kHibMagic = 0x48494231;  // "HIB1"

struct Persistent {
    uint8_t* eeprom = nullptr;  // kEepromBytes
    uint8_t* fram = nullptr;    // kFramBytes
    HibState* hib = nullptr;
};

// Fresh, factory-new contents: blank EEPROM and FRAM (all 0xFF), clock stopped at 0.
void persistent_factory_reset(Persistent& p);

// Storage for tests and for one-shot runs: everything in this object.
struct MemoryPersistent {
    uint8_t eeprom[kEepromBytes];
    uint8_t fram[kFramBytes];
    HibState hib;
    Persistent view;
    MemoryPersistent();
};

}  // namespace sim
