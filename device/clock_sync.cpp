#include "clock_sync.h"

namespace {

std::function<tTask<int32_t>(tCommand)> sender(tOndrel &dev, const tSyncIo &io) {
    if (io.send)
        return io.send;
    return [&dev](tCommand cmd) { return Ready(dev.SendCommand(cmd)); };
}

void putDate(tRTC &rtc, const QDate &date, int weekday) {
    rtc.Year = uint16_t(date.year());
    rtc.Month = uint16_t(date.month());
    rtc.Day = uint16_t(date.day());
    rtc.Weekday = uint16_t(weekday);
}

void putTime(tRTC &rtc, const QTime &time) {
    rtc.Hour = uint16_t(time.hour());
    rtc.Minute = uint16_t(time.minute());
    rtc.Second = uint16_t(time.second());
}

// Notes the result of `cmd` in `out`; false for a failure.
bool sent(int32_t result, tCommand cmd, tSyncResult &out) {
    out.result = result;
    if (out.result < 0) {
        out.failed = cmd;
        return false;
    }
    out.written << cmd;
    return true;
}

} // namespace

int ClockWeekday(const QDate &date) {
    return date.dayOfWeek() % 7; // Qt counts Monday 1 to Sunday 7
}

tTask<tSyncResult> WriteClock(tOndrel &dev, tClockSetting s, tSyncIo io) {
    const auto send = sender(dev, io);
    putDate(dev.RTC, s.date, s.weekday);
    putTime(dev.RTC, s.time);
    tSyncResult out;
    for (tCommand cmd : {cmdSET_RTC_DATE, cmdSET_RTC_TIME, cmdSET_RTC_FORMAT}) {
        if (cmd == cmdSET_RTC_FORMAT && !s.format)
            break;
        tTask<int32_t> reply = send(cmd);
        if (!sent(co_await reply, cmd, out))
            break;
    }
    co_return out;
}

tTask<tSyncResult> SetClockFromComputer(tOndrel &dev, tSyncIo io, std::function<QDateTime()> now) {
    const auto send = sender(dev, io);
    const std::function<QDateTime()> clock =
        now ? now : [] { return QDateTime::currentDateTime(); };
    tSyncResult out;
    const QDate day = clock().date();
    putDate(dev.RTC, day, ClockWeekday(day));
    tTask<int32_t> date = send(cmdSET_RTC_DATE);
    if (!sent(co_await date, cmdSET_RTC_DATE, out))
        co_return out;
    const QDateTime leaving = clock().addMSecs(500);
    putTime(dev.RTC, leaving.time());
    tTask<int32_t> time = send(cmdSET_RTC_TIME);
    if (!sent(co_await time, cmdSET_RTC_TIME, out))
        co_return out;
    if (leaving.date() != day) {
        putDate(dev.RTC, leaving.date(), ClockWeekday(leaving.date()));
        tTask<int32_t> again = send(cmdSET_RTC_DATE);
        sent(co_await again, cmdSET_RTC_DATE, out);
    }
    co_return out;
}
