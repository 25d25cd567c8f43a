#pragma once

// Draws a history curve with a plain QPainter, for paper and images: no
// window needed. The page draws the same tCurve on screen with its plot
// widget; the colours and the time ticks come from here for both.

#include "history_curve.h"

#include <QColor>
#include <QLocale>
#include <QRectF>
#include <QString>

#include <vector>

class QPainter;

// Sensor k's colour (0..3); the relay bands' colour.
QColor SensorColor(int k);
QColor RelayColor();
// The shade of a stretch outside the limits.
QColor ExcursionColor();
// The band over the time an alarm was open.
QColor AlarmColor();

// Ticks of a time axis over [fromMs, toMs), on round local times, about
// `wanted` of them; each with its label ("14:00", "10/12", "dez/26").
struct tTimeTick {
    int64_t utcMs = 0;
    QString label;
};
std::vector<tTimeTick> TimeTicks(int64_t fromMs, int64_t toMs, int wanted,
                                 const QLocale &locale = QLocale());

// Ticks of a value axis: a round step in tenths giving about `wanted` ticks.
int32_t ValueStep(int32_t low, int32_t high, int wanted);

// Draws `curve` into `area` of `painter`: value axis, time axis, the sensors'
// min/max bands, limits, shaded stretches outside them and, below, one band
// per relay. Sizes follow the painter's device resolution.
void PaintCurve(QPainter &painter, const QRectF &area, const tCurve &curve,
                const QLocale &locale = QLocale());
