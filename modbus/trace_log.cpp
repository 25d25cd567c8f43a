#include "trace_log.h"

#include <QDateTime>
#include <QFile>
#include <QLocale>

namespace {

// The locale's long time format without its time-zone part: the logs show
// wall-clock time as the technician's machine reads it.
QString longTimeFormat()
{
    const QString format = QLocale().timeFormat(QLocale::LongFormat);
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

} // namespace

tTraceLog::tTraceLog() = default;

tTraceLog::~tTraceLog() { Close(); }

bool tTraceLog::Open(const QString &fileName, const QString &title)
{
    Close();
    file = std::make_unique<QFile>(fileName);
    if (!file->open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        Fail(file->errorString());
        return false;
    }
    const QDateTime now = QDateTime::currentDateTime();
    const QLocale locale;
    Line(QStringLiteral(" >>>>>>>>> ") + title + QStringLiteral(" - Data: ") +
         locale.toString(now.date(), QLocale::ShortFormat) + QStringLiteral(" Hora:") +
         locale.toString(now.time(), longTimeFormat()) + QStringLiteral(" <<<<<<<< "));
    return IsOpen();
}

void tTraceLog::Close()
{
    if (file)
        file->close();
    file.reset();
}

bool tTraceLog::IsOpen() const { return file && file->isOpen(); }

void tTraceLog::Line(const QString &text)
{
    if (!IsOpen())
        return;
    const QByteArray bytes = text.toLatin1() + "\r\n";
    // Flushed line by line so that a crash or a pulled cable leaves the
    // trace complete up to the last event.
    if (file->write(bytes) != bytes.size() || !file->flush())
        Fail(file->errorString());
}

void tTraceLog::Fail(const QString &why)
{
    const QString name = file ? file->fileName() : QString();
    Close();
    if (OnError)
        OnError(name + QStringLiteral(": ") + why);
}
