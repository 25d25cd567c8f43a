#pragma once

// One status reading of one controller, as the driver takes it from a status
// answer: the one form every consumer works from (the status page, the
// history, the publisher, tarvik-cli's text, CSV and JSON). The words for a
// sensor's state and the sensors a model shows are written here and nowhere
// else.

#include <QDateTime>
#include <QJsonObject>
#include <QString>

#include <array>
#include <cstdint>

// Sensor states (low 4 bits of the controller's state word).
constexpr int32_t stsTEMP_READING = 0;
constexpr int32_t stsTEMP_OK = 1;
constexpr int32_t stsTEMP_ERRMIN = 2;
constexpr int32_t stsTEMP_ERRMAX = 3;

constexpr int32_t tempCELSIUS = 0;
constexpr int32_t tempFAHRENHEIT = 1;

struct tStatusReading {
    int64_t utcMs = 0; // the computer's time at the answer's end
    int32_t offsetSec = 0;
    QString port = {};
    int32_t address = 0;
    QString model = {}; // empty: never identified
    QString firmware = {};
    int32_t result = 0; // the exchange's result; negative: nothing was read
    int32_t roundTripMs = 0;
    int32_t unit = 0; // tempCELSIUS / tempFAHRENHEIT, of every temperature below
    // How many sensors and relays the reading shows: the model's, none for a
    // failed read. The history keeps all four sensors as the controller
    // gave them.
    int32_t sensors = 0;
    int32_t relays = 0;
    std::array<int32_t, 4> state{-1, -1, -1, -1}; // stsTEMP_*; -1 not read
    std::array<int32_t, 4> value{};               // tenths; meaningful when state is stsTEMP_OK
    std::array<int32_t, 4> min{};                 // the controller's statistics, tenths
    std::array<int32_t, 4> max{};
    std::array<int32_t, 4> relay{-1, -1, -1, -1};     // 1 on, 0 off, -1 not read or not fitted
    std::array<int32_t, 4> operation{-1, -1, -1, -1}; // each relay's operation code; -1 unknown

    bool ok() const { return result > 0; }
    // The time of the reading in its own offset from UTC.
    QDateTime At() const;
    void SetAt(const QDateTime &at);
};

// A reading that could not be taken (the controller was never reached):
// where, when (now) and why.
tStatusReading FailedReading(const QString &port, int32_t address, int32_t result);

// The sensors shown for a model with `relays` relays.
int ShownSensors(int relays);

// A sensor state in the screens' words: "Lendo", "Curto", "Aberto"; empty
// for a valid temperature, "---" for anything else.
QString SensorStateText(int32_t state);
// Sensor `k` as a value label shows it: the temperature with its unit
// ("23,5ºC"), or its state in words.
QString SensorText(const tStatusReading &r, int k);
// A relay state in the screens' words: "Ligado" for 1, else "Desligado".
QString RelayStateText(int32_t on);

// The reading as JSON: data_hora (ISO 8601 with the offset), porta,
// endereco, modelo and firmware (null when unknown), resultado (codigo,
// texto) and, for a reading that succeeded, sensores (sensor, estado, unidade,
// and valor, min, max for a valid temperature) and reles (rele, estado,
// codigo, operacao). Numbers carry a point; states are plain words.
struct tReadingJson {
    bool milliseconds = true; // data_hora to the millisecond, else to the second
    bool unitOnTop = false;   // "unidade" beside "sensores" as well
};
// The published state, as subscribers have it.
inline constexpr tReadingJson publishedJson{.milliseconds = true, .unitOnTop = false};
// tarvik-cli's --json: its scripts have the time to the second and one unit.
inline constexpr tReadingJson cliJson{.milliseconds = false, .unitOnTop = true};
QJsonObject ReadingJson(const tStatusReading &r, const tReadingJson &form);
