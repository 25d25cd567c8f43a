#include "trace_log.h"

#include "locale_text.h"

#include <QDateTime>
#include <QDir>
#include <QFile>

QString FileInFolder(const QString &folder, const QString &name) {
    return folder.isEmpty() ? name : QDir(folder).filePath(name);
}

tTraceLog::tTraceLog() = default;

tTraceLog::~tTraceLog() {
    Close();
}

bool tTraceLog::Open(const QString &fileName, const QString &title) {
    Close();
    file = std::make_unique<QFile>(fileName);
    if (!file->open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        Fail(file->errorString());
        return false;
    }
    const QDateTime now = QDateTime::currentDateTime();
    Line(QStringLiteral(" >>>>>>>>> ") + title + QStringLiteral(" - Data: ") +
         ShortDateText(now.date()) + QStringLiteral(" Hora:") + LongTimeText(now.time()) +
         QStringLiteral(" <<<<<<<< "));
    return IsOpen();
}

void tTraceLog::Close() {
    if (file)
        file->close();
    file.reset();
}

bool tTraceLog::IsOpen() const {
    return file && file->isOpen();
}

void tTraceLog::Line(const QString &text) {
    if (!IsOpen())
        return;
    const QByteArray bytes = text.toLatin1() + "\r\n";
    // Flushed line by line so that a crash or a pulled cable leaves the
    // trace complete up to the last event.
    if (file->write(bytes) != bytes.size() || !file->flush())
        Fail(file->errorString());
}

void tTraceLog::Fail(const QString &why) {
    const QString name = file ? file->fileName() : QString();
    Close();
    if (OnError)
        OnError(name + QStringLiteral(": ") + why);
}
