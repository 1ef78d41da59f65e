// Input format of the FAT fuzz target: a sparse card image, as a sequence of
// records of a 32-bit little-endian sector number followed by that sector's
// 512 bytes. Sectors without a record read as zeros; a later record of the
// same sector wins; a trailing partial record is ignored. This keeps seeds
// of large FAT32 volumes a few kilobytes long.
#pragma once

#include <cstddef>
#include <cstdint>

namespace fat_fuzz {

constexpr size_t kSector = 512;
constexpr size_t kRecord = 4 + kSector;
constexpr uint32_t kDiskSectors = 1u << 22; // a 2 GiB card; beyond it reads fail

} // namespace fat_fuzz
