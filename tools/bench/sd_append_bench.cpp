// What one record append costs on the card: open, seek to the end, write a
// 200-byte record, close - the data file's way of growing, one sample at a
// time. Runs FatFs, the SD driver and the simulated card (SD version 2, high
// capacity, 4 GiB FAT32 with 4 KiB clusters) and prints, for data files of
// 10 KB, 1 MB and 100 MB, the card sectors read and written and the virtual
// time each append takes with the card clocked at 12.5 MHz.
//
// Usage: sd_append_bench [appends per size]   (default 20)
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "SDCard.h"
#include "Sleep.h"
#include "board.h"
#include "config.h"
#include "fat/ff.h"
#include "fat_format.h"
#include "persistent.h"
#include "platform.h"
#include "sd_card.h"
#include "ssi.h"
#include "uartstdio.h"
#include "vectors.h"

namespace {

constexpr uint64_t kCardBytes = 4ull << 30;
constexpr unsigned kRecordBytes = 200;
constexpr const char* kFileName = "DATA.TXT";

struct Cost {
    double reads = 0, writes = 0;  // sectors
    double time = 0;               // ns
};

bool make_card(const std::string& path, uint32_t file_bytes)
{
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return false;
    const bool ok = ftruncate(fd, static_cast<off_t>(kCardBytes)) == 0 &&
                    sim::fat32_format(fd, kCardBytes / 512, 1) &&
                    sim::fat32_add_zero_file(fd, "DATA    TXT", file_bytes);
    close(fd);
    return ok;
}

// One append as the sample sequences do it; false on any file error.
bool append_record()
{
    static char record[kRecordBytes];
    for (unsigned i = 0; i < kRecordBytes; ++i) record[i] = i + 1 == kRecordBytes ? '\n' : 'a' + i % 26;
    FIL f;
    if (f_open(&f, kFileName, FA_READ | FA_WRITE | FA_OPEN_ALWAYS) != FR_OK) return false;
    UINT written = 0;
    const bool ok = f_lseek(&f, f_size(&f)) == FR_OK &&
                    f_write(&f, record, kRecordBytes, &written) == FR_OK && written == kRecordBytes;
    return f_close(&f) == FR_OK && ok;
}

Cost measure(sim::Board& board, sim::SdCard& card, bool* ok)
{
    const uint64_t r0 = card.sectors_read(), w0 = card.sectors_written();
    const sim::Nanos t0 = board.now();
    *ok = append_record() && *ok;
    return {static_cast<double>(card.sectors_read() - r0), static_cast<double>(card.sectors_written() - w0),
            static_cast<double>(board.now() - t0)};
}

// One boot: the first append brings up the card and mounts the volume;
// `later` more appends follow in the same boot.
bool run_boot(const std::string& image, int later, Cost* first, Cost* mean)
{
    sim::MemoryPersistent mem;
    sim::BoardConfig config;
    config.card_image = image.c_str();
    sim::Board board(mem.view, config);
    sim::set_board(&board);
    sim_install_vectors(board);
    sysctl_clock_set_50mhz();
    UARTStdioConfig(0, 115200, PIOSC_HZ);
    systick_period(sysctl_clock_get() / 100);
    systick_int_enable();
    systick_enable();
    hib_rtc_set(3723451200u);  // 2017-12-31 12:00:00
    Init_SDCard();
    sim::SdCard* card = sim::attached_sdcard(board);
    if (card == nullptr) return false;

    bool ok = true;
    *first = measure(board, *card, &ok);
    Cost sum;
    for (int i = 0; i < later; ++i) {
        const Cost c = measure(board, *card, &ok);
        sum.reads += c.reads, sum.writes += c.writes, sum.time += c.time;
    }
    mean->reads = sum.reads / later, mean->writes = sum.writes / later, mean->time = sum.time / later;
    const bool clean = card->protocol_error().empty();
    sim::set_board(nullptr);
    return ok && clean;
}

double ms(sim::Nanos t)
{
    return static_cast<double>(t) / 1e6;
}

}  // namespace

int main(int argc, char** argv)
{
    const int later = argc > 1 ? std::atoi(argv[1]) : 20;
    if (later < 1) {
        std::fprintf(stderr, "usage: %s [appends per size, at least 1]\n", argv[0]);
        return 2;
    }
    char dir[] = "/tmp/sd_append_bench.XXXXXX";
    if (mkdtemp(dir) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string image = std::string(dir) + "/sdcard.img";

    std::printf("Append of one %u-byte record (f_open, f_lseek to the end, f_write, f_close)\n",
                kRecordBytes);
    std::printf("card: SD v2 high capacity, 4 GiB FAT32, 4 KiB clusters; SPI at 12.5 MHz; virtual time\n\n");
    std::printf("%-10s | %-32s | %s\n", "data file", "first append of a boot (card",
                "later appends in the same boot");
    std::printf("%-10s | %-32s | %s\n", "", "init and volume mount included)",
                ("(mean of " + std::to_string(later) + ")").c_str());
    std::printf("%-10s | %7s %7s %14s   | %7s %7s %14s\n", "", "reads", "writes", "time", "reads", "writes",
                "time");
    const struct {
        const char* name;
        uint32_t bytes;
    } sizes[] = {{"10 KB", 10000}, {"1 MB", 1000000}, {"100 MB", 100000000}};
    int rc = 0;
    for (const auto& s : sizes) {
        Cost first, mean;
        if (!make_card(image, s.bytes) || !run_boot(image, later, &first, &mean)) {
            std::printf("%-10s | failed\n", s.name);
            rc = 1;
            continue;
        }
        std::printf("%-10s | %7.0f %7.0f %11.3f ms   | %7.2f %7.2f %11.3f ms\n", s.name, first.reads,
                    first.writes, ms(first.time), mean.reads, mean.writes, ms(mean.time));
    }
    unlink(image.c_str());
    rmdir(dir);
    return rc;
}
