#include "line.h"

namespace sim {

Micros wireTime(size_t bytes, int baud) {
    if (baud <= 0)
        return 0;
    return Micros(bytes) * 10 * 1000000 / baud;
}

std::vector<Micros> wireTimes(size_t n, Micros start, int baud, size_t chunk, Micros gap) {
    std::vector<Micros> at(n);
    for (size_t i = 0; i < n; ++i) {
        const Micros pauses = chunk > 0 ? Micros(i / chunk) * gap : 0;
        at[i] = start + wireTime(i + 1, baud) + pauses;
    }
    return at;
}

Micros UsbAdapter::nextTick(Micros t) const {
    if (t <= m_origin)
        return m_origin;
    return m_origin + (t - m_origin + m_latency - 1) / m_latency * m_latency;
}

std::vector<Burst> UsbAdapter::pass(const Frame &bytes, const std::vector<Micros> &arrivals) {
    std::vector<Burst> out;
    if (m_latency <= 0) {
        for (size_t i = 0; i < bytes.size(); ++i) {
            if (out.empty() || out.back().at != arrivals[i])
                out.push_back({arrivals[i], {}});
            out.back().bytes.push_back(bytes[i]);
        }
        return out;
    }
    Frame held;
    Micros due = 0;
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (!held.empty() && arrivals[i] > due) {
            out.push_back({due, held});
            held.clear();
        }
        if (held.empty())
            due = nextTick(arrivals[i]);
        held.push_back(bytes[i]);
        if (held.size() == kAdapterPacket) {
            out.push_back({arrivals[i], held});
            held.clear();
            m_origin = arrivals[i];
        }
    }
    if (!held.empty())
        out.push_back({due, held});
    return out;
}

} // namespace sim
