#pragma once

// A generated year of one reading a minute from a cold room kept at 2..5 ºC,
// for the history benchmarks and screenshots: the compressor's saw-tooth,
// a defrost every six hours that lifts the room above 6 ºC for a while, a
// door opened now and then, a compressor failure one afternoon, a week with
// no computer attached, and a fourth sensor never connected.

#include "history_store.h"
#include "u_ondrel.h"

#include <cmath>
#include <cstdint>

namespace historyyear {
constexpr int64_t minute = 60'000;
constexpr int64_t yearMinutes = 525'600;

inline tStatusReading Reading(int64_t i, int64_t startMs) {
    tStatusReading r{.utcMs = startMs + i * minute, .offsetSec = -3 * 3600};
    const int64_t ofDay = (i + 21 * 60) % 1440; // local minute of the day (UTC-3)
    const int64_t cycle = i % 17;
    const bool defrost = i % 360 < 20;
    const bool failed = i / 1440 == 200 && ofDay >= 13 * 60 && ofDay < 18 * 60;
    const bool door = ofDay >= 8 * 60 && ofDay < 18 * 60 && i % 97 < 3;
    const double season = std::sin(double(i) / double(yearMinutes) * 6.2832);
    const double daily = std::sin(double(ofDay - 9 * 60) / 1440.0 * 6.2832);

    int32_t room = int32_t(cycle < 9 ? 50 - cycle * 3 : 23 + (cycle - 9) * 3);
    if (defrost)
        room = int32_t(40 + (i % 360) * 2);
    else if (i % 360 < 35)
        room = int32_t(80 - (i % 360 - 20) * 3);
    if (door)
        room += 25;
    if (failed)
        room = int32_t(40 + (ofDay - 13 * 60) / 2);
    const int32_t evaporator = defrost ? int32_t(-60 + (i % 360) * 8) : int32_t(-80 + cycle * 3);
    const int32_t ambient = int32_t(240 + 40 * daily + 50 * season);

    r.state = {stsTEMP_OK, stsTEMP_OK, stsTEMP_OK, stsTEMP_ERRMAX};
    r.value = {room, evaporator, ambient, 0};
    r.unit = tempCELSIUS;
    r.relay = {int32_t(!defrost && !failed && cycle < 9), int32_t(defrost), int32_t(!defrost), 0};
    r.result = 22;
    r.roundTripMs = 11 + int32_t(i % 5);
    return r;
}

// Whether minute `i` has a reading: none for a week in the autumn.
inline bool Recorded(int64_t i) {
    return i / 1440 < 250 || i / 1440 >= 257;
}

// Fills `store` with the year ending at `endMs`; false with the store's message.
inline bool Fill(tHistoryStore &store, int64_t ctl, int64_t endMs) {
    const int64_t startMs = endMs - yearMinutes * minute;
    for (int64_t i = 0; i < yearMinutes; ++i) {
        if (i % 50'000 == 0 && !store.Begin())
            return false;
        if (Recorded(i) && !store.AddReading(ctl, Reading(i, startMs)))
            return false;
        if ((i % 50'000 == 49'999 || i == yearMinutes - 1) && !store.Commit())
            return false;
    }
    return true;
}
} // namespace historyyear
