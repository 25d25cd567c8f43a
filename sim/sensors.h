#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace sim {

// The four temperature sensors. Temperatures are kept in tenths of a degree
// of the controller's present unit; the minimum and maximum follow every
// valid reading until the statistics are restarted.
class Sensors {
  public:
    static constexpr int kCount = 4;
    static constexpr uint16_t kValid = 1;

    struct Sensor {
        uint16_t state = kValid; // low 4 bits: 0 reading, 1 valid, 2 short, 3 open
        double now = 0, min = 0, max = 0;
        double base = 0;   // where drift swings around
        double since = 0;  // when the swing started
        bool held = false; // kept where it was set: drift leaves it alone
    };

    Sensors();
    const Sensor &operator[](int s) const { return m_sensors[size_t(s)]; }
    bool valid(int s) const { return (m_sensors[size_t(s)].state & 0xF) == kValid; }

    void setState(int s, uint16_t state) { m_sensors[size_t(s)].state = state; }
    void hold(int s) { m_sensors[size_t(s)].held = true; }
    // A new reading at `seconds` (a steady clock); drift swings on from it.
    void setValue(int s, double tenthsC, double seconds);
    void setMin(int s, double tenthsC) { m_sensors[size_t(s)].min = tenthsC; }
    void setMax(int s, double tenthsC) { m_sensors[size_t(s)].max = tenthsC; }
    void restartStatistics();

    // Slow swings around each sensor's last set value; drift() reports
    // whether a reported tenth changed.
    void setDrift(bool on, double seconds);
    bool drift(double seconds);

    // Everything held, to the other unit.
    void convert(bool toFahrenheit);
    static int reported(double tenths);

  private:
    void follow(Sensor &s);

    std::array<Sensor, kCount> m_sensors;
    bool m_drift = false;
};

} // namespace sim
