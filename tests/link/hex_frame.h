#pragma once

#include "u_crc.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// Frames written as hex bytes separated by blanks. "crc" appends the CRC of
// everything before it; "XX*N" repeats a byte N times.
inline QByteArray hexFrame(const QString &text) {
    QByteArray out;
    for (const QString &token : text.split(u' ', Qt::SkipEmptyParts)) {
        if (token == QLatin1String("crc")) {
            const uint16_t crc = crc16_MODBUS(reinterpret_cast<const uint8_t *>(out.constData()),
                                              int32_t(out.size()));
            out.append(char(crc & 0xFF)).append(char(crc >> 8));
            continue;
        }
        const QStringList parts = token.split(u'*');
        const char byte = char(parts[0].toUInt(nullptr, 16));
        out.append(QByteArray(parts.size() > 1 ? parts[1].toInt() : 1, byte));
    }
    return out;
}

inline QString hexText(const QByteArray &bytes) {
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}
