#include "topics.h"

#include "port_name.h"
#include "u_ondrel.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSysInfo>

namespace {

// Discovery node and object ids allow letters, digits, '_' and '-' only.
QString idText(QString s) {
    static const QRegularExpression other(QStringLiteral("[^A-Za-z0-9_-]"));
    return s.replace(other, QStringLiteral("_"));
}

QString base(const QString &prefix, const QString &port, int address) {
    return QStringLiteral("%1/%2/%3").arg(prefix, PortTopicLevel(port)).arg(address);
}

// The value of sensor or relay `number` from the state JSON; "None" (the
// hub's unknown) when the reading failed or the sensor has no temperature.
QString templateOf(const char *list, const char *key, int number, const char *field) {
    return QStringLiteral("{% for x in value_json.%1 | default([]) if x.%2 == %3 and x.%4 is "
                          "defined %}{{ x.%4 }}{% else %}None{% endfor %}")
        .arg(QLatin1String(list), QLatin1String(key))
        .arg(number)
        .arg(QLatin1String(field));
}

} // namespace

QString DefaultTopicPrefix() {
    QString host = QSysInfo::machineHostName();
    if (host.isEmpty())
        host = QStringLiteral("localhost");
    return QStringLiteral("tarvik/") + PortTopicLevel(host);
}

QString PortTopicLevel(const QString &port) {
    QString level = port;
    const tPortName name = ParsePortName(port);
    if (name.network() && name.error.isEmpty())
        level = name.kind == tPortKind::ModbusTcp && name.port == modbusTcpPort
                    ? name.host
                    : QStringLiteral("%1_%2").arg(name.host).arg(name.port);
    else if (level.startsWith(QLatin1String("/dev/")))
        level = level.mid(5);
    for (QChar &c : level)
        if (c == u'/' || c == u'+' || c == u'#' || c.isSpace() || c.unicode() < 0x20)
            c = u'_';
    return level.isEmpty() ? QStringLiteral("_") : level;
}

QString StateTopic(const QString &prefix, const QString &port, int address) {
    return base(prefix, port, address) + QStringLiteral("/estado");
}

QString AvailabilityTopic(const QString &prefix, const QString &port, int address) {
    return base(prefix, port, address) + QStringLiteral("/disponivel");
}

QString AlarmTopic(const QString &prefix, const QString &port, int address) {
    return base(prefix, port, address) + QStringLiteral("/alarme");
}

QByteArray AlarmJson(const std::vector<tAlarmActive> &open, int32_t offsetSec) {
    const auto iso = [offsetSec](int64_t ms) {
        return QDateTime::fromMSecsSinceEpoch(ms, Qt::OffsetFromUTC, offsetSec)
            .toString(Qt::ISODate);
    };
    const auto tenths = [](const std::optional<int32_t> &v) {
        return v ? QJsonValue(*v / 10.0) : QJsonValue();
    };
    QJsonArray conditions;
    const tAlarmActive *oldest = nullptr, *oldestRange = nullptr;
    for (const tAlarmActive &a : open) {
        conditions.append(QJsonObject{{QStringLiteral("sensor"), a.sensor},
                                      {QStringLiteral("condicao"), AlarmConditionWord(a.condition)},
                                      {QStringLiteral("desde"), iso(a.startMs)},
                                      {QStringLiteral("extremo"), tenths(a.extreme)}});
        if (!oldest || a.startMs < oldest->startMs)
            oldest = &a;
        if (a.extreme && (!oldestRange || a.startMs < oldestRange->startMs))
            oldestRange = &a;
    }
    QJsonObject o{
        {QStringLiteral("ativo"), !open.empty()},
        {QStringLiteral("desde"), oldest ? QJsonValue(iso(oldest->startMs)) : QJsonValue()},
        {QStringLiteral("extremo"), oldestRange ? tenths(oldestRange->extreme) : QJsonValue()},
        {QStringLiteral("unidade"), oldestRange && oldestRange->unit == tempFAHRENHEIT
                                        ? QStringLiteral("°F")
                                        : QStringLiteral("°C")},
        {QStringLiteral("condicoes"), conditions}};
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

std::vector<tMessage> DiscoveryMessages(const QString &prefix, const tReading &r) {
    std::vector<tMessage> out;
    if (!r.ok())
        return out;
    const QString node = idText(base(prefix, r.port, r.address));
    const QJsonObject device{{QStringLiteral("identifiers"), QJsonArray{node}},
                             {QStringLiteral("name"), QStringLiteral("Ondrel %1 %2 (%3)")
                                                          .arg(r.model)
                                                          .arg(r.address)
                                                          .arg(PortTopicLevel(r.port))},
                             {QStringLiteral("model"), r.model},
                             {QStringLiteral("sw_version"), r.firmware}};
    const QJsonObject common{
        {QStringLiteral("state_topic"), StateTopic(prefix, r.port, r.address)},
        {QStringLiteral("availability_topic"), AvailabilityTopic(prefix, r.port, r.address)},
        {QStringLiteral("payload_available"), QString::fromLatin1(availableOnline)},
        {QStringLiteral("payload_not_available"), QString::fromLatin1(availableOffline)},
        {QStringLiteral("device"), device}};
    auto add = [&](const char *component, const QString &object, QJsonObject config) {
        for (auto it = common.begin(); it != common.end(); ++it)
            if (!config.contains(it.key()))
                config.insert(it.key(), it.value());
        config.insert(QStringLiteral("unique_id"), node + u'_' + object);
        out.push_back({QStringLiteral("homeassistant/%1/%2/%3/config")
                           .arg(QLatin1String(component), node, object),
                       QJsonDocument(config).toJson(QJsonDocument::Compact)});
    };
    // The hub wants the degree sign in a temperature's unit.
    const QString unit = r.fahrenheit ? QStringLiteral("\u00B0F") : QStringLiteral("\u00B0C");
    for (size_t s = 1; s <= r.sensors.size(); ++s)
        add("sensor", QStringLiteral("sensor%1").arg(s),
            {{QStringLiteral("name"), QStringLiteral("Sensor %1").arg(s)},
             {QStringLiteral("device_class"), QStringLiteral("temperature")},
             {QStringLiteral("state_class"), QStringLiteral("measurement")},
             {QStringLiteral("unit_of_measurement"), unit},
             {QStringLiteral("value_template"),
              templateOf("sensores", "sensor", int(s), "valor")}});
    for (size_t k = 1; k <= r.relays.size(); ++k)
        add("binary_sensor", QStringLiteral("rele%1").arg(k),
            {{QStringLiteral("name"), QStringLiteral("Relé %1").arg(k)},
             {QStringLiteral("device_class"), QStringLiteral("power")},
             {QStringLiteral("payload_on"), QStringLiteral("ligado")},
             {QStringLiteral("payload_off"), QStringLiteral("desligado")},
             {QStringLiteral("value_template"), templateOf("reles", "rele", int(k), "estado")}});
    add("binary_sensor", QStringLiteral("alarme"),
        {{QStringLiteral("name"), QStringLiteral("Alarme")},
         {QStringLiteral("device_class"), QStringLiteral("problem")},
         {QStringLiteral("state_topic"), AlarmTopic(prefix, r.port, r.address)},
         {QStringLiteral("value_template"),
          QStringLiteral("{{ 'ON' if value_json.ativo else 'OFF' }}")},
         {QStringLiteral("json_attributes_topic"), AlarmTopic(prefix, r.port, r.address)}});
    return out;
}
