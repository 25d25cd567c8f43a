#pragma once

// The MBAP header of Modbus TCP, ahead of the unit id and the PDU: what the
// RTU frame's address and CRC are on a serial line. Built and read without
// any I/O.

#include <cstdint>

// Transaction id, protocol id (0 for Modbus), length of what follows, unit id.
constexpr int32_t mbapHEADER = 7;
// The length field counts the unit id and the PDU: a function code at
// least, 253 bytes of PDU at most.
constexpr int32_t mbapMIN_LENGTH = 2;
constexpr int32_t mbapMAX_LENGTH = 254;

struct tMbapHeader {
    uint16_t transaction = 0;
    uint16_t protocol = 0;
    uint16_t length = 0;
    uint8_t unit = 0;
};

// Writes the header of a message of `unitAndPdu` bytes (the unit id and the
// PDU, as an RTU frame holds them without its CRC) ahead of it at `out`.
void MbapPutHeader(uint8_t *out, uint16_t transaction, const uint8_t *unitAndPdu, int32_t n);
tMbapHeader MbapGetHeader(const uint8_t *in);
// The whole message's length as its header announces it; 0 when the header
// is none of Modbus TCP's (another protocol id, a length out of bounds).
int32_t MbapFrameLength(const uint8_t *header);
