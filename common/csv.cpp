#include "csv.h"

namespace {

bool needsQuotes(const QString &field) {
    for (QChar c : field)
        if (c == u',' || c == u';' || c == u'\t' || c == u'"' || c == u'\n' || c == u'\r')
            return true;
    return false;
}

} // namespace

QString CsvField(const QString &field) {
    if (!needsQuotes(field))
        return field;
    return u'"' + QString(field).replace(u'"', QStringLiteral("\"\"")) + u'"';
}

QByteArray CsvLine(const QStringList &fields, tCsvTarget target) {
    QStringList line;
    line.reserve(fields.size());
    for (const QString &f : fields)
        line << CsvField(f);
    return line.join(u';').toUtf8() + (target == tCsvTarget::Spreadsheet ? "\r\n" : "\n");
}

QByteArray CsvStart(tCsvTarget target) {
    return target == tCsvTarget::Spreadsheet ? QByteArray("\xEF\xBB\xBF") : QByteArray();
}

QByteArray CsvDocument(const QStringList &header, const QList<QStringList> &rows) {
    QByteArray csv = CsvStart(tCsvTarget::Spreadsheet) + CsvLine(header);
    for (const QStringList &row : rows)
        csv += CsvLine(row);
    return csv;
}

QString CsvNumber(double value, int decimals, const QLocale &locale) {
    QLocale l = locale;
    l.setNumberOptions(QLocale::OmitGroupSeparator);
    return l.toString(value, 'f', decimals);
}

QString CsvDateTime(const QDateTime &at) {
    return at.isValid() ? at.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) : QString();
}
