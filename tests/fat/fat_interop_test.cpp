// Interoperability with the PC tools in both directions, over FAT12, FAT16
// and FAT32 volumes of several cluster sizes, with and without a partition
// table: what mtools writes our module reads, what our module writes mtools
// reads byte for byte, and fsck.fat finds nothing to fix.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "fat/ff.h"
#include "fat_tools.h"
#include "test_disk.h"

using namespace fat_test;

namespace {

const Format kFormats[] = {
    {12, 1, 1440, 0, ""},
    {12, 4, 4096, 0, ""},
    {12, 2, 2048, 63, ""},
    {16, 1, 16384, 0, ""},
    {16, 4, 65536, 0, "-f 1"},
    {16, 2, 32768, 2048, ""},
    {32, 1, 40960, 0, ""},
    {32, 8, 307200, 0, ""},
    {32, 1, 40960, 2048, ""},
};

class FatInterop : public ::testing::TestWithParam<Format> {
protected:
    void SetUp() override
    {
        std::string log;
        ASSERT_TRUE(make_image(GetParam(), tmp.file("card.img"), &img, &log)) << log;
        cluster = (size_t)GetParam().cluster_sectors * 512;
    }

    // File sizes around the sector and cluster boundaries.
    std::vector<size_t> sizes() const
    {
        return {0, 1, 511, 512, 513, cluster - 1, cluster, cluster + 1, 3 * cluster + 100, 70000};
    }

    void put(const std::string& target, const std::vector<uint8_t>& data)
    {
        const std::string src = tmp.file("src.bin");
        write_file(src, data);
        std::string out;
        ASSERT_EQ(mtools("mcopy", img, "-n " + quote(src) + " " + quote("::" + target), &out), 0) << out;
    }

    std::vector<uint8_t> get(const std::string& source)
    {
        const std::string dst = tmp.file("dst.bin");
        std::remove(dst.c_str());
        std::string out;
        EXPECT_EQ(mtools("mcopy", img, "-n " + quote("::" + source) + " " + quote(dst), &out), 0) << out;
        return read_file(dst);
    }

    void expect_clean()
    {
        std::string out;
        EXPECT_EQ(fsck(img, &out), 0) << out;
    }

    TempDir tmp;
    Image img;
    size_t cluster = 0;
};

TEST_P(FatInterop, MountsWithTheRightType)
{
    Volume v(img.path);
    ASSERT_EQ(v.mount_result(), FR_OK);
    const int bits = GetParam().fat_bits;
    EXPECT_EQ(v.fs.fs_type, bits == 12 ? FS_FAT12 : bits == 16 ? FS_FAT16 : FS_FAT32);
    EXPECT_EQ(v.fs.csize, GetParam().cluster_sectors);
    EXPECT_EQ(v.fs.volbase, GetParam().part_lba);
    // Free space agrees with mtools.
    DWORD nfree = 0;
    FATFS* fs = nullptr;
    ASSERT_EQ(f_getfree("", &nfree, &fs), FR_OK);
    std::string mdir;
    ASSERT_EQ(mtools("mdir", img, "::", &mdir), 0) << mdir;
    std::string digits;
    const auto at = mdir.find("bytes free");
    ASSERT_NE(at, std::string::npos) << mdir;
    for (size_t i = mdir.rfind('\n', at) + 1; i < at; ++i) {
        if (isdigit((unsigned char)mdir[i])) digits += mdir[i];
    }
    EXPECT_EQ((uint64_t)nfree * cluster, std::stoull(digits)) << mdir;
}

TEST_P(FatInterop, ReadsWhatMtoolsWrote)
{
    std::string out;
    ASSERT_EQ(mtools("mmd", img, "'::Sub Dir With Long Name'", &out), 0) << out;
    ASSERT_EQ(mtools("mmd", img, "'::Sub Dir With Long Name/inner'", &out), 0) << out;
    std::map<std::string, std::vector<uint8_t>> expect; // our path -> content
    int k = 0;
    for (size_t n : sizes()) {
        const std::string name = "F" + std::to_string(k) + ".BIN";
        expect[name] = pattern(n, 100 + k);
        put(name, expect[name]);
        ++k;
    }
    expect["ALONGF~1.TXT"] = pattern(3000, 1);
    put("A long file name.txt", expect["ALONGF~1.TXT"]);
    expect["LOWER.TXT"] = pattern(700, 2);
    put("lower.txt", expect["LOWER.TXT"]);
    expect["SUBDIR~1/INNER/DATA.BIN"] = pattern(cluster * 2 + 7, 3);
    put("Sub Dir With Long Name/inner/data.bin", expect["SUBDIR~1/INNER/DATA.BIN"]);

    Volume v(img.path);
    ASSERT_EQ(v.mount_result(), FR_OK);
    std::vector<FILINFO> root;
    ASSERT_EQ(list_dir("/", &root), FR_OK);
    EXPECT_EQ(root.size(), sizes().size() + 3);
    for (const auto& e : root) {
        if (e.fattrib & AM_DIR) {
            EXPECT_STREQ(e.fname, "SUBDIR~1");
            continue;
        }
        ASSERT_TRUE(expect.count(e.fname)) << e.fname;
        EXPECT_EQ(e.fsize, expect[e.fname].size()) << e.fname;
    }
    for (const auto& [path, data] : expect) {
        std::vector<uint8_t> back;
        EXPECT_EQ(read_whole(path, &back), FR_OK) << path;
        EXPECT_TRUE(back == data) << path;
    }
}

TEST_P(FatInterop, MtoolsReadsWhatWeWrote)
{
    std::string out;
    // Long names from the PC, which we delete and rename.
    put("A long file name.txt", pattern(100, 1));
    put("Another long name.dat", pattern(200, 2));
    ASSERT_EQ(mtools("mmd", img, "'::Long Directory'", &out), 0) << out;
    put("Long Directory/Inside it.txt", pattern(300, 3));

    std::map<std::string, std::vector<uint8_t>> expect; // mtools path -> content
    {
        Volume v(img.path);
        ASSERT_EQ(v.mount_result(), FR_OK);
        ASSERT_EQ(f_mkdir("D1"), FR_OK);
        ASSERT_EQ(f_mkdir("D1/D2"), FR_OK);
        ASSERT_EQ(f_mkdir("d1/d2/D3"), FR_OK);
        int k = 0;
        for (size_t n : sizes()) {
            const std::string name = "W" + std::to_string(k) + ".BIN";
            expect[name] = pattern(n, 200 + k);
            ASSERT_EQ(write_whole(name, expect[name]), FR_OK) << name;
            const std::string deep = "D1/D2/D3/W" + std::to_string(k) + ".BIN";
            expect[deep] = pattern(n, 300 + k);
            ASSERT_EQ(write_whole(deep, expect[deep]), FR_OK) << deep;
            ++k;
        }
        // Appends in several writes, an overwrite in place, a truncation.
        std::vector<uint8_t>& log = expect["D1/LOG.TXT"];
        for (int i = 0; i < 7; ++i) {
            const std::vector<uint8_t> more = pattern(cluster / 3 + i * 97, 400 + i);
            ASSERT_EQ(write_whole("D1/LOG.TXT", more, FA_WRITE | FA_OPEN_APPEND), FR_OK);
            log.insert(log.end(), more.begin(), more.end());
        }
        FIL f{};
        ASSERT_EQ(f_open(&f, "W8.BIN", FA_WRITE | FA_READ), FR_OK);
        ASSERT_EQ(f_lseek(&f, cluster - 5), FR_OK);
        UINT bw = 0;
        ASSERT_EQ(f_write(&f, "0123456789", 10, &bw), FR_OK);
        std::copy_n("0123456789", 10, expect["W8.BIN"].begin() + (cluster - 5));
        ASSERT_EQ(f_lseek(&f, 2 * cluster + 1), FR_OK);
        ASSERT_EQ(f_truncate(&f), FR_OK);
        expect["W8.BIN"].resize(2 * cluster + 1);
        ASSERT_EQ(f_close(&f), FR_OK);
        // Names of the PC's long-name files, deleted and renamed.
        ASSERT_EQ(f_unlink("ALONGF~1.TXT"), FR_OK);
        ASSERT_EQ(f_rename("ANOTHE~1.DAT", "D1/MOVED.DAT"), FR_OK);
        expect["D1/MOVED.DAT"] = pattern(200, 2);
        ASSERT_EQ(f_rename("LONGDI~1", "D1/D2/SHORT"), FR_OK);
        expect["D1/D2/SHORT/INSIDE~1.TXT"] = pattern(300, 3);
        ASSERT_EQ(f_rename("W9.BIN", "D1/W9.BIN"), FR_OK);
        expect["D1/W9.BIN"] = expect["W9.BIN"];
        expect.erase("W9.BIN");
        ASSERT_EQ(f_unlink("W0.BIN"), FR_OK);
        expect.erase("W0.BIN");
    }
    expect_clean();
    for (const auto& [path, data] : expect) EXPECT_TRUE(get(path) == data) << path;
    ASSERT_EQ(mtools("mdir", img, "-/ -b ::", &out), 0) << out;
    EXPECT_EQ(out.find("A long file name.txt"), std::string::npos) << out;
    EXPECT_EQ(out.find("Another long name"), std::string::npos) << out;
    EXPECT_NE(out.find("::/D1/D2/SHORT/Inside it.txt"), std::string::npos) << out;
    EXPECT_NE(out.find("::/D1/MOVED.DAT"), std::string::npos) << out;
    EXPECT_EQ(out.find("::/W0.BIN"), std::string::npos) << out;
}

INSTANTIATE_TEST_SUITE_P(Formats, FatInterop, ::testing::ValuesIn(kFormats),
                         [](const auto& info) { return info.param.name(); });

} // namespace
