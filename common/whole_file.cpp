#include "whole_file.h"

#include <QFile>
#include <QSaveFile>

#include <sys/stat.h>

namespace {

// What a path that exists but is no regular file is, in the user's words;
// empty for a regular file or a path that does not exist yet.
QString notRegularKind(const QString &name) {
    struct stat st = {};
    if (::stat(QFile::encodeName(name).constData(), &st) != 0 || S_ISREG(st.st_mode))
        return QString();
    if (S_ISDIR(st.st_mode))
        return QStringLiteral("uma pasta");
    if (S_ISFIFO(st.st_mode))
        return QStringLiteral("um pipe (FIFO)");
    if (S_ISSOCK(st.st_mode))
        return QStringLiteral("um socket");
    return QStringLiteral("um dispositivo");
}

} // namespace

bool WriteWholeFile(const QString &name, const QByteArray &bytes, QString *why) {
    // The new file is put in place by renaming it over the old name, which
    // would swap a device or a pipe (/dev/null, as root) for a plain file.
    if (const QString kind = notRegularKind(name); !kind.isEmpty()) {
        if (why)
            *why = QStringLiteral("%1 não é um arquivo comum, é %2; nada foi gravado nele.")
                       .arg(name, kind);
        return false;
    }
    // A short write (disk full) can slip through commit(), so flush and
    // check the size first; an uncommitted QSaveFile leaves the old file.
    QSaveFile file(name);
    const bool written = file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() &&
                         file.flush() && file.size() == bytes.size();
    if (written && file.commit())
        return true;
    if (why)
        *why = file.errorString();
    return false;
}
