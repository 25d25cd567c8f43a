#include "u_crc.h"

uint16_t crc16_Poly(uint16_t poly) {
    uint16_t reversed = 0;
    for (int bit = 0; bit < 16; ++bit)
        if (poly & (1u << bit))
            reversed |= uint16_t(1u << (15 - bit));
    return reversed;
}

uint16_t crc16_Right(const uint8_t *data, int32_t n, uint16_t poly, uint16_t init) {
    const uint16_t reversed = crc16_Poly(poly);
    uint16_t crc = init;
    for (int32_t i = 0; i < n; ++i) {
        crc ^= data[i];
        for (int k = 0; k < 8; ++k)
            crc = (crc & 1) ? uint16_t((crc >> 1) ^ reversed) : uint16_t(crc >> 1);
    }
    return crc;
}

namespace {

// CRC-16/MODBUS a byte at a time: the eight shifts of crc16_Right for every
// byte value, worked out once by the compiler.
struct tCrcTable {
    uint16_t entry[256] = {};
    constexpr tCrcTable() {
        for (int b = 0; b < 256; ++b) {
            uint16_t crc = uint16_t(b);
            for (int k = 0; k < 8; ++k)
                crc = (crc & 1) ? uint16_t((crc >> 1) ^ 0xA001) : uint16_t(crc >> 1);
            entry[b] = crc;
        }
    }
};
constexpr tCrcTable modbusTable;
static_assert(modbusTable.entry[1] == 0xC0C1 && modbusTable.entry[255] == 0x4040);

} // namespace

uint16_t crc16_MODBUS(const uint8_t *data, int32_t n) {
    uint16_t crc = 0xFFFF;
    for (int32_t i = 0; i < n; ++i)
        crc = uint16_t((crc >> 8) ^ modbusTable.entry[(crc ^ data[i]) & 0xFF]);
    return crc;
}
