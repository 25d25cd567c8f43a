#include "readings_csv.h"

#include "csv.h"
#include "temperature.h"
#include "u_ondrel.h"
#include "whole_file.h"

#include <QDateTime>
#include <QTimeZone>

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
            QStringLiteral("Tempo de resposta (ms)")};
}

QStringList ReadingsCsvFields(const tStatusReading &r) {
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
    return f;
}

bool WriteReadingsCsv(tHistoryStore &store, int64_t controller, int64_t fromMs, int64_t toMs,
                      const QString &path, QString *error) {
    const std::vector<tStatusReading> readings = store.Readings(controller, fromMs, toMs);
    if (store.LastFailed()) {
        *error = store.Message();
        return false;
    }
    QByteArray csv = CsvStart(tCsvTarget::Spreadsheet) + CsvLine(ReadingsCsvHeader());
    for (const tStatusReading &r : readings)
        csv += CsvLine(ReadingsCsvFields(r));
    return WriteWholeFile(path, csv, error);
}
