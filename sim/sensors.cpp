#include "sensors.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace sim {

namespace {

// Room, evaporator, ambient, water tank.
constexpr std::array<double, Sensors::kCount> kStart{40, -120, 250, 450};
// Swing in tenths and period in seconds: the room crosses the default
// refrigeration set point and differential every few minutes.
constexpr std::array<double, Sensors::kCount> kSwing{40, 15, 10, 20};
constexpr std::array<double, Sensors::kCount> kPeriod{240, 300, 420, 360};

} // namespace

Sensors::Sensors() {
    for (int s = 0; s < kCount; ++s) {
        Sensor &x = m_sensors[size_t(s)];
        x.now = x.min = x.max = x.base = kStart[size_t(s)];
    }
}

void Sensors::follow(Sensor &s) {
    if ((s.state & 0xF) != kValid)
        return;
    s.min = std::min(s.min, s.now);
    s.max = std::max(s.max, s.now);
}

void Sensors::setValue(int s, double tenthsC, double seconds) {
    Sensor &x = m_sensors[size_t(s)];
    x.now = x.base = tenthsC;
    x.since = seconds;
    follow(x);
}

void Sensors::restartStatistics() {
    for (auto &s : m_sensors)
        s.min = s.max = s.now;
}

void Sensors::setDrift(bool on, double seconds) {
    if (on && !m_drift)
        for (auto &s : m_sensors) {
            s.base = s.now;
            s.since = seconds;
        }
    m_drift = on;
}

bool Sensors::drift(double seconds) {
    if (!m_drift)
        return false;
    bool changed = false;
    for (size_t i = 0; i < m_sensors.size(); ++i) {
        Sensor &s = m_sensors[i];
        if (s.held)
            continue;
        const double phase = 2 * std::numbers::pi * (seconds - s.since) / kPeriod[i];
        const double next = s.base + kSwing[i] * std::sin(phase);
        changed = changed || std::lround(next) != std::lround(s.now);
        s.now = next;
        follow(s);
    }
    return changed;
}

void Sensors::convert(bool toFahrenheit) {
    const auto to = [toFahrenheit](double &t) {
        t = toFahrenheit ? t * 1.8 + 320 : (t - 320) / 1.8;
    };
    for (auto &s : m_sensors)
        for (double *t : {&s.now, &s.min, &s.max, &s.base})
            to(*t);
}

int Sensors::reported(double tenths) {
    return int(std::lround(tenths));
}

} // namespace sim
