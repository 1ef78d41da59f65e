// The ring rules every port's two rings follow.
#include <gtest/gtest.h>

#include "uart_ring.h"

namespace {

struct RingCase {
    uint32_t read, write;
    bool full, empty;
    uint32_t count;
};

TEST(RingRules, FullEmptyAndCountOfARingOfEight)
{
    const RingCase cases[] = {
        {0, 0, false, true, 0},                            // empty at the start
        {5, 5, false, true, 0},                            // empty anywhere
        {0, 7, true, false, 7},                            // full holds N - 1
        {3, 2, true, false, 7},                            // full across the wrap
        {7, 6, true, false, 7},  {6, 1, false, false, 3},  // count across the wrap: N - read + write
        {7, 0, false, false, 1}, {1, 0, true, false, 7},  {2, 6, false, false, 4},
    };
    for (const auto& c : cases) {
        volatile uint32_t read = c.read, write = c.write;
        SCOPED_TRACE(testing::Message() << "read " << c.read << " write " << c.write);
        EXPECT_EQ(IsBufferFull(&read, &write, 8), c.full);
        EXPECT_EQ(IsBufferEmpty(&read, &write), c.empty);
        EXPECT_EQ(GetBufferCount(&read, &write, 8), c.count);
    }
}

}  // namespace
