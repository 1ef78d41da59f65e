#include "fat_tools.h"

#include "support/shell.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sys/wait.h>
#include <unistd.h>

#include "fat/diskio.h"
#include "test_disk.h"

namespace fat_test {

TempDir::TempDir()
{
    const char* base = std::getenv("TMPDIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/fat_test.XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back(0);
    if (mkdtemp(buf.data()) != nullptr) path = buf.data();
}

TempDir::~TempDir()
{
    if (!path.empty()) run("rm -rf " + quote(path));
}

std::string quote(const std::string& s)
{
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

int run(const std::string& cmd, std::string* out) { return testing_support::run_command(cmd, out); }

std::vector<uint8_t> read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) return {};
    std::vector<uint8_t> data((size_t)in.tellg());
    in.seekg(0);
    in.read(reinterpret_cast<char*>(data.data()), (std::streamsize)data.size());
    return data;
}

void write_file(const std::string& path, const std::vector<uint8_t>& data)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()), (std::streamsize)data.size());
}

std::vector<uint8_t> pattern(size_t n, uint32_t seed)
{
    std::vector<uint8_t> v(n);
    uint32_t x = seed * 2654435761u + 1;
    for (auto& b : v) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = (uint8_t)x;
    }
    return v;
}

std::string Format::name() const
{
    return "FAT" + std::to_string(fat_bits) + "_s" + std::to_string(cluster_sectors) + "_" + std::to_string(size_kib) +
           "k" + (part_lba ? "_mbr" + std::to_string(part_lba) : std::string("_floppy"));
}

std::string Image::mtools_arg() const
{
    return "-i " + quote(path + (part_lba ? "@@" + std::to_string((uint64_t)part_lba * 512) : std::string()));
}

namespace {

void put32(std::vector<uint8_t>& v, size_t at, uint32_t x)
{
    for (int i = 0; i < 4; ++i) v[at + i] = (uint8_t)(x >> (8 * i));
}

bool write_mbr(const std::string& path, const Format& fmt)
{
    std::vector<uint8_t> mbr(512, 0);
    uint8_t* pte = mbr.data() + 446;
    pte[0] = 0x00;
    pte[1] = 0xFE, pte[2] = 0xFF, pte[3] = 0xFF; // CHS unused: LBA only
    pte[4] = fmt.fat_bits == 12 ? 0x01 : fmt.fat_bits == 16 ? 0x06 : 0x0C;
    pte[5] = 0xFE, pte[6] = 0xFF, pte[7] = 0xFF;
    put32(mbr, 446 + 8, fmt.part_lba);
    put32(mbr, 446 + 12, fmt.size_kib * 2);
    mbr[510] = 0x55;
    mbr[511] = 0xAA;
    FILE* f = std::fopen(path.c_str(), "r+b");
    if (f == nullptr) return false;
    const bool ok = std::fwrite(mbr.data(), 1, mbr.size(), f) == mbr.size();
    std::fclose(f);
    return ok;
}

} // namespace

bool make_image(const Format& fmt, const std::string& path, Image* img, std::string* log)
{
    img->path = path;
    img->part_lba = fmt.part_lba;
    const uint64_t total = (uint64_t)fmt.part_lba * 512 + (uint64_t)fmt.size_kib * 1024;
    if (run("truncate -s " + std::to_string(total) + " " + quote(path), log) != 0) return false;
    std::string cmd = "mkfs.fat --invariant -F " + std::to_string(fmt.fat_bits) + " -s " +
                      std::to_string(fmt.cluster_sectors) + " " + fmt.extra;
    if (fmt.part_lba) {
        cmd += " --offset=" + std::to_string(fmt.part_lba) + " -h " + std::to_string(fmt.part_lba);
    }
    cmd += " " + quote(path) + " " + std::to_string(fmt.size_kib);
    if (run(cmd, log) != 0) return false;
    return fmt.part_lba == 0 || write_mbr(path, fmt);
}

int fsck(const Image& img, std::string* out)
{
    std::string target = img.path;
    if (img.part_lba) {
        // fsck.fat wants the file system at offset 0: check a copy of the partition.
        target = img.path + ".part";
        const std::string cmd = "dd if=" + quote(img.path) + " of=" + quote(target) +
                                " bs=512 skip=" + std::to_string(img.part_lba) + " conv=sparse status=none";
        if (run(cmd, out) != 0) return -1;
    }
    const int rc = run("fsck.fat -n " + quote(target), out);
    if (img.part_lba) std::remove(target.c_str());
    return rc;
}

int mtools(const std::string& tool, const Image& img, const std::string& args, std::string* out)
{
    return run(tool + " " + img.mtools_arg() + " " + args, out);
}

Volume::Volume(const std::string& image, BYTE opt)
{
    test_disk::attach(image);
    mount_res_ = f_mount(&fs, "", opt);
}

Volume::~Volume()
{
    f_mount(nullptr, "", 0);
    test_disk::detach();
}

FRESULT write_whole(const std::string& path, const std::vector<uint8_t>& data, BYTE mode)
{
    FIL f{};
    FRESULT res = f_open(&f, path.c_str(), mode);
    if (res != FR_OK) return res;
    UINT bw = 0;
    res = f_write(&f, data.data(), (UINT)data.size(), &bw);
    if (res == FR_OK && bw != data.size()) res = FR_DENIED;
    const FRESULT cres = f_close(&f);
    return res != FR_OK ? res : cres;
}

FRESULT read_whole(const std::string& path, std::vector<uint8_t>* data)
{
    FIL f{};
    FRESULT res = f_open(&f, path.c_str(), FA_READ);
    if (res != FR_OK) return res;
    data->assign(f_size(&f), 0);
    UINT br = 0;
    res = f_read(&f, data->data(), (UINT)data->size(), &br);
    if (res == FR_OK && br != data->size()) res = FR_INT_ERR;
    f_close(&f);
    return res;
}

FRESULT list_dir(const std::string& path, std::vector<FILINFO>* entries)
{
    entries->clear();
    DIR d{};
    FRESULT res = f_opendir(&d, path.c_str());
    if (res != FR_OK) return res;
    for (;;) {
        FILINFO fi{};
        res = f_readdir(&d, &fi);
        if (res != FR_OK || fi.fname[0] == 0) break;
        entries->push_back(fi);
    }
    f_closedir(&d);
    return res;
}

namespace {
uint32_t le(const uint8_t* p, int n)
{
    uint32_t v = 0;
    for (int i = n - 1; i >= 0; --i) v = v << 8 | p[i];
    return v;
}
void st(uint8_t* p, int n, uint32_t v)
{
    for (int i = 0; i < n; ++i) p[i] = (uint8_t)(v >> (8 * i));
}
} // namespace

RawFat::RawFat(const std::string& p, unsigned part_lba) : path(p), img(read_file(p)), base((uint64_t)part_lba * 512)
{
    const uint8_t* b = img.data() + base;
    csize = b[13];
    rsv = le(b + 14, 2);
    nfats = b[16];
    rootents = le(b + 17, 2);
    tot = le(b + 19, 2) ? le(b + 19, 2) : le(b + 32, 4);
    fatsz = le(b + 22, 2) ? le(b + 22, 2) : le(b + 36, 4);
    const uint32_t sys = rsv + nfats * fatsz + rootents / 16;
    nclst = (tot - sys) / csize;
    bits = nclst < 4085 ? 12 : nclst < 65525 ? 16 : 32;
    rootclus = bits == 32 ? le(b + 44, 4) : 0;
    fat0 = base + (uint64_t)rsv * 512;
    root = fat0 + (uint64_t)nfats * fatsz * 512;
    data = base + (uint64_t)sys * 512;
}

void RawFat::save() const { write_file(path, img); }

uint32_t RawFat::get(uint32_t c) const
{
    const uint8_t* f = img.data() + fat0;
    if (bits == 12) {
        const uint32_t w = le(f + c + c / 2, 2);
        return (c & 1) ? w >> 4 : w & 0xFFF;
    }
    return bits == 16 ? le(f + c * 2, 2) : le(f + c * 4, 4) & 0x0FFFFFFF;
}

void RawFat::set(uint32_t c, uint32_t val)
{
    for (uint32_t k = 0; k < nfats; ++k) {
        uint8_t* f = img.data() + fat0 + (uint64_t)k * fatsz * 512;
        if (bits == 12) {
            uint32_t w = le(f + c + c / 2, 2);
            w = (c & 1) ? (w & 0x000F) | (val << 4) : (w & 0xF000) | (val & 0xFFF);
            st(f + c + c / 2, 2, w);
        } else if (bits == 16) {
            st(f + c * 2, 2, val);
        } else {
            st(f + c * 4, 4, val);
        }
    }
}

uint64_t RawFat::cluster_offset(uint32_t c) const { return data + (uint64_t)(c - 2) * csize * 512; }

uint64_t RawFat::find_entry(uint32_t dir_clust, const char name11[11]) const
{
    if (dir_clust == 0 && bits == 32) dir_clust = rootclus;
    uint64_t off = dir_clust == 0 ? root : cluster_offset(dir_clust);
    uint32_t left = dir_clust == 0 ? rootents : cluster_bytes() / 32;
    for (int guard = 0; guard < 100000; ++guard) {
        if (left == 0) {
            if (dir_clust == 0) return 0;
            dir_clust = get(dir_clust);
            if (dir_clust < 2 || dir_clust >= nclst + 2) return 0;
            off = cluster_offset(dir_clust);
            left = cluster_bytes() / 32;
        }
        const uint8_t* e = img.data() + off;
        if (e[0] == 0) return 0;
        if (e[0] != 0xE5 && (e[11] & 0x3F) != 0x0F && std::memcmp(e, name11, 11) == 0) return off;
        off += 32;
        --left;
    }
    return 0;
}

uint32_t RawFat::entry_cluster(uint64_t off) const
{
    return le(img.data() + off + 26, 2) | (bits == 32 ? le(img.data() + off + 20, 2) << 16 : 0);
}

void RawFat::set_entry_cluster(uint64_t off, uint32_t c)
{
    st(img.data() + off + 26, 2, c);
    if (bits == 32) st(img.data() + off + 20, 2, c >> 16);
}

void RawFat::set_entry_size(uint64_t off, uint32_t size) { st(img.data() + off + 28, 4, size); }

} // namespace fat_test
