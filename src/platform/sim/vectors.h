// Entry points of the firmware that the simulated chip calls: the interrupt
// handlers (through the vector table) and the reset entry.
#pragma once

namespace sim {
class Board;
}

void sim_install_vectors(sim::Board& b);
// Runs the firmware from reset; returns only if the firmware's main returns.
void sim_reset_entry();
