#pragma once
// A status reading every publishing and reading test starts from: a "qx4r"
// at 201 with sensor 1 at 23.5, sensor 2 short-circuited, sensor 3 at -0.5,
// sensor 4 still starting; relays 1 and 4 on, each with its own operation.
#include "status_reading.h"

#include <QDateTime>
#include <QString>

inline tStatusReading Qx4rReading(const QString &port, const QDateTime &at) {
    tStatusReading r{.port = port,
                     .address = 201,
                     .model = QStringLiteral("qx4r"),
                     .firmware = QStringLiteral("1.2"),
                     .result = 21,
                     .roundTripMs = 12,
                     .sensors = 4,
                     .relays = 4,
                     .state = {1, 2, 1, 0},
                     .value = {235, 0, -5, 0},
                     .min = {180, 0, -5, 0},
                     .max = {301, 0, 0, 0},
                     .relay = {1, 0, 0, 1},
                     .operation = {1, 3, 4, 6}};
    r.SetAt(at);
    return r;
}
