// Turns card images into seed inputs of the FAT fuzz target (see
// fat_fuzz_input.h): one record per sector that is not all zeros.
// Usage: fat_fuzz_seed IMAGE OUTPUT
#include <cstdio>
#include <vector>

#include "fat_fuzz_input.h"

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s IMAGE OUTPUT\n", argv[0]);
        return 2;
    }
    FILE* in = std::fopen(argv[1], "rb");
    FILE* out = std::fopen(argv[2], "wb");
    if (in == nullptr || out == nullptr) {
        std::perror("fat_fuzz_seed");
        return 1;
    }
    std::vector<unsigned char> sector(fat_fuzz::kSector);
    for (uint32_t lba = 0; std::fread(sector.data(), 1, sector.size(), in) == sector.size(); ++lba) {
        bool zero = true;
        for (unsigned char b : sector) zero = zero && b == 0;
        if (zero) continue;
        const unsigned char head[4] = {(unsigned char)lba, (unsigned char)(lba >> 8), (unsigned char)(lba >> 16),
                                       (unsigned char)(lba >> 24)};
        std::fwrite(head, 1, 4, out);
        std::fwrite(sector.data(), 1, sector.size(), out);
    }
    std::fclose(in);
    return std::fclose(out) == 0 ? 0 : 1;
}
