// A simulated board with an SD card in its socket, backed by an image file
// in a fresh temporary directory; the system clock at 50 MHz and the 10 ms
// tick running, the console collected. Each test starts its board itself
// (start), so that it can choose the card type, faults and image first.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "config.h"
#include "gpio.h"
#include "platform.h"
#include "sd_card.h"
#include "support/board_fixture.h"
#include "support/shell.h"

namespace sdcard_test {

struct CardSetup {
    sim::CardType type = sim::CardType::SdV2Block;
    bool present = true;
    bool never_ready = false;
    bool write_refused = false;
    uint32_t power_cut_after = 0;
};

using testing_support::run_command;
inline int run(const std::string& cmd, std::string* out = nullptr) { return run_command(cmd, out); }

class CardTest : public testing_support::BoardFixture {
protected:
    CardTest()
    {
        const char* base = std::getenv("TMPDIR");
        std::string tmpl = std::string(base && *base ? base : "/tmp") + "/sdcard_test.XXXXXX";
        std::vector<char> buf(tmpl.begin(), tmpl.end());
        buf.push_back(0);
        if (mkdtemp(buf.data()) != nullptr) dir_ = buf.data();
        image_ = dir_ + "/sdcard.img";
    }

    void SetUp() override { ASSERT_FALSE(dir_.empty()) << "no temporary directory"; }

    void TearDown() override
    {
        stop();
        run("rm -rf '" + dir_ + "'");
    }

    // Builds the board (a boot); the card formats a missing image itself.
    void start(const CardSetup& setup = {})
    {
        setup_ = setup;
        config_.card_image = image_.c_str();
        config_.card_type = setup.type;
        config_.card_present = setup.present;
        config_.card_never_ready = setup.never_ready;
        config_.card_write_refused = setup.write_refused;
        config_.card_power_cut_after = setup.power_cut_after;
        BoardFixture::SetUp();
        start_console_and_fram();
        systick_period(sysctl_clock_get() / 100);
        systick_int_enable();
        systick_enable();
        card_ = sim::attached_sdcard(*board_);
    }

    void stop()
    {
        if (board_ == nullptr) return;
        BoardFixture::TearDown();
        board_ = nullptr;
        card_ = nullptr;
    }

    // The next boot on the same card image.
    void reboot(const CardSetup& setup)
    {
        stop();
        start(setup);
    }
    void reboot() { reboot(setup_); }

    // An image of `bytes` (sparse, unformatted) before the card is built.
    void make_image(uint64_t bytes)
    {
        const int fd = open(image_.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(ftruncate(fd, static_cast<off_t>(bytes)), 0);
        close(fd);
    }

    std::vector<uint8_t> image_sector(uint32_t sector)
    {
        std::vector<uint8_t> s(512);
        const int fd = open(image_.c_str(), O_RDONLY);
        EXPECT_GE(fd, 0);
        EXPECT_EQ(pread(fd, s.data(), s.size(), static_cast<off_t>(sector) * 512), 512);
        close(fd);
        return s;
    }

    void put_image_sector(uint32_t sector, const std::vector<uint8_t>& data)
    {
        const int fd = open(image_.c_str(), O_RDWR);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(pwrite(fd, data.data(), 512, static_cast<off_t>(sector) * 512), 512);
        close(fd);
    }

    // What the console printed, after the transmit ring has drained, with
    // the line ends as the firmware wrote them (the driver sends LF as CR LF).
    std::string console()
    {
        run_for(100 * sim::kMilli);
        std::string text = console_output();
        for (size_t at; (at = text.find("\r\n")) != std::string::npos;) text.erase(at, 1);
        return text;
    }

    sim::Nanos now() const { return board_->now(); }
    // Chip select high and the card's data line let go (one clock after).
    bool card_released() const
    {
        return board_->gpio().level(Signal::SdCs) && card_ != nullptr && card_->data_line_released();
    }

    std::string dir_, image_;
    CardSetup setup_;
    sim::SdCard* card_ = nullptr;
};

// 512 bytes that differ from sector to sector.
inline std::vector<uint8_t> sector_pattern(uint32_t seed)
{
    std::vector<uint8_t> s(512);
    uint32_t x = seed * 2654435761u + 1;
    for (auto& b : s) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 16);
    }
    return s;
}

}  // namespace sdcard_test
