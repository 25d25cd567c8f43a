#include "event_log.h"

#include <algorithm>

namespace sim {

void EventLog::record(const Slot &slot) {
    if (m_slots.empty())
        return;
    m_last = m_last < 0 || m_last + 1 >= slots() ? 0 : m_last + 1;
    m_slots[size_t(m_last)] = slot;
}

void EventLog::clear() {
    std::fill(m_slots.begin(), m_slots.end(), Slot{});
    m_last = -1;
}

void EventLog::resize(int slots) {
    m_slots.resize(size_t(std::max(slots, 0)));
    if (m_last >= this->slots())
        m_last = this->slots() - 1;
}

uint16_t EventLog::word(int index) const {
    if (m_selected < 0 || m_selected >= slots())
        return 0;
    return m_slots[size_t(m_selected)][size_t(index)];
}

void EventLog::setWord(int index, uint16_t value) {
    if (m_selected >= 0 && m_selected < slots())
        m_slots[size_t(m_selected)][size_t(index)] = value;
}

} // namespace sim
