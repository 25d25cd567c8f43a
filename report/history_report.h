#pragma once

// The history report: a PDF to hand over at an audit. Controller, period,
// who made it and when; the curve; per day each sensor's min, mean, max and
// time outside its limits; the excursions; the relays' switchings; the
// writes sent to the controller in the period. Drawn with Qt Gui alone (no
// window), so the command-line tool makes the same file; it needs a
// QGuiApplication for its fonts.

#include "history_curve.h"

#include <QDateTime>
#include <QString>

struct tReportRequest {
    int64_t controller = 0;
    int64_t fromMs = 0, toMs = 0;
    tSensorLimits limits; // in the unit of the controller's newest reading
    QString user;         // empty: the operating-system user
    QDateTime generated;  // invalid: now
};

// Writes the report to `path`, whole or not at all. False with the reason in
// `error` (a store that cannot be read, a file that cannot be written).
bool WriteHistoryReport(tHistoryStore &store, const tReportRequest &request, const QString &path,
                        QString *error);
bool WriteHistoryReport(tHistoryStore &store, int64_t controller, int64_t fromMs, int64_t toMs,
                        const tSensorLimits &limits, const QString &path, QString *error);

// "45 s", "12 min", "3 h 05 min", "2 d 03 h".
QString DurationText(int64_t ms);
// A count as the report's tables write it: one decimal, the locale's separator.
QString TenthsFixed(double tenths);
