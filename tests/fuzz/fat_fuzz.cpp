// libFuzzer target over lib/fat: mounts a mutated card image, lists every
// directory (a few levels deep), reads every file, then changes the volume
// (create, write, seek, truncate, mkdir, rename, unlink). Any crash, memory
// error, undefined behaviour or hang is a fault; error codes are expected.
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "fat/diskio.h"
#include "fat/ff.h"
#include "fat_fuzz_input.h"

using namespace fat_fuzz;

namespace {

// The card: sparse input records, with the target's own writes on top.
struct Card {
    const uint8_t* data = nullptr;
    size_t records = 0;
    std::map<uint32_t, std::vector<uint8_t>> written;
    DSTATUS status = STA_NOINIT;

    bool read(uint32_t lba, uint8_t* out) const
    {
        if (lba >= kDiskSectors) return false;
        auto w = written.find(lba);
        if (w != written.end()) {
            std::memcpy(out, w->second.data(), kSector);
            return true;
        }
        std::memset(out, 0, kSector);
        for (size_t i = 0; i < records; ++i) { // the last record of a sector wins
            const uint8_t* r = data + i * kRecord;
            const uint32_t at = r[0] | r[1] << 8 | r[2] << 16 | (uint32_t)r[3] << 24;
            if (at == lba) std::memcpy(out, r + 4, kSector);
        }
        return true;
    }
    bool write(uint32_t lba, const uint8_t* in)
    {
        if (lba >= kDiskSectors || (written.size() >= 4096 && !written.count(lba))) return false;
        written[lba].assign(in, in + kSector);
        return true;
    }
};

Card g_card;

// Per input, so that one input takes milliseconds whatever the image says.
constexpr size_t kReadBudget = 256 * 1024; // bytes read, all files together
constexpr int kDirBudget = 64;             // directories listed
size_t g_read_left = 0;
int g_dirs_left = 0;

void read_file(const std::string& path)
{
    FIL f{};
    if (f_open(&f, path.c_str(), FA_READ) != FR_OK) return;
    static uint8_t buf[1500];
    UINT br = 0;
    while (g_read_left > 0 && f_read(&f, buf, sizeof buf, &br) == FR_OK && br == sizeof buf) {
        g_read_left -= g_read_left < br ? g_read_left : br;
    }
    if (f_lseek(&f, f_size(&f) / 2) == FR_OK) f_read(&f, buf, 700, &br);
    f_close(&f);
}

void walk(const std::string& dir, int depth, std::vector<std::string>* files)
{
    if (g_dirs_left-- <= 0) return;
    DIR d{};
    if (f_opendir(&d, dir.c_str()) != FR_OK) return;
    std::vector<std::pair<std::string, bool>> entries;
    for (int n = 0; n < 256; ++n) {
        FILINFO fi{};
        if (f_readdir(&d, &fi) != FR_OK || fi.fname[0] == 0) break;
        if (std::strlen(fi.fname) > 12) __builtin_trap(); // the name must fit FILINFO
        entries.emplace_back(dir + "/" + fi.fname, (fi.fattrib & AM_DIR) != 0);
        FILINFO st{};
        f_stat(entries.back().first.c_str(), &st);
    }
    f_closedir(&d);
    for (const auto& [path, is_dir] : entries) {
        if (is_dir) {
            if (depth < 3) walk(path, depth + 1, files);
        } else {
            files->push_back(path);
            read_file(path);
        }
    }
}

void change_volume(const std::vector<std::string>& files)
{
    static uint8_t data[3000];
    for (size_t i = 0; i < sizeof data; ++i) data[i] = (uint8_t)i;
    FIL f{};
    UINT bw;
    if (f_open(&f, "/FUZZ.TXT", FA_WRITE | FA_READ | FA_CREATE_ALWAYS) == FR_OK) {
        f_write(&f, data, sizeof data, &bw);
        f_lseek(&f, 100);
        f_truncate(&f);
        f_lseek(&f, 5000);
        f_write(&f, data, 10, &bw);
        f_close(&f);
    }
    f_mkdir("/FZDIR");
    f_rename("/FUZZ.TXT", "/FZDIR/F.TXT");
    if (!files.empty()) {
        if (f_open(&f, files[0].c_str(), FA_WRITE | FA_OPEN_APPEND) == FR_OK) {
            f_write(&f, data, 600, &bw);
            f_close(&f);
        }
        f_rename(files[0].c_str(), "/FZDIR/MOVED");
        f_unlink(files.back().c_str());
    }
    f_unlink("/FZDIR/F.TXT");
    f_unlink("/FZDIR");
    DWORD nfree;
    FATFS* fs;
    f_getfree("", &nfree, &fs);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    g_card.data = data;
    g_card.records = size / kRecord;
    g_card.written.clear();
    g_card.status = STA_NOINIT;
    g_read_left = kReadBudget;
    g_dirs_left = kDirBudget;

    static FATFS fs;
    if (f_mount(&fs, "", 1) == FR_OK) {
        std::vector<std::string> files;
        walk("", 0, &files);
        change_volume(files);
        files.clear();
        g_dirs_left = kDirBudget;
        walk("", 0, &files); // what the changes left must still be readable
    }
    f_mount(nullptr, "", 0);
    return 0;
}

DSTATUS disk_initialize(BYTE pdrv)
{
    if (pdrv != 0) return STA_NOINIT;
    g_card.status = 0;
    return g_card.status;
}

DSTATUS disk_status(BYTE pdrv) { return pdrv == 0 ? g_card.status : STA_NOINIT; }

DRESULT disk_read(BYTE pdrv, BYTE* buff, LBA_t sector, UINT count)
{
    if (pdrv != 0 || count == 0) return RES_PARERR;
    for (UINT i = 0; i < count; ++i) {
        if (!g_card.read(sector + i, buff + i * kSector)) return RES_ERROR;
    }
    return RES_OK;
}

DRESULT disk_write(BYTE pdrv, const BYTE* buff, LBA_t sector, UINT count)
{
    if (pdrv != 0 || count == 0) return RES_PARERR;
    for (UINT i = 0; i < count; ++i) {
        if (!g_card.write(sector + i, buff + i * kSector)) return RES_ERROR;
    }
    return RES_OK;
}

DRESULT disk_ioctl(BYTE pdrv, BYTE cmd, void*) { return pdrv == 0 && cmd == CTRL_SYNC ? RES_OK : RES_PARERR; }

DWORD get_fattime(void) { return (DWORD)(37u << 25 | 3u << 21 | 5u << 16 | 14u << 11 | 7u << 5); }
