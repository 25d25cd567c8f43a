#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sim {

using Frame = std::vector<uint8_t>;

// CRC-16/MODBUS (reflected 0xA001, initial 0xFFFF), sent low byte first.
uint16_t crc16(const uint8_t *data, size_t n);
void appendCrc(Frame &frame);
// Recomputes the CRC in the last two bytes after the frame was altered.
void resealCrc(Frame &frame);

inline uint16_t word(const Frame &f, size_t at) {
    return uint16_t(f[at] << 8 | f[at + 1]);
}
inline void putWord(Frame &f, size_t at, uint16_t v) {
    f[at] = uint8_t(v >> 8);
    f[at + 1] = uint8_t(v);
}

} // namespace sim
