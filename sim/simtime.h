// Virtual time of the simulated board, in nanoseconds since the simulator started.
#pragma once

#include <cstdint>

namespace sim {

using Nanos = uint64_t;
constexpr Nanos kNever = ~Nanos{0};
constexpr Nanos kMicro = 1000;
constexpr Nanos kMilli = 1000 * kMicro;
constexpr Nanos kSecond = 1000 * kMilli;
constexpr uint64_t kCpuHz = 50000000;  // system clock after bring-up

constexpr Nanos cycles_to_nanos(uint64_t cycles) { return cycles * kSecond / kCpuHz; }
// Time one 8-N-1 character (10 bits) takes on the line.
constexpr Nanos char_time(uint32_t baud) { return baud ? 10 * kSecond / baud : kMilli; }

}  // namespace sim
