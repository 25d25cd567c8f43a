#pragma once

// The relay event log as people read it: one row of texts per slot, the
// order in which slots are read (newest first), and the rows as a file a
// Brazilian spreadsheet opens as it is. The log screen and the command-line
// tool both use these, so their texts agree.

#include "csv.h"
#include "sheet.h"
#include "u_ondrel.h"

#include <QLocale>
#include <QString>

#include <vector>

struct tLogRow {
    int relay = 0;     // 0..3
    QString operation; // "Refrigeração", or "Operação 12" for a code without a name
    QString status;    // "Ligado" / "Desligado"
    QString sensor;    // the relay's sensor: value, state or "Não usado"
    QString auxSensor; // the auxiliary sensor, likewise
    QString date;      // short date, or "inválida"
    QString time;      // long time without the time zone, or "inválida"
    // For a spreadsheet: each sensor as a number ("-13,0", empty when there
    // is no reading) beside its unit or state ("ºC", "Aberto", "Não usado"),
    // and the date and time in ISO 8601, empty when either is invalid.
    QString sensorValue, sensorUnit;
    QString auxValue, auxUnit;
    QString dateTime;
};

tLogRow LogRowOf(const tSlotLog &slot, const QLocale &locale = QLocale());
// Whether a slot of operation `op` carries a reading of the relay's sensor,
// and of the auxiliary one; a sensor not used reads "Não usado".
bool LogSensorUsed(int op);
bool LogAuxSensorUsed(int op);

// Whether a slot holds an event. A slot the controller never wrote reads
// all zeros (a new or cleared ring) or all ones (erased memory): no event
// has operation 0 with no date, nor operation 15 in year 65535. A month or
// an hour out of range alone does not make a slot empty.
bool LogSlotWritten(const tSlotLog &slot);

// The slots a read of at most `limit` + 1 slots visits, newest first: from
// `lastSlot` backwards, wrapping below 0, never visiting a slot twice. None
// when the log is empty (count below 1 or lastSlot negative).
std::vector<int32_t> LogSlotOrder(int32_t countSlots, int32_t lastSlot, int32_t limit);

// The header and one line per row: the relay number (1..4) first, then the
// columns as shown, then the date and time and each sensor's number and unit
// or state; a CSV file for a spreadsheet (see csv.h).
QByteArray LogCsv(const std::vector<tLogRow> &rows);
// The header's fields and a row's, as LogCsv writes them.
QStringList LogCsvHeader();
QStringList LogCsvFields(const tLogRow &row);
// The cell type of each of those columns in a spreadsheet file.
std::vector<tSheetCell> LogSheetKinds();
// The rows as a spreadsheet file (.xlsx) with those columns, whole or not at
// all; false with the reason in `error`.
bool WriteLogSheet(const QString &path, const std::vector<tLogRow> &rows, QString *error);
