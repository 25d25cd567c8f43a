#pragma once

#include <QByteArray>
#include <QString>

// Writes `bytes` to `name` whole or not at all: the new file replaces an
// old one only once it is complete on disk, so a full disk or a pulled
// drive leaves the earlier file as it was. False with the system's reason.
bool WriteWholeFile(const QString &name, const QByteArray &bytes, QString *why = nullptr);
