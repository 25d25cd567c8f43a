#pragma once

#include "frame.h"
#include "ondrel_sim.h"

#include <string>

namespace sim {

// Whether a fault concerns a request with this function code: the byte-count
// fault only spoils reads, the echo faults only writes. A request a fault does
// not concern is answered normally and does not use up the fault.
bool faultConcerns(Fault fault, uint8_t function);

// Whether the controller still carries out a request whose reply the fault
// spoils. A lost or refused request (silence, exception, line noise, garbage
// reply) changes nothing; the others only damage the reply on its way back.
bool faultCarriesOut(Fault fault);

// The reply as the fault turns it: `reply` is the normal reply with its CRC.
// Delivery faults (silence, late, chunked) leave the bytes alone; silence is
// handled by the caller.
Frame spoilReply(Fault fault, int param, const Frame &request, Frame reply, int slaveId);

// Milliseconds before the reply (late), between chunks (chunked) or in the
// middle of the reply (stall).
int faultDelayMs(Fault fault, int param);
constexpr size_t kChunkBytes = 3;

// Names used on the command line: "silence", "bad-crc", "late"...
bool faultFromName(const std::string &name, Fault &fault);
const char *faultName(Fault fault);

} // namespace sim
