#include "relay_logic.h"

namespace sim {

namespace {

enum Op { Nop, Cold, Hot, Defrost, Fan, Heater, Aux, Timer, TimerIf };

std::optional<int> sensor(const RelayView &v, int index) {
    return index >= 0 && index < 4 ? v.temperature[size_t(index)] : std::nullopt;
}

// A thermostat around SP with differential DT; a sensor fault applies PERS.
std::optional<bool> thermostat(const RelayView &v, bool cooling) {
    const auto t = sensor(v, v.par[12]);
    if (!t)
        return v.par[9] == 1;
    const int sp = v.par[1], dt = v.par[6];
    if (cooling)
        return *t > sp + dt ? std::optional(true) : *t <= sp ? std::optional(false) : std::nullopt;
    return *t < sp - dt ? std::optional(true) : *t >= sp ? std::optional(false) : std::nullopt;
}

// Set point word: bits 0..6 days from Sunday, bit 7 enabled, bits 8..19 the
// minute of the day it switches on, bits 20..31 the minute it switches off.
bool inTimerWindow(const RelayView &v) {
    for (int k = 16; k < 20; ++k) {
        const auto w = uint32_t(v.par[size_t(k)]);
        const int from = int(w >> 8 & 0xFFF), to = int(w >> 20);
        if ((w & 0x80) && (w >> v.weekday & 1) && v.minuteOfDay >= from && v.minuteOfDay < to)
            return true;
    }
    return false;
}

} // namespace

bool followsOthers(int operation) {
    return operation == Fan || operation == Aux;
}

std::optional<bool> relayWants(const RelayView &v) {
    switch (v.par[0]) {
    case Cold:
    case Hot:
        return thermostat(v, v.par[0] == Cold);
    case Defrost:
        return false;
    case Fan:
        if (v.par[13] == 0) // not switched with the compressor: always running
            return true;
        return v.firstCooling >= 0 && v.others[size_t(v.firstCooling)];
    case Heater: {
        const auto panel = sensor(v, v.par[12]), tank = sensor(v, v.par[13]);
        if (!panel || !tank || (v.par[5] > 0 && *tank >= v.par[5]))
            return false;
        const int rise = *panel - *tank;
        return rise >= v.par[2]   ? std::optional(true)
               : rise <= v.par[3] ? std::optional(false)
                                  : std::nullopt;
    }
    case Aux: {
        const int backed = v.par[15] - 1;
        return backed >= 0 && backed < 4 && v.others[size_t(backed)];
    }
    case Timer:
        return inTimerWindow(v);
    case TimerIf: // a thermostat (TTYPE 1 cooling) that works only inside its windows
        if (!inTimerWindow(v))
            return false;
        return thermostat(v, v.par[14] == 1);
    default:
        return std::nullopt;
    }
}

} // namespace sim
