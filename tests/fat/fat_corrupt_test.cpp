// Corrupted and hostile volumes: each case breaks one structure of a good
// volume and expects an error code (never a crash, an overrun or a hang).
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "fat/ff.h"
#include "fat_tools.h"
#include "test_disk.h"

using namespace fat_test;

namespace {

const Format kFat16{16, 1, 4096, 0, ""};          // about 8000 clusters of one sector
const Format kFat16Mbr{16, 1, 4096, 63, ""};
const Format kFat32{32, 1, 40960, 0, ""};

constexpr uint32_t kFileSize = 4 * 512 + 100;      // five clusters

// The good volume: FILE.BIN (five clusters) and DIR/INNER.TXT.
void populate(const Image& img)
{
    Volume v(img.path);
    ASSERT_EQ(v.mount_result(), FR_OK);
    ASSERT_EQ(write_whole("FILE.BIN", pattern(kFileSize, 1)), FR_OK);
    ASSERT_EQ(f_mkdir("DIR"), FR_OK);
    ASSERT_EQ(write_whole("DIR/INNER.TXT", pattern(10, 2)), FR_OK);
}

struct Ctx {
    RawFat& raw;
    uint64_t file;                 // FILE.BIN entry
    uint64_t dir;                  // DIR entry
    std::vector<uint32_t> chain;   // FILE.BIN clusters
};

FRESULT read_file_bin()
{
    std::vector<uint8_t> data;
    return read_whole("FILE.BIN", &data);
}

FRESULT seek_end_file_bin()
{
    FIL f{};
    FRESULT r = f_open(&f, "FILE.BIN", FA_READ);
    if (r == FR_OK) r = f_lseek(&f, f_size(&f));
    f_close(&f);
    return r;
}

FRESULT list_all(const char* path)
{
    std::vector<FILINFO> entries;
    return list_dir(path, &entries);
}

FRESULT mount_now()
{
    FATFS* fs;
    return f_getfree("", nullptr, &fs);
}

// Fills every entry of a directory cluster with a valid-looking file entry,
// so that the directory has no end marker in it.
void fill_entries(RawFat& raw, uint32_t clst)
{
    uint8_t* p = raw.img.data() + raw.cluster_offset(clst);
    for (uint32_t i = 0; i < raw.cluster_bytes() / 32; ++i, p += 32) {
        std::memset(p, 0, 32);
        std::memcpy(p, "JUNK       ", 11);
        p[5] = (uint8_t)('A' + i % 26);
        p[11] = 0x20;
    }
}

// A chain of n free clusters from the top of the volume, each filled with
// deleted entries, appended to the directory at clst.
void extend_directory(RawFat& raw, uint32_t clst, uint32_t n)
{
    uint32_t prev = clst;
    for (uint32_t k = 0, c = raw.nclst + 1; k < n; ++k, --c) {
        std::memset(raw.img.data() + raw.cluster_offset(c), 0xE5, raw.cluster_bytes());
        raw.set(prev, c);
        prev = c;
    }
    raw.set(prev, 0xFFFF);
}

struct Case {
    const char* what;
    Format fmt;
    std::function<void(Ctx&)> corrupt;
    std::function<FRESULT()> check;
    FRESULT expected;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.what; }

const Case kCases[] = {
    {"boot sector wiped", kFat16, [](Ctx& c) { std::memset(c.raw.boot(), 0, 512); }, mount_now, FR_NO_FILESYSTEM},
    {"4096-byte sectors", kFat16, [](Ctx& c) { c.raw.boot()[12] = 0x10; }, mount_now, FR_NO_FILESYSTEM},
    {"3 sectors per cluster", kFat16, [](Ctx& c) { c.raw.boot()[13] = 3; }, mount_now, FR_NO_FILESYSTEM},
    {"no FAT", kFat16, [](Ctx& c) { c.raw.boot()[16] = 0; }, mount_now, FR_NO_FILESYSTEM},
    {"no reserved sector", kFat16, [](Ctx& c) { c.raw.boot()[14] = c.raw.boot()[15] = 0; }, mount_now,
     FR_NO_FILESYSTEM},
    {"FAT too small for the clusters", kFat16, [](Ctx& c) { c.raw.boot()[22] = 1, c.raw.boot()[23] = 0; },
     mount_now, FR_NO_FILESYSTEM},
    {"volume smaller than its FATs", kFat16,
     [](Ctx& c) {
         c.raw.boot()[19] = 40, c.raw.boot()[20] = 0;
         std::memset(c.raw.boot() + 32, 0, 4);
     },
     mount_now, FR_NO_FILESYSTEM},
    {"root entry count not whole sectors", kFat16, [](Ctx& c) { c.raw.boot()[17] = 0x07; }, mount_now,
     FR_NO_FILESYSTEM},
    {"FAT16 without root directory", kFat16, [](Ctx& c) { c.raw.boot()[17] = c.raw.boot()[18] = 0; }, mount_now,
     FR_NO_FILESYSTEM},
    {"FAT32 root cluster past the volume", kFat32,
     [](Ctx& c) {
         const uint32_t bad = c.raw.nclst + 2;
         std::memcpy(c.raw.boot() + 44, &bad, 4);
     },
     mount_now, FR_NO_FILESYSTEM},
    {"partition past the end of the card", kFat16Mbr,
     [](Ctx& c) {
         const uint32_t lba = 0x7FFFFF00;
         std::memcpy(c.raw.img.data() + 446 + 8, &lba, 4);
     },
     mount_now, FR_DISK_ERR},
    {"partition table without a FAT partition", kFat16Mbr, [](Ctx& c) { c.raw.img[446 + 4] = 0; }, mount_now,
     FR_NO_FILESYSTEM},
    {"file chain loops back", kFat16,
     [](Ctx& c) {
         c.raw.set(c.chain[4], c.chain[1]);
         c.raw.set_entry_size(c.file, 200000);
     },
     read_file_bin, FR_INT_ERR},
    {"file chain loops onto itself", kFat16, [](Ctx& c) { c.raw.set(c.chain[2], c.chain[2]); }, read_file_bin,
     FR_INT_ERR},
    {"seek through a looping chain", kFat16,
     [](Ctx& c) {
         c.raw.set(c.chain[4], c.chain[0]);
         c.raw.set_entry_size(c.file, 0xFFFFFFFF);
     },
     seek_end_file_bin, FR_INT_ERR},
    {"cluster number past the volume", kFat16, [](Ctx& c) { c.raw.set(c.chain[1], c.raw.nclst + 10); },
     read_file_bin, FR_INT_ERR},
    {"free cluster inside a chain", kFat16, [](Ctx& c) { c.raw.set(c.chain[1], 0); }, read_file_bin, FR_INT_ERR},
    {"reserved value 1 inside a chain", kFat16, [](Ctx& c) { c.raw.set(c.chain[1], 1); }, read_file_bin,
     FR_INT_ERR},
    {"chain shorter than the size", kFat16, [](Ctx& c) { c.raw.set(c.chain[2], 0xFFFF); }, read_file_bin,
     FR_INT_ERR},
    {"absurd size", kFat16, [](Ctx& c) { c.raw.set_entry_size(c.file, 0xFFFFFFFF); }, seek_end_file_bin,
     FR_INT_ERR},
    {"start cluster past the volume", kFat16, [](Ctx& c) { c.raw.set_entry_cluster(c.file, 0xFFF0); },
     read_file_bin, FR_INT_ERR},
    {"data without a start cluster", kFat16, [](Ctx& c) { c.raw.set_entry_cluster(c.file, 0); }, read_file_bin,
     FR_INT_ERR},
    {"unlink a looping file", kFat16, [](Ctx& c) { c.raw.set(c.chain[4], c.chain[0]); },
     [] { return f_unlink("FILE.BIN"); }, FR_INT_ERR},
    {"truncate a chain with a bad link", kFat16, [](Ctx& c) { c.raw.set(c.chain[3], c.raw.nclst + 7); },
     [] {
         FIL f{};
         FRESULT r = f_open(&f, "FILE.BIN", FA_WRITE | FA_CREATE_ALWAYS);
         f_close(&f);
         return r;
     },
     FR_INT_ERR},
    {"subdirectory at cluster 0", kFat16, [](Ctx& c) { c.raw.set_entry_cluster(c.dir, 0); },
     [] { return list_all("DIR"); }, FR_INT_ERR},
    {"subdirectory past the volume", kFat16, [](Ctx& c) { c.raw.set_entry_cluster(c.dir, c.raw.nclst + 2); },
     [] { return f_stat("DIR/INNER.TXT", nullptr); }, FR_INT_ERR},
    {"directory chain loops, listing", kFat16,
     [](Ctx& c) {
         const uint32_t d = c.raw.entry_cluster(c.dir);
         fill_entries(c.raw, d);
         c.raw.set(d, d);
     },
     [] { return list_all("DIR"); }, FR_INT_ERR},
    {"directory chain loops, lookup", kFat16,
     [](Ctx& c) {
         const uint32_t d = c.raw.entry_cluster(c.dir);
         fill_entries(c.raw, d);
         c.raw.set(d, d);
     },
     [] { return f_stat("DIR/NOPE.TXT", nullptr); }, FR_INT_ERR},
    {"directory chain loops, create", kFat16,
     [](Ctx& c) {
         const uint32_t d = c.raw.entry_cluster(c.dir);
         fill_entries(c.raw, d);
         c.raw.set(d, d);
     },
     [] { return write_whole("DIR/NEW.TXT", {}); }, FR_INT_ERR},
    {"directory without an end (over 2 MiB of entries)", kFat16,
     [](Ctx& c) {
         const uint32_t d = c.raw.entry_cluster(c.dir);
         fill_entries(c.raw, d);
         extend_directory(c.raw, d, 4200);
     },
     [] { return f_stat("DIR/NOPE.TXT", nullptr); }, FR_INT_ERR},
    {"FAT32 root chain loops", kFat32,
     [](Ctx& c) {
         fill_entries(c.raw, c.raw.rootclus);
         c.raw.set(c.raw.rootclus, c.raw.rootclus);
     },
     [] { return list_all("/"); }, FR_INT_ERR},
};

class FatCorrupt : public ::testing::TestWithParam<Case> {};

TEST_P(FatCorrupt, GivesAnErrorCode)
{
    const Case& c = GetParam();
    TempDir tmp;
    Image img;
    std::string log;
    ASSERT_TRUE(make_image(c.fmt, tmp.file("card.img"), &img, &log)) << log;
    populate(img);
    {
        RawFat raw(img.path, img.part_lba);
        Ctx ctx{raw, raw.find_entry(0, "FILE    BIN"), raw.find_entry(0, "DIR        "), {}};
        ASSERT_NE(ctx.file, 0u);
        ASSERT_NE(ctx.dir, 0u);
        for (uint32_t cl = raw.entry_cluster(ctx.file); ctx.chain.size() < 5; cl = raw.get(cl)) ctx.chain.push_back(cl);
        c.corrupt(ctx);
        raw.save();
    }
    Volume v(img.path, 0);
    EXPECT_EQ(c.check(), c.expected) << c.what;
}

INSTANTIATE_TEST_SUITE_P(Images, FatCorrupt, ::testing::ValuesIn(kCases), [](const auto& info) {
    std::string n;
    for (const char* p = info.param.what; *p; ++p) n += isalnum((unsigned char)*p) ? *p : '_';
    return n;
});

// An FSInfo free count that cannot be true is not trusted: f_getfree counts.
TEST(FatFsInfo, ImplausibleFreeCountIsRecounted)
{
    TempDir tmp;
    Image img;
    std::string log;
    ASSERT_TRUE(make_image(kFat32, tmp.file("card.img"), &img, &log)) << log;
    populate(img);
    uint32_t truly_free = 0;
    {
        RawFat raw(img.path);
        for (uint32_t c = 2; c < raw.nclst + 2; ++c) truly_free += raw.get(c) == 0;
        const uint32_t bogus = raw.nclst + 1000;
        std::memcpy(raw.img.data() + 512 + 488, &bogus, 4);
        raw.save();
    }
    {
        Volume v(img.path);
        DWORD n = 0;
        FATFS* fs = nullptr;
        ASSERT_EQ(f_getfree("", &n, &fs), FR_OK);
        EXPECT_EQ(n, truly_free);
        EXPECT_EQ(fs->free_clst, truly_free);
        ASSERT_EQ(write_whole("MORE.BIN", pattern(1500, 3)), FR_OK); // writes FSInfo back, now true
    }
    std::string out;
    EXPECT_EQ(fsck(img, &out), 0) << out;
}

} // namespace
