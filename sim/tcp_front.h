#pragma once

// The simulator's side of a TCP connection: listening, and Modbus TCP's
// MBAP header turned into and out of the RTU frames the controllers serve.

#include "frame.h"

#include <cstdint>
#include <string>

namespace sim {

// "HOST:PORT" with an IPv6 host in brackets ("[::1]:5020"); false when it
// is none.
bool splitHostPort(const std::string &text, std::string &host, int &port);

// A listening socket on `host` (a name or an address) and `port` (0: a free
// one, then in `boundPort`); -1 when it cannot listen (errno says why).
int listenOn(const std::string &host, int port, int &boundPort);

enum class MbapRead { Request, Closed, Garbage };

// One MBAP request from `fd`, waiting up to `waitMs` for each part: its
// transaction id, and the request as an RTU frame (unit id, PDU, CRC).
MbapRead readMbap(int fd, int waitMs, uint16_t &transaction, Frame &rtu);

// An RTU reply as Modbus TCP sends it: the CRC dropped, the header ahead.
Frame toMbap(uint16_t transaction, const Frame &rtu);

} // namespace sim
