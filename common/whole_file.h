#pragma once

#include <QByteArray>
#include <QString>

// Writes `bytes` to `name` whole or not at all: the new file replaces an
// old one only once it is complete on disk, so a full disk or a pulled
// drive leaves the earlier file as it was. A name that is a folder, a
// device, a pipe or a socket is refused and left as it is. False with the
// reason (the system's own where it has one).
bool WriteWholeFile(const QString &name, const QByteArray &bytes, QString *why = nullptr);
