// FAT32 file system for a fresh card image, written by the simulator itself
// (no mkfs at run time). The volume covers the whole image from sector 0
// without a partition table, as PC tools (mtools, fsck.fat) open it directly.
#pragma once

#include <cstdint>

namespace sim {

struct Fat32Layout {
    uint32_t total_sectors = 0;
    uint32_t reserved_sectors = 32;
    uint32_t fat_sectors = 0;  // per copy; two copies
    uint32_t cluster_sectors = 0;
    uint32_t clusters = 0;  // data clusters, numbered from 2
    uint32_t first_data_sector() const { return reserved_sectors + 2 * fat_sectors; }
    uint32_t cluster_sector(uint32_t cluster) const
    {
        return first_data_sector() + (cluster - 2) * cluster_sectors;
    }
};

// The layout of a FAT32 volume of `sectors` 512-byte sectors; false when the
// size cannot hold a FAT32 volume (fewer than 65525 clusters, or over 2 TiB).
bool fat32_layout(uint64_t sectors, Fat32Layout* out);

// Writes an empty FAT32 volume (boot sector and its backup, FSInfo, both
// FATs' first entries, the root directory in cluster 2) over the file `fd`,
// which must read as zeros everywhere else: a new file just sized with
// ftruncate. Deterministic: the same size gives the same bytes.
bool fat32_format(int fd, uint64_t sectors, uint32_t volume_id);

// Adds a file of `bytes` zero bytes to the root directory of a volume fresh
// from fat32_format: one contiguous cluster chain after the clusters in use,
// the data left sparse. `name83` is the 11-character directory form
// ("DATA    TXT"). For benches that need a large existing file at once.
bool fat32_add_zero_file(int fd, const char* name83, uint32_t bytes);

}  // namespace sim
