#include "buffer.h"

#include <algorithm>

tMemoryBuffer::tMemoryBuffer(size_t b) : bound(std::max<size_t>(b, 1)) {}

void tMemoryBuffer::append(const tStatusReading &reading) {
    if (items.size() >= bound) {
        items.pop_front();
        ++lost;
    }
    items.push_back({.seq = next++, .reading = reading});
}

std::vector<tPending> tMemoryBuffer::from(uint64_t first, size_t count) {
    auto it = std::lower_bound(items.begin(), items.end(), first,
                               [](const tPending &p, uint64_t s) { return p.seq < s; });
    std::vector<tPending> out;
    for (; it != items.end() && out.size() < count; ++it)
        out.push_back(*it);
    return out;
}

void tMemoryBuffer::acknowledge(uint64_t seq) {
    while (!items.empty() && items.front().seq <= seq)
        items.pop_front();
}

uint64_t tMemoryBuffer::takeLost() {
    return std::exchange(lost, 0);
}

QString tMemoryBuffer::describe() const {
    return QStringLiteral("na memória, até %1 leituras por controlador").arg(bound);
}
