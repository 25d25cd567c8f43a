#pragma once

#include "u_ondrel.h"

#include <QDateTime>
#include <QString>

#include <optional>

// How far the controller's clock is from the computer's, in seconds
// (positive: the controller is ahead), both taken as wall-clock readings
// without a time zone. Empty when the controller's date or time is invalid.
std::optional<qint64> ClockDifference(const tRTC &controller, const QDateTime &computer);

// The line shown beside the clock editors: "Diferença para o computador:
// +12 s", in minutes, hours or days when larger.
QString ClockDifferenceText(std::optional<qint64> seconds);

// The controller's clock as a date and a time; invalid when it holds no
// real date (year outside 1..9999 included) or time.
QDate ControllerDate(const tRTC &c);
QTime ControllerTime(const tRTC &c);
