#include "status_reading.h"

#include "relay_operations.h"
#include "temperature.h"
#include "u_modbus.h"

#include <QJsonArray>

namespace {

// A sensor's state in the screens' texts and as JSON words it.
struct tSensorState {
    int32_t state;
    const char *text;
    const char *word;
};
constexpr tSensorState sensorStates[] = {
    {stsTEMP_READING, "Lendo", "lendo"},
    {stsTEMP_OK, "", "ok"},
    {stsTEMP_ERRMIN, "Curto", "curto"},
    {stsTEMP_ERRMAX, "Aberto", "aberto"},
};

const tSensorState *stateOf(int32_t state) {
    for (const tSensorState &s : sensorStates)
        if (s.state == state)
            return &s;
    return nullptr;
}

QJsonValue textOrNull(const QString &s) {
    return s.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(s);
}

} // namespace

QDateTime tStatusReading::At() const {
    return QDateTime::fromMSecsSinceEpoch(utcMs, Qt::OffsetFromUTC, offsetSec);
}

void tStatusReading::SetAt(const QDateTime &at) {
    utcMs = at.toMSecsSinceEpoch();
    offsetSec = at.offsetFromUtc();
}

tStatusReading FailedReading(const QString &port, int32_t address, int32_t result) {
    tStatusReading r{.port = port, .address = address, .result = result};
    r.SetAt(QDateTime::currentDateTime());
    return r;
}

int ShownSensors(int relays) {
    return relays >= 3 ? 4 : relays == 2 ? 2 : 1;
}

QString SensorStateText(int32_t state) {
    const tSensorState *s = stateOf(state);
    return s ? QString::fromUtf8(s->text) : QStringLiteral("---");
}

QString SensorText(const tStatusReading &r, int k) {
    const int32_t state = r.state[size_t(k)];
    if (state == stsTEMP_OK)
        return tenthsText(r.value[size_t(k)]) + unitText(r.unit);
    return SensorStateText(state);
}

QString RelayStateText(int32_t on) {
    return on == 1 ? QStringLiteral("Ligado") : QStringLiteral("Desligado");
}

QJsonObject ReadingJson(const tStatusReading &r, const tReadingJson &form) {
    const QDateTime at = r.At();
    QJsonObject o{{QStringLiteral("data_hora"),
                   at.toString(form.milliseconds ? Qt::ISODateWithMs : Qt::ISODate)},
                  {QStringLiteral("porta"), r.port},
                  {QStringLiteral("endereco"), r.address},
                  {QStringLiteral("modelo"), textOrNull(r.model)},
                  {QStringLiteral("firmware"), textOrNull(r.firmware)},
                  {QStringLiteral("resultado"),
                   QJsonObject{{QStringLiteral("codigo"), int(r.result)},
                               {QStringLiteral("texto"),
                                r.ok() ? QStringLiteral("ok") : modbus_strerror(r.result)}}}};
    if (!r.ok())
        return o;
    const QString unit = r.unit == tempCELSIUS ? QStringLiteral("C") : QStringLiteral("F");
    if (form.unitOnTop)
        o.insert(QStringLiteral("unidade"), unit);
    QJsonArray sensors;
    for (int k = 0; k < r.sensors; ++k) {
        const size_t s = size_t(k);
        const tSensorState *state = stateOf(r.state[s]);
        QJsonObject so{{QStringLiteral("sensor"), k + 1},
                       {QStringLiteral("estado"),
                        state ? QLatin1String(state->word) : QLatin1String("desconhecido")},
                       {QStringLiteral("unidade"), unit}};
        // A sensor that is not reading has no temperature, only its state.
        if (r.state[s] == stsTEMP_OK) {
            so.insert(QStringLiteral("valor"), r.value[s] / 10.0);
            so.insert(QStringLiteral("min"), r.min[s] / 10.0);
            so.insert(QStringLiteral("max"), r.max[s] / 10.0);
        }
        sensors.append(so);
    }
    QJsonArray relays;
    for (int k = 0; k < r.relays; ++k) {
        const size_t s = size_t(k);
        relays.append(
            QJsonObject{{QStringLiteral("rele"), k + 1},
                        {QStringLiteral("estado"),
                         r.relay[s] == 1 ? QStringLiteral("ligado") : QStringLiteral("desligado")},
                        {QStringLiteral("codigo"), int(r.operation[s])},
                        {QStringLiteral("operacao"), OpRelayName(r.operation[s])}});
    }
    o.insert(QStringLiteral("sensores"), sensors);
    o.insert(QStringLiteral("reles"), relays);
    return o;
}
