#pragma once

// One status reading of one controller as the publisher sends it: taken from
// the driver's fields right after the read, so that it can wait for the
// broker and still say what was read and when.

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <cstdint>
#include <vector>

class tOndrel;

struct tReadingSensor {
    int32_t sts = -1;
    int32_t value = 0; // tenths, in the reading's unit
    int32_t valueMin = 0;
    int32_t valueMax = 0;
};

struct tReadingRelay {
    int32_t sts = -1;
    int32_t operation = 0;
};

struct tReading {
    QDateTime at; // the computer's time of the reading
    QString port;
    int address = 0;
    int32_t result = 0;      // the exchange's result code; negative: nothing was read
    int32_t roundTripMs = 0; // kept in the history, not published
    QString model;           // empty: never identified
    QString firmware;
    bool fahrenheit = false;
    std::vector<tReadingSensor> sensors; // those the status screen shows for the model
    std::vector<tReadingRelay> relays;

    bool ok() const { return result > 0; }
};

// The reading `dev` holds after a status read that returned `result`; a
// failed read carries the identification alone.
tReading ReadingOf(const tOndrel &dev, const QString &port, int address, int32_t result,
                   const QDateTime &at);

// The JSON published as the controller's state, compact, in UTF-8.
QByteArray ReadingJson(const tReading &reading);

// The sensors the status screen shows for a model with `relays` relays.
int ShownSensors(int relays);

// A sensor state as JSON words it: "lendo", "ok", "curto", "aberto",
// "desconhecido".
QString SensorStateWord(int32_t sts);
