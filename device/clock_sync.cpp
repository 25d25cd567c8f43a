#include "clock_sync.h"

namespace {

std::function<int32_t(tCommand)> sender(tOndrel &dev, const tSyncIo &io) {
    if (io.send)
        return io.send;
    return [&dev](tCommand cmd) { return dev.SendCommand(cmd); };
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

// Sends `cmd`; false after noting a failure in `out`.
bool sent(const std::function<int32_t(tCommand)> &send, tCommand cmd, tSyncResult &out) {
    out.result = send(cmd);
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

tSyncResult WriteClock(tOndrel &dev, const tClockSetting &s, const tSyncIo &io) {
    const auto send = sender(dev, io);
    putDate(dev.RTC, s.date, s.weekday);
    putTime(dev.RTC, s.time);
    tSyncResult out;
    if (sent(send, cmdSET_RTC_DATE, out) && sent(send, cmdSET_RTC_TIME, out) && s.format)
        sent(send, cmdSET_RTC_FORMAT, out);
    return out;
}

tSyncResult SetClockFromComputer(tOndrel &dev, const tSyncIo &io,
                                 const std::function<QDateTime()> &now) {
    const auto send = sender(dev, io);
    const std::function<QDateTime()> clock =
        now ? now : [] { return QDateTime::currentDateTime(); };
    tSyncResult out;
    const QDate day = clock().date();
    putDate(dev.RTC, day, ClockWeekday(day));
    if (!sent(send, cmdSET_RTC_DATE, out))
        return out;
    const QDateTime leaving = clock().addMSecs(500);
    putTime(dev.RTC, leaving.time());
    if (!sent(send, cmdSET_RTC_TIME, out))
        return out;
    if (leaving.date() != day) {
        putDate(dev.RTC, leaving.date(), ClockWeekday(leaving.date()));
        sent(send, cmdSET_RTC_DATE, out);
    }
    return out;
}
