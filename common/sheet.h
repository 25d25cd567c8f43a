#pragma once

// A spreadsheet file (.xlsx) with the columns of a CSV export, each cell of
// its own type: a spreadsheet opens dates as dates and temperatures as
// numbers whatever its import settings, which a CSV cannot promise.

#include <QList>
#include <QString>
#include <QStringList>

#include <vector>

// How a column's texts (as the CSV writes them) go into cells. A text that
// does not read as its column's kind ("Aberto" in a temperature column, an
// empty field) stays text, or an empty cell.
enum class tSheetCell {
    Text,
    Number,   // "6,7", "-13": a number shown with one decimal
    Integer,  // "22": a whole number
    DateTime, // "2026-12-10 14:03:05" or "2026-12-10T17:03:05.000Z": a date
              // and time shown as "10/12/2026 14:03:05", its clock as written
};

// Writes `header` and `rows` as the one sheet `sheet` of the file at `path`,
// whole or not at all. False with the reason in `error`.
bool WriteSheet(const QString &path, const QString &sheet, const QStringList &header,
                const std::vector<tSheetCell> &kinds, const QList<QStringList> &rows,
                QString *error);
