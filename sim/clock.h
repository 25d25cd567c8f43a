#pragma once

#include <array>
#include <cstdint>
#include <ctime>

namespace sim {

// The controller's real-time clock: year, month, day, weekday (0 Sunday),
// hour, minute, second. It keeps what was last set and runs on from there with
// the host's clock. Like a clock chip it stores any values written; fields that
// do not form a valid date and time stop it, and it then reports them as they
// are, so a master meets the invalid readings a real clock can give.
class ControllerClock {
  public:
    using Fields = std::array<uint16_t, 7>;
    enum { Year, Month, Day, Weekday, Hour, Minute, Second };

    ControllerClock() { setOffset(0); }

    // The host's local time plus `seconds`, weekday from the date.
    void setOffset(long long seconds);
    Fields now() const;
    // Overwrites fields first..first+n-1 of the present reading.
    void set(int first, const uint16_t *values, int n);

    static bool valid(const Fields &f);

  private:
    static long long hostLocalSeconds();
    static std::time_t hostSeconds() { return std::time(nullptr); }

    Fields m_set{};
    std::time_t m_setAt = 0;
};

} // namespace sim
