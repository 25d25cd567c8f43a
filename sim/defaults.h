#pragma once

#include <array>
#include <cstdint>

namespace sim {

// The factory settings restored by a write to 0xA000 and present at start.
// sim/README.md lists them with their meaning.
constexpr std::array<int16_t, 13> kDefaultSystem{
    0, 0, 0, 0, // sensor offsets
    0, 0,       // menu passwords: none
    0,          // Celsius
    1, 0,       // 24-hour clock, day before month
    1,          // beeper on
    0, 0,       // no alarm duration, no start delay
    0,          // autonomous
};

using RelayBlock = std::array<int16_t, 24>;

// Relay r of a model gets block r when the model has that relay, else zeros
// (no operation). Timer set points (words 16..23) are all off.
constexpr std::array<RelayBlock, 4> kDefaultRelays{{
    // Refrigeration on sensor 1: SP 5.0, LO -10.0, HI 15.0, TLL -50.0, TLH 110.0,
    // DT 2.0, TLRS normal operation, PERS off, DLY 3 min, TTYPE cooling.
    {1, 50, -100, 150, -500, 1100, 20, 0, 2, 0, 3, 0, 0, 0, 1, 0},
    // Defrost on sensor 2: ends at 10.0 (LO 0.0, HI 30.0), electric, every
    // 6 h, at most 30 min, 5 min drip.
    {3, 100, 0, 300, 0, 0, 0, 0, 0, 0, 360, 0, 1, 30, 0, 5},
    // Fan on sensor 2: runs again below -5.0, stops above 10.0 (LO -50.0,
    // HI 50.0), 5 min at most after refrigeration starts, with the compressor.
    {4, -50, -500, 500, 0, 0, 0, 100, 0, 0, 5, 0, 1, 1, 0, 0},
    // Auxiliary backing up relay 1.
    {6, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1},
}};

} // namespace sim
