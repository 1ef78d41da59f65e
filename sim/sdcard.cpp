#include "board.h"
#include "outside.h"

namespace sim {

// The card socket is empty until the card model lands.
void attach_sdcard(Board& board) { (void)board; }
void detach_sdcard(Board& board) { (void)board; }

}  // namespace sim
