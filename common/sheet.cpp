#include "sheet.h"

#include "whole_file.h"

#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>

#include <xlsxwriter.h>

#include <algorithm>
#include <optional>

namespace {
// The numbers as the CSV writes them, decimal comma or point.
std::optional<double> NumberOf(const QString &text) {
    bool ok = false;
    const double v = QString(text).replace(u',', u'.').toDouble(&ok);
    return ok ? std::optional(v) : std::nullopt;
}

std::optional<lxw_datetime> DateTimeOf(const QString &text) {
    QString iso = text.trimmed();
    if (iso.size() > 10 && iso[10] == u' ')
        iso[10] = u'T';
    const QDateTime at = QDateTime::fromString(iso, Qt::ISODateWithMs);
    if (!at.isValid())
        return std::nullopt;
    // The clock as written: a UTC column stays in UTC, a local one local.
    const QDate d = at.date();
    const QTime t = at.time();
    return lxw_datetime{d.year(), d.month(),  d.day(),
                        t.hour(), t.minute(), t.second() + t.msec() / 1000.0};
}
} // namespace

bool WriteSheet(const QString &path, const QString &sheet, const QStringList &header,
                const std::vector<tSheetCell> &kinds, const QList<QStringList> &rows,
                QString *error) {
    // Built in a folder of our own, then written whole where it belongs.
    QTemporaryDir folder;
    if (!folder.isValid()) {
        *error = QStringLiteral("Não foi possível criar uma pasta temporária: %1")
                     .arg(folder.errorString());
        return false;
    }
    const QByteArray built = QFile::encodeName(folder.filePath(QStringLiteral("planilha.xlsx")));
    lxw_workbook *book = workbook_new(built.constData());
    if (!book) {
        *error = QStringLiteral("Não foi possível montar a planilha");
        return false;
    }
    lxw_worksheet *ws = workbook_add_worksheet(book, sheet.toUtf8().constData());
    lxw_format *bold = workbook_add_format(book);
    format_set_bold(bold);
    lxw_format *dateTime = workbook_add_format(book);
    format_set_num_format(dateTime, "dd/mm/yyyy hh:mm:ss");
    lxw_format *decimal = workbook_add_format(book);
    format_set_num_format(decimal, "0.0");
    lxw_format *whole = workbook_add_format(book);
    format_set_num_format(whole, "0");

    for (qsizetype c = 0; c < header.size(); ++c) {
        worksheet_write_string(ws, 0, lxw_col_t(c), header[c].toUtf8().constData(), bold);
        const tSheetCell kind = size_t(c) < kinds.size() ? kinds[size_t(c)] : tSheetCell::Text;
        const double width =
            kind == tSheetCell::DateTime ? 20 : std::max<double>(10, header[c].size() + 2);
        worksheet_set_column(ws, lxw_col_t(c), lxw_col_t(c), width, nullptr);
    }
    worksheet_freeze_panes(ws, 1, 0);
    for (qsizetype r = 0; r < rows.size(); ++r) {
        const auto row = lxw_row_t(r + 1);
        for (qsizetype c = 0; c < rows[r].size(); ++c) {
            const QString &text = rows[r][c];
            const auto col = lxw_col_t(c);
            if (text.isEmpty())
                continue;
            const tSheetCell kind = size_t(c) < kinds.size() ? kinds[size_t(c)] : tSheetCell::Text;
            if (kind == tSheetCell::DateTime) {
                if (const auto at = DateTimeOf(text)) {
                    lxw_datetime value = *at;
                    worksheet_write_datetime(ws, row, col, &value, dateTime);
                    continue;
                }
            } else if (kind == tSheetCell::Number || kind == tSheetCell::Integer) {
                if (const auto v = NumberOf(text)) {
                    worksheet_write_number(ws, row, col, *v,
                                           kind == tSheetCell::Number ? decimal : whole);
                    continue;
                }
            }
            worksheet_write_string(ws, row, col, text.toUtf8().constData(), nullptr);
        }
    }
    if (const lxw_error failed = workbook_close(book); failed != LXW_NO_ERROR) {
        *error = QStringLiteral("Não foi possível montar a planilha: %1")
                     .arg(QString::fromUtf8(lxw_strerror(failed)));
        return false;
    }
    QFile file(QFile::decodeName(built));
    if (!file.open(QIODevice::ReadOnly)) {
        *error =
            QStringLiteral("Não foi possível ler a planilha montada: %1").arg(file.errorString());
        return false;
    }
    return WriteWholeFile(path, file.readAll(), error);
}
