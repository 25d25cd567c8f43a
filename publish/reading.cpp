#include "reading.h"

#include "relay_operations.h"
#include "u_modbus.h"
#include "u_ondrel.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

constexpr const char *stateWords[] = {"lendo", "ok", "curto", "aberto"};

QJsonValue textOrNull(const QString &s) {
    return s.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(s);
}

} // namespace

int ShownSensors(int relays) {
    return relays >= 3 ? 4 : relays == 2 ? 2 : 1;
}

QString SensorStateWord(int32_t sts) {
    if (sts >= 0 && sts < int32_t(std::size(stateWords)))
        return QLatin1String(stateWords[sts]);
    return QStringLiteral("desconhecido");
}

tReading ReadingOf(const tOndrel &dev, const QString &port, int address, int32_t result,
                   const QDateTime &at) {
    tReading r;
    r.at = at;
    r.port = port;
    r.address = address;
    r.result = result;
    if (dev.Connected()) {
        r.model = dev.Model;
        r.firmware = dev.Fimware;
    }
    if (!r.ok())
        return r;
    r.fahrenheit = dev.Temperature[0].TemperatureType != tempCELSIUS;
    for (int s = 0; s < ShownSensors(dev.nRelay); ++s) {
        const tSensor &t = dev.Temperature[size_t(s)];
        r.sensors.push_back(
            {.sts = t.sts, .value = t.value, .valueMin = t.valueMin, .valueMax = t.valueMax});
    }
    for (int k = 0; k < dev.nRelay; ++k) {
        const tRelay &relay = dev.Relay[size_t(k)];
        r.relays.push_back({.sts = relay.sts, .operation = relay.par[0]});
    }
    return r;
}

QByteArray ReadingJson(const tReading &r) {
    QJsonObject o{{QStringLiteral("data_hora"),
                   r.at.toOffsetFromUtc(r.at.offsetFromUtc()).toString(Qt::ISODateWithMs)},
                  {QStringLiteral("porta"), r.port},
                  {QStringLiteral("endereco"), r.address},
                  {QStringLiteral("modelo"), textOrNull(r.model)},
                  {QStringLiteral("firmware"), textOrNull(r.firmware)},
                  {QStringLiteral("resultado"),
                   QJsonObject{{QStringLiteral("codigo"), int(r.result)},
                               {QStringLiteral("texto"),
                                r.ok() ? QStringLiteral("ok") : modbus_strerror(r.result)}}}};
    if (r.ok()) {
        const QString unit = r.fahrenheit ? QStringLiteral("F") : QStringLiteral("C");
        QJsonArray sensors;
        for (size_t s = 0; s < r.sensors.size(); ++s) {
            const tReadingSensor &t = r.sensors[s];
            QJsonObject so{{QStringLiteral("sensor"), int(s + 1)},
                           {QStringLiteral("estado"), SensorStateWord(t.sts)},
                           {QStringLiteral("unidade"), unit}};
            // A sensor that is not reading has no temperature, only its state.
            if (t.sts == stsTEMP_OK) {
                so.insert(QStringLiteral("valor"), t.value / 10.0);
                so.insert(QStringLiteral("min"), t.valueMin / 10.0);
                so.insert(QStringLiteral("max"), t.valueMax / 10.0);
            }
            sensors.append(so);
        }
        QJsonArray relays;
        for (size_t k = 0; k < r.relays.size(); ++k) {
            const tReadingRelay &relay = r.relays[k];
            relays.append(QJsonObject{{QStringLiteral("rele"), int(k + 1)},
                                      {QStringLiteral("estado"), relay.sts == 1
                                                                     ? QStringLiteral("ligado")
                                                                     : QStringLiteral("desligado")},
                                      {QStringLiteral("codigo"), int(relay.operation)},
                                      {QStringLiteral("operacao"), OpRelayName(relay.operation)}});
        }
        o.insert(QStringLiteral("sensores"), sensors);
        o.insert(QStringLiteral("reles"), relays);
    }
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}
