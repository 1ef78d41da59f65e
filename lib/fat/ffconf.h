// Configuration of the FAT module. The names and meanings follow ChaN's FatFs
// configuration file, so that ffconf.h reads the same to someone who knows it;
// this module implements exactly the settings below and nothing else.
#pragma once

#define FFCONF_DEF 1

#define FF_FS_READONLY 0   // write support: f_write, f_mkdir, f_unlink, f_rename, f_truncate
#define FF_FS_MINIMIZE 0   // every call of the interface is present
#define FF_USE_STRFUNC 0   // no f_gets/f_puts/f_printf (the firmware formats itself)
#define FF_USE_FIND 0
#define FF_USE_MKFS 0      // cards are formatted on a PC
#define FF_USE_FASTSEEK 0
#define FF_USE_EXPAND 0
#define FF_USE_CHMOD 0
#define FF_USE_LABEL 0
#define FF_USE_FORWARD 0

#define FF_CODE_PAGE 437   // OEM code page of the 8.3 names
#define FF_USE_LFN 0       // 8.3 names only; long-name entries written by a PC are skipped
#define FF_MAX_LFN 255
#define FF_LFN_UNICODE 0   // TCHAR is char
#define FF_STRF_ENCODE 0
#define FF_FS_RPATH 0      // no current directory: every path starts at the root

#define FF_VOLUMES 1       // one drive, number 0 ("" or "0:")
#define FF_STR_VOLUME_ID 0
#define FF_MULTI_PARTITION 0  // the first FAT partition of the MBR, or a superfloppy
#define FF_MIN_SS 512
#define FF_MAX_SS 512      // 512-byte sectors only
#define FF_LBA64 0
#define FF_MIN_GPT 0x10000000
#define FF_USE_TRIM 0

#define FF_FS_TINY 0       // each FIL has its own sector buffer
#define FF_FS_EXFAT 0
#define FF_FS_NORTC 0      // time stamps come from get_fattime()
#define FF_FS_NOFSINFO 0   // trust the FAT32 FSInfo free count when it is plausible
#define FF_FS_LOCK 0       // no file locking
#define FF_FS_REENTRANT 0  // foreground use only
