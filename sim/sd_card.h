// SD or MMC card in SPI mode on SSI0, chip select on PA3, backed by an image
// file read and written in place (pread/pwrite), so that what one boot
// writes is on the card for the next boot's process and for PC tools.
//
// The card answers the way a real one does in SPI mode: the 74-clock
// power-up train with chip select high, CMD0 with a valid CRC to enter SPI
// mode, CMD8 (SD version 2 only; CRC always checked), ACMD41 or CMD1 until
// initialised, CMD58 with the OCR, CMD9/CMD10 with CSD/CID data blocks,
// CMD16, CMD17/18 reads with data tokens, CMD24/25 writes with data
// responses and busy time, CMD12, ACMD23, CMD13, CMD59; anything else gets
// R1 "illegal command". It checks how it is driven (pins routed to SSI0,
// SPI mode 0 or 3, at most 400 kHz until initialised and 25 MHz after) and
// keeps the first violation for tests to see.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "board.h"
#include "config.h"
#include "ssi.h"

namespace sim {

class SdCard final : public SpiDevice, public Device {
public:
    // The card's own timing, virtual time.
    static constexpr Nanos kInitTime = 30 * kMilli;         // first ACMD41/CMD1 until ready
    static constexpr Nanos kReadAccess = 250 * kMicro;      // read command to data token
    static constexpr Nanos kReadNext = 40 * kMicro;         // between blocks of CMD18
    static constexpr Nanos kRegisterAccess = 20 * kMicro;   // CMD9/CMD10 to data token
    static constexpr Nanos kWriteBusy = 700 * kMicro;       // programming after CMD24's block
    static constexpr Nanos kWriteBusyMulti = 200 * kMicro;  // after each block of CMD25
    static constexpr Nanos kStopBusy = 400 * kMicro;        // after CMD25's stop token
    static constexpr Nanos kStopCommandBusy = 10 * kMicro;  // after CMD12

    struct Faults {
        bool never_ready = false;      // ACMD41/CMD1 answer "idle" for ever
        bool write_refused = false;    // every data block gets "write error"
        uint32_t power_cut_after = 0;  // >0: dead after this many sector writes
    };

    // Takes the open image file `fd` (closed by the destructor).
    SdCard(Board& board, CardType type, int fd, uint64_t image_sectors, const Faults& faults);
    ~SdCard() override;
    SdCard(const SdCard&) = delete;
    SdCard& operator=(const SdCard&) = delete;

    // The card is on the bus whenever it is in its socket; it reads its chip
    // select itself in exchange(), since it also counts the clocks it gets
    // while deselected (the power-up train).
    bool selected(bool frame_active) const override;
    uint8_t exchange(uint8_t mosi) override;
    Nanos next_event() const override;

    // Observation.
    struct Command {
        uint8_t index;
        bool app;  // after CMD55
        uint32_t arg;
        uint8_t crc;
    };
    static constexpr size_t kCommandLogMax = 100000;
    const std::vector<Command>& commands() const { return log_; }
    void clear_commands() { log_.clear(); }
    uint64_t sectors_read() const { return sectors_read_; }
    uint64_t sectors_written() const { return sectors_written_; }
    uint64_t capacity_sectors() const { return capacity_; }
    const uint8_t* csd() const { return csd_; }
    const uint8_t* cid() const { return cid_; }
    bool ready() const { return ready_; }
    // The card lets go of its data output on the first clock after chip
    // select rises; until then it would still drive a shared bus.
    bool data_line_released() const { return released_; }
    bool dead() const { return dead_; }
    // First way the card was driven against the protocol; empty when none.
    const std::string& protocol_error() const { return protocol_error_; }

    // Test knobs.
    void set_init_time(Nanos t) { init_time_ = t; }
    void set_read_access(Nanos t) { read_access_ = t; }
    void set_cmd8_echo(uint8_t pattern) { cmd8_echo_ = pattern, cmd8_echo_set_ = true; }
    void hold_busy(Nanos duration);

private:
    enum class Phase : uint8_t { Command, WriteToken, WriteBlock };

    bool bus_clocked() const;
    bool chip_selected() const;
    uint8_t line_in(uint8_t mosi) const;
    void check_rate();
    uint8_t next_out(Nanos now);
    void take_in(uint8_t b, Nanos now);
    void execute(Nanos now);
    void go_idle();
    bool init_step(bool hcs, Nanos now);
    bool to_sector(uint32_t arg, uint32_t* sector, uint8_t* r1) const;
    void respond(std::initializer_list<uint8_t> bytes);
    bool load_sector(uint32_t sector);
    void end_data_block(Nanos now);
    void violation(const char* what);

    Board& board_;
    CardType type_;
    int fd_;
    uint64_t capacity_ = 0;
    Faults faults_;
    uint8_t csd_[16] = {}, cid_[16] = {};

    // Protocol state.
    uint32_t clocks_deselected_ = 0;
    bool released_ = true;
    bool spi_mode_ = false;
    bool ready_ = false;
    bool app_next_ = false;
    Nanos init_done_at_ = kNever;
    uint8_t cmd_[6] = {};
    int cmd_len_ = 0;
    uint8_t resp_[8] = {};
    int resp_head_ = 0, resp_count_ = 0;

    // Data from the card: token, payload, CRC.
    uint8_t out_[1 + 512 + 2] = {};
    size_t out_len_ = 0, out_pos_ = 0;
    Nanos out_ready_at_ = kNever;
    bool multi_read_ = false;
    uint32_t next_read_sector_ = 0;

    // Data to the card.
    Phase phase_ = Phase::Command;
    bool multi_write_ = false;
    uint32_t write_sector_ = 0;
    uint8_t in_[512 + 2] = {};
    size_t in_len_ = 0;
    Nanos busy_until_ = 0;
    bool die_after_response_ = false;
    bool dead_ = false;

    Nanos init_time_ = kInitTime;
    Nanos read_access_ = kReadAccess;
    uint8_t cmd8_echo_ = 0;
    bool cmd8_echo_set_ = false;

    std::vector<Command> log_;
    uint64_t sectors_read_ = 0, sectors_written_ = 0;
    std::string protocol_error_;
};

// The card in the board's socket, or nullptr when the socket is empty.
SdCard* attached_sdcard(Board& board);

// Image size a fresh card of this type gets: 4 GiB for a high-capacity card,
// 2 GiB for the standard-capacity SD cards, 1 GiB for an MMC.
uint64_t fresh_card_bytes(CardType type);

// CRCs of the SD protocol: CRC7 of commands and registers, CRC16 of data.
uint8_t sd_crc7(const uint8_t* data, size_t n);
uint16_t sd_crc16(const uint8_t* data, size_t n);

}  // namespace sim
