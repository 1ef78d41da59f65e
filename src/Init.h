// Board bring-up after every reset: clocks, every pin parked, every device
// unpowered, the five serial ports, the 10 ms tick, the stored records and
// the wake cause.
#pragma once

void Init();
