// FAT file system module with the FatFs calling interface.
//
// Our own implementation of ChaN's FatFs API for one volume of 512-byte
// sectors with 8.3 names (see ffconf.h and README.md). Types, constants,
// result codes and call signatures are FatFs's, so FatFs itself can be
// dropped in behind this header and diskio.h.
#pragma once

#include <stdint.h>

#include "fat/ffconf.h"

typedef unsigned int UINT;
typedef unsigned char BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef uint64_t QWORD;
typedef WORD WCHAR;
typedef char TCHAR;
typedef DWORD FSIZE_t;
typedef DWORD LBA_t;

#define _T(x) x
#define _TEXT(x) x

// Volume work area, one per mounted volume.
typedef struct {
    BYTE fs_type;      // 0 not mounted, FS_FAT12/FS_FAT16/FS_FAT32
    BYTE pdrv;         // physical drive
    BYTE n_fats;       // 1 or 2 FAT copies
    BYTE wflag;        // win[] holds changes not yet written
    BYTE fsi_flag;     // bit 0: FSInfo needs writing (FAT32)
    WORD id;           // mount id; open objects of an older mount are invalid
    WORD n_rootdir;    // root directory entries (FAT12/16)
    WORD csize;        // sectors per cluster
    DWORD last_clst;   // last allocated cluster (search hint)
    DWORD free_clst;   // free clusters, 0xFFFFFFFF when unknown
    DWORD n_fatent;    // clusters + 2
    DWORD fsize;       // sectors per FAT
    LBA_t volbase;     // first sector of the volume
    LBA_t fatbase;     // first sector of the first FAT
    LBA_t dirbase;     // root directory: first sector (FAT12/16) or cluster (FAT32)
    LBA_t database;    // first sector of cluster 2
    LBA_t fsi_sector;  // FSInfo sector (FAT32)
    LBA_t winsect;     // sector held in win[]
    BYTE win[FF_MAX_SS];
} FATFS;

#define FS_FAT12 1
#define FS_FAT16 2
#define FS_FAT32 3
#define FS_EXFAT 4

// Identity shared by file and directory objects.
typedef struct {
    FATFS* fs;       // volume, 0 when closed
    WORD id;         // fs->id at open
    BYTE attr;       // attributes of the object
    BYTE stat;       // unused (FatFs exFAT field)
    DWORD sclust;    // first cluster, 0 for none (or the FAT12/16 root)
    FSIZE_t objsize; // size in bytes (files)
} FFOBJID;

typedef struct {
    FFOBJID obj;
    BYTE flag;       // FA_* mode bits and FA_MODIFIED/FA_DIRTY
    BYTE err;        // sticky error: once set, every call on the file returns it
    FSIZE_t fptr;    // read/write position
    DWORD clust;     // cluster of the position (the previous one at a cluster boundary)
    LBA_t sect;      // sector held in buf[], 0 for none
    LBA_t dir_sect;  // sector of the directory entry
    WORD dir_ofs;    // byte offset of the directory entry in dir_sect
    DWORD lp_mark;   // loop detection on the cluster walk (see ff_internal.h)
    DWORD lp_step;
    BYTE buf[FF_MAX_SS];
} FIL;

typedef struct {
    FFOBJID obj;     // obj.sclust: first cluster of the directory, 0 for the FAT12/16 root
    DWORD dptr;      // index of the current entry
    DWORD clust;     // cluster of the current entry
    LBA_t sect;      // sector of the current entry, 0 at the end
    BYTE* dir;       // entry in the volume window (valid until the next window move)
    BYTE fn[12];     // 8.3 name being looked up, space padded, and a status byte
    DWORD blk_ofs;   // index of the long-name entries before the found entry, 0xFFFFFFFF for none
    DWORD lp_mark;   // loop detection on the cluster walk
    DWORD lp_step;
} DIR;

typedef struct {
    FSIZE_t fsize;       // size in bytes
    WORD fdate;          // modification date
    WORD ftime;          // modification time
    BYTE fattrib;        // AM_* bits
    TCHAR fname[12 + 1]; // "NAME.EXT", empty at the end of a listing
} FILINFO;

typedef enum {
    FR_OK = 0,                // succeeded
    FR_DISK_ERR = 1,          // hard error in the disk layer
    FR_INT_ERR = 2,           // assertion failed: inconsistent volume structure
    FR_NOT_READY = 3,         // drive not ready
    FR_NO_FILE = 4,           // file not found
    FR_NO_PATH = 5,           // path not found
    FR_INVALID_NAME = 6,      // path name format invalid
    FR_DENIED = 7,            // access denied or directory full
    FR_EXIST = 8,             // object exists
    FR_INVALID_OBJECT = 9,    // file or directory object invalid
    FR_WRITE_PROTECTED = 10,  // drive write protected
    FR_INVALID_DRIVE = 11,    // drive number invalid
    FR_NOT_ENABLED = 12,      // volume has no work area
    FR_NO_FILESYSTEM = 13,    // no valid FAT volume
    FR_MKFS_ABORTED = 14,     // f_mkfs aborted
    FR_TIMEOUT = 15,          // no access within the time-out
    FR_LOCKED = 16,           // file locking refused the operation
    FR_NOT_ENOUGH_CORE = 17,  // long-name buffer could not be allocated
    FR_TOO_MANY_OPEN_FILES = 18,
    FR_INVALID_PARAMETER = 19
} FRESULT;

FRESULT f_open(FIL* fp, const TCHAR* path, BYTE mode);
FRESULT f_close(FIL* fp);
FRESULT f_read(FIL* fp, void* buff, UINT btr, UINT* br);
FRESULT f_write(FIL* fp, const void* buff, UINT btw, UINT* bw);
FRESULT f_lseek(FIL* fp, FSIZE_t ofs);
FRESULT f_truncate(FIL* fp);
FRESULT f_sync(FIL* fp);
FRESULT f_opendir(DIR* dp, const TCHAR* path);
FRESULT f_closedir(DIR* dp);
FRESULT f_readdir(DIR* dp, FILINFO* fno);
FRESULT f_mkdir(const TCHAR* path);
FRESULT f_unlink(const TCHAR* path);
FRESULT f_rename(const TCHAR* path_old, const TCHAR* path_new);
FRESULT f_stat(const TCHAR* path, FILINFO* fno);
FRESULT f_getfree(const TCHAR* path, DWORD* nclst, FATFS** fatfs);
FRESULT f_mount(FATFS* fs, const TCHAR* path, BYTE opt);

#define f_eof(fp) ((int)((fp)->fptr == (fp)->obj.objsize))
#define f_error(fp) ((fp)->err)
#define f_tell(fp) ((fp)->fptr)
#define f_size(fp) ((fp)->obj.objsize)
#define f_rewind(fp) f_lseek((fp), 0)
#define f_rewinddir(dp) f_readdir((dp), 0)

// Open mode flags.
#define FA_READ 0x01
#define FA_WRITE 0x02
#define FA_OPEN_EXISTING 0x00
#define FA_CREATE_NEW 0x04
#define FA_CREATE_ALWAYS 0x08
#define FA_OPEN_ALWAYS 0x10
#define FA_OPEN_APPEND 0x30

// Attribute bits.
#define AM_RDO 0x01
#define AM_HID 0x02
#define AM_SYS 0x04
#define AM_DIR 0x10
#define AM_ARC 0x20
