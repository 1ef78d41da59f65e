// Private layer of the FAT module, shared by its three source files:
// ff_volume.cpp (sector window, FAT entries, cluster chains, mount),
// ff_dir.cpp (names, directory entries, paths, directory calls) and
// ff_file.cpp (file calls). Not for use outside lib/fat.
#pragma once

#include "fat/diskio.h"
#include "fat/ff.h"

namespace fat_impl {

constexpr UINT kSectorSize = 512;
constexpr UINT kEntrySize = 32;
constexpr UINT kEntriesPerSector = kSectorSize / kEntrySize;
// A directory holds at most 65536 entries (2 MiB); a longer chain is corrupt.
constexpr DWORD kMaxDirEntries = 0x10000;
constexpr LBA_t kNoSector = 0xFFFFFFFF;
constexpr DWORD kUnknown = 0xFFFFFFFF;
constexpr DWORD kNoLfn = 0xFFFFFFFF;

// Directory entry layout.
constexpr UINT DIR_Name = 0;
constexpr UINT DIR_Attr = 11;
constexpr UINT DIR_NTres = 12;
constexpr UINT DIR_CrtTime10 = 13;
constexpr UINT DIR_CrtTime = 14;
constexpr UINT DIR_CrtDate = 16;
constexpr UINT DIR_LstAccDate = 18;
constexpr UINT DIR_FstClusHI = 20;
constexpr UINT DIR_WrtTime = 22;
constexpr UINT DIR_WrtDate = 24;
constexpr UINT DIR_FstClusLO = 26;
constexpr UINT DIR_FileSize = 28;
constexpr UINT LDIR_Chksum = 13;

constexpr BYTE AM_VOL = 0x08;
constexpr BYTE AM_LFN = 0x0F;
constexpr BYTE AM_MASK = 0x3F;
constexpr BYTE kDeleted = 0xE5;     // first name byte of a free entry
constexpr BYTE kKanjiLead = 0x05;   // stands for a real 0xE5 first name byte
constexpr BYTE kLfnLast = 0x40;     // ordinal flag of the last long-name entry

// FIL.flag bits beyond the FA_* mode bits.
constexpr BYTE FA_SEEKEND = 0x20;
constexpr BYTE FA_MODIFIED = 0x40;
constexpr BYTE FA_DIRTY = 0x80;

// DIR.fn[kNameStatus] bits.
constexpr UINT kNameStatus = 11;
constexpr BYTE NS_LAST = 0x01;   // last segment of the path
constexpr BYTE NS_NONAME = 0x02; // the path names the root directory

inline WORD ld_word(const BYTE* p) { return (WORD)(p[0] | (p[1] << 8)); }
inline DWORD ld_dword(const BYTE* p)
{
    return (DWORD)p[0] | ((DWORD)p[1] << 8) | ((DWORD)p[2] << 16) | ((DWORD)p[3] << 24);
}
inline void st_word(BYTE* p, WORD v)
{
    p[0] = (BYTE)v;
    p[1] = (BYTE)(v >> 8);
}
inline void st_dword(BYTE* p, DWORD v)
{
    p[0] = (BYTE)v;
    p[1] = (BYTE)(v >> 8);
    p[2] = (BYTE)(v >> 16);
    p[3] = (BYTE)(v >> 24);
}

// Loop detection for a walk along a cluster chain, in two words per object.
// The walk x0, x1, ... compares each cluster with the one it passed at the
// last power-of-two step; a chain that loops (from any point, with any
// period) meets that mark again within a few times its length, while a
// proper chain never repeats a cluster.
inline void chain_start(DWORD* mark, DWORD* step, DWORD first)
{
    *mark = first;
    *step = 0;
}
inline bool chain_step(DWORD* mark, DWORD* step, DWORD clst)
{
    if (clst == *mark) return false;
    ++*step;
    if ((*step & (*step - 1)) == 0) *mark = clst;
    return true;
}

// --- ff_volume.cpp -------------------------------------------------------

FRESULT sync_window(FATFS* fs);
FRESULT move_window(FATFS* fs, LBA_t sect);
FRESULT sync_fs(FATFS* fs);

inline DWORD cluster_count(const FATFS* fs) { return fs->n_fatent - 2; }
inline DWORD cluster_bytes(const FATFS* fs) { return (DWORD)fs->csize * kSectorSize; }
inline bool valid_cluster(const FATFS* fs, DWORD clst) { return clst >= 2 && clst < fs->n_fatent; }
// First sector of a cluster; the caller has checked valid_cluster().
inline LBA_t clust2sect(const FATFS* fs, DWORD clst) { return fs->database + (clst - 2) * fs->csize; }
// Start cluster of the root directory: 0 for the fixed FAT12/16 root.
inline DWORD root_cluster(const FATFS* fs) { return fs->fs_type == FS_FAT32 ? fs->dirbase : 0; }

FRESULT get_fat(FATFS* fs, DWORD clst, DWORD* val);
FRESULT put_fat(FATFS* fs, DWORD clst, DWORD val);
// Cluster after clst in its chain: *next is the link, or 0 at the end of
// the chain. A free, bad or out-of-range entry is FR_INT_ERR.
FRESULT next_cluster(FATFS* fs, DWORD clst, DWORD* next);
// Extends the chain ending at clst (0: starts a new chain). *ncl is the
// following cluster (an existing link is followed, not replaced) or 0 when
// the volume is full.
FRESULT create_chain(FATFS* fs, DWORD clst, DWORD* ncl);
// Frees the chain from clst; pclst (if not 0) becomes the new end of chain.
FRESULT remove_chain(FATFS* fs, DWORD clst, DWORD pclst);
// Writes zeros over a cluster through the window; the first sector stays in
// the window, marked dirty, for the caller to fill.
FRESULT clear_cluster(FATFS* fs, DWORD clst);

// Finds the volume named at the head of *path (the drive prefix is removed),
// mounting it when needed. write: the call will modify the volume.
FRESULT mount_volume(const TCHAR** path, FATFS** rfs, bool write);
// Checks that obj belongs to the current mount of the registered volume.
FRESULT validate(const FFOBJID* obj, FATFS** rfs);

// --- ff_dir.cpp ----------------------------------------------------------

FRESULT dir_sdi(DIR* dp, DWORD idx);
FRESULT dir_next(DIR* dp, bool stretch);
DWORD ld_clust(const FATFS* fs, const BYTE* dir);
void st_clust(const FATFS* fs, BYTE* dir, DWORD clst);
// Resolves path from the root. FR_OK: dp->dir is the entry (or NS_NONAME is
// set for the root); FR_NO_FILE: the last segment is missing and dp is set
// up in its parent directory with dp->fn holding the name.
FRESULT follow_path(DIR* dp, const TCHAR* path, DWORD avoid_clust);
// Adds an entry named dp->fn to the directory of dp; dp->dir is the zeroed
// entry with its name.
FRESULT dir_register(DIR* dp);

} // namespace fat_impl
