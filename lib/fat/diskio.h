// Disk interface under the FAT module, with FatFs's names, types and values.
// The firmware's SD card driver implements it; host tests link a RAM disk.
#pragma once

#include "fat/ff.h"

typedef BYTE DSTATUS;

typedef enum {
    RES_OK = 0,     // success
    RES_ERROR = 1,  // read/write error
    RES_WRPRT = 2,  // write protected
    RES_NOTRDY = 3, // not ready
    RES_PARERR = 4  // invalid parameter
} DRESULT;

// Drive status bits.
#define STA_NOINIT 0x01
#define STA_NODISK 0x02
#define STA_PROTECT 0x04

// Generic disk_ioctl codes.
#define CTRL_SYNC 0        // finish pending writes
#define GET_SECTOR_COUNT 1 // LBA_t at buff
#define GET_SECTOR_SIZE 2  // WORD at buff
#define GET_BLOCK_SIZE 3   // DWORD at buff, erase block in sectors
#define CTRL_TRIM 4        // LBA_t[2] at buff: first and last sector no longer used
#define CTRL_POWER 5       // SD driver: power control sub-code in buff[0]

// MMC/SD card codes.
#define MMC_GET_TYPE 10
#define MMC_GET_CSD 11
#define MMC_GET_CID 12
#define MMC_GET_OCR 13
#define MMC_GET_SDSTAT 14

DSTATUS disk_initialize(BYTE pdrv);
DSTATUS disk_status(BYTE pdrv);
DRESULT disk_read(BYTE pdrv, BYTE* buff, LBA_t sector, UINT count);
DRESULT disk_write(BYTE pdrv, const BYTE* buff, LBA_t sector, UINT count);
DRESULT disk_ioctl(BYTE pdrv, BYTE cmd, void* buff);

// Current local time packed as FAT date (high word) and time (low word):
// bits 31-25 year-1980, 24-21 month, 20-16 day, 15-11 hour, 10-5 minute,
// 4-0 second/2.
DWORD get_fattime(void);
