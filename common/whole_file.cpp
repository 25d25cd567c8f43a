#include "whole_file.h"

#include <QSaveFile>

bool WriteWholeFile(const QString &name, const QByteArray &bytes, QString *why) {
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
