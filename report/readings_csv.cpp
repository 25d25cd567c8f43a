#include "readings_csv.h"

#include "csv.h"
#include "temperature.h"
#include "u_ondrel.h"
#include "whole_file.h"

#include <QDateTime>
#include <QTimeZone>

#include <algorithm>

namespace {
QString SensorCell(int32_t state, int32_t value) {
    return state == stsTEMP_OK ? CsvNumber(value / 10.0, 1) : SensorStateText(state);
}
} // namespace

QStringList ReadingsCsvHeader() {
    return {QStringLiteral("Data e hora"),
            QStringLiteral("UTC"),
            QStringLiteral("Sensor 1"),
            QStringLiteral("Sensor 2"),
            QStringLiteral("Sensor 3"),
            QStringLiteral("Sensor 4"),
            QStringLiteral("Unidade"),
            QStringLiteral("Relé 1"),
            QStringLiteral("Relé 2"),
            QStringLiteral("Relé 3"),
            QStringLiteral("Relé 4"),
            QStringLiteral("Resultado"),
            QStringLiteral("Tempo de resposta (ms)"),
            QStringLiteral("Relógio")};
}

QString ClockStepText(int64_t fromMs, int32_t offsetSec) {
    const QDateTime at =
        QDateTime::fromMSecsSinceEpoch(fromMs, QTimeZone::utc()).toTimeZone(QTimeZone(offsetSec));
    return QStringLiteral("voltou de %1").arg(CsvDateTime(at));
}

QStringList ReadingsCsvFields(const tStatusReading &r, int64_t clockStepFromMs) {
    const QDateTime utc = QDateTime::fromMSecsSinceEpoch(r.utcMs, QTimeZone::utc());
    const QDateTime local = utc.toTimeZone(QTimeZone(r.offsetSec));
    QStringList f{CsvDateTime(local), utc.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzzZ"))};
    for (size_t k = 0; k < 4; ++k)
        f << SensorCell(r.state[k], r.value[k]);
    f << unitText(r.unit);
    for (size_t k = 0; k < 4; ++k)
        f << (r.relay[k] < 0    ? QString()
              : r.relay[k] == 1 ? QStringLiteral("Ligado")
                                : QStringLiteral("Desligado"));
    f << QString::number(r.result) << QString::number(r.roundTripMs);
    f << (clockStepFromMs ? ClockStepText(clockStepFromMs, r.offsetSec) : QString());
    return f;
}

std::vector<tSheetCell> ReadingsSheetKinds() {
    using enum tSheetCell;
    return {DateTime, DateTime, Number, Number, Number,  Number,  Text,
            Text,     Text,     Text,   Text,   Integer, Integer, Text};
}

QStringList ReadingsSheetHeader(const std::vector<tStatusReading> &readings) {
    QStringList header = ReadingsCsvHeader();
    const bool oneUnit =
        !readings.empty() && std::all_of(readings.begin(), readings.end(), [&](const auto &r) {
            return r.unit == readings.front().unit;
        });
    if (oneUnit)
        for (int k = 0; k < 4; ++k)
            header[2 + k] += QStringLiteral(" (%1)").arg(unitText(readings.front().unit));
    return header;
}

bool WriteReadingsSheet(tHistoryStore &store, int64_t controller, int64_t fromMs, int64_t toMs,
                        const QString &path, QString *error) {
    std::vector<int64_t> steps;
    const std::vector<tStatusReading> readings =
        store.ReadingsAsStored(controller, fromMs, toMs, &steps);
    if (store.LastFailed()) {
        *error = store.Message();
        return false;
    }
    QList<QStringList> rows;
    for (size_t i = 0; i < readings.size(); ++i)
        rows << ReadingsCsvFields(readings[i], steps[i]);
    return WriteSheet(path, QStringLiteral("Leituras"), ReadingsSheetHeader(readings),
                      ReadingsSheetKinds(), rows, error);
}

QString SensorFailuresText(const tHistDay &day) {
    QStringList parts;
    if (day.open > 0)
        parts
            << QStringLiteral("aberto em %1 leitura%2").arg(day.open).arg(day.open > 1 ? "s" : "");
    if (day.shorted > 0)
        parts << QStringLiteral("em curto em %1 leitura%2")
                     .arg(day.shorted)
                     .arg(day.shorted > 1 ? "s" : "");
    return parts.join(QStringLiteral(", "));
}

bool WriteReadingsCsv(tHistoryStore &store, int64_t controller, int64_t fromMs, int64_t toMs,
                      const QString &path, QString *error) {
    std::vector<int64_t> steps;
    const std::vector<tStatusReading> readings =
        store.ReadingsAsStored(controller, fromMs, toMs, &steps);
    if (store.LastFailed()) {
        *error = store.Message();
        return false;
    }
    QByteArray csv = CsvStart(tCsvTarget::Spreadsheet) + CsvLine(ReadingsCsvHeader());
    for (size_t i = 0; i < readings.size(); ++i)
        csv += CsvLine(ReadingsCsvFields(readings[i], steps[i]));
    return WriteWholeFile(path, csv, error);
}
