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

// A sensor's state word in the status screen's texts, and as JSON states it.
struct tSensorState {
    int32_t sts;
    const char *text;
    const char *word;
};
constexpr tSensorState sensorStates[] = {
    {stsTEMP_READING, "Lendo", "lendo"},
    {stsTEMP_OK, "", "ok"},
    {stsTEMP_ERRMIN, "Curto", "curto"},
    {stsTEMP_ERRMAX, "Aberto", "aberto"},
};

const tSensorState *stateOf(int32_t sts) {
    for (const tSensorState &s : sensorStates)
        if (s.sts == sts)
            return &s;
    return nullptr;
}

// The value label of the status screen: the reading with its unit, or the state.
QString sensorText(const tSensor &s) {
    if (s.sts == stsTEMP_OK)
        return tenthsText(s.value) + unitText(s.TemperatureType);
    const tSensorState *state = stateOf(s.sts);
    return state ? QString::fromUtf8(state->text) : QStringLiteral("---");
}

QString relayText(const tRelay &r) {
    return r.sts == 1 ? QStringLiteral("Ligado") : QStringLiteral("Desligado");
}

// A count as a spreadsheet reads a number: one decimal, the locale's comma.
QString csvNumber(int32_t tenths) {
    return CsvNumber(tenths / 10.0, 1);
}

QString jsonUnit(int32_t temperatureType) {
    return temperatureType == tempCELSIUS ? QStringLiteral("C") : QStringLiteral("F");
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

int SensorCount(int relays) {
    return relays >= 3 ? 4 : relays == 2 ? 2 : 1;
}

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

QString StatusText(int id, const tOndrel &dev) {
    QStringList parts;
    for (int s = 0; s < SensorCount(dev.nRelay); ++s) {
        const tSensor &t = dev.Temperature[size_t(s)];
        QString part = QStringLiteral("Sensor %1: %2").arg(s + 1).arg(sensorText(t));
        if (t.sts == stsTEMP_OK) {
            const QString unit = unitText(t.TemperatureType);
            part += QStringLiteral(" (Min: %1%2, Max: %3%2)")
                        .arg(tenthsText(t.valueMin), unit, tenthsText(t.valueMax));
        }
        parts << part;
    }
    for (int r = 0; r < dev.nRelay; ++r) {
        const tRelay &relay = dev.Relay[size_t(r)];
        parts << QStringLiteral("Relé %1: %2 (%3)")
                     .arg(r + 1)
                     .arg(relayText(relay), OpRelayName(relay.par[0]));
    }
    return prefixed(id, parts.join(QStringLiteral("  ")));
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
QStringList StatusCsvFields(int id, const tOndrel &dev, const QDateTime &at) {
    QStringList f = {ShortDateText(at.date()), LongTimeText(at.time()), QString::number(id),
                     unitText(dev.Temperature[0].TemperatureType)};
    for (int s = 0; s < 4; ++s) {
        const tSensor &t = dev.Temperature[size_t(s)];
        if (s >= SensorCount(dev.nRelay))
            f << QString() << QString() << QString();
        else if (t.sts == stsTEMP_OK)
            f << csvNumber(t.value) << csvNumber(t.valueMin) << csvNumber(t.valueMax);
        else
            f << sensorText(t) << QString() << QString();
    }
    for (int r = 0; r < 4; ++r) {
        const tRelay &relay = dev.Relay[size_t(r)];
        if (r < dev.nRelay)
            f << relayText(relay) << OpRelayName(relay.par[0]);
        else
            f << QString() << QString();
    }
    f << CsvDateTime(at);
    return f;
}

QJsonObject StatusJson(int id, const tOndrel &dev, const QDateTime &at) {
    QJsonArray sensors;
    for (int s = 0; s < SensorCount(dev.nRelay); ++s) {
        const tSensor &t = dev.Temperature[size_t(s)];
        const tSensorState *state = stateOf(t.sts);
        QJsonObject o{{QStringLiteral("sensor"), s + 1},
                      {QStringLiteral("estado"),
                       state ? QLatin1String(state->word) : QLatin1String("desconhecido")}};
        if (t.sts == stsTEMP_OK) {
            o.insert(QStringLiteral("valor"), t.value / 10.0);
            o.insert(QStringLiteral("min"), t.valueMin / 10.0);
            o.insert(QStringLiteral("max"), t.valueMax / 10.0);
        }
        sensors.append(o);
    }
    QJsonArray relays;
    for (int r = 0; r < dev.nRelay; ++r) {
        const tRelay &relay = dev.Relay[size_t(r)];
        relays.append(
            QJsonObject{{QStringLiteral("rele"), r + 1},
                        {QStringLiteral("estado"),
                         relay.sts == 1 ? QStringLiteral("ligado") : QStringLiteral("desligado")},
                        {QStringLiteral("codigo"), relay.par[0]},
                        {QStringLiteral("operacao"), OpRelayName(relay.par[0])}});
    }
    return {{QStringLiteral("endereco"), id},
            {QStringLiteral("data_hora"), IsoTime(at)},
            {QStringLiteral("modelo"), dev.Model},
            {QStringLiteral("unidade"), jsonUnit(dev.Temperature[0].TemperatureType)},
            {QStringLiteral("sensores"), sensors},
            {QStringLiteral("reles"), relays}};
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
