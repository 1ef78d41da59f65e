// The measurement side of the board: the isolated analog board (its ADS1248
// on SSI3, the ADG1609 in front of it, the sensor and bias-battery wiring),
// the non-isolated ADS1248 on SSI1 with the controller temperature sensor,
// and the housekeeping sensors on ADC0, all fed from one Environment.
//
// Isolated board wiring (AIN6 is its analog ground):
//   AIN0  thermistor divider (20 kohm from 3.3 V)
//   AIN1  ADG1609 drain DA: pair 0 external reference, 1 counter electrode,
//         2 substrate current sense, 3 internal reference
//   AIN5  ADG1609 drain DB: pair 0 and 3 the offset node, 1 the counter
//         electrode's far side of its sense resistor, 2 the substrate
//   AIN4  external reference, read directly
//   AIN2, AIN3  the Ik sense pair
//   AIN7  one side of the bias battery through a 2:1 divider, chosen by the
//         converter's GPIO3 (low: negative side, high: positive side)
// The converter's GPIO0/GPIO1 reach the multiplexer's A0/A1 through inverting
// level shifters (so GPIO1:GPIO0 carry the complement of the pair); EN is
// tied to the isolated supply. Converter pins that are not driven outputs
// are pulled low, which selects pair 3. GPIO2 drives nothing modelled here.
#pragma once

#include "board.h"

namespace sim {

class Ads1248;
class Environment;
class AnalogBoard;

// The analog board fitted to `board`, or nullptr.
AnalogBoard* analog_board(Board& board);

class AnalogBoard {
public:
    explicit AnalogBoard(Board& board);
    ~AnalogBoard();
    AnalogBoard(const AnalogBoard&) = delete;
    AnalogBoard& operator=(const AnalogBoard&) = delete;

    Environment& environment();
    Ads1248& iso_converter();
    Ads1248& noniso_converter();

    bool iso_powered() const;
    // ADG1609 pair connected now (0..3), or -1.
    int mux_pair() const;
    // Voltage of an isolated converter input against AIN6, as wired now.
    double iso_ain(int n, Nanos now) const;

    struct Impl;

private:
    Impl* impl_;
};

}  // namespace sim
