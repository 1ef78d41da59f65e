// Helpers of the FAT module's host tests: temporary directories, the PC
// tools (mkfs.fat, fsck.fat, mtools) run as child processes, image building
// and a mounted-volume fixture over the test disk.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "fat/ff.h"

namespace fat_test {

struct TempDir {
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string file(const std::string& name) const { return path + "/" + name; }
    std::string path;
};

// Runs a shell command; returns its exit status, with stdout and stderr in *out.
int run(const std::string& cmd, std::string* out = nullptr);
std::string quote(const std::string& s);

std::vector<uint8_t> read_file(const std::string& path);
void write_file(const std::string& path, const std::vector<uint8_t>& data);
std::vector<uint8_t> pattern(size_t n, uint32_t seed);

// A card image made by mkfs.fat.
struct Format {
    int fat_bits;         // 12, 16 or 32
    int cluster_sectors;  // -s
    unsigned size_kib;    // file system size
    unsigned part_lba;    // 0: superfloppy; else an MBR partition starting here
    std::string extra;    // more mkfs.fat options
    std::string name() const;
};
inline void PrintTo(const Format& f, std::ostream* os) { *os << f.name(); }

struct Image {
    std::string path;
    unsigned part_lba = 0;
    // mtools drive argument: "-i image" or "-i image@@offset"
    std::string mtools_arg() const;
};

// Builds the image (true on success; mkfs output in *log).
bool make_image(const Format& fmt, const std::string& path, Image* img, std::string* log);
// fsck.fat -n over the file system; exit status and output.
int fsck(const Image& img, std::string* out);

// mtools, with the image as drive ::
int mtools(const std::string& tool, const Image& img, const std::string& args, std::string* out = nullptr);

// Drive 0 on an image file, registered and mounted; unregistered when it
// goes out of scope.
class Volume {
public:
    explicit Volume(const std::string& image, BYTE opt = 1);
    ~Volume();
    FRESULT mount_result() const { return mount_res_; }
    FATFS fs{};

private:
    FRESULT mount_res_;
};

// Whole-file helpers over the module.
FRESULT write_whole(const std::string& path, const std::vector<uint8_t>& data, BYTE mode = FA_WRITE | FA_CREATE_ALWAYS);
FRESULT read_whole(const std::string& path, std::vector<uint8_t>* data);
// Names in a directory (8.3, as listed), with FILINFO.
FRESULT list_dir(const std::string& path, std::vector<FILINFO>* entries);

// Direct access to the structures of an image file, for building corrupted
// volumes: boot sector fields, FAT entries (every copy), directory entries.
struct RawFat {
    RawFat(const std::string& path, unsigned part_lba = 0);
    void save() const;

    uint8_t* boot() { return img.data() + base; }
    uint32_t get(uint32_t clst) const;
    void set(uint32_t clst, uint32_t val); // in every FAT copy
    uint64_t cluster_offset(uint32_t clst) const;
    uint32_t cluster_bytes() const { return csize * 512u; }
    // Byte offset of the 8.3 entry ("NAME    EXT") in the directory that
    // starts at dir_clust (0: the root), or 0 when absent.
    uint64_t find_entry(uint32_t dir_clust, const char name11[11]) const;
    uint32_t entry_cluster(uint64_t off) const;
    void set_entry_cluster(uint64_t off, uint32_t clst);
    void set_entry_size(uint64_t off, uint32_t size);

    std::string path;
    std::vector<uint8_t> img;
    uint64_t base;
    int bits = 0;
    uint32_t csize = 0, rsv = 0, nfats = 0, fatsz = 0, rootents = 0, rootclus = 0, tot = 0, nclst = 0;
    uint64_t fat0 = 0, root = 0, data = 0; // byte offsets
};

} // namespace fat_test
