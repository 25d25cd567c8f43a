#include "peer_master.h"

#include <modbus/modbus.h>

struct tPeerMaster::Ctx {
    modbus_t *m;
};

tPeerMaster::tPeerMaster(const std::string &port, int baud, int slave, int responseTimeoutMs) {
    modbus_t *m = modbus_new_rtu(port.c_str(), baud, 'N', 8, 1);
    if (!m)
        return;
    ctx = new Ctx{m};
    modbus_set_slave(m, slave);
    modbus_set_response_timeout(m, uint32_t(responseTimeoutMs / 1000),
                                uint32_t(responseTimeoutMs % 1000) * 1000);
    open = modbus_connect(m) == 0;
}

tPeerMaster::tPeerMaster(const tTcp &server, int slave, int responseTimeoutMs) {
    modbus_t *m = modbus_new_tcp(server.host.c_str(), server.tcpPort);
    if (!m)
        return;
    ctx = new Ctx{m};
    modbus_set_slave(m, slave);
    modbus_set_response_timeout(m, uint32_t(responseTimeoutMs / 1000),
                                uint32_t(responseTimeoutMs % 1000) * 1000);
    open = modbus_connect(m) == 0;
}

tPeerMaster::~tPeerMaster() {
    if (!ctx)
        return;
    modbus_close(ctx->m);
    modbus_free(ctx->m);
    delete ctx;
}

bool tPeerMaster::read(int address, int count, uint16_t *regs) {
    return open && modbus_read_registers(ctx->m, address, count, regs) == count;
}
