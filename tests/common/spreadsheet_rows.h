#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// CSV text cut into cells the way a spreadsheet does with ',', ';' and tab
// all ticked as separators (LibreOffice's default): quotes honoured and
// doubled quotes kept as one, a quoted cell may span lines, CR LF or LF
// ends a row, a leading byte-order mark is dropped. A field Tarvik left
// unquoted around a decimal comma shows up here as two cells.
inline QList<QStringList> SpreadsheetRows(QString text) {
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    QList<QStringList> rows;
    QStringList row;
    QString cell;
    bool quoted = false;
    auto endCell = [&] {
        row << cell;
        cell.clear();
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (quoted) {
            if (c == u'"' && i + 1 < text.size() && text[i + 1] == u'"') {
                cell += c;
                ++i;
            } else if (c == u'"') {
                quoted = false;
            } else {
                cell += c;
            }
        } else if (c == u'"') {
            quoted = true;
        } else if (c == u',' || c == u';' || c == u'\t') {
            endCell();
        } else if (c == u'\n' || (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')) {
            if (c == u'\r')
                ++i;
            endCell();
            rows << row;
            row.clear();
        } else {
            cell += c;
        }
    }
    if (!cell.isEmpty() || !row.isEmpty()) {
        endCell();
        rows << row;
    }
    return rows;
}
