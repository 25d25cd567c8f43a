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

uint16_t crc16_MODBUS(const uint8_t *data, int32_t n) {
    return crc16_Right(data, n, 0x8005, 0xFFFF);
}
