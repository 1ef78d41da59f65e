// Disk layer for the FAT module's host tests: drive 0 is an image file,
// read and written in place (sparse images of hundreds of MiB cost nothing).
// Counts sector transfers and injects faults.
#pragma once

#include <cstdint>
#include <string>

namespace test_disk {

// Opens the image as drive 0 (not yet initialised: STA_NOINIT until
// disk_initialize). Returns false when the file cannot be opened.
bool attach(const std::string& path);
void detach();

// The drive forgets its initialisation, as after a card reset.
void reset();

struct Counters {
    uint64_t read_calls = 0, write_calls = 0;       // disk_read/disk_write calls
    uint64_t sectors_read = 0, sectors_written = 0; // sectors moved
    uint64_t syncs = 0;                             // CTRL_SYNC requests
};
const Counters& counters();
void clear_counters();

// Fault injection: after n more successful sector reads (writes) every read
// (write) fails with RES_ERROR; negative disables.
void fail_reads_after(long n);
void fail_writes_after(long n);
void set_not_ready(bool on);       // disk_initialize leaves STA_NOINIT
void set_write_protect(bool on);   // STA_PROTECT and RES_WRPRT

// The time get_fattime() returns, as a packed FAT date and time.
void set_fattime(uint32_t fattime);
constexpr uint32_t fattime(int year, int month, int day, int hour, int minute, int second)
{
    return (uint32_t)(year - 1980) << 25 | (uint32_t)month << 21 | (uint32_t)day << 16 | (uint32_t)hour << 11 |
           (uint32_t)minute << 5 | (uint32_t)second / 2;
}

} // namespace test_disk
