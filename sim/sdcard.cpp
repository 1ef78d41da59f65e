// The SD card socket on SSI0: a card model over the image file the board's
// options name, formatted fresh when the file is new or empty.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "board.h"
#include "fat_format.h"
#include "outside.h"
#include "sd_card.h"
#include "ssi.h"

namespace sim {

namespace {

constexpr uint32_t kVolumeId = 0x4D565331;  // fixed, so that runs stay byte-identical

SdCard* g_card = nullptr;
Board* g_card_board = nullptr;

// Opens the image, creating and formatting a sparse one of the card type's
// size when there is none yet. Returns the descriptor or -1.
int open_image(const char* path, CardType type, uint64_t* sectors)
{
    const int fd = open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return -1;
    struct stat st;
    if (fstat(fd, &st) != 0) {
        close(fd);
        return -1;
    }
    uint64_t bytes = static_cast<uint64_t>(st.st_size);
    if (bytes == 0) {
        bytes = fresh_card_bytes(type);
        if (ftruncate(fd, static_cast<off_t>(bytes)) != 0 || !fat32_format(fd, bytes / 512, kVolumeId)) {
            // Left empty, the file is formatted again next time.
            const int e = errno;
            const bool emptied = ftruncate(fd, 0) == 0;
            (void)emptied;
            close(fd);
            errno = e;
            return -1;
        }
    }
    *sectors = bytes / 512;
    return fd;
}

}  // namespace

void attach_sdcard(Board& board)
{
    const BoardConfig& c = board.config();
    if (!c.card_present || c.card_image == nullptr) return;
    uint64_t sectors = 0;
    const int fd = open_image(c.card_image, c.card_type, &sectors);
    if (fd < 0) {
        fprintf(stderr, "marivant-sim: card image %s: %s; the card socket stays empty\n", c.card_image,
                strerror(errno));
        return;
    }
    SdCard::Faults faults;
    faults.never_ready = c.card_never_ready;
    faults.write_refused = c.card_write_refused;
    faults.power_cut_after = c.card_power_cut_after;
    g_card = new SdCard(board, c.card_type, fd, sectors, faults);
    g_card_board = &board;
    board.ssi(0).attach(g_card);
    board.add_device(g_card);
}

void detach_sdcard(Board& board)
{
    if (g_card == nullptr || g_card_board != &board) return;
    board.remove_device(g_card);
    delete g_card;
    g_card = nullptr;
    g_card_board = nullptr;
}

SdCard* attached_sdcard(Board& board)
{
    return g_card_board == &board ? g_card : nullptr;
}

}  // namespace sim
