#include "outside.h"

#include "board.h"

namespace sim {

void attach_outside_devices(Board& board)
{
    attach_analog_board(board);
    attach_sdcard(board);
}

void detach_outside_devices(Board& board)
{
    detach_sdcard(board);
    detach_analog_board(board);
}

}  // namespace sim
