#include "fat_format.h"

#include <unistd.h>

#include <cstring>

namespace sim {

namespace {

constexpr uint32_t kSector = 512;
constexpr uint32_t kMinClusters = 65525;  // fewer would make it FAT16
constexpr uint32_t kMaxClusters = 0x0FFFFFF5;
constexpr uint32_t kRootCluster = 2;
constexpr uint32_t kFsInfoSector = 1;
constexpr uint32_t kBackupBootSector = 6;
constexpr uint32_t kEndOfChain = 0x0FFFFFFF;
constexpr uint32_t kFsiFreeCount = 488, kFsiNextFree = 492;

void put16(uint8_t* p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void put32(uint8_t* p, uint32_t v)
{
    put16(p, v);
    put16(p + 2, v >> 16);
}

uint32_t get16(const uint8_t* p)
{
    return p[0] | (uint32_t{p[1]} << 8);
}
uint32_t get32(const uint8_t* p)
{
    return get16(p) | (get16(p + 2) << 16);
}

bool write_sector(int fd, uint32_t sector, const uint8_t* data)
{
    return pwrite(fd, data, kSector, static_cast<off_t>(sector) * kSector) == static_cast<ssize_t>(kSector);
}

bool read_sector(int fd, uint32_t sector, uint8_t* data)
{
    return pread(fd, data, kSector, static_cast<off_t>(sector) * kSector) == static_cast<ssize_t>(kSector);
}

// Cluster size as PC formatters choose it for FAT32, smaller where the
// volume would otherwise have too few clusters.
uint32_t cluster_sectors_for(uint64_t sectors)
{
    uint32_t spc = sectors <= 16777216ull   ? 8
                   : sectors <= 33554432ull ? 16
                   : sectors <= 67108864ull ? 32
                                            : 64;
    while (spc > 1 && sectors / spc < kMinClusters + 1024) spc /= 2;
    return spc;
}

void boot_sector(const Fat32Layout& l, uint32_t volume_id, uint8_t* s)
{
    std::memset(s, 0, kSector);
    s[0] = 0xEB, s[1] = 0x58, s[2] = 0x90;
    std::memcpy(s + 3, "MARIVANT", 8);
    put16(s + 11, kSector);
    s[13] = static_cast<uint8_t>(l.cluster_sectors);
    put16(s + 14, l.reserved_sectors);
    s[16] = 2;     // FAT copies
    s[21] = 0xF8;  // fixed disk
    put16(s + 24, 63);
    put16(s + 26, 255);
    put32(s + 32, l.total_sectors);
    put32(s + 36, l.fat_sectors);
    put32(s + 44, kRootCluster);
    put16(s + 48, kFsInfoSector);
    put16(s + 50, kBackupBootSector);
    s[64] = 0x80;  // drive number
    s[66] = 0x29;  // extended boot signature
    put32(s + 67, volume_id);
    std::memcpy(s + 71, "NO NAME    ", 11);
    std::memcpy(s + 82, "FAT32   ", 8);
    // Boot code: halt for ever (the card is never booted from).
    s[90] = 0xFA, s[91] = 0xF4, s[92] = 0xEB, s[93] = 0xFD;
    s[510] = 0x55, s[511] = 0xAA;
}

void fsinfo_sector(uint32_t free_clusters, uint32_t last_allocated, uint8_t* s)
{
    std::memset(s, 0, kSector);
    put32(s, 0x41615252);
    put32(s + 484, 0x61417272);
    put32(s + kFsiFreeCount, free_clusters);
    put32(s + kFsiNextFree, last_allocated);
    s[510] = 0x55, s[511] = 0xAA;
}

bool read_layout(int fd, Fat32Layout* l)
{
    uint8_t s[kSector];
    if (!read_sector(fd, 0, s) || s[510] != 0x55 || s[511] != 0xAA) return false;
    l->cluster_sectors = s[13];
    l->reserved_sectors = get16(s + 14);
    l->total_sectors = get32(s + 32);
    l->fat_sectors = get32(s + 36);
    if (!l->cluster_sectors || !l->fat_sectors || s[16] != 2) return false;
    l->clusters = (l->total_sectors - l->first_data_sector()) / l->cluster_sectors;
    return true;
}

// Sets FAT entries first..last (both copies) to a chain ending in last.
bool write_chain(int fd, const Fat32Layout& l, uint32_t first, uint32_t last)
{
    uint8_t s[kSector];
    uint32_t loaded = ~0u;
    auto flush = [&]() {
        return loaded == ~0u || (write_sector(fd, l.reserved_sectors + loaded, s) &&
                                 write_sector(fd, l.reserved_sectors + l.fat_sectors + loaded, s));
    };
    for (uint32_t c = first; c <= last; ++c) {
        const uint32_t sec = c / (kSector / 4);
        if (sec != loaded) {
            if (!flush() || !read_sector(fd, l.reserved_sectors + sec, s)) return false;
            loaded = sec;
        }
        put32(s + (c % (kSector / 4)) * 4, c == last ? kEndOfChain : c + 1);
    }
    return flush();
}

}  // namespace

bool fat32_layout(uint64_t sectors, Fat32Layout* out)
{
    if (sectors > 0xFFFFFFFFull || sectors < 1024) return false;
    Fat32Layout l;
    l.total_sectors = static_cast<uint32_t>(sectors);
    l.cluster_sectors = cluster_sectors_for(sectors);
    // FAT size computed as the FAT32 format document does it: never too small.
    const uint64_t rest = sectors - l.reserved_sectors;
    const uint64_t per = (256ull * l.cluster_sectors + 2) / 2;
    l.fat_sectors = static_cast<uint32_t>((rest + per - 1) / per);
    l.clusters = (l.total_sectors - l.first_data_sector()) / l.cluster_sectors;
    if (l.clusters < kMinClusters || l.clusters > kMaxClusters) return false;
    if ((uint64_t{l.clusters} + 2) * 4 > uint64_t{l.fat_sectors} * kSector) return false;
    *out = l;
    return true;
}

bool fat32_format(int fd, uint64_t sectors, uint32_t volume_id)
{
    Fat32Layout l;
    if (!fat32_layout(sectors, &l)) return false;
    uint8_t s[kSector];
    boot_sector(l, volume_id, s);
    if (!write_sector(fd, 0, s) || !write_sector(fd, kBackupBootSector, s)) return false;
    fsinfo_sector(l.clusters - 1, kRootCluster, s);
    if (!write_sector(fd, kFsInfoSector, s) || !write_sector(fd, kBackupBootSector + 1, s)) return false;
    // Entries 0 and 1 (media byte, clean-shutdown flags) and the root directory's one cluster.
    std::memset(s, 0, kSector);
    put32(s, 0x0FFFFFF8);
    put32(s + 4, 0x0FFFFFFF);
    put32(s + 8, kEndOfChain);
    for (uint32_t copy = 0; copy < 2; ++copy)
        if (!write_sector(fd, l.reserved_sectors + copy * l.fat_sectors, s)) return false;
    return true;
}

bool fat32_add_zero_file(int fd, const char* name83, uint32_t bytes)
{
    Fat32Layout l;
    if (!read_layout(fd, &l)) return false;
    uint8_t info[kSector];
    if (!read_sector(fd, kFsInfoSector, info)) return false;
    const uint32_t cluster_bytes = l.cluster_sectors * kSector;
    const uint32_t count = (bytes + cluster_bytes - 1) / cluster_bytes;
    const uint32_t first = count ? get32(info + kFsiNextFree) + 1 : 0;
    const uint32_t free_clusters = get32(info + kFsiFreeCount);
    if (count > free_clusters || (count && first + count - 1 > l.clusters + 1)) return false;
    if (count && !write_chain(fd, l, first, first + count - 1)) return false;

    // First unused entry of the root directory's first cluster.
    for (uint32_t sec = 0; sec < l.cluster_sectors; ++sec) {
        uint8_t d[kSector];
        const uint32_t at = l.cluster_sector(kRootCluster) + sec;
        if (!read_sector(fd, at, d)) return false;
        for (uint32_t e = 0; e < kSector; e += 32) {
            if (d[e] != 0x00 && d[e] != 0xE5) continue;
            std::memset(d + e, 0, 32);
            std::memcpy(d + e, name83, 11);
            d[e + 11] = 0x20;           // archive
            put16(d + e + 16, 0x0021);  // created 1980-01-01
            put16(d + e + 18, 0x0021);
            put16(d + e + 20, first >> 16);
            put16(d + e + 24, 0x0021);  // written 1980-01-01 00:00
            put16(d + e + 26, first & 0xFFFF);
            put32(d + e + 28, bytes);
            if (!write_sector(fd, at, d)) return false;
            if (count) {
                put32(info + kFsiFreeCount, free_clusters - count);
                put32(info + kFsiNextFree, first + count - 1);
            }
            return write_sector(fd, kFsInfoSector, info);
        }
    }
    return false;
}

}  // namespace sim
