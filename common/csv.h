#pragma once

// The one writer of every CSV Tarvik produces (status readings, the relay
// event log, history exports). Fields are separated by ';' as a Brazilian
// spreadsheet expects, and a field is quoted whenever it holds a character
// that some spreadsheet splits on: ',' (the decimal comma), ';', a tab, a
// quote or a line break. A spreadsheet that ticks every separator at once
// then still sees one cell per field.

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QLocale>
#include <QString>
#include <QStringList>

// Where the text goes. A file a spreadsheet opens starts with a UTF-8
// byte-order mark (so accents survive) and ends its lines with CR LF; a
// terminal or a pipe gets neither, so grep and awk see plain lines.
enum class tCsvTarget { Spreadsheet, Stream };

// `field` as it stands in a line: quoted, with its quotes doubled, when needed.
QString CsvField(const QString &field);
// One line of `fields`, with the line end of `target`.
QByteArray CsvLine(const QStringList &fields, tCsvTarget target = tCsvTarget::Spreadsheet);
// What opens a CSV for `target`: the byte-order mark, or nothing.
QByteArray CsvStart(tCsvTarget target);
// A whole file for a spreadsheet: mark, header and rows.
QByteArray CsvDocument(const QStringList &header, const QList<QStringList> &rows);

// A number as a spreadsheet of `locale` reads it: its decimal separator,
// no group separator, `decimals` places.
QString CsvNumber(double value, int decimals, const QLocale &locale = QLocale());
// A local date and time in ISO 8601 ("2026-12-10 14:03:05"), which
// spreadsheets take as a date in any locale; empty for an invalid one.
QString CsvDateTime(const QDateTime &at);
