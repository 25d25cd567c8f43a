#pragma once

// libmodbus's own RTU or TCP master, the generic tool the driver is measured
// against. Apart from the driver's sources: both name a modbus_strerror.

#include <cstdint>
#include <memory>
#include <string>

class tPeerMaster {
  public:
    // Opens `port` at `baud` 8N1 for slave `slave`, with a response time-out
    // of `responseTimeoutMs` and libmodbus's own byte time-out (0.5 s).
    tPeerMaster(const std::string &port, int baud, int slave, int responseTimeoutMs);
    // libmodbus's Modbus TCP master, connected to `host`:`tcpPort`, unit id `slave`.
    struct tTcp {
        std::string host;
        int tcpPort;
    };
    tPeerMaster(const tTcp &server, int slave, int responseTimeoutMs);
    ~tPeerMaster();
    tPeerMaster(const tPeerMaster &) = delete;
    tPeerMaster &operator=(const tPeerMaster &) = delete;

    bool isOpen() const { return open; }
    // Reads `count` holding registers from `address` into `regs`; true when all came.
    bool read(int address, int count, uint16_t *regs);

  private:
    struct Ctx;
    Ctx *ctx = nullptr;
    bool open = false;
};
