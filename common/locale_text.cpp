#include "locale_text.h"

QString LongTimeFormat(const QLocale &locale) {
    const QString format = locale.timeFormat(QLocale::LongFormat);
    QString out;
    bool quoted = false;
    for (QChar c : format) {
        if (c == u'\'')
            quoted = !quoted;
        if (!quoted && c == u't')
            continue;
        out += c;
    }
    return out.trimmed();
}

QString LongTimeText(const QTime &time, const QLocale &locale) {
    return locale.toString(time, LongTimeFormat(locale));
}

QString ShortDateText(const QDate &date, const QLocale &locale) {
    return locale.toString(date, QLocale::ShortFormat);
}
