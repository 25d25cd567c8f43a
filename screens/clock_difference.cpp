#include "clock_difference.h"

#include <cmath>
#include <cstdlib>

QDate ControllerDate(const tRTC &c) {
    // QDate takes years past 9999; the controller's clock does not.
    if (c.Year < 1 || c.Year > 9999)
        return {};
    return QDate(c.Year, c.Month, c.Day);
}

QTime ControllerTime(const tRTC &c) {
    return QTime(c.Hour, c.Minute, c.Second);
}

std::optional<qint64> ClockDifference(const tRTC &controller, const QDateTime &computer) {
    const QDate date = ControllerDate(controller);
    const QTime time = ControllerTime(controller);
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    // The controller's second runs from its start to the next one: taken at
    // its middle, two clocks in step read 0 s rather than -1 s half the time.
    const QDateTime ours(computer.date(), computer.time(), Qt::UTC);
    const qint64 ms = ours.msecsTo(QDateTime(date, time, Qt::UTC)) + 500;
    return qint64(std::llround(double(ms) / 1000.0));
}

QString ClockDifferenceText(std::optional<qint64> seconds) {
    const QString lead = QStringLiteral("Diferença para o computador: ");
    if (!seconds)
        return lead + QStringLiteral("data ou hora do Ondrel inválida");
    const qint64 s = *seconds;
    const qint64 a = std::llabs(s);
    const QString sign = s > 0 ? QStringLiteral("+") : s < 0 ? QStringLiteral("-") : QString();
    QString body;
    const qint64 minutes = (a + 30) / 60;
    if (a < 60) {
        body = QStringLiteral("%1 s").arg(a);
    } else if (a < 3600) {
        body = QStringLiteral("%1 min %2 s").arg(a / 60).arg(a % 60);
    } else if (minutes < 24 * 60) {
        body = QStringLiteral("%1 h %2 min").arg(minutes / 60).arg(minutes % 60);
    } else {
        const qint64 hours = (a + 1800) / 3600;
        const qint64 days = hours / 24;
        body = QStringLiteral("%1 %2 %3 h")
                   .arg(days)
                   .arg(days == 1 ? QStringLiteral("dia") : QStringLiteral("dias"))
                   .arg(hours % 24);
    }
    return lead + sign + body;
}
