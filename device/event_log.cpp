#include "event_log.h"

#include "locale_text.h"
#include "relay_operations.h"
#include "temperature.h"

#include <QDate>
#include <QDateTime>
#include <QStringList>
#include <QTime>

#include <algorithm>

// Operations whose relay has no sensor of its own, and the one with an
// auxiliary sensor.
bool LogSensorUsed(int op) {
    return op != opNOP && op != opAUX && op != opTIMER;
}

bool LogAuxSensorUsed(int op) {
    return op == opHEATER;
}

namespace {

// A logged reading as a number and its unit, or no number and its state.
void spreadsheetReading(uint16_t word, bool used, const QLocale &locale, QString &value,
                        QString &unit) {
    if (!used) {
        unit = QStringLiteral("Não usado");
        return;
    }
    const tLogTemp t = decodeLogTemp(word);
    if (t.state != tLogTemp::Valid) {
        unit = logTempText(word, locale);
        return;
    }
    value = CsvNumber(t.tenths / 10.0, 1, locale);
    unit = t.fahrenheit ? QStringLiteral("ºF") : QStringLiteral("ºC");
}

} // namespace

tLogRow LogRowOf(const tSlotLog &slot, const QLocale &locale) {
    const int op = (slot.event >> 4) & 0x0F;
    const QString unused = QStringLiteral("Não usado");
    tLogRow row;
    row.relay = (slot.event >> 2) & 3;
    row.operation =
        op < int(opRELAY.size()) ? OpRelayName(op) : QStringLiteral("Operação %1").arg(op);
    row.status = (slot.event & 3) ? QStringLiteral("Ligado") : QStringLiteral("Desligado");
    row.sensor = LogSensorUsed(op) ? logTempText(slot.sensor1, locale) : unused;
    row.auxSensor = LogAuxSensorUsed(op) ? logTempText(slot.sensor2, locale) : unused;
    const QDate date(slot.year, slot.month, slot.mday);
    const bool dateValid = date.isValid() && slot.year >= 1 && slot.year <= 9999;
    row.date = dateValid ? ShortDateText(date, locale) : QStringLiteral("inválida");
    const QTime time(slot.hour, slot.min, slot.sec);
    row.time = time.isValid() ? LongTimeText(time, locale) : QStringLiteral("inválida");
    spreadsheetReading(slot.sensor1, LogSensorUsed(op), locale, row.sensorValue, row.sensorUnit);
    spreadsheetReading(slot.sensor2, LogAuxSensorUsed(op), locale, row.auxValue, row.auxUnit);
    if (dateValid && time.isValid())
        row.dateTime = CsvDateTime(QDateTime(date, time));
    return row;
}

bool LogSlotWritten(const tSlotLog &s) {
    const bool zeros = s.event == 0 && s.sensor1 == 0 && s.sensor2 == 0 && s.year == 0 &&
                       s.month == 0 && s.mday == 0 && s.hour == 0 && s.min == 0 && s.sec == 0;
    const bool ones = s.event == 0xFF && s.sensor1 == 0xFFFF && s.sensor2 == 0xFFFF &&
                      s.year == 0xFFFF && s.month == 0xFF && s.mday == 0xFF && s.hour == 0xFF &&
                      s.min == 0xFF && s.sec == 0xFF;
    return !zeros && !ones;
}

std::vector<int32_t> LogSlotOrder(int32_t countSlots, int32_t lastSlot, int32_t limit) {
    std::vector<int32_t> order;
    if (countSlots < 1 || lastSlot < 0)
        return order;
    // n + 1 slots for a limit of n, but a slot is an event once only.
    const int64_t wanted = std::min<int64_t>(int64_t(limit) + 1, countSlots);
    int32_t slot = lastSlot;
    for (int64_t i = 0; i < wanted; ++i) {
        order.push_back(slot);
        slot = slot == 0 ? countSlots - 1 : slot - 1;
    }
    return order;
}

QStringList LogCsvHeader() {
    return {QStringLiteral("Relé"),
            QStringLiteral("Operação"),
            QStringLiteral("Status"),
            QStringLiteral("Sensor"),
            QStringLiteral("Sensor Auxiliar"),
            QStringLiteral("Data"),
            QStringLiteral("Hora"),
            QStringLiteral("Data e hora"),
            QStringLiteral("Sensor valor"),
            QStringLiteral("Sensor unidade ou estado"),
            QStringLiteral("Sensor Auxiliar valor"),
            QStringLiteral("Sensor Auxiliar unidade ou estado")};
}

QStringList LogCsvFields(const tLogRow &r) {
    return {QString::number(r.relay + 1),
            r.operation,
            r.status,
            r.sensor,
            r.auxSensor,
            r.date,
            r.time,
            r.dateTime,
            r.sensorValue,
            r.sensorUnit,
            r.auxValue,
            r.auxUnit};
}

std::vector<tSheetCell> LogSheetKinds() {
    using enum tSheetCell;
    return {Integer, Text, Text, Text, Text, Text, Text, DateTime, Number, Text, Number, Text};
}

bool WriteLogSheet(const QString &path, const std::vector<tLogRow> &rows, QString *error) {
    QList<QStringList> lines;
    for (const tLogRow &r : rows)
        lines << LogCsvFields(r);
    return WriteSheet(path, QStringLiteral("LOG dos relés"), LogCsvHeader(), LogSheetKinds(), lines,
                      error);
}

QByteArray LogCsv(const std::vector<tLogRow> &rows) {
    QList<QStringList> lines;
    for (const tLogRow &r : rows)
        lines << LogCsvFields(r);
    return CsvDocument(LogCsvHeader(), lines);
}
