#include "sd_card.h"

#include <unistd.h>

#include <cstring>
#include <initializer_list>

#include "gpio.h"

namespace sim {

namespace {

// R1 response bits.
constexpr uint8_t kIdle = 0x01;
constexpr uint8_t kIllegal = 0x04;
constexpr uint8_t kCrcError = 0x08;
constexpr uint8_t kAddressError = 0x20;
constexpr uint8_t kParamError = 0x40;

// Data tokens and responses (the top three bits of a data response are
// undefined; cards commonly send them set).
constexpr uint8_t kStartBlock = 0xFE;
constexpr uint8_t kStartMulti = 0xFC;
constexpr uint8_t kStopMulti = 0xFD;
constexpr uint8_t kErrorOutOfRange = 0x08;
constexpr uint8_t kDataAccepted = 0xE5;
constexpr uint8_t kDataWriteError = 0xED;

constexpr uint8_t kPctlSsi0 = 2;  // port A pins 2 to 5
constexpr uint32_t kPowerUpClocks = 74;
constexpr uint32_t kIdentRateMax = 404000;  // 400 kHz, with the prescaler's nearest step
constexpr uint32_t kRateMax = 25000000;
constexpr uint32_t kSector = 512;

uint32_t be32(const uint8_t* p)
{
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

void seal_register(uint8_t* reg)
{
    reg[15] = static_cast<uint8_t>((sd_crc7(reg, 15) << 1) | 1);
}

// CSD version 2 (high capacity): C_SIZE counts 512 KiB units.
uint64_t csd_v2(uint64_t sectors, uint8_t* csd)
{
    uint64_t units = sectors / 1024;
    if (units > 0x400000) units = 0x400000;
    const uint32_t c_size = units ? static_cast<uint32_t>(units - 1) : 0;
    const uint8_t v[16] = {0x40,
                           0x0E,
                           0x00,
                           0x32,
                           0x5B,
                           0x59,
                           0x00,
                           static_cast<uint8_t>((c_size >> 16) & 0x3F),
                           static_cast<uint8_t>(c_size >> 8),
                           static_cast<uint8_t>(c_size),
                           0x7F,
                           0x80,
                           0x0A,
                           0x40,
                           0x00,
                           0x00};
    std::memcpy(csd, v, 16);
    seal_register(csd);
    return units * 1024;
}

// CSD version 1 (standard capacity SD, MMC): capacity = (C_SIZE + 1) x
// 2^(C_SIZE_MULT + 2) x 2^READ_BL_LEN, with the smallest block length that
// reaches the image size.
uint64_t csd_v1(uint64_t sectors, bool mmc, uint8_t* csd)
{
    uint32_t bl = 11, mult = 7;
    uint64_t n = 4096;
    for (uint32_t b = 9; b <= 11; ++b) {
        bool found = false;
        for (uint32_t m = 0; m <= 7 && !found; ++m) {
            const uint64_t count = sectors >> (b + m + 2 - 9);
            if (count <= 4096) bl = b, mult = m, n = count, found = true;
        }
        if (found) break;
    }
    const uint32_t c_size = n ? static_cast<uint32_t>(n - 1) : 0;
    const uint8_t v[16] = {
        static_cast<uint8_t>(mmc ? 0x90 : 0x00),  // CSD structure (MMC: 1.2, system version 4)
        0x26,
        0x00,
        static_cast<uint8_t>(mmc ? 0x2A : 0x32),
        0x5F,
        static_cast<uint8_t>(0x50 | bl),
        static_cast<uint8_t>(0x80 | ((c_size >> 10) & 3)),
        static_cast<uint8_t>(c_size >> 2),
        static_cast<uint8_t>(((c_size & 3) << 6) | 0x36),
        static_cast<uint8_t>(0xB4 | (mult >> 1)),
        static_cast<uint8_t>(((mult & 1) << 7) | 0x7F),
        0x80,
        static_cast<uint8_t>(0x08 | (bl >> 2)),
        static_cast<uint8_t>((bl & 3) << 6),
        0x00,
        0x00};
    std::memcpy(csd, v, 16);
    seal_register(csd);
    return n << (bl + mult + 2 - 9);
}

void make_cid(bool mmc, uint8_t* cid)
{
    const uint8_t sd[16] = {0x4D, 'M', 'V', 'S', 'I', 'M', 'S', 'D', 0x10, 0, 0, 0, 1, 0x01, 0x81, 0};
    const uint8_t mm[16] = {0x4D, 0x00, 0x56, 'S', 'I', 'M', 'M', 'M', 'C', 0x10, 0, 0, 0, 1, 0x1B, 0};
    std::memcpy(cid, mmc ? mm : sd, 16);
    seal_register(cid);
}

}  // namespace

uint8_t sd_crc7(const uint8_t* data, size_t n)
{
    uint8_t crc = 0;
    for (size_t i = 0; i < n; ++i) {
        uint8_t b = data[i];
        for (int bit = 0; bit < 8; ++bit, b = static_cast<uint8_t>(b << 1)) {
            crc = static_cast<uint8_t>(crc << 1);
            if ((b ^ crc) & 0x80) crc ^= 0x09;
        }
    }
    return crc & 0x7F;
}

uint16_t sd_crc16(const uint8_t* data, size_t n)
{
    uint16_t crc = 0;
    for (size_t i = 0; i < n; ++i) {
        crc = static_cast<uint16_t>(crc ^ (data[i] << 8));
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<uint16_t>(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    return crc;
}

uint64_t fresh_card_bytes(CardType type)
{
    switch (type) {
        case CardType::SdV2Block:
            return 4ull << 30;
        case CardType::SdV2Byte:
        case CardType::SdV1:
            return 2ull << 30;
        case CardType::Mmc:
            return 1ull << 30;
    }
    return 1ull << 30;
}

SdCard::SdCard(Board& board, CardType type, int fd, uint64_t image_sectors, const Faults& faults)
    : board_(board), type_(type), fd_(fd), faults_(faults)
{
    capacity_ = type == CardType::SdV2Block ? csd_v2(image_sectors, csd_)
                                            : csd_v1(image_sectors, type == CardType::Mmc, csd_);
    make_cid(type == CardType::Mmc, cid_);
}

SdCard::~SdCard()
{
    if (fd_ >= 0) close(fd_);
}

bool SdCard::selected(bool frame_active) const
{
    (void)frame_active;
    return true;
}

void SdCard::hold_busy(Nanos duration)
{
    busy_until_ = board_.now() + duration;
}

void SdCard::violation(const char* what)
{
    if (protocol_error_.empty()) protocol_error_ = what;
}

// The card sees clock edges only when PA2 carries SSI0's clock, in a mode
// whose sampling edge it understands (mode 0 or 3).
bool SdCard::bus_clocked() const
{
    const Gpio& g = board_.gpio();
    if (!g.is_alternate(Signal::SdClk) || g.function(Signal::SdClk) != kPctlSsi0) return false;
    const int mode = board_.ssi(0).mode();
    return mode == 0 || mode == 3;
}

// Selected by PA3 low as a GPIO output, or by SSI0's own frame signal when
// PA3 is routed to it. An undriven line is pulled up inside the card.
bool SdCard::chip_selected() const
{
    const Gpio& g = board_.gpio();
    if (g.is_alternate(Signal::SdCs)) return g.function(Signal::SdCs) == kPctlSsi0;
    return g.is_output(Signal::SdCs) && !g.level(Signal::SdCs);
}

// What arrives on the card's data input: SSI0's transmit line, or the level
// of PA5 while it is a plain output.
uint8_t SdCard::line_in(uint8_t mosi) const
{
    const Gpio& g = board_.gpio();
    if (g.is_alternate(Signal::SdMosi)) return g.function(Signal::SdMosi) == kPctlSsi0 ? mosi : 0xFF;
    if (g.is_output(Signal::SdMosi)) return g.level(Signal::SdMosi) ? 0xFF : 0x00;
    return 0xFF;
}

void SdCard::check_rate()
{
    const uint32_t rate = board_.ssi(0).actual_bit_rate();
    if (!ready_ && rate > kIdentRateMax) violation("clock above 400 kHz before initialisation");
    if (rate > kRateMax) violation("clock above 25 MHz");
}

uint8_t SdCard::exchange(uint8_t mosi)
{
    if (dead_) {
        released_ = true;  // unpowered: nothing drives the line
        return 0xFF;
    }
    if (!bus_clocked()) {
        const int mode = board_.ssi(0).mode();
        if (mode == 1 || mode == 2) violation("SPI mode 1 or 2");
        return 0xFF;
    }
    const Nanos now = board_.now();
    if (!chip_selected()) {
        if (clocks_deselected_ < kPowerUpClocks) clocks_deselected_ += 8;
        cmd_len_ = 0;
        released_ = true;
        return 0xFF;
    }
    released_ = false;
    check_rate();
    const uint8_t out = next_out(now);
    take_in(line_in(mosi), now);
    const Gpio& g = board_.gpio();
    const bool miso_routed = g.is_alternate(Signal::SdMiso) && g.function(Signal::SdMiso) == kPctlSsi0;
    return miso_routed ? out : 0xFF;
}

Nanos SdCard::next_event() const
{
    const Nanos now = board_.now();
    Nanos t = kNever;
    auto consider = [&](Nanos x) {
        if (x > now && x < t) t = x;
    };
    consider(busy_until_);
    if (out_len_) consider(out_ready_at_);
    if (!ready_) consider(init_done_at_);
    return t;
}

void SdCard::respond(std::initializer_list<uint8_t> bytes)
{
    for (uint8_t b : bytes) {
        if (resp_count_ == static_cast<int>(sizeof resp_)) return;
        resp_[(resp_head_ + resp_count_++) % sizeof resp_] = b;
    }
}

uint8_t SdCard::next_out(Nanos now)
{
    if (resp_count_) {
        const uint8_t b = resp_[resp_head_];
        resp_head_ = (resp_head_ + 1) % static_cast<int>(sizeof resp_);
        if (--resp_count_ == 0 && die_after_response_) dead_ = true;
        return b;
    }
    if (now < busy_until_) return 0x00;
    if (!out_len_) return 0xFF;
    if (now < out_ready_at_) return 0xFF;
    const uint8_t b = out_[out_pos_++];
    if (out_pos_ == out_len_) {
        out_len_ = out_pos_ = 0;
        if (multi_read_) {
            if (!load_sector(next_read_sector_++)) {
                out_[0] = kErrorOutOfRange;
                out_len_ = 1;
                multi_read_ = false;
            }
            out_ready_at_ = now + kReadNext;
        }
    }
    return b;
}

void SdCard::take_in(uint8_t b, Nanos now)
{
    switch (phase_) {
        case Phase::Command:
            if (cmd_len_ == 0 && (b & 0xC0) != 0x40) return;
            cmd_[cmd_len_++] = b;
            if (cmd_len_ == 6) {
                cmd_len_ = 0;
                execute(now);
            }
            return;
        case Phase::WriteToken:
            if (b == 0xFF) return;
            if (now < busy_until_) {
                violation("data token while the card is busy");
                return;
            }
            if (b == (multi_write_ ? kStartMulti : kStartBlock)) {
                phase_ = Phase::WriteBlock;
                in_len_ = 0;
            } else if (multi_write_ && b == kStopMulti) {
                phase_ = Phase::Command;
                busy_until_ = now + kStopBusy;
            } else if ((b & 0xC0) == 0x40) {
                phase_ = Phase::Command;  // the host gave up the write and sends a command
                cmd_[0] = b;
                cmd_len_ = 1;
            } else {
                violation("unexpected byte instead of a data token");
            }
            return;
        case Phase::WriteBlock:
            in_[in_len_++] = b;
            if (in_len_ == sizeof in_) end_data_block(now);
            return;
    }
}

void SdCard::end_data_block(Nanos now)
{
    bool ok = !faults_.write_refused && write_sector_ < capacity_;
    if (ok) {
        const off_t at = static_cast<off_t>(write_sector_) * kSector;
        ok = pwrite(fd_, in_, kSector, at) == static_cast<ssize_t>(kSector);
    }
    respond({ok ? kDataAccepted : kDataWriteError});
    if (ok) {
        ++sectors_written_;
        if (faults_.power_cut_after && sectors_written_ >= faults_.power_cut_after)
            die_after_response_ = true;
        busy_until_ = now + (multi_write_ ? kWriteBusyMulti : kWriteBusy);
    } else {
        busy_until_ = now + kStopCommandBusy;
    }
    if (multi_write_) {
        ++write_sector_;
        phase_ = Phase::WriteToken;
    } else {
        phase_ = Phase::Command;
    }
}

bool SdCard::load_sector(uint32_t sector)
{
    if (sector >= capacity_) return false;
    out_[0] = kStartBlock;
    const ssize_t n = pread(fd_, out_ + 1, kSector, static_cast<off_t>(sector) * kSector);
    if (n < static_cast<ssize_t>(kSector))
        std::memset(out_ + 1 + (n > 0 ? n : 0), 0, kSector - (n > 0 ? n : 0));
    const uint16_t crc = sd_crc16(out_ + 1, kSector);
    out_[1 + kSector] = static_cast<uint8_t>(crc >> 8);
    out_[2 + kSector] = static_cast<uint8_t>(crc);
    out_len_ = sizeof out_;
    out_pos_ = 0;
    ++sectors_read_;
    return true;
}

void SdCard::go_idle()
{
    ready_ = false;
    init_done_at_ = kNever;
    app_next_ = false;
    phase_ = Phase::Command;
    out_len_ = out_pos_ = 0;
    multi_read_ = false;
}

// One ACMD41 or CMD1: the first starts the card's initialisation, later ones
// report whether it has finished. A high-capacity card never finishes for a
// host that does not announce high-capacity support.
bool SdCard::init_step(bool hcs, Nanos now)
{
    if (faults_.never_ready) return false;
    if (type_ == CardType::SdV2Block && !hcs) return false;
    if (init_done_at_ == kNever) init_done_at_ = now + init_time_;
    if (now >= init_done_at_) ready_ = true;
    return ready_;
}

// Command argument to sector: block number for high capacity, else a byte
// address that must fall on a block boundary.
bool SdCard::to_sector(uint32_t arg, uint32_t* sector, uint8_t* r1) const
{
    const bool block = type_ == CardType::SdV2Block;
    if (!block && arg % kSector) {
        *r1 = kAddressError;
        return false;
    }
    *sector = block ? arg : arg / kSector;
    if (*sector >= capacity_) {
        *r1 = kParamError;
        return false;
    }
    return true;
}

void SdCard::execute(Nanos now)
{
    const uint8_t index = cmd_[0] & 0x3F;
    const uint32_t arg = be32(cmd_ + 1);
    const uint8_t crc = cmd_[5];
    const bool app = app_next_;
    app_next_ = false;
    if (log_.size() < kCommandLogMax) log_.push_back({index, app, arg, crc});
    const bool crc_ok = crc == ((sd_crc7(cmd_, 5) << 1) | 1);

    if (!spi_mode_) {
        // SD bus mode: only CMD0 with a valid CRC, received with chip select
        // low, gets through (and switches to SPI mode).
        if (clocks_deselected_ < kPowerUpClocks) {
            violation("command before 74 clocks with chip select high");
            return;
        }
        if (index == 0 && crc_ok) {
            spi_mode_ = true;
            go_idle();
            respond({0xFF, kIdle});
        }
        return;
    }
    if (now < busy_until_) {
        violation("command while the card is busy");
        return;
    }
    const bool was_reading = multi_read_;
    out_len_ = out_pos_ = 0;  // a command ends any data transfer from the card
    multi_read_ = false;

    const bool sd = type_ != CardType::Mmc;
    const bool v2 = type_ == CardType::SdV2Block || type_ == CardType::SdV2Byte;
    const uint8_t idle = ready_ ? 0 : kIdle;
    const bool hcs = (arg & 0x40000000u) != 0;

    // Commands of the identification phase.
    switch (index) {
        case 0:
            go_idle();
            respond({0xFF, kIdle});
            return;
        case 8:
            if (!v2) break;
            if (!crc_ok) {
                respond({0xFF, static_cast<uint8_t>(idle | kCrcError)});
                return;
            }
            respond({0xFF, idle, 0x00, 0x00, static_cast<uint8_t>((arg >> 8) & 0x0F),
                     cmd8_echo_set_ ? cmd8_echo_ : static_cast<uint8_t>(arg)});
            return;
        case 55:
            if (!sd) break;
            app_next_ = true;
            respond({0xFF, idle});
            return;
        case 41:
            if (!sd || !app) break;
            respond({0xFF, static_cast<uint8_t>(init_step(hcs, now) ? 0 : kIdle)});
            return;
        case 1:
            respond({0xFF, static_cast<uint8_t>(init_step(hcs, now) ? 0 : kIdle)});
            return;
        case 58: {
            const uint8_t ocr0 = static_cast<uint8_t>((ready_ ? 0x80 : 0) |
                                                      (ready_ && type_ == CardType::SdV2Block ? 0x40 : 0));
            respond({0xFF, idle, ocr0, 0xFF, 0x80, 0x00});
            return;
        }
        case 59:
            respond({0xFF, idle});
            return;
        default:
            break;
    }
    if (!ready_ || (index == 8 || index == 55 || index == 41)) {
        respond({0xFF, static_cast<uint8_t>(idle | kIllegal)});
        return;
    }

    // Data transfer phase.
    uint32_t sector = 0;
    uint8_t r1 = 0;
    switch (index) {
        case 9:
        case 10:
            respond({0xFF, 0x00});
            out_[0] = kStartBlock;
            std::memcpy(out_ + 1, index == 9 ? csd_ : cid_, 16);
            {
                const uint16_t c = sd_crc16(out_ + 1, 16);
                out_[17] = static_cast<uint8_t>(c >> 8);
                out_[18] = static_cast<uint8_t>(c);
            }
            out_len_ = 19;
            out_ready_at_ = now + kRegisterAccess;
            return;
        case 12:
            if (!was_reading) break;
            respond({0xFF, 0x00});
            busy_until_ = now + kStopCommandBusy;
            return;
        case 13:
            respond({0xFF, 0x00, 0x00});
            return;
        case 16:
            respond({0xFF, static_cast<uint8_t>(arg == kSector ? 0 : kParamError)});
            return;
        case 17:
        case 18:
            if (!to_sector(arg, &sector, &r1)) {
                respond({0xFF, r1});
                return;
            }
            respond({0xFF, 0x00});
            load_sector(sector);
            out_ready_at_ = now + read_access_;
            multi_read_ = index == 18;
            next_read_sector_ = sector + 1;
            return;
        case 23:
            // ACMD23 (SD: blocks to pre-erase) or CMD23 (MMC: block count).
            if (sd && !app) break;
            respond({0xFF, 0x00});
            return;
        case 24:
        case 25:
            if (!to_sector(arg, &sector, &r1)) {
                respond({0xFF, r1});
                return;
            }
            respond({0xFF, 0x00});
            phase_ = Phase::WriteToken;
            multi_write_ = index == 25;
            write_sector_ = sector;
            return;
        default:
            break;
    }
    respond({0xFF, kIllegal});
}

}  // namespace sim
