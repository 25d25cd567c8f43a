#pragma once

// What tarvik-cli writes for a result, as text, CSV and JSON, made from the
// driver's fields after the reads, or from a status reading. Texts are the screens' own (sensor
// states, relay states, operation names, log rows); JSON carries numbers with a point and states as
// plain words.

#include "event_log.h"
#include "status_reading.h"
#include "u_ondrel.h"

#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <vector>

// The controller's clock as a date and time; invalid when the fields are not one.
QDateTime ClockDateTime(const tRTC &rtc);
// "01/05/2024 12:00:03 (Quarta-feira)"; "data inválida" or "hora inválida"
// for the part that is not valid.
QString ClockText(const tRTC &rtc);

// Identification, and the clock when the model has one (read into RTC).
QString InfoText(int id, const tOndrel &dev);
QJsonObject InfoJson(int id, const tOndrel &dev);

// One status reading that succeeded.
QString StatusText(const tStatusReading &reading);
QStringList StatusCsvHeader();
QStringList StatusCsvFields(const tStatusReading &reading);
QJsonObject StatusJson(const tStatusReading &reading);

// One slot of the event log as read.
struct tLogEntry {
    int32_t slot = 0;
    tSlotLog raw;
    tLogRow row;
};
QString LogText(int id, const tLogEntry &entry);
QStringList LogCsvHeaderOfAddresses();
QStringList LogCsvFieldsOf(int id, const tLogEntry &entry);
std::vector<tSheetCell> LogSheetKindsOfAddresses();
QJsonObject LogJson(int id, const std::vector<tLogEntry> &entries);

// A local time as JSON writes it: ISO 8601 with the offset from UTC.
QString IsoTime(const QDateTime &at);
