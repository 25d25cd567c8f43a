#include "clock.h"

#include <chrono>

namespace sim {

namespace {

using namespace std::chrono;

long long civilDays(const ControllerClock::Fields &f) {
    const year_month_day ymd{year{f[ControllerClock::Year]}, month{f[ControllerClock::Month]},
                             day{f[ControllerClock::Day]}};
    return sys_days{ymd}.time_since_epoch().count();
}

long long floorDays(long long civilSeconds) {
    return civilSeconds >= 0 ? civilSeconds / 86400 : (civilSeconds - 86399) / 86400;
}

ControllerClock::Fields fieldsAt(long long civilSeconds, int weekday) {
    const long long days = floorDays(civilSeconds), rest = civilSeconds - days * 86400;
    const year_month_day ymd{sys_days{std::chrono::days{days}}};
    return {
        uint16_t(int(ymd.year())), uint16_t(unsigned(ymd.month())), uint16_t(unsigned(ymd.day())),
        uint16_t(weekday),         uint16_t(rest / 3600),           uint16_t(rest / 60 % 60),
        uint16_t(rest % 60)};
}

int weekdayOf(long long days) {
    return int(weekday{sys_days{std::chrono::days{days}}}.c_encoding());
}

} // namespace

long long ControllerClock::hostLocalSeconds() {
    const std::time_t t = hostSeconds();
    std::tm local{};
    localtime_r(&t, &local);
    return (long long)t + local.tm_gmtoff;
}

bool ControllerClock::valid(const Fields &f) {
    if (f[Year] < 1 || f[Year] > 9999 || f[Hour] > 23 || f[Minute] > 59 || f[Second] > 59)
        return false;
    const year_month_day ymd{year{f[Year]}, month{f[Month]}, day{f[Day]}};
    return ymd.ok();
}

void ControllerClock::setOffset(long long seconds) {
    const long long civil = hostLocalSeconds() + seconds;
    m_set = fieldsAt(civil, weekdayOf(floorDays(civil)));
    m_setAt = hostSeconds();
}

ControllerClock::Fields ControllerClock::now() const {
    if (!valid(m_set))
        return m_set;
    const long long days = civilDays(m_set);
    const long long civil = days * 86400 + m_set[Hour] * 3600LL + m_set[Minute] * 60LL +
                            m_set[Second] + (hostSeconds() - m_setAt);
    // The weekday is whatever was set; it moves on with the days that pass.
    // One out of range cannot move and stays as it is.
    const int set = m_set[Weekday];
    const int weekday = set > 6 ? set : int(((set + floorDays(civil) - days) % 7 + 7) % 7);
    return fieldsAt(civil, weekday);
}

void ControllerClock::set(int first, const uint16_t *values, int n) {
    Fields f = now();
    for (int i = 0; i < n && first + i < int(f.size()); ++i)
        f[size_t(first + i)] = values[i];
    m_set = f;
    m_setAt = hostSeconds();
}

} // namespace sim
