#include "persistent.h"

#include <cstring>

namespace sim {

void persistent_factory_reset(Persistent& p)
{
    std::memset(p.eeprom, 0xFF, kEepromBytes);
    std::memset(p.fram, 0xFF, kFramBytes);
    std::memset(p.hib, 0, sizeof(HibState));
    p.hib->magic = kHibMagic;
}

MemoryPersistent::MemoryPersistent()
{
    view.eeprom = eeprom;
    view.fram = fram;
    view.hib = &hib;
    persistent_factory_reset(view);
}

}  // namespace sim
