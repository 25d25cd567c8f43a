#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace sim {

// The relay event ring: each slot holds nine words (event, sensor 1, sensor 2,
// year, month, day, hour, minute, second) as the slot registers show them.
class EventLog {
  public:
    using Slot = std::array<uint16_t, 9>;

    explicit EventLog(int slots) { resize(slots); }

    int slots() const { return int(m_slots.size()); }
    int last() const { return m_last; } // -1 while nothing was written
    void record(const Slot &slot);
    void clear();
    void resize(int slots);
    void setLast(int slot) { m_last = slot; }

    int selected() const { return m_selected; }
    void select(int slot) { m_selected = slot; }
    uint16_t word(int index) const;
    void setWord(int index, uint16_t value);

  private:
    std::vector<Slot> m_slots;
    int m_last = -1;
    int m_selected = 0;
};

} // namespace sim
