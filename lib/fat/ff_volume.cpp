// Volume layer of the FAT module: the one-sector window, FAT entries,
// cluster chains, finding and mounting the volume, FSInfo, f_mount and
// f_getfree.
#include <string.h>

#include "fat/ff_internal.h"

namespace fat_impl {

namespace {

FATFS* g_volume = nullptr; // the registered work area of drive 0
WORD g_mount_id = 0;

// Boot sector (BPB) fields.
constexpr UINT BS_JmpBoot = 0;
constexpr UINT BPB_BytsPerSec = 11;
constexpr UINT BPB_SecPerClus = 13;
constexpr UINT BPB_RsvdSecCnt = 14;
constexpr UINT BPB_NumFATs = 16;
constexpr UINT BPB_RootEntCnt = 17;
constexpr UINT BPB_TotSec16 = 19;
constexpr UINT BPB_FATSz16 = 22;
constexpr UINT BPB_TotSec32 = 32;
constexpr UINT BPB_FATSz32 = 36;
constexpr UINT BPB_FSVer32 = 42;
constexpr UINT BPB_RootClus32 = 44;
constexpr UINT BPB_FSInfo32 = 48;
constexpr UINT BS_55AA = 510;

constexpr UINT MBR_Table = 446;
constexpr UINT kPartEntrySize = 16;
constexpr UINT PTE_System = 4;
constexpr UINT PTE_StLba = 8;
constexpr BYTE kGptProtective = 0xEE;

constexpr UINT FSI_LeadSig = 0;
constexpr UINT FSI_StrucSig = 484;
constexpr UINT FSI_Free_Count = 488;
constexpr UINT FSI_Nxt_Free = 492;
constexpr UINT FSI_TrailSig = 508;
constexpr DWORD kFsiLead = 0x41615252;
constexpr DWORD kFsiStruc = 0x61417272;
constexpr DWORD kFsiTrail = 0xAA550000;

constexpr DWORD kMaxFat12 = 4084;       // clusters
constexpr DWORD kMaxFat16 = 65524;
constexpr DWORD kMaxFat32 = 0x0FFFFFF5;

constexpr DWORD end_of_chain(BYTE fs_type)
{
    return fs_type == FS_FAT12 ? 0xFFF : fs_type == FS_FAT16 ? 0xFFFF : 0x0FFFFFFF;
}

bool is_end_of_chain(const FATFS* fs, DWORD val)
{
    return val >= end_of_chain(fs->fs_type) - 7; // 0x..FF8 to 0x..FFF
}

// Drive number from a "0:" prefix; no prefix means drive 0. Returns -1 for
// any other drive.
int get_ldnumber(const TCHAR** path)
{
    const TCHAR* p = *path;
    if (p == nullptr) return -1;
    const TCHAR* tt = p;
    while (*tt != 0 && *tt != ':' && *tt != '/' && *tt != '\\') ++tt;
    if (*tt != ':') return 0;
    if (tt - p != 1 || p[0] != '0') return -1;
    *path = tt + 1;
    return 0;
}

enum class BootKind { Fat, NotFat, DiskError };

// Jump instruction and the fixed BPB fields of a FAT boot sector.
BootKind check_boot_sector(FATFS* fs, LBA_t sect)
{
    if (move_window(fs, sect) != FR_OK) return BootKind::DiskError;
    const BYTE* w = fs->win;
    const bool jump = w[BS_JmpBoot] == 0xEB || w[BS_JmpBoot] == 0xE9 || w[BS_JmpBoot] == 0xE8;
    const BYTE spc = w[BPB_SecPerClus];
    const bool bpb = ld_word(w + BPB_BytsPerSec) == kSectorSize && spc != 0 && (spc & (spc - 1)) == 0 &&
                     ld_word(w + BPB_RsvdSecCnt) != 0 && (w[BPB_NumFATs] == 1 || w[BPB_NumFATs] == 2);
    return jump && bpb ? BootKind::Fat : BootKind::NotFat;
}

// Finds the boot sector: sector 0 of a superfloppy, else the first FAT
// partition of the MBR.
FRESULT find_volume(FATFS* fs, LBA_t* bsect)
{
    BootKind kind = check_boot_sector(fs, 0);
    if (kind == BootKind::DiskError) return FR_DISK_ERR;
    *bsect = 0;
    if (kind == BootKind::Fat) return FR_OK;
    if (ld_word(fs->win + BS_55AA) != 0xAA55) return FR_NO_FILESYSTEM;
    LBA_t starts[4];
    for (UINT i = 0; i < 4; ++i) {
        const BYTE* pte = fs->win + MBR_Table + i * kPartEntrySize;
        const BYTE type = pte[PTE_System];
        starts[i] = (type != 0 && type != kGptProtective) ? ld_dword(pte + PTE_StLba) : 0;
    }
    for (UINT i = 0; i < 4; ++i) {
        if (starts[i] == 0) continue;
        kind = check_boot_sector(fs, starts[i]);
        if (kind == BootKind::DiskError) return FR_DISK_ERR;
        if (kind == BootKind::Fat) {
            *bsect = starts[i];
            return FR_OK;
        }
    }
    return FR_NO_FILESYSTEM;
}

// Bytes of FAT needed for n_fatent entries.
QWORD fat_bytes(BYTE fs_type, DWORD n_fatent)
{
    if (fs_type == FS_FAT12) return ((QWORD)n_fatent * 3 + 1) / 2;
    return (QWORD)n_fatent * (fs_type == FS_FAT16 ? 2 : 4);
}

// Geometry from the boot sector in the window, every field checked against
// the others so that no later access can leave the volume or the FAT.
FRESULT parse_bpb(FATFS* fs, LBA_t bsect)
{
    const BYTE* w = fs->win;
    const DWORD rsv = ld_word(w + BPB_RsvdSecCnt);
    const DWORD nfats = w[BPB_NumFATs];
    const DWORD nrootdir = ld_word(w + BPB_RootEntCnt);
    DWORD tot = ld_word(w + BPB_TotSec16);
    if (tot == 0) tot = ld_dword(w + BPB_TotSec32);
    DWORD fasize = ld_word(w + BPB_FATSz16);
    if (fasize == 0) fasize = ld_dword(w + BPB_FATSz32);
    if (tot == 0 || fasize == 0 || nrootdir % kEntriesPerSector != 0) return FR_NO_FILESYSTEM;
    if ((QWORD)bsect + tot > 0xFFFFFFFFull) return FR_NO_FILESYSTEM;

    const QWORD sysect = rsv + (QWORD)nfats * fasize + nrootdir / kEntriesPerSector;
    if (sysect >= tot) return FR_NO_FILESYSTEM;
    const DWORD nclst = (tot - (DWORD)sysect) / w[BPB_SecPerClus];
    if (nclst == 0 || nclst > kMaxFat32) return FR_NO_FILESYSTEM;
    const BYTE type = nclst <= kMaxFat12 ? FS_FAT12 : nclst <= kMaxFat16 ? FS_FAT16 : FS_FAT32;
    const DWORD n_fatent = nclst + 2;
    if (fat_bytes(type, n_fatent) > (QWORD)fasize * kSectorSize) return FR_NO_FILESYSTEM;

    fs->csize = w[BPB_SecPerClus];
    fs->n_fats = (BYTE)nfats;
    fs->n_rootdir = (WORD)nrootdir;
    fs->fsize = fasize;
    fs->n_fatent = n_fatent;
    fs->volbase = bsect;
    fs->fatbase = bsect + rsv;
    fs->database = bsect + (DWORD)sysect;
    fs->fsi_sector = 0;
    if (type == FS_FAT32) {
        if (nrootdir != 0 || ld_word(w + BPB_FSVer32) != 0) return FR_NO_FILESYSTEM;
        fs->dirbase = ld_dword(w + BPB_RootClus32);
        if (!(fs->dirbase >= 2 && fs->dirbase < n_fatent)) return FR_NO_FILESYSTEM;
        const DWORD fsi = ld_word(w + BPB_FSInfo32);
        if (fsi >= 1 && fsi < rsv) fs->fsi_sector = bsect + fsi;
    } else {
        if (nrootdir == 0) return FR_NO_FILESYSTEM;
        fs->dirbase = fs->fatbase + nfats * fasize;
    }
    fs->fs_type = type; // provisional: the caller clears it on failure
    return FR_OK;
}

// Free cluster count and allocation hint from FSInfo, when it is intact and
// plausible; otherwise the count stays unknown and FSInfo is left alone.
FRESULT load_fsinfo(FATFS* fs)
{
    fs->free_clst = kUnknown;
    fs->last_clst = kUnknown;
    fs->fsi_flag = 0;
    if (fs->fs_type != FS_FAT32 || fs->fsi_sector == 0) return FR_OK;
    FRESULT res = move_window(fs, fs->fsi_sector);
    if (res != FR_OK) return res;
    const BYTE* w = fs->win;
    if (ld_dword(w + FSI_LeadSig) != kFsiLead || ld_dword(w + FSI_StrucSig) != kFsiStruc ||
        ld_dword(w + FSI_TrailSig) != kFsiTrail) {
        fs->fsi_sector = 0;
        return FR_OK;
    }
    const DWORD nfree = ld_dword(w + FSI_Free_Count);
    const DWORD next = ld_dword(w + FSI_Nxt_Free);
    if (nfree <= cluster_count(fs)) fs->free_clst = nfree;
    if (valid_cluster(fs, next)) fs->last_clst = next;
    return FR_OK;
}

void count_freed(FATFS* fs)
{
    if (fs->free_clst < cluster_count(fs)) {
        ++fs->free_clst;
    } else {
        fs->free_clst = kUnknown; // the stored count was wrong
    }
    fs->fsi_flag |= 1;
}

void count_allocated(FATFS* fs, DWORD clst)
{
    if (fs->free_clst != kUnknown) fs->free_clst = fs->free_clst > 0 ? fs->free_clst - 1 : kUnknown;
    fs->last_clst = clst;
    fs->fsi_flag |= 1;
}

// First free cluster after start (wrapping round), or 0.
FRESULT find_free(FATFS* fs, DWORD start, DWORD* found)
{
    *found = 0;
    DWORD clst = start;
    for (DWORD n = 0; n < cluster_count(fs); ++n) {
        ++clst;
        if (clst >= fs->n_fatent) clst = 2;
        DWORD val;
        FRESULT res = get_fat(fs, clst, &val);
        if (res != FR_OK) return res;
        if (val == 0) {
            *found = clst;
            return FR_OK;
        }
    }
    return FR_OK;
}

} // namespace

FRESULT sync_window(FATFS* fs)
{
    if (!fs->wflag) return FR_OK;
    if (disk_write(fs->pdrv, fs->win, fs->winsect, 1) != RES_OK) return FR_DISK_ERR;
    fs->wflag = 0;
    // Both FAT copies stay equal: a FAT sector is mirrored as it is written.
    if (fs->winsect - fs->fatbase < fs->fsize && fs->n_fats == 2) {
        if (disk_write(fs->pdrv, fs->win, fs->winsect + fs->fsize, 1) != RES_OK) return FR_DISK_ERR;
    }
    return FR_OK;
}

FRESULT move_window(FATFS* fs, LBA_t sect)
{
    if (sect == fs->winsect) return FR_OK;
    FRESULT res = sync_window(fs);
    if (res != FR_OK) return res;
    if (disk_read(fs->pdrv, fs->win, sect, 1) != RES_OK) {
        fs->winsect = kNoSector;
        return FR_DISK_ERR;
    }
    fs->winsect = sect;
    return FR_OK;
}

FRESULT sync_fs(FATFS* fs)
{
    FRESULT res = sync_window(fs);
    if (res != FR_OK) return res;
    if (fs->fs_type == FS_FAT32 && (fs->fsi_flag & 1) && fs->fsi_sector != 0) {
        memset(fs->win, 0, kSectorSize);
        st_dword(fs->win + FSI_LeadSig, kFsiLead);
        st_dword(fs->win + FSI_StrucSig, kFsiStruc);
        st_dword(fs->win + FSI_Free_Count, fs->free_clst);
        st_dword(fs->win + FSI_Nxt_Free, valid_cluster(fs, fs->last_clst) ? fs->last_clst : kUnknown);
        st_dword(fs->win + FSI_TrailSig, kFsiTrail);
        fs->winsect = fs->fsi_sector;
        if (disk_write(fs->pdrv, fs->win, fs->winsect, 1) != RES_OK) {
            fs->winsect = kNoSector;
            return FR_DISK_ERR;
        }
        fs->fsi_flag = 0;
    }
    if (disk_ioctl(fs->pdrv, CTRL_SYNC, nullptr) != RES_OK) return FR_DISK_ERR;
    return FR_OK;
}

FRESULT get_fat(FATFS* fs, DWORD clst, DWORD* val)
{
    if (!valid_cluster(fs, clst)) return FR_INT_ERR;
    FRESULT res;
    switch (fs->fs_type) {
    case FS_FAT12: {
        DWORD bc = clst + clst / 2;
        if ((res = move_window(fs, fs->fatbase + bc / kSectorSize)) != FR_OK) return res;
        DWORD w = fs->win[bc % kSectorSize];
        ++bc;
        if ((res = move_window(fs, fs->fatbase + bc / kSectorSize)) != FR_OK) return res;
        w |= (DWORD)fs->win[bc % kSectorSize] << 8;
        *val = (clst & 1) ? w >> 4 : w & 0xFFF;
        return FR_OK;
    }
    case FS_FAT16:
        if ((res = move_window(fs, fs->fatbase + clst / (kSectorSize / 2))) != FR_OK) return res;
        *val = ld_word(fs->win + clst % (kSectorSize / 2) * 2);
        return FR_OK;
    default:
        if ((res = move_window(fs, fs->fatbase + clst / (kSectorSize / 4))) != FR_OK) return res;
        *val = ld_dword(fs->win + clst % (kSectorSize / 4) * 4) & 0x0FFFFFFF;
        return FR_OK;
    }
}

FRESULT put_fat(FATFS* fs, DWORD clst, DWORD val)
{
    if (!valid_cluster(fs, clst)) return FR_INT_ERR;
    FRESULT res;
    switch (fs->fs_type) {
    case FS_FAT12: {
        DWORD bc = clst + clst / 2;
        if ((res = move_window(fs, fs->fatbase + bc / kSectorSize)) != FR_OK) return res;
        BYTE* p = fs->win + bc % kSectorSize;
        *p = (clst & 1) ? (BYTE)((*p & 0x0F) | ((val & 0x0F) << 4)) : (BYTE)val;
        fs->wflag = 1;
        ++bc;
        if ((res = move_window(fs, fs->fatbase + bc / kSectorSize)) != FR_OK) return res;
        p = fs->win + bc % kSectorSize;
        *p = (clst & 1) ? (BYTE)(val >> 4) : (BYTE)((*p & 0xF0) | ((val >> 8) & 0x0F));
        fs->wflag = 1;
        return FR_OK;
    }
    case FS_FAT16:
        if ((res = move_window(fs, fs->fatbase + clst / (kSectorSize / 2))) != FR_OK) return res;
        st_word(fs->win + clst % (kSectorSize / 2) * 2, (WORD)val);
        fs->wflag = 1;
        return FR_OK;
    default: {
        if ((res = move_window(fs, fs->fatbase + clst / (kSectorSize / 4))) != FR_OK) return res;
        BYTE* p = fs->win + clst % (kSectorSize / 4) * 4;
        // The top four bits are reserved and kept.
        st_dword(p, (val & 0x0FFFFFFF) | (ld_dword(p) & 0xF0000000));
        fs->wflag = 1;
        return FR_OK;
    }
    }
}

FRESULT next_cluster(FATFS* fs, DWORD clst, DWORD* next)
{
    DWORD val;
    FRESULT res = get_fat(fs, clst, &val);
    if (res != FR_OK) return res;
    if (valid_cluster(fs, val)) {
        *next = val;
        return FR_OK;
    }
    if (is_end_of_chain(fs, val)) {
        *next = 0;
        return FR_OK;
    }
    return FR_INT_ERR; // free, bad or out-of-range entry inside a chain
}

FRESULT create_chain(FATFS* fs, DWORD clst, DWORD* ncl)
{
    *ncl = 0;
    DWORD start;
    if (clst == 0) {
        start = valid_cluster(fs, fs->last_clst) ? fs->last_clst : 1;
    } else {
        DWORD next;
        FRESULT res = next_cluster(fs, clst, &next);
        if (res != FR_OK) return res;
        if (next != 0) {
            *ncl = next;
            return FR_OK;
        }
        start = clst; // keep the file contiguous when possible
    }
    if (fs->free_clst == 0) return FR_OK;
    DWORD found;
    FRESULT res = find_free(fs, start, &found);
    if (res != FR_OK || found == 0) return res;
    if ((res = put_fat(fs, found, end_of_chain(fs->fs_type))) != FR_OK) return res;
    if (clst != 0 && (res = put_fat(fs, clst, found)) != FR_OK) return res;
    count_allocated(fs, found);
    *ncl = found;
    return FR_OK;
}

FRESULT remove_chain(FATFS* fs, DWORD clst, DWORD pclst)
{
    if (!valid_cluster(fs, clst)) return FR_INT_ERR;
    FRESULT res;
    if (pclst != 0 && (res = put_fat(fs, pclst, end_of_chain(fs->fs_type))) != FR_OK) return res;
    // Each step frees one cluster, so a loop meets a free entry; the count
    // bounds the walk all the same.
    for (DWORD n = 0; n < cluster_count(fs); ++n) {
        DWORD val;
        if ((res = get_fat(fs, clst, &val)) != FR_OK) return res;
        if (val == 0) return FR_INT_ERR;
        if ((res = put_fat(fs, clst, 0)) != FR_OK) return res;
        count_freed(fs);
        if (is_end_of_chain(fs, val)) return FR_OK;
        if (!valid_cluster(fs, val)) return FR_INT_ERR;
        clst = val;
    }
    return FR_INT_ERR;
}

FRESULT clear_cluster(FATFS* fs, DWORD clst)
{
    FRESULT res = sync_window(fs);
    if (res != FR_OK) return res;
    memset(fs->win, 0, kSectorSize);
    const LBA_t first = clust2sect(fs, clst);
    for (UINT i = fs->csize; i-- > 1;) {
        fs->winsect = first + i;
        fs->wflag = 1;
        if ((res = sync_window(fs)) != FR_OK) {
            fs->winsect = kNoSector; // the zeros need not survive
            fs->wflag = 0;
            return res;
        }
    }
    fs->winsect = first;
    fs->wflag = 1;
    return FR_OK;
}

FRESULT mount_volume(const TCHAR** path, FATFS** rfs, bool write)
{
    *rfs = nullptr;
    if (get_ldnumber(path) < 0) return FR_INVALID_DRIVE;
    FATFS* fs = g_volume;
    if (fs == nullptr) return FR_NOT_ENABLED;
    *rfs = fs;

    if (fs->fs_type != 0) {
        const DSTATUS stat = disk_status(fs->pdrv);
        if (!(stat & STA_NOINIT)) {
            if (write && (stat & STA_PROTECT)) return FR_WRITE_PROTECTED;
            return FR_OK;
        }
    }
    // (Re)mount: the drive was never started or has been reset.
    fs->fs_type = 0;
    fs->pdrv = 0;
    const DSTATUS stat = disk_initialize(fs->pdrv);
    if (stat & STA_NOINIT) return FR_NOT_READY;
    if (write && (stat & STA_PROTECT)) return FR_WRITE_PROTECTED;

    fs->winsect = kNoSector;
    fs->wflag = 0;
    LBA_t bsect;
    FRESULT res = find_volume(fs, &bsect);
    if (res == FR_OK) res = move_window(fs, bsect);
    if (res == FR_OK) res = parse_bpb(fs, bsect);
    if (res == FR_OK) res = load_fsinfo(fs);
    if (res != FR_OK) {
        fs->fs_type = 0;
        return res;
    }
    if (++g_mount_id == 0) ++g_mount_id;
    fs->id = g_mount_id;
    return FR_OK;
}

FRESULT validate(const FFOBJID* obj, FATFS** rfs)
{
    *rfs = nullptr;
    if (obj == nullptr || obj->fs == nullptr || obj->fs != g_volume) return FR_INVALID_OBJECT;
    FATFS* fs = obj->fs;
    if (fs->fs_type == 0 || obj->id != fs->id) return FR_INVALID_OBJECT;
    if (disk_status(fs->pdrv) & STA_NOINIT) return FR_INVALID_OBJECT;
    *rfs = fs;
    return FR_OK;
}

} // namespace fat_impl

using namespace fat_impl;

FRESULT f_mount(FATFS* fs, const TCHAR* path, BYTE opt)
{
    const TCHAR* rp = path;
    if (get_ldnumber(&rp) < 0) return FR_INVALID_DRIVE;
    if (g_volume != nullptr) g_volume->fs_type = 0;
    if (fs != nullptr) {
        fs->fs_type = 0;
        fs->winsect = kNoSector;
        fs->wflag = 0;
    }
    g_volume = fs;
    if (fs == nullptr || opt != 1) return FR_OK; // delayed mount
    FATFS* mounted;
    return mount_volume(&path, &mounted, false);
}

FRESULT f_getfree(const TCHAR* path, DWORD* nclst, FATFS** fatfs)
{
    FATFS* fs;
    FRESULT res = mount_volume(&path, &fs, false);
    if (res != FR_OK) return res;
    if (fatfs != nullptr) *fatfs = fs;
    if (fs->free_clst > cluster_count(fs)) {
        DWORD nfree = 0;
        for (DWORD clst = 2; clst < fs->n_fatent; ++clst) {
            DWORD val;
            if ((res = get_fat(fs, clst, &val)) != FR_OK) return res;
            if (val == 0) ++nfree;
        }
        fs->free_clst = nfree;
        fs->fsi_flag |= 1;
    }
    if (nclst != nullptr) *nclst = fs->free_clst;
    return FR_OK;
}
