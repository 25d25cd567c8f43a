#pragma once

// Setting the controller's clock, written once for the clock page and
// tarvik-cli: from values typed on the page, or from the computer's clock.

#include "config_sync.h"
#include "u_ondrel.h"

#include <QDate>
#include <QDateTime>
#include <QTime>

#include <functional>

struct tClockSetting {
    QDate date;
    QTime time;          // whole seconds are sent
    int weekday = 0;     // 0 Sunday .. 6 Saturday, as the controller counts
    bool format = false; // System[7] and System[8] of the copy go too
};

// The controller's weekday of `date`: Sunday 0 to Saturday 6.
int ClockWeekday(const QDate &date);

// The copy's clock fields take `s` at once, whatever the outcome; then the
// date, the time and, with `s.format`, the display format are sent, stopping
// at the first failure (what went before keeps its effect).
tTask<tSyncResult> WriteClock(tOndrel &dev, tClockSetting s, tSyncIo io = {});

// From the computer's clock (`now`; the system's when empty): the date, then
// the time rounded to the nearest second as it leaves, then the date again
// if midnight passed in between. The display format and the calibration are
// left as they are.
tTask<tSyncResult> SetClockFromComputer(tOndrel &dev, tSyncIo io = {},
                                        std::function<QDateTime()> now = {});
