// Directory layer of the FAT module: 8.3 names, directory entries and their
// walk, path resolution, and the directory calls (f_opendir, f_readdir,
// f_stat, f_mkdir, f_unlink, f_rename).
#include <string.h>

#include "fat/ff_internal.h"

namespace fat_impl {

namespace {

constexpr char kBadNameChars[] = " \"*+,:;<=>?[]|\x7F";

bool is_separator(TCHAR c) { return c == '/' || c == '\\'; }

// Code page 437 upper case: ASCII letters and the accented letters that
// have a capital form in the code page.
BYTE upcase(BYTE c)
{
    if (c >= 'a' && c <= 'z') return (BYTE)(c - 'a' + 'A');
    switch (c) {
    case 0x81: return 0x9A; // u diaeresis
    case 0x82: return 0x90; // e acute
    case 0x84: return 0x8E; // a diaeresis
    case 0x86: return 0x8F; // a ring
    case 0x87: return 0x80; // c cedilla
    case 0x91: return 0x92; // ae
    case 0x94: return 0x99; // o diaeresis
    case 0xA4: return 0xA5; // n tilde
    default: return c;
    }
}

bool is_bad_name_char(BYTE c) { return c < 0x20 || (c < 0x80 && strchr(kBadNameChars, c) != nullptr); }

// Next path segment into dp->fn as a space-padded 8.3 name; *path moves past
// it and its separators.
FRESULT create_name(DIR* dp, const TCHAR** path)
{
    const TCHAR* p = *path;
    BYTE* fn = dp->fn;
    memset(fn, ' ', 11);
    UINT i = 0;
    UINT ni = 8; // end of the part being filled: base name, then extension
    bool last = false;
    for (;;) {
        const BYTE c = (BYTE)*p;
        if (c == 0) {
            last = true;
            break;
        }
        ++p;
        if (is_separator((TCHAR)c)) {
            while (is_separator(*p)) ++p;
            last = *p == 0;
            break;
        }
        if (c == '.') {
            if (ni == 11 || i == 0) return FR_INVALID_NAME; // second dot, or no base name
            i = 8;
            ni = 11;
            continue;
        }
        if (i >= ni || is_bad_name_char(c)) return FR_INVALID_NAME;
        fn[i++] = upcase(c);
    }
    if (i == 0) return FR_INVALID_NAME;
    if (fn[0] == kDeleted) fn[0] = kKanjiLead;
    fn[kNameStatus] = last ? NS_LAST : 0;
    *path = p;
    return FR_OK;
}

BYTE sfn_checksum(const BYTE* name)
{
    BYTE sum = 0;
    for (UINT i = 0; i < 11; ++i) sum = (BYTE)(((sum & 1) << 7) + (sum >> 1) + name[i]);
    return sum;
}

bool name_matches(const BYTE* entry, const BYTE* fn)
{
    for (UINT i = 0; i < 11; ++i) {
        if (upcase(entry[i]) != fn[i]) return false;
    }
    return true;
}

// Loads the sector of the current entry and points dp->dir at it.
FRESULT load_entry(DIR* dp)
{
    FATFS* fs = dp->obj.fs;
    FRESULT res = move_window(fs, dp->sect);
    if (res != FR_OK) return res;
    dp->dir = fs->win + (dp->dptr % kEntriesPerSector) * kEntrySize;
    return FR_OK;
}

// Long-name entries seen just before the entry being examined. A run counts
// only when it is complete, in order, and its checksum matches the 8.3 entry
// that follows it.
struct LfnRun {
    DWORD start = kNoLfn;
    BYTE expect = 0; // ordinal of the next entry, 0 when no run is open
    BYTE sum = 0;

    void reset()
    {
        start = kNoLfn;
        expect = 0;
    }
    void feed(const BYTE* dir, DWORD index)
    {
        const BYTE ord = dir[DIR_Name];
        if (ord & kLfnLast) {
            start = index;
            expect = (BYTE)((ord & 0x3F) - 1);
            sum = dir[LDIR_Chksum];
            if ((ord & 0x3F) == 0) reset();
        } else if (expect != 0 && ord == expect && dir[LDIR_Chksum] == sum) {
            --expect;
        } else {
            reset();
        }
    }
    DWORD owner_start(const BYTE* sfn) const
    {
        return start != kNoLfn && expect == 0 && sum == sfn_checksum(sfn) ? start : kNoLfn;
    }
};

bool is_lfn(const BYTE* dir) { return (dir[DIR_Attr] & AM_MASK) == AM_LFN; }
bool is_volume_label(const BYTE* dir) { return !is_lfn(dir) && (dir[DIR_Attr] & AM_VOL); }

// Finds dp->fn in the directory of dp.
FRESULT dir_find(DIR* dp)
{
    FRESULT res = dir_sdi(dp, 0);
    if (res != FR_OK) return res;
    LfnRun lfn;
    for (;;) {
        if ((res = load_entry(dp)) != FR_OK) return res;
        const BYTE* dir = dp->dir;
        const BYTE c = dir[DIR_Name];
        if (c == 0) return FR_NO_FILE;
        if (c == kDeleted) {
            lfn.reset();
        } else if (is_lfn(dir)) {
            lfn.feed(dir, dp->dptr);
        } else if (is_volume_label(dir)) {
            lfn.reset();
        } else {
            if (name_matches(dir, dp->fn)) {
                dp->blk_ofs = lfn.owner_start(dir);
                return FR_OK;
            }
            lfn.reset();
        }
        if ((res = dir_next(dp, false)) != FR_OK) return res;
    }
}

// First free entry of the directory, growing it when every entry is used.
FRESULT dir_alloc(DIR* dp)
{
    FRESULT res = dir_sdi(dp, 0);
    if (res != FR_OK) return res;
    for (;;) {
        if ((res = load_entry(dp)) != FR_OK) return res;
        const BYTE c = dp->dir[DIR_Name];
        if (c == 0 || c == kDeleted) return FR_OK;
        res = dir_next(dp, true);
        if (res == FR_NO_FILE) return FR_DENIED; // fixed root full
        if (res != FR_OK) return res;
    }
}

// Marks the entry of dp, and its long-name entries, as deleted.
FRESULT dir_remove(DIR* dp)
{
    const DWORD last = dp->dptr;
    const DWORD first = dp->blk_ofs != kNoLfn && dp->blk_ofs < last ? dp->blk_ofs : last;
    FRESULT res = dir_sdi(dp, first);
    for (;;) {
        if (res == FR_OK) res = load_entry(dp);
        if (res != FR_OK) return res;
        dp->dir[DIR_Name] = kDeleted;
        dp->obj.fs->wflag = 1;
        if (dp->dptr >= last) return FR_OK;
        res = dir_next(dp, false);
        if (res == FR_NO_FILE) return FR_INT_ERR;
    }
}

void get_fileinfo(const BYTE* dir, FILINFO* fno)
{
    UINT j = 0;
    for (UINT i = 0; i < 8; ++i) {
        BYTE c = dir[DIR_Name + i];
        if (c == ' ') continue;
        if (i == 0 && c == kKanjiLead) c = kDeleted;
        fno->fname[j++] = (TCHAR)c;
    }
    if (dir[DIR_Name + 8] != ' ') {
        fno->fname[j++] = '.';
        for (UINT i = 8; i < 11; ++i) {
            if (dir[DIR_Name + i] != ' ') fno->fname[j++] = (TCHAR)dir[DIR_Name + i];
        }
    }
    fno->fname[j] = 0;
    fno->fattrib = dir[DIR_Attr] & AM_MASK;
    fno->fsize = ld_dword(dir + DIR_FileSize);
    fno->ftime = ld_word(dir + DIR_WrtTime);
    fno->fdate = ld_word(dir + DIR_WrtDate);
}

// Start cluster of a subdirectory entry, which must lie on the volume.
FRESULT dir_start(const FATFS* fs, const BYTE* dir, DWORD* clst)
{
    *clst = ld_clust(fs, dir);
    return valid_cluster(fs, *clst) ? FR_OK : FR_INT_ERR;
}

// Fills a fresh directory cluster with its "." and ".." entries.
void make_dot_entries(FATFS* fs, DWORD self, DWORD parent, DWORD tm)
{
    BYTE* d = fs->win;
    for (UINT k = 0; k < 2; ++k, d += kEntrySize) {
        memset(d, ' ', 11);
        d[0] = '.';
        if (k == 1) d[1] = '.';
        d[DIR_Attr] = AM_DIR;
        st_dword(d + DIR_CrtTime, tm);
        st_word(d + DIR_LstAccDate, (WORD)(tm >> 16));
        st_dword(d + DIR_WrtTime, tm);
        st_clust(fs, d, k == 0 ? self : parent);
    }
    fs->wflag = 1;
}

// ".." of a directory in the root names cluster 0, also on FAT32.
DWORD parent_link(const FATFS* fs, DWORD parent_sclust)
{
    return parent_sclust == root_cluster(fs) ? 0 : parent_sclust;
}

bool is_dotdot(const BYTE* dir) { return dir[0] == '.' && dir[1] == '.' && dir[2] == ' '; }

FRESULT check_dir_empty(FATFS* fs, DWORD clst)
{
    DIR sdj;
    memset(&sdj, 0, sizeof sdj);
    sdj.obj.fs = fs;
    sdj.obj.sclust = clst;
    FRESULT res = dir_sdi(&sdj, 0);
    for (;;) {
        if (res == FR_OK) res = load_entry(&sdj);
        if (res != FR_OK) return res;
        const BYTE* dir = sdj.dir;
        const BYTE c = dir[DIR_Name];
        if (c == 0) return FR_OK;
        if (c != kDeleted && c != '.' && !is_lfn(dir) && !is_volume_label(dir)) return FR_DENIED;
        res = dir_next(&sdj, false);
        if (res == FR_NO_FILE) return FR_OK;
    }
}

// Mounts the volume of *path and binds dj to it.
FRESULT start_at_root(DIR* dj, const TCHAR** path, FATFS** fs, bool write)
{
    FRESULT res = mount_volume(path, fs, write);
    if (res != FR_OK) return res;
    dj->obj.fs = *fs;
    return FR_OK;
}

} // namespace

DWORD ld_clust(const FATFS* fs, const BYTE* dir)
{
    DWORD cl = ld_word(dir + DIR_FstClusLO);
    if (fs->fs_type == FS_FAT32) cl |= (DWORD)ld_word(dir + DIR_FstClusHI) << 16;
    return cl;
}

void st_clust(const FATFS* fs, BYTE* dir, DWORD clst)
{
    st_word(dir + DIR_FstClusLO, (WORD)clst);
    if (fs->fs_type == FS_FAT32) st_word(dir + DIR_FstClusHI, (WORD)(clst >> 16));
}

FRESULT dir_sdi(DIR* dp, DWORD idx)
{
    FATFS* fs = dp->obj.fs;
    if (idx >= kMaxDirEntries) return FR_INT_ERR;
    DWORD clst = dp->obj.sclust;
    LBA_t sect;
    if (clst == 0) { // fixed FAT12/16 root
        if (fs->fs_type == FS_FAT32 || idx >= fs->n_rootdir) return FR_INT_ERR;
        sect = fs->dirbase + idx / kEntriesPerSector;
    } else {
        if (!valid_cluster(fs, clst)) return FR_INT_ERR;
        const DWORD per_cluster = (DWORD)fs->csize * kEntriesPerSector;
        chain_start(&dp->lp_mark, &dp->lp_step, clst);
        for (DWORD n = idx / per_cluster; n > 0; --n) { // at most 4096 steps
            DWORD next;
            FRESULT res = next_cluster(fs, clst, &next);
            if (res != FR_OK) return res;
            if (next == 0 || !chain_step(&dp->lp_mark, &dp->lp_step, next)) return FR_INT_ERR;
            clst = next;
        }
        sect = clust2sect(fs, clst) + idx % per_cluster / kEntriesPerSector;
    }
    dp->clust = clst;
    dp->sect = sect;
    dp->dptr = idx;
    dp->dir = nullptr;
    return FR_OK;
}

FRESULT dir_next(DIR* dp, bool stretch)
{
    FATFS* fs = dp->obj.fs;
    if (dp->sect == 0) return FR_NO_FILE;
    const DWORD ofs = dp->dptr + 1;
    dp->dir = nullptr;
    if (ofs % kEntriesPerSector != 0) {
        dp->dptr = ofs;
        return FR_OK;
    }
    if (dp->clust == 0) { // fixed FAT12/16 root
        if (ofs >= fs->n_rootdir) {
            dp->sect = 0;
            return FR_NO_FILE;
        }
        ++dp->sect;
        dp->dptr = ofs;
        return FR_OK;
    }
    if ((ofs / kEntriesPerSector) % fs->csize != 0) {
        ++dp->sect;
        dp->dptr = ofs;
        return FR_OK;
    }
    DWORD next;
    FRESULT res = next_cluster(fs, dp->clust, &next);
    if (res != FR_OK) return res;
    if (ofs >= kMaxDirEntries) {
        dp->sect = 0;
        // A chain that goes on past 2 MiB has no end (a loop): corrupt.
        return next != 0 ? FR_INT_ERR : stretch ? FR_DENIED : FR_NO_FILE;
    }
    if (next == 0) {
        if (!stretch) {
            dp->sect = 0;
            return FR_NO_FILE;
        }
        if ((res = create_chain(fs, dp->clust, &next)) != FR_OK) return res;
        if (next == 0) return FR_DENIED; // volume full
        if ((res = clear_cluster(fs, next)) != FR_OK) return res;
    }
    if (!chain_step(&dp->lp_mark, &dp->lp_step, next)) {
        dp->sect = 0;
        return FR_INT_ERR; // the directory's chain loops
    }
    dp->clust = next;
    dp->sect = clust2sect(fs, next);
    dp->dptr = ofs;
    return FR_OK;
}

FRESULT dir_register(DIR* dp)
{
    FRESULT res = dir_alloc(dp);
    if (res != FR_OK) return res;
    memset(dp->dir, 0, kEntrySize);
    memcpy(dp->dir + DIR_Name, dp->fn, 11);
    dp->obj.fs->wflag = 1;
    return FR_OK;
}

FRESULT follow_path(DIR* dp, const TCHAR* path, DWORD avoid_clust)
{
    FATFS* fs = dp->obj.fs;
    while (is_separator(*path)) ++path;
    dp->obj.sclust = root_cluster(fs);
    dp->blk_ofs = kNoLfn;
    if (*path == 0) {
        FRESULT res = dir_sdi(dp, 0);
        dp->fn[kNameStatus] = NS_NONAME;
        dp->dir = nullptr;
        return res;
    }
    for (;;) {
        FRESULT res = create_name(dp, &path);
        if (res != FR_OK) return res;
        const bool last = dp->fn[kNameStatus] & NS_LAST;
        res = dir_find(dp);
        if (res != FR_OK) return res == FR_NO_FILE && !last ? FR_NO_PATH : res;
        if (last) return FR_OK;
        if (!(dp->dir[DIR_Attr] & AM_DIR)) return FR_NO_PATH;
        DWORD clst;
        if ((res = dir_start(fs, dp->dir, &clst)) != FR_OK) return res;
        if (clst == avoid_clust) return FR_DENIED;
        dp->obj.sclust = clst;
    }
}

} // namespace fat_impl

using namespace fat_impl;

FRESULT f_opendir(DIR* dp, const TCHAR* path)
{
    if (dp == nullptr) return FR_INVALID_OBJECT;
    FATFS* fs;
    FRESULT res = start_at_root(dp, &path, &fs, false);
    if (res == FR_OK) res = follow_path(dp, path, 0);
    if (res == FR_OK && !(dp->fn[kNameStatus] & NS_NONAME)) {
        if (dp->dir[DIR_Attr] & AM_DIR) {
            DWORD clst;
            res = dir_start(fs, dp->dir, &clst);
            dp->obj.sclust = clst;
        } else {
            res = FR_NO_PATH;
        }
    }
    if (res == FR_NO_FILE) res = FR_NO_PATH;
    if (res == FR_OK) res = dir_sdi(dp, 0);
    if (res != FR_OK) {
        dp->obj.fs = nullptr;
        return res;
    }
    dp->obj.id = fs->id;
    dp->obj.attr = AM_DIR;
    return FR_OK;
}

FRESULT f_closedir(DIR* dp)
{
    FATFS* fs;
    FRESULT res = validate(dp ? &dp->obj : nullptr, &fs);
    if (res == FR_OK) dp->obj.fs = nullptr;
    return res;
}

FRESULT f_readdir(DIR* dp, FILINFO* fno)
{
    FATFS* fs;
    FRESULT res = validate(dp ? &dp->obj : nullptr, &fs);
    if (res != FR_OK) return res;
    if (fno == nullptr) return dir_sdi(dp, 0);
    fno->fname[0] = 0;
    while (dp->sect != 0) {
        if ((res = load_entry(dp)) != FR_OK) return res;
        const BYTE* dir = dp->dir;
        const BYTE c = dir[DIR_Name];
        if (c == 0) {
            dp->sect = 0; // end of the listing, and it stays there
            return FR_OK;
        }
        const bool listed = c != kDeleted && c != '.' && !is_lfn(dir) && !is_volume_label(dir);
        if (listed) get_fileinfo(dir, fno);
        res = dir_next(dp, false);
        if (res == FR_NO_FILE) res = FR_OK;
        if (res != FR_OK || listed) return res;
    }
    return FR_OK;
}

FRESULT f_stat(const TCHAR* path, FILINFO* fno)
{
    DIR dj;
    FATFS* fs;
    FRESULT res = start_at_root(&dj, &path, &fs, false);
    if (res == FR_OK) res = follow_path(&dj, path, 0);
    if (res != FR_OK) return res;
    if (dj.fn[kNameStatus] & NS_NONAME) return FR_INVALID_NAME;
    if (fno != nullptr) get_fileinfo(dj.dir, fno);
    return FR_OK;
}

FRESULT f_mkdir(const TCHAR* path)
{
    DIR dj;
    FATFS* fs;
    FRESULT res = start_at_root(&dj, &path, &fs, true);
    if (res == FR_OK) res = follow_path(&dj, path, 0);
    if (res == FR_OK) return FR_EXIST;
    if (res != FR_NO_FILE) return res;

    DWORD dcl;
    if ((res = create_chain(fs, 0, &dcl)) != FR_OK) return res;
    if (dcl == 0) return FR_DENIED;
    const DWORD tm = get_fattime();
    res = clear_cluster(fs, dcl);
    if (res == FR_OK) {
        make_dot_entries(fs, dcl, parent_link(fs, dj.obj.sclust), tm);
        res = dir_register(&dj);
    }
    if (res != FR_OK) {
        remove_chain(fs, dcl, 0);
        return res;
    }
    BYTE* dir = dj.dir;
    dir[DIR_Attr] = AM_DIR;
    st_dword(dir + DIR_CrtTime, tm);
    st_word(dir + DIR_LstAccDate, (WORD)(tm >> 16));
    st_dword(dir + DIR_WrtTime, tm);
    st_clust(fs, dir, dcl);
    fs->wflag = 1;
    return sync_fs(fs);
}

FRESULT f_unlink(const TCHAR* path)
{
    DIR dj;
    FATFS* fs;
    FRESULT res = start_at_root(&dj, &path, &fs, true);
    if (res == FR_OK) res = follow_path(&dj, path, 0);
    if (res != FR_OK) return res;
    if (dj.fn[kNameStatus] & NS_NONAME) return FR_INVALID_NAME;
    const BYTE attr = dj.dir[DIR_Attr];
    if (attr & AM_RDO) return FR_DENIED;
    DWORD dclst = ld_clust(fs, dj.dir);
    if (attr & AM_DIR) {
        if ((res = dir_start(fs, dj.dir, &dclst)) != FR_OK) return res;
        if ((res = check_dir_empty(fs, dclst)) != FR_OK) return res;
    }
    if ((res = dir_remove(&dj)) != FR_OK) return res;
    if (dclst != 0 && (res = remove_chain(fs, dclst, 0)) != FR_OK) return res;
    return sync_fs(fs);
}

FRESULT f_rename(const TCHAR* path_old, const TCHAR* path_new)
{
    DIR djo, djn;
    FATFS* fs;
    FRESULT res = start_at_root(&djo, &path_old, &fs, true);
    if (res == FR_OK) res = follow_path(&djo, path_old, 0);
    if (res != FR_OK) return res;
    if (djo.fn[kNameStatus] & NS_NONAME) return FR_INVALID_NAME;

    BYTE saved[kEntrySize];
    memcpy(saved, djo.dir, kEntrySize);
    const bool is_dir = saved[DIR_Attr] & AM_DIR;
    DWORD oclst = 0;
    if (is_dir) {
        if ((res = dir_start(fs, saved, &oclst)) != FR_OK) return res;
        // Check the ".." entry before changing anything.
        if ((res = move_window(fs, clust2sect(fs, oclst))) != FR_OK) return res;
        if (!is_dotdot(fs->win + kEntrySize)) return FR_INT_ERR;
    }

    const TCHAR* np = path_new;
    FATFS* fs2;
    if ((res = start_at_root(&djn, &np, &fs2, true)) != FR_OK) return res;
    // A directory cannot move below itself.
    res = follow_path(&djn, np, oclst);
    if (res == FR_OK) return djn.fn[kNameStatus] & NS_NONAME ? FR_INVALID_NAME : FR_EXIST;
    if (res != FR_NO_FILE) return res;

    if ((res = dir_register(&djn)) != FR_OK) return res;
    BYTE* dir = djn.dir;
    memcpy(dir + DIR_CrtTime10, saved + DIR_CrtTime10, kEntrySize - DIR_CrtTime10);
    dir[DIR_Attr] = saved[DIR_Attr];
    if (!is_dir) dir[DIR_Attr] |= AM_ARC;
    fs->wflag = 1;

    if (is_dir && djn.obj.sclust != djo.obj.sclust) {
        if ((res = move_window(fs, clust2sect(fs, oclst))) != FR_OK) return res;
        st_clust(fs, fs->win + kEntrySize, parent_link(fs, djn.obj.sclust));
        fs->wflag = 1;
    }
    if ((res = dir_remove(&djo)) != FR_OK) return res;
    return sync_fs(fs);
}
