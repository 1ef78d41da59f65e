// A fresh simulated board for one test: in-memory EEPROM, FRAM and clock,
// the firmware's vector table installed, and what the chip sends on the
// console collected as text.
#pragma once

#include <gtest/gtest.h>

#include <csetjmp>
#include <string>

#include "board.h"
#include "config.h"
#include "persistent.h"
#include "serial_line.h"
#include "uart.h"
#include "vectors.h"

namespace testing_support {

// Collects every byte a UART transmits.
class CapturePeer : public sim::SerialPeer {
public:
    void receive(uint8_t byte, sim::Nanos) override { text.push_back(static_cast<char>(byte)); }
    std::string take()
    {
        std::string t;
        t.swap(text);
        return t;
    }
    std::string text;
};

class BoardFixture : public ::testing::Test {
protected:
    explicit BoardFixture(sim::BoardConfig config = {}) : config_(config) {}

    void SetUp() override
    {
        board_ = new sim::Board(mem_.view, config_);
        sim::set_board(board_);
        sim_install_vectors(*board_);
        for (int i = 0; i < 6; ++i) {
            board_->uart(i).attach(&peer_[i]);
            line_[i] = new sim::SerialLine(*board_, board_->uart(i));
            board_->add_device(line_[i]);
        }
    }

    void TearDown() override
    {
        for (auto* l : line_) {
            board_->remove_device(l);
            delete l;
        }
        sim::set_board(nullptr);
        delete board_;
    }

    // Bytes arriving on UART n from its peer, one character time apart.
    void type(int n, const std::string& s)
    {
        line_[n]->send(reinterpret_cast<const uint8_t*>(s.data()), s.size());
    }
    void console_type(const std::string& s) { type(0, s); }
    // The console as bring-up leaves it: 115200 baud, echo on; the system
    // clock at 50 MHz and the FRAM's bus running.
    void start_console_and_fram();
    // Let virtual time pass (interrupts run).
    void run_for(sim::Nanos dt) { board_->advance_to(board_->now() + dt); }
    // What UART n sent so far, after letting queued output drain.
    std::string output(int n)
    {
        drain(n);
        return peer_[n].take();
    }
    std::string console_output() { return output(0); }
    // Lets virtual time run while UART n is still sending (at most 5 s).
    void drain(int n)
    {
        for (int i = 0; i < 5000 && board_->uart(n).busy(); ++i) run_for(sim::kMilli);
    }

    sim::MemoryPersistent mem_;
    sim::BoardConfig config_;
    sim::Board* board_ = nullptr;
    CapturePeer peer_[6];
    sim::SerialLine* line_[6] = {};
};

}  // namespace testing_support

#include "i2c_fram.h"
#include "platform.h"
#include "uartstdio.h"

inline void testing_support::BoardFixture::start_console_and_fram()
{
    sysctl_clock_set_50mhz();
    UARTStdioConfig(0, 115200, PIOSC_HZ);
    UARTEchoSet(true);
    i2c0_init(1);
}
