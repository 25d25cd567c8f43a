#pragma once

#include <cstdint>

uint16_t crc16_Poly(uint16_t poly);
uint16_t crc16_Right(const uint8_t *data, int32_t n, uint16_t poly, uint16_t init);
uint16_t crc16_MODBUS(const uint8_t *data, int32_t n);
