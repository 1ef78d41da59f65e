// What the simulator keeps across the instrument's boots: virtual time, the
// console line from the host side, the script's progress and the console's
// recent output. It lives in memory shared between the runner and the
// process of each boot, so plain data only.
#pragma once

#include <cstddef>
#include <cstdint>

#include "simtime.h"

namespace runner {

using sim::Nanos;

enum class Stop : uint8_t { None, Hibernate, Exit };

// Bytes on their way from the host's terminal (or script) to the console.
struct HostLine {
    static constexpr size_t kCapacity = 16384;
    uint8_t buf[kCapacity];
    size_t head, count;
    Nanos next;  // arrival time of the first queued byte

    void clear() { head = count = 0, next = sim::kNever; }
    size_t push(const uint8_t* data, size_t n, Nanos earliest);
    uint8_t pop();
};

// Console output kept for `expect` and for the failure report.
struct OutputWindow {
    static constexpr size_t kCapacity = 65536;
    char buf[kCapacity];
    size_t len;       // bytes in buf
    size_t match_at;  // expects search from here
    size_t searched;  // output the current expect has already looked at
    void append(char c);
    void consume_through(size_t end) { match_at = end; }
};

struct ScriptState {
    uint32_t pc;   // next command
    bool waiting;  // on a wait or an expect
    Nanos until;   // end of the wait, or the expect's deadline
    bool done;
    bool failed;
};

struct World {
    Nanos now;
    Stop stop;
    int exit_code;
    HostLine host;
    OutputWindow out;
    ScriptState script;
    bool input_closed;   // the terminal or pipe reached its end
    uint32_t host_baud;  // console rate at the last hibernation
};

}  // namespace runner
