// Long seeded random sequences of create, append, overwrite, truncate,
// rename, mkdir and unlink, checked against an in-memory model of the tree,
// with fsck.fat and mtools looking at the card at checkpoints and at the end.
// Small clusters and small fixed roots make the sequences cross cluster and
// directory-sector boundaries and fill the FAT12/16 root.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "fat/ff.h"
#include "fat_tools.h"
#include "test_disk.h"

using namespace fat_test;

namespace {

struct RandomCase {
    Format fmt;
    uint32_t seed;
    int ops;
};

void PrintTo(const RandomCase& c, std::ostream* os) { *os << c.fmt.name() << " seed " << c.seed; }

struct Node {
    bool dir = false;
    std::vector<uint8_t> data;
};

// Paths are upper case, without a leading separator; "" is the root.
class Model {
public:
    std::map<std::string, Node> nodes;

    static std::string parent(const std::string& p)
    {
        const auto at = p.rfind('/');
        return at == std::string::npos ? "" : p.substr(0, at);
    }
    static std::string join(const std::string& dir, const std::string& name)
    {
        return dir.empty() ? name : dir + "/" + name;
    }
    bool exists(const std::string& p) const { return nodes.count(p) != 0; }
    bool is_dir(const std::string& p) const { return p.empty() || (exists(p) && nodes.at(p).dir); }
    size_t children(const std::string& dir) const
    {
        size_t n = 0;
        for (const auto& [p, node] : nodes) n += parent(p) == dir;
        return n;
    }
    bool within(const std::string& p, const std::string& dir) const
    {
        return p == dir || p.compare(0, dir.size() + 1, dir + "/") == 0;
    }
    void move(const std::string& from, const std::string& to)
    {
        std::map<std::string, Node> moved;
        for (auto it = nodes.begin(); it != nodes.end();) {
            if (within(it->first, from)) {
                moved[to + it->first.substr(from.size())] = std::move(it->second);
                it = nodes.erase(it);
            } else {
                ++it;
            }
        }
        nodes.insert(moved.begin(), moved.end());
    }
};

class FatRandom : public ::testing::TestWithParam<RandomCase> {
protected:
    void SetUp() override
    {
        std::string log;
        ASSERT_TRUE(make_image(GetParam().fmt, tmp.file("card.img"), &img, &log)) << log;
        rng.seed(GetParam().seed);
        vol = std::make_unique<Volume>(img.path);
        ASSERT_EQ(vol->mount_result(), FR_OK);
        root_capacity = vol->fs.fs_type == FS_FAT32 ? 0 : vol->fs.n_rootdir;
        DWORD nfree = 0;
        FATFS* fs = nullptr;
        ASSERT_EQ(f_getfree("", &nfree, &fs), FR_OK);
        budget = (uint64_t)nfree * fs->csize * 512 / 3;
    }

    // Data held by the model; above the budget the sequence only shrinks the
    // tree, so that the volume never fills (full volumes have their own test).
    uint64_t data_bytes() const
    {
        uint64_t n = 0;
        for (const auto& [p, node] : model.nodes) n += node.data.size();
        return n;
    }

    uint32_t pick(uint32_t n) { return std::uniform_int_distribution<uint32_t>(0, n - 1)(rng); }
    bool chance(int percent) { return (int)pick(100) < percent; }

    std::vector<std::string> all(bool dirs, bool files) const
    {
        std::vector<std::string> v;
        if (dirs) v.push_back("");
        for (const auto& [p, node] : model.nodes) {
            if (node.dir ? dirs : files) v.push_back(p);
        }
        return v;
    }
    std::string any_of(const std::vector<std::string>& v) { return v[pick((uint32_t)v.size())]; }
    // Mostly the root, which fills (FAT12/16) or grows (FAT32), and D0, which
    // grows over several sectors and clusters.
    std::string some_dir()
    {
        const uint32_t r = pick(100);
        if (r < 40) return "";
        if (r < 80 && model.is_dir("D0")) return "D0";
        return any_of(all(true, false));
    }
    void note_size(const std::string& dir) { most_entries = std::max(most_entries, model.children(dir) + (dir.empty() ? 0 : 2)); }
    // Directories stay shallow, so that each one collects enough entries to
    // span several sectors and clusters.
    std::string shallow_dir()
    {
        std::vector<std::string> v;
        for (const auto& d : all(true, false)) {
            if (std::count(d.begin(), d.end(), '/') < 1) v.push_back(d);
        }
        return any_of(v);
    }

    // Names from a small pool, so that they collide; sometimes in lower case.
    std::string file_name()
    {
        static const char* const ext[] = {".TXT", ".DAT", ".B", ""};
        return "F" + std::to_string(pick(100)) + ext[pick(4)];
    }
    std::string dir_name() { return "D" + std::to_string(pick(6)); }
    std::string spelled(const std::string& p)
    {
        std::string s = p;
        if (chance(30)) {
            for (auto& c : s) c = (char)std::tolower((unsigned char)c);
        }
        return (chance(50) ? "/" : "") + s;
    }

    std::vector<uint8_t> bytes(size_t n)
    {
        std::vector<uint8_t> v(n);
        for (auto& b : v) b = (uint8_t)pick(256);
        return v;
    }
    size_t data_size()
    {
        const uint32_t r = pick(100);
        return r < 60 ? pick(600) : r < 90 ? pick(3 * 1024) : pick(20 * 1024);
    }

    // Capacity of a directory for new entries: only the fixed root has one.
    bool full(const std::string& dir) const { return dir.empty() && root_capacity && model.children("") >= root_capacity; }

    // Writes in random pieces; the file is open for writing at its position.
    void write_pieces(FIL* f, const std::vector<uint8_t>& data)
    {
        size_t at = 0;
        while (at < data.size()) {
            const size_t n = std::min(data.size() - at, (size_t)1 + pick(2500));
            UINT bw = 0;
            ASSERT_EQ(f_write(f, data.data() + at, (UINT)n, &bw), FR_OK);
            ASSERT_EQ(bw, n) << "volume unexpectedly full";
            at += n;
        }
    }

    void op_create()
    {
        const std::string dir = some_dir();
        const std::string path = Model::join(dir, file_name());
        const BYTE modes[] = {FA_CREATE_NEW, FA_CREATE_ALWAYS, FA_OPEN_ALWAYS};
        const BYTE mode = modes[pick(3)] | FA_WRITE;
        FRESULT expected = FR_OK;
        if (model.exists(path)) {
            if (model.is_dir(path)) expected = FR_DENIED;
            else if (mode & FA_CREATE_NEW) expected = FR_EXIST;
        } else if (full(dir)) {
            expected = FR_DENIED;
            ++root_full;
        }
        FIL f{};
        ASSERT_EQ(f_open(&f, spelled(path).c_str(), mode), expected) << "create " << path;
        if (expected != FR_OK) return;
        Node& node = model.nodes[path];
        if (mode & FA_CREATE_ALWAYS) node.data.clear();
        note_size(dir);
        std::vector<uint8_t> data = bytes(data_size());
        write_pieces(&f, data);
        ASSERT_EQ(f_close(&f), FR_OK);
        // Open-always writes over the start of an existing file.
        if (node.data.size() < data.size()) node.data.resize(data.size());
        std::copy(data.begin(), data.end(), node.data.begin());
    }

    void op_append()
    {
        const auto files = all(false, true);
        if (files.empty()) return;
        const std::string path = any_of(files);
        FIL f{};
        ASSERT_EQ(f_open(&f, spelled(path).c_str(), FA_WRITE | FA_OPEN_APPEND), FR_OK) << path;
        ASSERT_EQ(f_tell(&f), model.nodes[path].data.size());
        const std::vector<uint8_t> data = bytes(data_size());
        write_pieces(&f, data);
        ASSERT_EQ(f_close(&f), FR_OK);
        auto& d = model.nodes[path].data;
        d.insert(d.end(), data.begin(), data.end());
    }

    void op_overwrite_or_truncate(bool truncate)
    {
        const auto files = all(false, true);
        if (files.empty()) return;
        const std::string path = any_of(files);
        auto& d = model.nodes[path].data;
        const size_t at = pick((uint32_t)d.size() + 1);
        FIL f{};
        ASSERT_EQ(f_open(&f, spelled(path).c_str(), FA_WRITE | FA_READ), FR_OK) << path;
        ASSERT_EQ(f_lseek(&f, (FSIZE_t)at), FR_OK);
        if (truncate) {
            ASSERT_EQ(f_truncate(&f), FR_OK);
            d.resize(at);
        } else {
            const std::vector<uint8_t> data = bytes(data_size());
            write_pieces(&f, data);
            if (d.size() < at + data.size()) d.resize(at + data.size());
            std::copy(data.begin(), data.end(), d.begin() + at);
        }
        ASSERT_EQ(f_size(&f), d.size());
        ASSERT_EQ(f_close(&f), FR_OK);
    }

    void op_mkdir()
    {
        const std::string dir = shallow_dir();
        const std::string path = Model::join(dir, dir_name());
        const FRESULT expected = model.exists(path) ? FR_EXIST : full(dir) ? FR_DENIED : FR_OK;
        ASSERT_EQ(f_mkdir(spelled(path).c_str()), expected) << "mkdir " << path;
        if (expected == FR_OK) model.nodes[path].dir = true;
        note_size(dir);
    }

    void op_rename()
    {
        const auto entries = all(true, true);
        if (entries.size() < 2) return;
        std::string from;
        while (from.empty()) from = any_of(entries);
        const std::string dir = model.is_dir(from) ? shallow_dir() : some_dir();
        const std::string to = Model::join(dir, model.is_dir(from) ? dir_name() : file_name());
        FRESULT expected = FR_OK;
        if (model.is_dir(from) && model.within(dir, from)) expected = FR_DENIED; // below itself
        else if (model.exists(to)) expected = FR_EXIST;
        else if (full(dir)) expected = FR_DENIED;
        ASSERT_EQ(f_rename(spelled(from).c_str(), spelled(to).c_str()), expected) << from << " -> " << to;
        if (expected == FR_OK) model.move(from, to);
        note_size(dir);
    }

    void op_unlink()
    {
        const auto entries = all(true, true);
        if (entries.size() < 2) return;
        std::string path;
        while (path.empty()) path = any_of(entries);
        const FRESULT expected = model.is_dir(path) && model.children(path) > 0 ? FR_DENIED : FR_OK;
        ASSERT_EQ(f_unlink(spelled(path).c_str()), expected) << "unlink " << path;
        if (expected == FR_OK) model.nodes.erase(path);
    }

    void op_read()
    {
        const auto files = all(false, true);
        if (files.empty()) return;
        const std::string path = any_of(files);
        const auto& d = model.nodes[path].data;
        FIL f{};
        ASSERT_EQ(f_open(&f, spelled(path).c_str(), FA_READ), FR_OK) << path;
        const size_t at = pick((uint32_t)d.size() + 1);
        ASSERT_EQ(f_lseek(&f, (FSIZE_t)at), FR_OK);
        std::vector<uint8_t> got;
        std::vector<uint8_t> buf(3000);
        for (;;) {
            UINT br = 0;
            const UINT want = 1 + pick((uint32_t)buf.size());
            ASSERT_EQ(f_read(&f, buf.data(), want, &br), FR_OK);
            got.insert(got.end(), buf.begin(), buf.begin() + br);
            if (br < want) break;
        }
        ASSERT_EQ(f_close(&f), FR_OK);
        ASSERT_TRUE(std::equal(got.begin(), got.end(), d.begin() + at, d.end())) << path;
    }

    // The whole tree as the module lists it equals the model.
    void verify_tree(const std::string& dir)
    {
        std::vector<FILINFO> entries;
        ASSERT_EQ(list_dir(dir.empty() ? "/" : dir, &entries), FR_OK) << dir;
        ASSERT_EQ(entries.size(), model.children(dir)) << dir;
        for (const auto& e : entries) {
            const std::string path = Model::join(dir, e.fname);
            ASSERT_TRUE(model.exists(path)) << path;
            const Node& node = model.nodes[path];
            ASSERT_EQ((e.fattrib & AM_DIR) != 0, node.dir) << path;
            if (node.dir) {
                verify_tree(path);
            } else {
                ASSERT_EQ(e.fsize, node.data.size()) << path;
                std::vector<uint8_t> back;
                ASSERT_EQ(read_whole(path, &back), FR_OK) << path;
                ASSERT_TRUE(back == node.data) << path;
            }
        }
    }

    void expect_clean()
    {
        std::string out;
        ASSERT_EQ(fsck(img, &out), 0) << out;
    }

    // mtools copies the whole card out; the copy equals the model.
    void verify_with_mtools()
    {
        const std::string out_dir = tmp.file("out");
        std::string out;
        ASSERT_EQ(run("rm -rf " + quote(out_dir) + " && mkdir " + quote(out_dir), &out), 0) << out;
        if (!model.nodes.empty()) {
            ASSERT_EQ(mtools("mcopy", img, "-s -n -m '::*' " + quote(out_dir), &out), 0) << out;
        }
        ASSERT_EQ(run("cd " + quote(out_dir) + " && find . -mindepth 1 | sort", &out), 0) << out;
        std::vector<std::string> listed, expected;
        size_t start = 0;
        while (start < out.size()) {
            const size_t end = out.find('\n', start);
            std::string line = out.substr(start + 2, end - start - 2);
            std::transform(line.begin(), line.end(), line.begin(), ::toupper);
            listed.push_back(line);
            start = end + 1;
        }
        for (const auto& [p, node] : model.nodes) {
            expected.push_back(p);
            if (!node.dir) {
                ASSERT_TRUE(read_file(out_dir + "/" + p) == node.data) << p;
            }
        }
        std::sort(listed.begin(), listed.end());
        ASSERT_EQ(listed, expected);
    }

    TempDir tmp;
    Image img;
    std::unique_ptr<Volume> vol;
    std::mt19937 rng;
    Model model;
    size_t root_capacity = 0;
    uint64_t budget = 0;
    int root_full = 0;       // creations refused by a full fixed root
    size_t most_entries = 0; // largest directory seen, in entries
};

TEST_P(FatRandom, SequenceMatchesTheModelAndStaysClean)
{
    for (int i = 1; i <= GetParam().ops && !HasFatalFailure(); ++i) {
        uint32_t r = pick(100);
        if (data_bytes() > budget) r = 47 + pick(2) * 30; // truncate or unlink
        if (r < 27) op_create();
        else if (r < 39) op_append();
        else if (r < 47) op_overwrite_or_truncate(false);
        else if (r < 55) op_overwrite_or_truncate(true);
        else if (r < 62) op_mkdir();
        else if (r < 72) op_rename();
        else if (r < 82) op_unlink();
        else op_read();
        if (i % 250 == 0 && !HasFatalFailure()) {
            SCOPED_TRACE("after operation " + std::to_string(i));
            verify_tree("");
            expect_clean();
        }
    }
    ASSERT_FALSE(HasFatalFailure());
    verify_tree("");
    vol.reset();
    expect_clean();
    verify_with_mtools();
    // The sequence did what it is for: directories over several sectors,
    // files over several clusters, a full fixed root.
    size_t dirs = 0, largest = 0;
    for (const auto& [p, node] : model.nodes) {
        dirs += node.dir;
        largest = std::max(largest, node.data.size());
    }
    EXPECT_GT(dirs, 3u);
    EXPECT_GT(most_entries, 48u);
    EXPECT_GT(largest, 8u * 1024);
    if (root_capacity) {
        EXPECT_GT(root_full, 0);
    }
}

const RandomCase kRandomCases[] = {
    {{12, 1, 2000, 0, "-r 16"}, 1201, 3000},
    {{16, 1, 16384, 0, "-r 32"}, 1601, 3000},
    {{16, 2, 16384, 63, "-f 1 -r 48"}, 1602, 2000},
    {{32, 1, 40960, 0, ""}, 3201, 3000},
};

INSTANTIATE_TEST_SUITE_P(Volumes, FatRandom, ::testing::ValuesIn(kRandomCases),
                         [](const auto& info) { return info.param.fmt.name() + "_seed" + std::to_string(info.param.seed); });

} // namespace
