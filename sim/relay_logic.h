#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace sim {

// What an autonomous relay wants, from its parameter block and what it sees.
struct RelayView {
    std::array<int32_t, 20> par{};                 // par[16..19] whole 32-bit set points
    std::array<std::optional<int>, 4> temperature; // per sensor, in the controller's unit
    int weekday = 0, minuteOfDay = 0;
    std::array<bool, 4> others{}; // relays' present states, for fan and auxiliary
    int firstCooling = -1;        // index of the first refrigeration relay
};

// On, off, or nothing (keep the present state: inside a differential).
std::optional<bool> relayWants(const RelayView &view);

// Operations that follow other relays are settled after the rest.
bool followsOthers(int operation);

} // namespace sim
