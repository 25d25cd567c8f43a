#pragma once

#include "clock.h"
#include "event_log.h"
#include "ondrel_sim.h"
#include "sensors.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

struct _modbus_mapping_t;

namespace sim {

// The controller behind its registers: what each block holds, which requests
// it refuses, what a write sets off, and the relays it drives by itself. Not
// thread-safe; Controller locks around it.
class Model {
  public:
    explicit Model(const Options &options);
    ~Model();
    Model(const Model &) = delete;
    Model &operator=(const Model &) = delete;

    // The holding registers 0x0000..0xB00C as libmodbus serves them.
    _modbus_mapping_t *mapping() const { return m_mapping; }

    // 0 when the request may be served, else the exception code to answer
    // with. `values` are the words a write carries.
    int check(uint8_t function, int address, int count, const std::vector<uint16_t> &values) const;
    // Brings the registers a read is about to return up to date.
    void beforeRead();
    // Acts on registers a write has just stored.
    void afterWrite(int address, int count);

    uint16_t reg(int address);
    void setReg(int address, uint16_t value);

    void setSensor(int sensor, SensorState state, int tenths);
    void holdSensor(int sensor, SensorState state, int tenths);
    void setDrift(bool on) { m_sensors.setDrift(on, seconds()); }
    void setClockOffset(long long seconds) { m_clock.setOffset(seconds); }
    void setRelayLogic(bool on) {
        m_relayLogic = on;
        runRelays();
    }
    void addLogSlot(const LogSlot &slot);
    // Called often by the serving thread: temperatures move, relays follow.
    void tick();

  private:
    uint16_t &at(int address);
    uint16_t at(int address) const;
    bool fahrenheit() const;
    bool slaveMode() const;
    double seconds() const;

    void factoryDefaults();
    void preload(int events);
    void apply(int address);
    void followUnit();
    void switchRelay(int relay, bool on);
    void runRelays();
    std::optional<int> temperature(int sensor) const;
    uint16_t logWord(int sensor) const;
    void refresh();

    Options m_options;
    int m_relays = 1;
    bool m_hasClock = false;
    _modbus_mapping_t *m_mapping = nullptr;
    Sensors m_sensors;
    ControllerClock m_clock;
    EventLog m_log;
    bool m_fahrenheit = false; // the unit the relay parameters are held in
    bool m_relayLogic = false;
    std::array<std::optional<bool>, 4> m_wanted;
    std::chrono::steady_clock::time_point m_started = std::chrono::steady_clock::now();
    double m_lastTick = 0;
};

} // namespace sim
