#pragma once

#include <QDate>
#include <QLocale>
#include <QString>
#include <QTime>

// Dates and times as the technician's machine writes them: the locale's short
// date and its long time without the time-zone part (a wall-clock time read
// off a controller has no zone, and the logs show local time).
QString LongTimeFormat(const QLocale &locale = QLocale());
QString LongTimeText(const QTime &time, const QLocale &locale = QLocale());
QString ShortDateText(const QDate &date, const QLocale &locale = QLocale());
