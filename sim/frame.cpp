#include "frame.h"

namespace sim {

uint16_t crc16(const uint8_t *data, size_t n) {
    uint16_t crc = 0xFFFF;
    for (size_t i = 0; i < n; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? uint16_t((crc >> 1) ^ 0xA001) : uint16_t(crc >> 1);
    }
    return crc;
}

void appendCrc(Frame &frame) {
    const uint16_t crc = crc16(frame.data(), frame.size());
    frame.push_back(uint8_t(crc));
    frame.push_back(uint8_t(crc >> 8));
}

void resealCrc(Frame &frame) {
    if (frame.size() < 2)
        return;
    frame.resize(frame.size() - 2);
    appendCrc(frame);
}

} // namespace sim
