#pragma once

#include <algorithm>
#include <cerrno>
#include <modbus/modbus.h>
#include <string>
#include <vector>

// libmodbus's own RTU master on the simulator's port.
class Master {
  public:
    Master(const std::string &port, int id)
        : m_ctx(modbus_new_rtu(port.c_str(), 115200, 'N', 8, 1)) {
        modbus_set_slave(m_ctx, id);
        modbus_set_response_timeout(m_ctx, 3, 0);
        m_open = modbus_connect(m_ctx) == 0;
    }
    ~Master() {
        modbus_close(m_ctx);
        modbus_free(m_ctx);
    }
    bool isOpen() const { return m_open; }
    // The exception code of a refusal, 0 on success, -1 on any other failure.
    int read(int address, int count, std::vector<uint16_t> *out = nullptr) {
        std::vector<uint16_t> regs(size_t(std::max(count, 1)));
        const int rc = modbus_read_registers(m_ctx, address, count, regs.data());
        if (out)
            *out = regs;
        return rc == count ? 0 : refusal();
    }
    int write(int address, uint16_t value) {
        return modbus_write_register(m_ctx, address, value) == 1 ? 0 : refusal();
    }
    int write(int address, const std::vector<uint16_t> &values) {
        const int n = int(values.size());
        return modbus_write_registers(m_ctx, address, n, values.data()) == n ? 0 : refusal();
    }

  private:
    static int refusal() {
        return errno > MODBUS_ENOBASE && errno <= EMBXGTAR ? errno - MODBUS_ENOBASE : -1;
    }
    modbus_t *m_ctx;
    bool m_open = false;
};
