// SD/MMC card in SPI mode on SSI0 (chip select PA3): the disk layer under
// the FAT module, drive 0 only.
#pragma once

#include "fat/diskio.h"

// The driver's 10 ms count-downs; called by the SysTick handler.
void disk_timerproc(void);
