#include "test_disk.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "fat/diskio.h"

namespace test_disk {
namespace {

constexpr unsigned kSector = 512;

int g_fd = -1;
uint64_t g_sectors = 0;
DSTATUS g_status = STA_NOINIT;
Counters g_counters;
long g_reads_left = -1;
long g_writes_left = -1;
bool g_not_ready = false;
bool g_protect = false;
uint32_t g_fattime = fattime(2017, 3, 5, 14, 7, 30);

bool consume(long& left)
{
    if (left < 0) return true;
    if (left == 0) return false;
    --left;
    return true;
}

} // namespace

bool attach(const std::string& path)
{
    detach();
    g_fd = ::open(path.c_str(), O_RDWR);
    if (g_fd < 0) return false;
    struct stat st {};
    fstat(g_fd, &st);
    g_sectors = (uint64_t)st.st_size / kSector;
    g_status = STA_NOINIT;
    g_reads_left = g_writes_left = -1;
    g_not_ready = g_protect = false;
    clear_counters();
    return true;
}

void detach()
{
    if (g_fd >= 0) ::close(g_fd);
    g_fd = -1;
    g_sectors = 0;
    g_status = STA_NOINIT;
}

void reset() { g_status = STA_NOINIT; }
const Counters& counters() { return g_counters; }
void clear_counters() { g_counters = Counters{}; }
void fail_reads_after(long n) { g_reads_left = n; }
void fail_writes_after(long n) { g_writes_left = n; }
void set_not_ready(bool on) { g_not_ready = on; }
void set_write_protect(bool on) { g_protect = on; }
void set_fattime(uint32_t t) { g_fattime = t; }

} // namespace test_disk

using namespace test_disk;

DSTATUS disk_initialize(BYTE pdrv)
{
    if (pdrv != 0) return STA_NOINIT;
    if (g_fd < 0) return STA_NOINIT | STA_NODISK;
    g_status = g_not_ready ? STA_NOINIT : 0;
    if (g_protect) g_status |= STA_PROTECT;
    return g_status;
}

DSTATUS disk_status(BYTE pdrv)
{
    if (pdrv != 0) return STA_NOINIT;
    DSTATUS s = g_status;
    if (g_protect) s |= STA_PROTECT;
    return s;
}

DRESULT disk_read(BYTE pdrv, BYTE* buff, LBA_t sector, UINT count)
{
    if (pdrv != 0 || count == 0) return RES_PARERR;
    if (g_status & STA_NOINIT) return RES_NOTRDY;
    ++g_counters.read_calls;
    if ((uint64_t)sector + count > g_sectors) return RES_ERROR;
    for (UINT i = 0; i < count; ++i) {
        if (!consume(g_reads_left)) return RES_ERROR;
        if (pread(g_fd, buff + i * kSector, kSector, (off_t)(sector + i) * kSector) != (ssize_t)kSector) {
            return RES_ERROR;
        }
        ++g_counters.sectors_read;
    }
    return RES_OK;
}

DRESULT disk_write(BYTE pdrv, const BYTE* buff, LBA_t sector, UINT count)
{
    if (pdrv != 0 || count == 0) return RES_PARERR;
    if (g_status & STA_NOINIT) return RES_NOTRDY;
    if (g_protect) return RES_WRPRT;
    ++g_counters.write_calls;
    if ((uint64_t)sector + count > g_sectors) return RES_ERROR;
    for (UINT i = 0; i < count; ++i) {
        if (!consume(g_writes_left)) return RES_ERROR;
        if (pwrite(g_fd, buff + i * kSector, kSector, (off_t)(sector + i) * kSector) != (ssize_t)kSector) {
            return RES_ERROR;
        }
        ++g_counters.sectors_written;
    }
    return RES_OK;
}

DRESULT disk_ioctl(BYTE pdrv, BYTE cmd, void* buff)
{
    if (pdrv != 0) return RES_PARERR;
    if (g_status & STA_NOINIT) return RES_NOTRDY;
    switch (cmd) {
    case CTRL_SYNC: ++g_counters.syncs; return RES_OK;
    case GET_SECTOR_COUNT: *static_cast<LBA_t*>(buff) = (LBA_t)g_sectors; return RES_OK;
    case GET_SECTOR_SIZE: *static_cast<WORD*>(buff) = kSector; return RES_OK;
    case GET_BLOCK_SIZE: *static_cast<DWORD*>(buff) = 1; return RES_OK;
    default: return RES_PARERR;
    }
}

DWORD get_fattime(void) { return g_fattime; }
