// The FAT module's calls on volumes made by mkfs.fat: file and directory
// operations, result codes, objects, disk failures, full volumes, time
// stamps and names.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "fat/diskio.h"
#include "fat/ff.h"
#include "fat_tools.h"
#include "test_disk.h"

using namespace fat_test;

namespace {

const Format kFat16{16, 1, 4096, 0, ""};

class FatApi : public ::testing::Test {
protected:
    void make(const Format& fmt)
    {
        std::string log;
        ASSERT_TRUE(make_image(fmt, tmp.file("card.img"), &img, &log)) << log;
    }
    void mount()
    {
        vol.reset();
        vol = std::make_unique<Volume>(img.path);
        ASSERT_EQ(vol->mount_result(), FR_OK);
    }
    void unmount() { vol.reset(); }
    void expect_clean()
    {
        std::string out;
        EXPECT_EQ(fsck(img, &out), 0) << out;
    }
    DWORD free_clusters()
    {
        DWORD n = 0;
        FATFS* fs = nullptr;
        EXPECT_EQ(f_getfree("", &n, &fs), FR_OK);
        return n;
    }

    TempDir tmp;
    Image img;
    std::unique_ptr<Volume> vol;
};

std::vector<uint8_t> read_all(FIL* f, UINT chunk)
{
    std::vector<uint8_t> out;
    std::vector<uint8_t> buf(chunk);
    for (;;) {
        UINT br = 0;
        EXPECT_EQ(f_read(f, buf.data(), chunk, &br), FR_OK);
        out.insert(out.end(), buf.begin(), buf.begin() + br);
        if (br < chunk) return out;
    }
}

TEST_F(FatApi, DelayedMountTouchesTheCardOnlyAtTheFirstAccess)
{
    make(kFat16);
    ASSERT_TRUE(test_disk::attach(img.path));
    test_disk::set_not_ready(true);
    FATFS fs{};
    EXPECT_EQ(f_mount(&fs, "", 0), FR_OK);
    EXPECT_EQ(test_disk::counters().read_calls, 0u);
    FIL f{};
    EXPECT_EQ(f_open(&f, "A.TXT", FA_READ), FR_NOT_READY);
    EXPECT_EQ(f_mount(&fs, "", 1), FR_NOT_READY);
    test_disk::set_not_ready(false);
    EXPECT_EQ(f_open(&f, "A.TXT", FA_READ), FR_NO_FILE); // mounted on the way
    EXPECT_EQ(fs.fs_type, FS_FAT16);
    EXPECT_EQ(f_mount(&fs, "0:", 1), FR_OK);
    EXPECT_EQ(f_mount(&fs, "1:", 0), FR_INVALID_DRIVE);
    f_mount(nullptr, "", 0);
    EXPECT_EQ(f_open(&f, "A.TXT", FA_READ), FR_NOT_ENABLED);
    EXPECT_EQ(f_getfree("", nullptr, nullptr), FR_NOT_ENABLED);
    test_disk::detach();
}

TEST_F(FatApi, FilesAreWrittenReadSeekedAndTruncated)
{
    make({16, 2, 8192, 0, ""}); // 1 KiB clusters
    mount();
    const DWORD free0 = free_clusters();
    std::vector<uint8_t> model = pattern(5000, 1);
    FIL f{};
    ASSERT_EQ(f_open(&f, "data.bin", FA_WRITE | FA_CREATE_NEW), FR_OK);
    const UINT chunks[] = {1, 7, 511, 512, 1025, 2048, 896};
    size_t at = 0;
    for (UINT c : chunks) {
        UINT bw = 0;
        ASSERT_EQ(f_write(&f, model.data() + at, c, &bw), FR_OK);
        ASSERT_EQ(bw, c);
        at += c;
        EXPECT_EQ(f_tell(&f), at);
        EXPECT_EQ(f_size(&f), at);
    }
    ASSERT_EQ(at, model.size());
    ASSERT_EQ(f_close(&f), FR_OK);

    // Read back in sizes that straddle sectors and clusters.
    for (UINT chunk : {3u, 512u, 513u, 4096u}) {
        ASSERT_EQ(f_open(&f, "DATA.BIN", FA_READ), FR_OK);
        EXPECT_EQ(read_all(&f, chunk), model) << chunk;
        EXPECT_TRUE(f_eof(&f));
        ASSERT_EQ(f_close(&f), FR_OK);
    }

    // Overwrite in the middle, extend past the end by seeking, truncate.
    ASSERT_EQ(f_open(&f, "DATA.BIN", FA_READ | FA_WRITE), FR_OK);
    ASSERT_EQ(f_lseek(&f, 1000), FR_OK);
    const std::vector<uint8_t> patch = pattern(600, 2);
    UINT bw = 0;
    ASSERT_EQ(f_write(&f, patch.data(), (UINT)patch.size(), &bw), FR_OK);
    std::copy(patch.begin(), patch.end(), model.begin() + 1000);
    ASSERT_EQ(f_lseek(&f, 6000), FR_OK);
    EXPECT_EQ(f_size(&f), 6000u);
    ASSERT_EQ(f_write(&f, "END", 3, &bw), FR_OK);
    ASSERT_EQ(f_lseek(&f, 1500), FR_OK);
    ASSERT_EQ(f_truncate(&f), FR_OK);
    EXPECT_EQ(f_size(&f), 1500u);
    model.resize(1500);
    ASSERT_EQ(f_lseek(&f, 0), FR_OK);
    EXPECT_EQ(read_all(&f, 700), model);
    ASSERT_EQ(f_close(&f), FR_OK);

    // Seeking past the end of a file open for reading stops at the end.
    ASSERT_EQ(f_open(&f, "DATA.BIN", FA_READ), FR_OK);
    ASSERT_EQ(f_lseek(&f, 99999), FR_OK);
    EXPECT_EQ(f_tell(&f), 1500u);
    ASSERT_EQ(f_close(&f), FR_OK);

    // Append mode starts at the end.
    ASSERT_EQ(f_open(&f, "DATA.BIN", FA_WRITE | FA_OPEN_APPEND), FR_OK);
    EXPECT_EQ(f_tell(&f), 1500u);
    ASSERT_EQ(f_write(&f, "xyz", 3, &bw), FR_OK);
    ASSERT_EQ(f_close(&f), FR_OK);
    model.insert(model.end(), {'x', 'y', 'z'});
    std::vector<uint8_t> back;
    ASSERT_EQ(read_whole("DATA.BIN", &back), FR_OK);
    EXPECT_EQ(back, model);

    // Create modes.
    EXPECT_EQ(f_open(&f, "DATA.BIN", FA_WRITE | FA_CREATE_NEW), FR_EXIST);
    ASSERT_EQ(f_open(&f, "NEW.TXT", FA_WRITE | FA_OPEN_ALWAYS), FR_OK);
    ASSERT_EQ(f_close(&f), FR_OK);
    ASSERT_EQ(f_open(&f, "DATA.BIN", FA_WRITE | FA_CREATE_ALWAYS), FR_OK);
    EXPECT_EQ(f_size(&f), 0u);
    ASSERT_EQ(f_close(&f), FR_OK);
    EXPECT_EQ(free_clusters(), free0); // the replaced file's clusters came back

    // Truncating to zero frees every cluster.
    ASSERT_EQ(write_whole("BIG.BIN", pattern(9000, 3)), FR_OK);
    EXPECT_EQ(free_clusters(), free0 - 9);
    ASSERT_EQ(f_open(&f, "BIG.BIN", FA_WRITE), FR_OK);
    ASSERT_EQ(f_truncate(&f), FR_OK);
    ASSERT_EQ(f_close(&f), FR_OK);
    EXPECT_EQ(free_clusters(), free0);
    expect_clean();
}

TEST_F(FatApi, TimeStampsComeFromGetFattime)
{
    make(kFat16);
    mount();
    const uint32_t t1 = test_disk::fattime(2017, 3, 5, 14, 7, 30);
    const uint32_t t2 = test_disk::fattime(2018, 1, 1, 5, 0, 0);
    const uint32_t t3 = test_disk::fattime(2030, 12, 31, 23, 59, 58);
    test_disk::set_fattime(t1);
    ASSERT_EQ(write_whole("LOG.TXT", pattern(10, 1)), FR_OK);
    FILINFO fi{};
    ASSERT_EQ(f_stat("LOG.TXT", &fi), FR_OK);
    EXPECT_EQ(fi.fdate, t1 >> 16);
    EXPECT_EQ(fi.ftime, t1 & 0xFFFF);
    EXPECT_EQ((fi.fdate >> 9) + 1980, 2017);
    EXPECT_EQ(fi.fattrib, AM_ARC);

    test_disk::set_fattime(t2);
    FIL f{};
    ASSERT_EQ(f_open(&f, "LOG.TXT", FA_READ), FR_OK); // reading changes nothing
    ASSERT_EQ(f_close(&f), FR_OK);
    ASSERT_EQ(f_stat("LOG.TXT", &fi), FR_OK);
    EXPECT_EQ(fi.ftime, t1 & 0xFFFF);
    ASSERT_EQ(write_whole("LOG.TXT", pattern(3, 2), FA_WRITE | FA_OPEN_APPEND), FR_OK);
    ASSERT_EQ(f_stat("LOG.TXT", &fi), FR_OK);
    EXPECT_EQ(fi.fdate, t2 >> 16);
    EXPECT_EQ(fi.ftime, t2 & 0xFFFF);
    EXPECT_EQ(fi.fsize, 13u);

    test_disk::set_fattime(t3);
    ASSERT_EQ(f_mkdir("DIR"), FR_OK);
    ASSERT_EQ(f_stat("DIR", &fi), FR_OK);
    EXPECT_EQ(fi.fdate, t3 >> 16);
    EXPECT_EQ(fi.ftime, t3 & 0xFFFF);
    EXPECT_EQ(fi.fattrib, AM_DIR);
    // mtools shows the same date.
    std::string out;
    ASSERT_EQ(mtools("mdir", img, "::", &out), 0) << out;
    EXPECT_NE(out.find("2030-12-31  23:59"), std::string::npos) << out;
    EXPECT_NE(out.find("2018-01-01   5:00"), std::string::npos) << out;
}

// Every failing call of the table runs on the same volume: a failure must
// leave it unchanged.
TEST_F(FatApi, ErrorResultsTable)
{
    make(kFat16);
    mount();
    ASSERT_EQ(f_mkdir("DIR"), FR_OK);
    ASSERT_EQ(f_mkdir("DIR/SUB"), FR_OK);
    ASSERT_EQ(write_whole("DIR/FILE.TXT", pattern(100, 1)), FR_OK);
    ASSERT_EQ(write_whole("RO.TXT", pattern(10, 2)), FR_OK);
    ASSERT_EQ(f_mkdir("EMPTY"), FR_OK);
    std::string out;
    ASSERT_EQ(mtools("mattrib", img, "+r ::RO.TXT", &out), 0) << out;
    mount(); // see the attribute mtools set

    auto open = [](const char* path, BYTE mode) {
        return [=] {
            FIL f{};
            FRESULT r = f_open(&f, path, mode);
            if (r == FR_OK) f_close(&f);
            return r;
        };
    };
    auto opendir = [](const char* path) {
        return [=] {
            DIR d{};
            FRESULT r = f_opendir(&d, path);
            if (r == FR_OK) f_closedir(&d);
            return r;
        };
    };
    auto stat = [](const char* path) { return [=] { return f_stat(path, nullptr); }; };
    auto mkdir = [](const char* path) { return [=] { return f_mkdir(path); }; };
    auto unlink = [](const char* path) { return [=] { return f_unlink(path); }; };
    auto rename = [](const char* a, const char* b) { return [=] { return f_rename(a, b); }; };

    const struct {
        const char* what;
        std::function<FRESULT()> call;
        FRESULT expected;
    } cases[] = {
        {"empty path", open("", FA_READ), FR_INVALID_NAME},
        {"root as a file", open("/", FA_READ), FR_INVALID_NAME},
        {"base name of 9", open("ABCDEFGHI.TXT", FA_READ), FR_INVALID_NAME},
        {"extension of 4", open("A.TEXT", FA_READ), FR_INVALID_NAME},
        {"two dots", open("A.B.C", FA_READ), FR_INVALID_NAME},
        {"leading dot", open(".PROFILE", FA_READ), FR_INVALID_NAME},
        {"dot entry", stat("DIR/."), FR_INVALID_NAME},
        {"dot-dot entry", stat("DIR/.."), FR_INVALID_NAME},
        {"star", open("A*.TXT", FA_READ), FR_INVALID_NAME},
        {"question mark", open("A?.TXT", FA_READ), FR_INVALID_NAME},
        {"space", open("A B.TXT", FA_READ), FR_INVALID_NAME},
        {"plus", mkdir("A+B"), FR_INVALID_NAME},
        {"comma", mkdir("A,B"), FR_INVALID_NAME},
        {"semicolon", mkdir("A;B"), FR_INVALID_NAME},
        {"equals", mkdir("A=B"), FR_INVALID_NAME},
        {"brackets", mkdir("A[B]"), FR_INVALID_NAME},
        {"pipe", open("A|B", FA_WRITE | FA_CREATE_NEW), FR_INVALID_NAME},
        {"quote", open("A\"B", FA_WRITE | FA_CREATE_NEW), FR_INVALID_NAME},
        {"angle", open("A<B>", FA_WRITE | FA_CREATE_NEW), FR_INVALID_NAME},
        {"control character", open("A\tB", FA_WRITE | FA_CREATE_NEW), FR_INVALID_NAME},
        {"colon inside the path", stat("DIR/A:B"), FR_INVALID_NAME},
        {"other drive", stat("1:DIR"), FR_INVALID_DRIVE},
        {"letter drive", stat("A:DIR"), FR_INVALID_DRIVE},
        {"drive 0", stat("0:DIR/FILE.TXT"), FR_OK},
        {"case and separators", stat("//dir\\\\File.txt"), FR_OK},
        {"trailing separator", opendir("DIR/SUB/"), FR_OK},
        {"root listing", opendir(""), FR_OK},
        {"root listing by slash", opendir("/"), FR_OK},
        {"missing file", open("NOFILE.TXT", FA_READ), FR_NO_FILE},
        {"missing file in a dir", open("DIR/NOFILE.TXT", FA_READ), FR_NO_FILE},
        {"missing directory on the way", open("NODIR/X.TXT", FA_READ), FR_NO_PATH},
        {"create under a missing directory", open("NODIR/X.TXT", FA_WRITE | FA_CREATE_ALWAYS), FR_NO_PATH},
        {"file used as a directory", open("DIR/FILE.TXT/X", FA_READ), FR_NO_PATH},
        {"listing a missing directory", opendir("NODIR"), FR_NO_PATH},
        {"listing a file", opendir("DIR/FILE.TXT"), FR_NO_PATH},
        {"opening a directory", open("DIR", FA_READ), FR_NO_FILE},
        {"mkdir under a missing directory", mkdir("NODIR/X"), FR_NO_PATH},
        {"unlink missing", unlink("DIR/NOFILE.TXT"), FR_NO_FILE},
        {"unlink non-empty directory", unlink("DIR"), FR_DENIED},
        {"unlink read-only file", unlink("RO.TXT"), FR_DENIED},
        {"unlink root", unlink("/"), FR_INVALID_NAME},
        {"write a read-only file", open("RO.TXT", FA_WRITE), FR_DENIED},
        {"replace a read-only file", open("RO.TXT", FA_WRITE | FA_CREATE_ALWAYS), FR_DENIED},
        {"read a read-only file", open("RO.TXT", FA_READ), FR_OK},
        {"replace a directory", open("DIR", FA_WRITE | FA_CREATE_ALWAYS), FR_DENIED},
        {"create-new on a file", open("DIR/FILE.TXT", FA_WRITE | FA_CREATE_NEW), FR_EXIST},
        {"mkdir on a directory", mkdir("dir"), FR_EXIST},
        {"mkdir on a file", mkdir("DIR/FILE.TXT"), FR_EXIST},
        {"stat root", stat("/"), FR_INVALID_NAME},
        {"rename onto a file", rename("RO.TXT", "DIR/FILE.TXT"), FR_EXIST},
        {"rename onto a directory", rename("RO.TXT", "DIR"), FR_EXIST},
        {"rename onto itself", rename("RO.TXT", "ro.txt"), FR_EXIST},
        {"rename missing", rename("NOFILE.TXT", "X.TXT"), FR_NO_FILE},
        {"rename into a missing directory", rename("RO.TXT", "NODIR/X.TXT"), FR_NO_PATH},
        {"rename to a bad name", rename("RO.TXT", "X*.TXT"), FR_INVALID_NAME},
        {"rename the root", rename("/", "X"), FR_INVALID_NAME},
        {"directory into itself", rename("DIR", "DIR/X"), FR_DENIED},
        {"directory below itself", rename("DIR", "DIR/SUB/X"), FR_DENIED},
        {"unlink empty directory", unlink("EMPTY"), FR_OK},
    };
    for (const auto& c : cases) EXPECT_EQ(c.call(), c.expected) << c.what;
    unmount();
    expect_clean();
}

TEST_F(FatApi, UnopenedClosedAndStaleObjectsAreInvalid)
{
    make(kFat16);
    mount();
    ASSERT_EQ(write_whole("A.TXT", pattern(10, 1)), FR_OK);
    BYTE buf[16];
    UINT n;
    FIL never{};
    EXPECT_EQ(f_read(&never, buf, 1, &n), FR_INVALID_OBJECT);
    EXPECT_EQ(f_write(&never, buf, 1, &n), FR_INVALID_OBJECT);
    EXPECT_EQ(f_lseek(&never, 0), FR_INVALID_OBJECT);
    EXPECT_EQ(f_truncate(&never), FR_INVALID_OBJECT);
    EXPECT_EQ(f_sync(&never), FR_INVALID_OBJECT);
    EXPECT_EQ(f_close(&never), FR_INVALID_OBJECT);
    EXPECT_EQ(f_read(nullptr, buf, 1, &n), FR_INVALID_OBJECT);
    EXPECT_EQ(f_close(nullptr), FR_INVALID_OBJECT);
    EXPECT_EQ(f_open(nullptr, "A.TXT", FA_READ), FR_INVALID_OBJECT);
    DIR nodir{};
    FILINFO fi{};
    EXPECT_EQ(f_readdir(&nodir, &fi), FR_INVALID_OBJECT);
    EXPECT_EQ(f_closedir(&nodir), FR_INVALID_OBJECT);
    EXPECT_EQ(f_opendir(nullptr, ""), FR_INVALID_OBJECT);

    FIL f{};
    ASSERT_EQ(f_open(&f, "A.TXT", FA_READ), FR_OK);
    ASSERT_EQ(f_close(&f), FR_OK);
    EXPECT_EQ(f_read(&f, buf, 1, &n), FR_INVALID_OBJECT);
    EXPECT_EQ(f_close(&f), FR_INVALID_OBJECT);

    // A failed open leaves the object unusable, whatever it held before.
    ASSERT_EQ(f_open(&f, "A.TXT", FA_READ), FR_OK);
    EXPECT_EQ(f_open(&f, "MISSING.TXT", FA_READ), FR_NO_FILE);
    EXPECT_EQ(f_read(&f, buf, 1, &n), FR_INVALID_OBJECT);

    // Access modes.
    ASSERT_EQ(f_open(&f, "A.TXT", FA_READ), FR_OK);
    EXPECT_EQ(f_write(&f, buf, 1, &n), FR_DENIED);
    EXPECT_EQ(f_truncate(&f), FR_DENIED);
    ASSERT_EQ(f_close(&f), FR_OK);
    ASSERT_EQ(f_open(&f, "A.TXT", FA_WRITE), FR_OK);
    EXPECT_EQ(f_read(&f, buf, 1, &n), FR_DENIED);
    ASSERT_EQ(f_close(&f), FR_OK);

    // A new mount or a card reset ends every open object.
    DIR d{};
    ASSERT_EQ(f_open(&f, "A.TXT", FA_READ), FR_OK);
    ASSERT_EQ(f_opendir(&d, "/"), FR_OK);
    FATFS other{};
    ASSERT_EQ(f_mount(&other, "", 1), FR_OK);
    EXPECT_EQ(f_read(&f, buf, 1, &n), FR_INVALID_OBJECT);
    EXPECT_EQ(f_readdir(&d, &fi), FR_INVALID_OBJECT);
    ASSERT_EQ(f_open(&f, "A.TXT", FA_READ), FR_OK);
    test_disk::reset();
    EXPECT_EQ(f_read(&f, buf, 1, &n), FR_INVALID_OBJECT);
    ASSERT_EQ(f_open(&f, "A.TXT", FA_READ), FR_OK); // mounts again
    EXPECT_EQ(f_read(&f, buf, sizeof buf, &n), FR_OK);
    EXPECT_EQ(n, 10u);
    f_mount(nullptr, "", 0);
}

TEST_F(FatApi, DiskFailuresAndWriteProtection)
{
    make(kFat16);
    mount();
    ASSERT_EQ(write_whole("A.TXT", pattern(3000, 1)), FR_OK);
    unmount();

    ASSERT_TRUE(test_disk::attach(img.path));
    FATFS fs{};
    test_disk::fail_reads_after(0);
    EXPECT_EQ(f_mount(&fs, "", 1), FR_DISK_ERR);
    test_disk::fail_reads_after(-1);
    ASSERT_EQ(f_mount(&fs, "", 1), FR_OK);

    // Read failure in the middle of a file sticks to the file.
    FIL f{};
    ASSERT_EQ(f_open(&f, "A.TXT", FA_READ), FR_OK);
    test_disk::fail_reads_after(1);
    std::vector<uint8_t> buf(3000);
    UINT n = 0;
    EXPECT_EQ(f_read(&f, buf.data(), 3000, &n), FR_DISK_ERR);
    test_disk::fail_reads_after(-1);
    EXPECT_EQ(f_read(&f, buf.data(), 10, &n), FR_DISK_ERR);
    EXPECT_EQ(f_error(&f), FR_DISK_ERR);
    EXPECT_EQ(f_close(&f), FR_OK);
    EXPECT_EQ(f_close(&f), FR_INVALID_OBJECT);

    // Write failure at close is reported, and the object is closed.
    ASSERT_EQ(f_open(&f, "B.TXT", FA_WRITE | FA_CREATE_NEW), FR_OK);
    ASSERT_EQ(f_write(&f, "hello", 5, &n), FR_OK);
    test_disk::fail_writes_after(0);
    EXPECT_EQ(f_close(&f), FR_DISK_ERR);
    EXPECT_EQ(f_close(&f), FR_INVALID_OBJECT);
    EXPECT_EQ(f_mkdir("D"), FR_DISK_ERR);
    test_disk::fail_writes_after(-1);

    test_disk::set_write_protect(true);
    test_disk::reset();
    EXPECT_EQ(f_open(&f, "C.TXT", FA_WRITE | FA_CREATE_NEW), FR_WRITE_PROTECTED);
    EXPECT_EQ(f_mkdir("D"), FR_WRITE_PROTECTED);
    EXPECT_EQ(f_unlink("A.TXT"), FR_WRITE_PROTECTED);
    EXPECT_EQ(f_rename("A.TXT", "Z.TXT"), FR_WRITE_PROTECTED);
    ASSERT_EQ(f_open(&f, "A.TXT", FA_READ), FR_OK);
    EXPECT_EQ(f_close(&f), FR_OK);
    f_mount(nullptr, "", 0);
    test_disk::detach();
}

TEST_F(FatApi, NoFileSystemOnABlankCard)
{
    const std::string path = tmp.file("blank.img");
    write_file(path, std::vector<uint8_t>(64 * 1024, 0));
    Volume v(path);
    EXPECT_EQ(v.mount_result(), FR_NO_FILESYSTEM);
    FIL f{};
    EXPECT_EQ(f_open(&f, "A.TXT", FA_READ), FR_NO_FILESYSTEM);
}

TEST_F(FatApi, FullVolumeGivesShortWritesAndDeniedDirectories)
{
    make({12, 1, 200, 0, ""});
    mount();
    const DWORD free0 = free_clusters();
    const std::vector<uint8_t> data = pattern(free0 * 512 + 5000, 7);
    FIL f{};
    ASSERT_EQ(f_open(&f, "BIG.BIN", FA_WRITE | FA_CREATE_NEW), FR_OK);
    UINT bw = 0;
    EXPECT_EQ(f_write(&f, data.data(), (UINT)data.size(), &bw), FR_OK);
    EXPECT_EQ(bw, free0 * 512);
    EXPECT_EQ(f_write(&f, data.data(), 1, &bw), FR_OK);
    EXPECT_EQ(bw, 0u);
    ASSERT_EQ(f_close(&f), FR_OK);
    EXPECT_EQ(free_clusters(), 0u);
    EXPECT_EQ(f_mkdir("D"), FR_DENIED);
    ASSERT_EQ(f_open(&f, "EMPTY.TXT", FA_WRITE | FA_CREATE_NEW), FR_OK); // an entry needs no cluster
    EXPECT_EQ(f_write(&f, data.data(), 10, &bw), FR_OK);
    EXPECT_EQ(bw, 0u);
    ASSERT_EQ(f_close(&f), FR_OK);
    std::vector<uint8_t> back;
    ASSERT_EQ(read_whole("BIG.BIN", &back), FR_OK);
    EXPECT_TRUE(std::equal(back.begin(), back.end(), data.begin()));
    expect_clean();
    ASSERT_EQ(f_unlink("BIG.BIN"), FR_OK);
    EXPECT_EQ(free_clusters(), free0);
    ASSERT_EQ(f_mkdir("D"), FR_OK);
    expect_clean();
}

TEST_F(FatApi, FixedRootFullIsDeniedAndFreedEntriesAreReused)
{
    make({16, 1, 4096, 0, "-r 16"});
    mount();
    std::vector<FILINFO> entries;
    ASSERT_EQ(list_dir("/", &entries), FR_OK);
    ASSERT_TRUE(entries.empty());
    int made = 0;
    for (; made < 40; ++made) {
        FRESULT r = write_whole("F" + std::to_string(made) + ".TXT", pattern(3, made));
        if (r != FR_OK) {
            EXPECT_EQ(r, FR_DENIED);
            break;
        }
    }
    EXPECT_EQ(made, 16);
    EXPECT_EQ(f_mkdir("D"), FR_DENIED);
    ASSERT_EQ(f_unlink("F3.TXT"), FR_OK);
    EXPECT_EQ(f_mkdir("D"), FR_OK);
    EXPECT_EQ(f_rename("F4.TXT", "D/F4.TXT"), FR_OK);
    EXPECT_EQ(write_whole("LAST.TXT", pattern(3, 99)), FR_OK);
    unmount();
    expect_clean();
}

TEST_F(FatApi, DirectoriesGrowByClustersIncludingTheFat32Root)
{
    make({32, 1, 40960, 0, ""});
    mount();
    ASSERT_EQ(f_mkdir("SUB"), FR_OK);
    for (int i = 0; i < 40; ++i) {
        ASSERT_EQ(write_whole("R" + std::to_string(i) + ".TXT", pattern(i, i)), FR_OK);
        ASSERT_EQ(write_whole("SUB/S" + std::to_string(i) + ".TXT", pattern(i, i)), FR_OK);
    }
    std::vector<FILINFO> root, sub;
    ASSERT_EQ(list_dir("/", &root), FR_OK);
    ASSERT_EQ(list_dir("SUB", &sub), FR_OK);
    EXPECT_EQ(root.size(), 41u);
    EXPECT_EQ(sub.size(), 40u);
    unmount();
    expect_clean();
    std::string out;
    ASSERT_EQ(mtools("mdir", img, "-b ::SUB", &out), 0) << out;
    EXPECT_NE(out.find("S39.TXT"), std::string::npos) << out;
    RawFat raw(img.path);
    EXPECT_NE(raw.get(raw.rootclus), 0x0FFFFFFFu) << "the root should span several clusters";
}

TEST_F(FatApi, ListingSkipsDotEntriesLabelsAndLongNameEntries)
{
    make({16, 1, 4096, 0, "-n CARDLABEL"});
    const std::string src = tmp.file("src.txt");
    write_file(src, pattern(20, 1));
    std::string out;
    ASSERT_EQ(mtools("mcopy", img, quote(src) + " '::A long file name.txt'", &out), 0) << out;
    ASSERT_EQ(mtools("mcopy", img, quote(src) + " ::lower.txt", &out), 0) << out;
    ASSERT_EQ(mtools("mmd", img, "::SUBDIR", &out), 0) << out;
    mount();
    std::vector<FILINFO> root;
    ASSERT_EQ(list_dir("/", &root), FR_OK);
    std::vector<std::string> names;
    for (const auto& e : root) names.push_back(e.fname);
    EXPECT_EQ(names, (std::vector<std::string>{"ALONGF~1.TXT", "LOWER.TXT", "SUBDIR"}));
    std::vector<FILINFO> sub;
    ASSERT_EQ(list_dir("SUBDIR", &sub), FR_OK);
    EXPECT_TRUE(sub.empty());

    DIR d{};
    FILINFO fi{};
    ASSERT_EQ(f_opendir(&d, "/"), FR_OK);
    for (int i = 0; i < 4; ++i) ASSERT_EQ(f_readdir(&d, &fi), FR_OK);
    EXPECT_EQ(fi.fname[0], 0);
    ASSERT_EQ(f_readdir(&d, &fi), FR_OK); // the end stays the end
    EXPECT_EQ(fi.fname[0], 0);
    ASSERT_EQ(f_readdir(&d, nullptr), FR_OK); // rewind
    ASSERT_EQ(f_readdir(&d, &fi), FR_OK);
    EXPECT_STREQ(fi.fname, "ALONGF~1.TXT");
    EXPECT_EQ(fi.fsize, 20u);
    EXPECT_EQ(f_closedir(&d), FR_OK);
}

TEST_F(FatApi, NamesAreStoredUpperCaseInCodePage437)
{
    make(kFat16);
    mount();
    ASSERT_EQ(write_whole("mixed.Txt", pattern(5, 1)), FR_OK);
    ASSERT_EQ(write_whole("\xE5x.txt", pattern(5, 2)), FR_OK);  // sigma: first byte 0xE5
    ASSERT_EQ(write_whole("\x84rger.txt", pattern(5, 3)), FR_OK); // a-umlaut has a capital
    std::vector<FILINFO> root;
    ASSERT_EQ(list_dir("/", &root), FR_OK);
    ASSERT_EQ(root.size(), 3u);
    EXPECT_STREQ(root[0].fname, "MIXED.TXT");
    EXPECT_STREQ(root[1].fname, "\xE5X.TXT");
    EXPECT_STREQ(root[2].fname, "\x8ERGER.TXT");
    EXPECT_EQ(f_stat("\xE5X.TXT", nullptr), FR_OK);
    EXPECT_EQ(f_stat("\x8Erger.txt", nullptr), FR_OK);
    unmount();
    RawFat raw(img.path);
    EXPECT_NE(raw.find_entry(0, "\x05X      TXT"), 0u); // 0xE5 is kept as 0x05 on the card
    EXPECT_NE(raw.find_entry(0, "MIXED   TXT"), 0u);
    expect_clean();
}

TEST_F(FatApi, RenameMovesDirectoriesAndTheirDotDot)
{
    make(kFat16);
    mount();
    ASSERT_EQ(f_mkdir("A"), FR_OK);
    ASSERT_EQ(f_mkdir("A/B"), FR_OK);
    ASSERT_EQ(write_whole("A/B/F.TXT", pattern(700, 1)), FR_OK);
    ASSERT_EQ(f_rename("A/B", "C"), FR_OK);
    std::vector<uint8_t> back;
    EXPECT_EQ(read_whole("C/F.TXT", &back), FR_OK);
    EXPECT_EQ(back, pattern(700, 1));
    EXPECT_EQ(f_stat("A/B", nullptr), FR_NO_FILE);
    ASSERT_EQ(f_rename("C", "A/C2"), FR_OK);
    ASSERT_EQ(f_rename("A/C2/F.TXT", "G.TXT"), FR_OK);
    unmount();
    RawFat raw(img.path);
    const uint64_t a = raw.find_entry(0, "A          ");
    ASSERT_NE(a, 0u);
    const uint64_t c2 = raw.find_entry(raw.entry_cluster(a), "C2         ");
    ASSERT_NE(c2, 0u);
    const uint64_t dotdot = raw.cluster_offset(raw.entry_cluster(c2)) + 32;
    EXPECT_EQ(raw.entry_cluster(dotdot), raw.entry_cluster(a));
    expect_clean();
}

TEST_F(FatApi, WholeSectorsMoveInOneDiskCallPerCluster)
{
    make({16, 8, 65536, 0, ""});
    mount();
    const std::vector<uint8_t> data = pattern(64 * 1024, 5);
    test_disk::clear_counters();
    ASSERT_EQ(write_whole("RUN.BIN", data), FR_OK);
    const auto w = test_disk::counters();
    EXPECT_GE(w.sectors_written, 128u);
    EXPECT_LE(w.write_calls, 16u + 8u) << "16 data clusters plus FAT and directory updates";
    test_disk::clear_counters();
    std::vector<uint8_t> back;
    ASSERT_EQ(read_whole("RUN.BIN", &back), FR_OK);
    EXPECT_EQ(back, data);
    EXPECT_LE(test_disk::counters().read_calls, 16u + 8u);
}

} // namespace
