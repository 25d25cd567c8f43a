#include "cli_output.h"

#include "csv.h"
#include "locale_text.h"
#include "relay_operations.h"
#include "temperature.h"

#include <QJsonArray>
#include <QLocale>

#include <iterator>

namespace {

// The clock page's weekdays, 0 Sunday.
constexpr const char *weekdays[] = {"Domingo",      "Segunda-feira", "Terça-feira", "Quarta-feira",
                                    "Quinta-feira", "Sexta-feira",   "Sábado"};

// A count as a spreadsheet reads a number: one decimal, the locale's comma.
QString csvNumber(int32_t tenths) {
    return CsvNumber(tenths / 10.0, 1);
}

QString prefixed(int id, const QString &text) {
    return QStringLiteral("%1: %2").arg(id).arg(text);
}

QJsonValue logSensorJson(uint16_t word, bool used) {
    if (!used)
        return QJsonValue::Null;
    static const char *const states[] = {"ok", "aberto", "curto", "inicializando"};
    const tLogTemp t = decodeLogTemp(word);
    QJsonObject o{{QStringLiteral("estado"), QLatin1String(states[t.state])}};
    if (t.state == tLogTemp::Valid) {
        o.insert(QStringLiteral("valor"), t.tenths / 10.0);
        o.insert(QStringLiteral("unidade"),
                 t.fahrenheit ? QStringLiteral("F") : QStringLiteral("C"));
    }
    return o;
}

} // namespace

QDateTime ClockDateTime(const tRTC &rtc) {
    const QDate date(rtc.Year, rtc.Month, rtc.Day);
    const QTime time(rtc.Hour, rtc.Minute, rtc.Second);
    if (!date.isValid() || rtc.Year < 1 || !time.isValid())
        return QDateTime();
    return QDateTime(date, time);
}

QString ClockText(const tRTC &rtc) {
    const QDate date(rtc.Year, rtc.Month, rtc.Day);
    const QTime time(rtc.Hour, rtc.Minute, rtc.Second);
    QString text =
        date.isValid() && rtc.Year >= 1 ? ShortDateText(date) : QStringLiteral("data inválida");
    text += u' ' + (time.isValid() ? LongTimeText(time) : QStringLiteral("hora inválida"));
    if (rtc.Weekday < std::size(weekdays))
        text += QStringLiteral(" (%1)").arg(QString::fromUtf8(weekdays[rtc.Weekday]));
    return text;
}

QString InfoText(int id, const tOndrel &dev) {
    QStringList operations;
    for (int r = 0; r < dev.nRelay; ++r)
        operations << OpRelayName(dev.Relay[size_t(r)].par[0]);
    return prefixed(id, QStringLiteral("modelo %1, firmware %2, %3 %4 (%5), %6")
                            .arg(dev.Model, dev.Fimware)
                            .arg(dev.nRelay)
                            .arg(dev.nRelay == 1 ? QStringLiteral("relé") : QStringLiteral("relés"),
                                 operations.join(QStringLiteral(", ")),
                                 dev.HaveRTC ? QStringLiteral("relógio ") + ClockText(dev.RTC)
                                             : QStringLiteral("sem relógio")));
}

QJsonObject InfoJson(int id, const tOndrel &dev) {
    QJsonArray operations;
    for (int r = 0; r < dev.nRelay; ++r) {
        const int32_t code = dev.Relay[size_t(r)].par[0];
        operations.append(QJsonObject{{QStringLiteral("rele"), r + 1},
                                      {QStringLiteral("codigo"), code},
                                      {QStringLiteral("operacao"), OpRelayName(code)}});
    }
    const QDateTime clock = dev.HaveRTC ? ClockDateTime(dev.RTC) : QDateTime();
    return {{QStringLiteral("endereco"), id},
            {QStringLiteral("modelo"), dev.Model},
            {QStringLiteral("firmware"), dev.Fimware},
            {QStringLiteral("reles"), dev.nRelay},
            {QStringLiteral("operacoes"), operations},
            {QStringLiteral("tem_relogio"), dev.HaveRTC},
            {QStringLiteral("relogio"), clock.isValid() ? QJsonValue(clock.toString(Qt::ISODate))
                                                        : QJsonValue(QJsonValue::Null)}};
}

QString StatusText(const tStatusReading &r) {
    QStringList parts;
    for (int s = 0; s < r.sensors; ++s) {
        QString part = QStringLiteral("Sensor %1: %2").arg(s + 1).arg(SensorText(r, s));
        if (r.state[size_t(s)] == stsTEMP_OK) {
            const QString unit = unitText(r.unit);
            part += QStringLiteral(" (Min: %1%2, Max: %3%2)")
                        .arg(tenthsText(r.min[size_t(s)]), unit, tenthsText(r.max[size_t(s)]));
        }
        parts << part;
    }
    for (int k = 0; k < r.relays; ++k)
        parts << QStringLiteral("Relé %1: %2 (%3)")
                     .arg(k + 1)
                     .arg(RelayStateText(r.relay[size_t(k)]), OpRelayName(r.operation[size_t(k)]));
    return prefixed(r.address, parts.join(QStringLiteral("  ")));
}

QStringList StatusCsvHeader() {
    QStringList h = {QStringLiteral("Data"), QStringLiteral("Hora"), QStringLiteral("Endereço"),
                     QStringLiteral("Unidade")};
    for (int s = 1; s <= 4; ++s)
        h << QStringLiteral("Sensor %1").arg(s) << QStringLiteral("Min %1").arg(s)
          << QStringLiteral("Max %1").arg(s);
    for (int r = 1; r <= 4; ++r)
        h << QStringLiteral("Relé %1").arg(r) << QStringLiteral("Operação %1").arg(r);
    // Last, so that the columns scripts already read keep their places.
    h << QStringLiteral("Data e hora");
    return h;
}

// Sensors and relays the model lacks leave their cells empty, so every line
// has the header's columns whatever the model.
QStringList StatusCsvFields(const tStatusReading &r) {
    const QDateTime at = r.At();
    QStringList f = {ShortDateText(at.date()), LongTimeText(at.time()), QString::number(r.address),
                     unitText(r.unit)};
    for (int s = 0; s < 4; ++s) {
        const size_t k = size_t(s);
        if (s >= r.sensors)
            f << QString() << QString() << QString();
        else if (r.state[k] == stsTEMP_OK)
            f << csvNumber(r.value[k]) << csvNumber(r.min[k]) << csvNumber(r.max[k]);
        else
            f << SensorText(r, s) << QString() << QString();
    }
    for (int k = 0; k < 4; ++k) {
        if (k < r.relays)
            f << RelayStateText(r.relay[size_t(k)]) << OpRelayName(r.operation[size_t(k)]);
        else
            f << QString() << QString();
    }
    f << CsvDateTime(at);
    return f;
}

QJsonObject StatusJson(const tStatusReading &r) {
    return ReadingJson(r, cliJson);
}

QString LogText(int id, const tLogEntry &e) {
    const tLogRow &r = e.row;
    return prefixed(id, QStringList{QStringLiteral("Relé %1").arg(r.relay + 1), r.operation,
                                    r.status, r.sensor, r.auxSensor, r.date, r.time}
                            .join(QStringLiteral("  ")));
}

QStringList LogCsvHeaderOfAddresses() {
    return QStringList{QStringLiteral("Endereço")} + LogCsvHeader();
}

std::vector<tSheetCell> LogSheetKindsOfAddresses() {
    std::vector<tSheetCell> kinds{tSheetCell::Integer};
    for (tSheetCell k : LogSheetKinds())
        kinds.push_back(k);
    return kinds;
}

QStringList LogCsvFieldsOf(int id, const tLogEntry &entry) {
    return QStringList{QString::number(id)} + LogCsvFields(entry.row);
}

QJsonObject LogJson(int id, const std::vector<tLogEntry> &entries) {
    QJsonArray events;
    for (const tLogEntry &e : entries) {
        const tSlotLog &s = e.raw;
        const int op = (s.event >> 4) & 0x0F;
        const QDate date(s.year, s.month, s.mday);
        const QTime time(s.hour, s.min, s.sec);
        const bool dateValid = date.isValid() && s.year >= 1;
        events.append(QJsonObject{
            {QStringLiteral("slot"), e.slot},
            {QStringLiteral("rele"), e.row.relay + 1},
            {QStringLiteral("codigo"), op},
            {QStringLiteral("operacao"), e.row.operation},
            {QStringLiteral("estado"),
             (s.event & 3) ? QStringLiteral("ligado") : QStringLiteral("desligado")},
            {QStringLiteral("sensor"), logSensorJson(s.sensor1, LogSensorUsed(op))},
            {QStringLiteral("sensor_auxiliar"), logSensorJson(s.sensor2, LogAuxSensorUsed(op))},
            {QStringLiteral("data"),
             dateValid ? QJsonValue(date.toString(Qt::ISODate)) : QJsonValue(QJsonValue::Null)},
            {QStringLiteral("hora"), time.isValid() ? QJsonValue(time.toString(Qt::ISODate))
                                                    : QJsonValue(QJsonValue::Null)}});
    }
    return {{QStringLiteral("endereco"), id}, {QStringLiteral("eventos"), events}};
}

QString IsoTime(const QDateTime &at) {
    return at.toOffsetFromUtc(at.offsetFromUtc()).toString(Qt::ISODate);
}
