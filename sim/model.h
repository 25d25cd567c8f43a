#pragma once

#include "ondrel_sim.h"

#include <cstdint>
#include <vector>

struct _modbus_mapping_t;

namespace sim {

// The controller behind its registers: what each block holds, which requests
// it refuses, and what a write sets off. Not thread-safe; Controller locks.
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
    void beforeRead(int address, int count);
    // Acts on registers a write has just stored.
    void afterWrite(int address, int count);

    uint16_t reg(int address);
    void setReg(int address, uint16_t value);

    void setSensor(int sensor, SensorState state, int tenths);
    void setDrift(bool on) { m_drift = on; }
    void setClockOffset(long long seconds) { m_clockOffset = seconds; }

    int relayCount() const { return m_relays; }
    bool hasClock() const { return m_clock; }

  private:
    uint16_t &at(int address);

    Options m_options;
    int m_relays = 1;
    bool m_clock = false;
    _modbus_mapping_t *m_mapping = nullptr;
    bool m_drift = false;
    long long m_clockOffset = 0;
};

} // namespace sim
