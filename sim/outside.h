// The outside devices on the board: each model attaches itself to the pins,
// buses and serial lines of the pin map when a board is built, and detaches
// when it is torn down.
#pragma once

namespace sim {

class Board;

void attach_outside_devices(Board& board);
void detach_outside_devices(Board& board);

// One pair per group of outside devices, each in its own file.
void attach_analog_board(Board& board);  // converters, multiplexer, sensors, environment
void detach_analog_board(Board& board);
void attach_sdcard(Board& board);  // SD card socket on SSI0
void detach_sdcard(Board& board);

}  // namespace sim
