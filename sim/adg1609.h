// Analog Devices ADG1609 differential 4:1 multiplexer: address lines A1:A0
// and EN connect one switch pair SxA/SxB to the drains DA/DB.
#pragma once

#include <cstdint>

namespace sim {

class Adg1609 {
public:
    static constexpr int kNone = -1;

    // Switch pair connected (0 for S1A/S1B ... 3 for S4A/S4B), or kNone when
    // disabled or unpowered.
    static int pair(bool powered, bool en, bool a1, bool a0)
    {
        if (!powered || !en) return kNone;
        return (a1 ? 2 : 0) | (a0 ? 1 : 0);
    }

    // Voltage on a drain: the selected source's, or `floating` when no pair
    // is connected.
    static double drain(int pair, const double (&sources)[4], double floating)
    {
        return (pair >= 0 && pair < 4) ? sources[pair] : floating;
    }
};

}  // namespace sim
