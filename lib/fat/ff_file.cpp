// File layer of the FAT module: f_open, f_close, f_read, f_write, f_lseek,
// f_truncate, f_sync.
//
// Each FIL has a one-sector buffer. While fptr is inside a sector, buf holds
// that sector (sect); at a cluster boundary clust is the cluster that ends
// there and the next access steps forward. Whole sectors move directly
// between the caller's buffer and the disk, one disk call per run of
// sectors within a cluster.
#include <string.h>

#include "fat/ff_internal.h"

using namespace fat_impl;

namespace {

constexpr BYTE kModeMask = FA_READ | FA_WRITE | FA_CREATE_NEW | FA_CREATE_ALWAYS | FA_OPEN_ALWAYS | FA_SEEKEND;
constexpr BYTE kCreateModes = FA_CREATE_NEW | FA_CREATE_ALWAYS | FA_OPEN_ALWAYS;

// A hard error sticks to the file: every later call returns it.
FRESULT abort_file(FIL* fp, FRESULT res)
{
    fp->err = (BYTE)res;
    return res;
}

FRESULT flush_buffer(FATFS* fs, FIL* fp)
{
    if (!(fp->flag & FA_DIRTY)) return FR_OK;
    if (disk_write(fs->pdrv, fp->buf, fp->sect, 1) != RES_OK) return FR_DISK_ERR;
    fp->flag &= (BYTE)~FA_DIRTY;
    return FR_OK;
}

FRESULT load_buffer(FATFS* fs, FIL* fp, LBA_t sect)
{
    FRESULT res = flush_buffer(fs, fp);
    if (res != FR_OK) return res;
    fp->sect = 0;
    if (disk_read(fs->pdrv, fp->buf, sect, 1) != RES_OK) return FR_DISK_ERR;
    fp->sect = sect;
    return FR_OK;
}

// Cluster that starts at fptr, which is on a cluster boundary. grow: extend
// the chain as needed (*clst is 0 when the volume is full); otherwise the
// chain must go on, as the file size says it does.
FRESULT enter_cluster(FATFS* fs, FIL* fp, bool grow, DWORD* clst)
{
    *clst = 0;
    DWORD c = 0;
    FRESULT res;
    if (fp->fptr == 0) {
        c = fp->obj.sclust;
        if (c == 0) {
            if (!grow) return FR_INT_ERR; // data without a cluster
            if ((res = create_chain(fs, 0, &c)) != FR_OK) return res;
            if (c == 0) return FR_OK;
            fp->obj.sclust = c;
        }
        if (!valid_cluster(fs, c)) return FR_INT_ERR;
        chain_start(&fp->lp_mark, &fp->lp_step, c);
    } else {
        res = grow ? create_chain(fs, fp->clust, &c) : next_cluster(fs, fp->clust, &c);
        if (res != FR_OK) return res;
        if (c == 0) return grow ? FR_OK : FR_INT_ERR; // chain shorter than the size
        // No chain is longer than the volume or visits a cluster twice.
        if (fp->fptr / cluster_bytes(fs) >= cluster_count(fs)) return FR_INT_ERR;
        if (!chain_step(&fp->lp_mark, &fp->lp_step, c)) return FR_INT_ERR;
    }
    *clst = c;
    return FR_OK;
}

UINT sector_in_cluster(const FATFS* fs, FSIZE_t fptr) { return (UINT)(fptr / kSectorSize) & (fs->csize - 1u); }

// Moves fptr to ofs (fptr is 0 and clust the first cluster on entry unless
// continuing forward); returns the sector that must be in the buffer, or 0.
FRESULT walk_to(FATFS* fs, FIL* fp, DWORD clst, FSIZE_t ofs, LBA_t* nsect)
{
    const DWORD bcs = cluster_bytes(fs);
    const bool grow = fp->flag & FA_WRITE;
    *nsect = 0;
    while (ofs > bcs) {
        ofs -= bcs;
        fp->fptr += bcs;
        DWORD next;
        FRESULT res = grow ? create_chain(fs, clst, &next) : next_cluster(fs, clst, &next);
        if (res != FR_OK) return res;
        if (next == 0) {
            if (!grow) return FR_INT_ERR;
            return FR_OK; // volume full: the file grows as far as it can
        }
        if (fp->fptr / bcs >= cluster_count(fs)) return FR_INT_ERR;
        if (!chain_step(&fp->lp_mark, &fp->lp_step, next)) return FR_INT_ERR;
        clst = next;
        fp->clust = clst;
    }
    fp->fptr += ofs;
    if (ofs % kSectorSize) *nsect = clust2sect(fs, clst) + ofs / kSectorSize;
    return FR_OK;
}

// Sets up fp from its directory entry in the window.
void bind_file(FIL* fp, FATFS* fs, const DIR* dj, BYTE mode)
{
    const BYTE* dir = dj->dir;
    fp->obj.fs = fs;
    fp->obj.id = fs->id;
    fp->obj.attr = dir[DIR_Attr];
    fp->obj.stat = 0;
    fp->obj.sclust = ld_clust(fs, dir);
    fp->obj.objsize = ld_dword(dir + DIR_FileSize);
    fp->flag = mode;
    fp->err = 0;
    fp->fptr = 0;
    fp->clust = 0;
    fp->sect = 0;
    fp->dir_sect = dj->sect;
    fp->dir_ofs = (WORD)(dj->dptr % kEntriesPerSector * kEntrySize);
}

void stamp_new_entry(FATFS* fs, BYTE* dir, DWORD tm)
{
    dir[DIR_Attr] = AM_ARC;
    st_dword(dir + DIR_CrtTime, tm);
    st_word(dir + DIR_LstAccDate, (WORD)(tm >> 16));
    st_dword(dir + DIR_WrtTime, tm);
    st_clust(fs, dir, 0);
    st_dword(dir + DIR_FileSize, 0);
    fs->wflag = 1;
}

// Creates the entry, or checks the existing one may be replaced or opened.
FRESULT prepare_entry(FATFS* fs, DIR* dj, FRESULT found, BYTE* mode, DWORD* old_chain)
{
    *old_chain = 0;
    if (!(*mode & kCreateModes)) {
        if (found != FR_OK) return found;
        if (dj->dir[DIR_Attr] & AM_DIR) return FR_NO_FILE;
        if ((*mode & FA_WRITE) && (dj->dir[DIR_Attr] & AM_RDO)) return FR_DENIED;
        return FR_OK;
    }
    if (found == FR_NO_FILE) {
        FRESULT res = dir_register(dj);
        if (res != FR_OK) return res;
        stamp_new_entry(fs, dj->dir, get_fattime());
        *mode |= FA_CREATE_ALWAYS | FA_MODIFIED;
        return FR_OK;
    }
    if (found != FR_OK) return found;
    if (dj->dir[DIR_Attr] & (AM_RDO | AM_DIR)) return FR_DENIED;
    if (*mode & FA_CREATE_NEW) return FR_EXIST;
    if (*mode & FA_CREATE_ALWAYS) {
        *old_chain = ld_clust(fs, dj->dir);
        stamp_new_entry(fs, dj->dir, get_fattime());
        *mode |= FA_MODIFIED;
    }
    return FR_OK;
}

} // namespace

FRESULT f_open(FIL* fp, const TCHAR* path, BYTE mode)
{
    if (fp == nullptr) return FR_INVALID_OBJECT;
    fp->obj.fs = nullptr;
    mode &= kModeMask;
    FATFS* fs;
    FRESULT res = mount_volume(&path, &fs, (mode & (BYTE)~FA_READ) != 0);
    if (res != FR_OK) return res;
    DIR dj;
    dj.obj.fs = fs;
    res = follow_path(&dj, path, 0);
    if (res == FR_OK && (dj.fn[kNameStatus] & NS_NONAME)) return FR_INVALID_NAME;
    DWORD old_chain;
    if ((res = prepare_entry(fs, &dj, res, &mode, &old_chain)) != FR_OK) return res;
    bind_file(fp, fs, &dj, mode);
    if (old_chain != 0) {
        // Replaced file: its clusters go back to the volume now.
        res = remove_chain(fs, old_chain, 0);
        if (res != FR_OK) {
            fp->obj.fs = nullptr;
            return res;
        }
        fs->last_clst = old_chain - 1;
    }
    if (mode & FA_SEEKEND) {
        res = f_lseek(fp, fp->obj.objsize);
        if (res != FR_OK) {
            fp->obj.fs = nullptr;
            return res;
        }
    }
    return FR_OK;
}

FRESULT f_read(FIL* fp, void* buff, UINT btr, UINT* br)
{
    UINT dummy;
    if (br == nullptr) br = &dummy;
    *br = 0;
    FATFS* fs;
    FRESULT res = validate(fp ? &fp->obj : nullptr, &fs);
    if (res != FR_OK) return res;
    if (fp->err) return (FRESULT)fp->err;
    if (!(fp->flag & FA_READ)) return FR_DENIED;
    const FSIZE_t remain = fp->obj.objsize - fp->fptr;
    if (btr > remain) btr = (UINT)remain;

    BYTE* rbuff = static_cast<BYTE*>(buff);
    while (btr > 0) {
        UINT rcnt;
        if (fp->fptr % kSectorSize == 0) {
            const UINT csect = sector_in_cluster(fs, fp->fptr);
            if (csect == 0) {
                DWORD clst;
                if ((res = enter_cluster(fs, fp, false, &clst)) != FR_OK) return abort_file(fp, res);
                fp->clust = clst;
            }
            const LBA_t sect = clust2sect(fs, fp->clust) + csect;
            UINT cc = btr / kSectorSize;
            if (cc > 0) {
                if (csect + cc > fs->csize) cc = fs->csize - csect;
                if (disk_read(fs->pdrv, rbuff, sect, cc) != RES_OK) return abort_file(fp, FR_DISK_ERR);
                // The buffer may hold newer data for one of these sectors.
                if ((fp->flag & FA_DIRTY) && fp->sect - sect < cc) {
                    memcpy(rbuff + (fp->sect - sect) * kSectorSize, fp->buf, kSectorSize);
                }
                rcnt = cc * kSectorSize;
                rbuff += rcnt;
                fp->fptr += rcnt;
                *br += rcnt;
                btr -= rcnt;
                continue;
            }
            if (fp->sect != sect && (res = load_buffer(fs, fp, sect)) != FR_OK) return abort_file(fp, res);
        }
        if (fp->sect == 0) return abort_file(fp, FR_INT_ERR);
        const UINT ofs = (UINT)(fp->fptr % kSectorSize);
        rcnt = kSectorSize - ofs;
        if (rcnt > btr) rcnt = btr;
        memcpy(rbuff, fp->buf + ofs, rcnt);
        rbuff += rcnt;
        fp->fptr += rcnt;
        *br += rcnt;
        btr -= rcnt;
    }
    return FR_OK;
}

FRESULT f_write(FIL* fp, const void* buff, UINT btw, UINT* bw)
{
    UINT dummy;
    if (bw == nullptr) bw = &dummy;
    *bw = 0;
    FATFS* fs;
    FRESULT res = validate(fp ? &fp->obj : nullptr, &fs);
    if (res != FR_OK) return res;
    if (fp->err) return (FRESULT)fp->err;
    if (!(fp->flag & FA_WRITE)) return FR_DENIED;
    if ((FSIZE_t)(fp->fptr + btw) < fp->fptr) btw = (UINT)(0xFFFFFFFFu - fp->fptr); // 4 GiB - 1 at most

    const BYTE* wbuff = static_cast<const BYTE*>(buff);
    while (btw > 0) {
        UINT wcnt;
        if (fp->fptr % kSectorSize == 0) {
            const UINT csect = sector_in_cluster(fs, fp->fptr);
            if (csect == 0) {
                DWORD clst;
                if ((res = enter_cluster(fs, fp, true, &clst)) != FR_OK) return abort_file(fp, res);
                if (clst == 0) break; // volume full: a short count, as FatFs reports it
                fp->clust = clst;
            }
            if ((res = flush_buffer(fs, fp)) != FR_OK) return abort_file(fp, res);
            const LBA_t sect = clust2sect(fs, fp->clust) + csect;
            UINT cc = btw / kSectorSize;
            if (cc > 0) {
                if (csect + cc > fs->csize) cc = fs->csize - csect;
                if (disk_write(fs->pdrv, wbuff, sect, cc) != RES_OK) return abort_file(fp, FR_DISK_ERR);
                // Keep the buffer equal to what is now on the disk.
                if (fp->sect - sect < cc) memcpy(fp->buf, wbuff + (fp->sect - sect) * kSectorSize, kSectorSize);
                wcnt = cc * kSectorSize;
                wbuff += wcnt;
                fp->fptr += wcnt;
                *bw += wcnt;
                btw -= wcnt;
                continue;
            }
            // A partial sector keeps the data around it.
            if (fp->sect != sect && fp->fptr < fp->obj.objsize && (res = load_buffer(fs, fp, sect)) != FR_OK) {
                return abort_file(fp, res);
            }
            fp->sect = sect;
        }
        if (fp->sect == 0) return abort_file(fp, FR_INT_ERR);
        const UINT ofs = (UINT)(fp->fptr % kSectorSize);
        wcnt = kSectorSize - ofs;
        if (wcnt > btw) wcnt = btw;
        memcpy(fp->buf + ofs, wbuff, wcnt);
        fp->flag |= FA_DIRTY;
        wbuff += wcnt;
        fp->fptr += wcnt;
        *bw += wcnt;
        btw -= wcnt;
    }
    if (fp->fptr > fp->obj.objsize) fp->obj.objsize = fp->fptr;
    fp->flag |= FA_MODIFIED;
    return FR_OK;
}

FRESULT f_lseek(FIL* fp, FSIZE_t ofs)
{
    FATFS* fs;
    FRESULT res = validate(fp ? &fp->obj : nullptr, &fs);
    if (res != FR_OK) return res;
    if (fp->err) return (FRESULT)fp->err;
    const bool write = fp->flag & FA_WRITE;
    if (ofs > fp->obj.objsize && !write) ofs = fp->obj.objsize;

    const FSIZE_t ifptr = fp->fptr;
    const DWORD bcs = cluster_bytes(fs);
    LBA_t nsect = 0;
    fp->fptr = 0;
    if (ofs > 0) {
        DWORD clst;
        if (ifptr > 0 && (ofs - 1) / bcs >= (ifptr - 1) / bcs) {
            // Forward within or past the current cluster: no need to restart.
            fp->fptr = (ifptr - 1) & ~(FSIZE_t)(bcs - 1);
            ofs -= fp->fptr;
            clst = fp->clust;
        } else {
            clst = fp->obj.sclust;
            if (clst == 0) {
                if (!write) return abort_file(fp, FR_INT_ERR); // data without a cluster
                if ((res = create_chain(fs, 0, &clst)) != FR_OK) return abort_file(fp, res);
                fp->obj.sclust = clst;
            } else if (!valid_cluster(fs, clst)) {
                return abort_file(fp, FR_INT_ERR);
            }
            if (clst != 0) chain_start(&fp->lp_mark, &fp->lp_step, clst);
            fp->clust = clst;
        }
        if (clst != 0 && (res = walk_to(fs, fp, clst, ofs, &nsect)) != FR_OK) return abort_file(fp, res);
    }
    if (fp->fptr > fp->obj.objsize) {
        fp->obj.objsize = fp->fptr;
        fp->flag |= FA_MODIFIED;
    }
    if (fp->fptr % kSectorSize && nsect != fp->sect && (res = load_buffer(fs, fp, nsect)) != FR_OK) {
        return abort_file(fp, res);
    }
    return FR_OK;
}

FRESULT f_truncate(FIL* fp)
{
    FATFS* fs;
    FRESULT res = validate(fp ? &fp->obj : nullptr, &fs);
    if (res != FR_OK) return res;
    if (fp->err) return (FRESULT)fp->err;
    if (!(fp->flag & FA_WRITE)) return FR_DENIED;
    if (fp->fptr >= fp->obj.objsize) return FR_OK;

    if ((res = flush_buffer(fs, fp)) != FR_OK) return abort_file(fp, res);
    if (fp->fptr == 0) {
        if (fp->obj.sclust != 0 && (res = remove_chain(fs, fp->obj.sclust, 0)) != FR_OK) {
            return abort_file(fp, res);
        }
        fp->obj.sclust = 0;
    } else {
        DWORD next;
        if ((res = next_cluster(fs, fp->clust, &next)) != FR_OK) return abort_file(fp, res);
        if (next != 0 && (res = remove_chain(fs, next, fp->clust)) != FR_OK) return abort_file(fp, res);
    }
    fp->obj.objsize = fp->fptr;
    fp->flag |= FA_MODIFIED;
    // A buffered sector past the new end may belong to a freed cluster.
    if (fp->fptr % kSectorSize == 0) fp->sect = 0;
    return FR_OK;
}

FRESULT f_sync(FIL* fp)
{
    FATFS* fs;
    FRESULT res = validate(fp ? &fp->obj : nullptr, &fs);
    if (res != FR_OK) return res;
    if (!(fp->flag & FA_MODIFIED)) return FR_OK;
    if ((res = flush_buffer(fs, fp)) != FR_OK) return res;
    const DWORD tm = get_fattime();
    if ((res = move_window(fs, fp->dir_sect)) != FR_OK) return res;
    BYTE* dir = fs->win + fp->dir_ofs;
    dir[DIR_Attr] |= AM_ARC;
    st_clust(fs, dir, fp->obj.sclust);
    st_dword(dir + DIR_FileSize, fp->obj.objsize);
    st_dword(dir + DIR_WrtTime, tm);
    st_word(dir + DIR_LstAccDate, (WORD)(tm >> 16));
    fs->wflag = 1;
    if ((res = sync_fs(fs)) != FR_OK) return res;
    fp->flag &= (BYTE)~FA_MODIFIED;
    return FR_OK;
}

FRESULT f_close(FIL* fp)
{
    FRESULT res = f_sync(fp);
    if (res == FR_INVALID_OBJECT) return res;
    // Closed even when the last write-back failed: the object is not left
    // half open, and the error is reported.
    fp->obj.fs = nullptr;
    return res;
}
