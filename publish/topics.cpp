#include "topics.h"

#include "port_name.h"
#include "relay_operations.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
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

// Sensors and relays as the discovery names them.
constexpr int maxEntities = 4;

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

QByteArray StatePayload(const tStatusReading &reading) {
    return QJsonDocument(ReadingJson(reading, publishedJson)).toJson(QJsonDocument::Compact);
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

QString TopicPrefixProblem(const QString &prefix) {
    if (prefix.isEmpty())
        return QStringLiteral("vazio");
    if (prefix.contains(u'+') || prefix.contains(u'#'))
        return QStringLiteral("sem + nem #");
    if (prefix.startsWith(u'/') || prefix.endsWith(u'/'))
        return QStringLiteral("sem / no começo ou no fim");
    // The broker keeps $SYS and any other $ level for itself and drops
    // what a client publishes there.
    if (prefix.startsWith(u'$'))
        return QStringLiteral("um prefixo que começa por $ é do próprio broker, que descarta o "
                              "que se publica ali");
    if (prefix.contains(QChar(0)))
        return QStringLiteral("sem o caractere nulo");
    if (const qsizetype bytes = prefix.toUtf8().size(); bytes > maxPrefixBytes)
        return QStringLiteral("no máximo %1 bytes (tem %2)").arg(maxPrefixBytes).arg(bytes);
    return {};
}

QString DefaultDiscoveryPrefix() {
    return QStringLiteral("homeassistant");
}

QString StablePortName(const QString &port, const QString &byIdFolder) {
    if (QFileInfo(port).absolutePath() == QDir(byIdFolder).absolutePath())
        return port;
    const QString device = QFileInfo(port).canonicalFilePath();
    if (device.isEmpty())
        return port;
    const QDir folder(byIdFolder);
    for (const QFileInfo &link : folder.entryInfoList(QDir::System | QDir::Files, QDir::Name))
        if (link.canonicalFilePath() == device)
            return link.absoluteFilePath();
    return port;
}

QString DiscoveryNode(const QString &prefix, const QString &stablePort, int address) {
    // A readable part, then a digest of the exact names: "loja/1", "loja_1"
    // and "loja 1" read alike but are three nodes.
    QByteArray exact = prefix.toUtf8();
    exact += '\0';
    exact += stablePort.toUtf8();
    exact += '\0';
    exact += QByteArray::number(address);
    const QByteArray digest =
        QCryptographicHash::hash(exact, QCryptographicHash::Sha256).toHex().left(10);
    return QStringLiteral("%1_%2_%3")
        .arg(idText(prefix).left(64))
        .arg(address)
        .arg(QString::fromLatin1(digest));
}

std::vector<tMessage> DiscoveryMessages(const QString &prefix, const tStatusReading &r,
                                        const QString &discoveryPrefix, const QString &stablePort) {
    std::vector<tMessage> out;
    if (!r.ok())
        return out;
    const QString node =
        DiscoveryNode(prefix, stablePort.isEmpty() ? r.port : stablePort, r.address);
    // The site (the prefix) first: shops wired alike get devices told apart.
    const QJsonObject device{
        {QStringLiteral("identifiers"), QJsonArray{node}},
        {QStringLiteral("name"), QStringLiteral("%1 %2 %3").arg(prefix, r.model).arg(r.address)},
        {QStringLiteral("manufacturer"), QStringLiteral("Ondrel")},
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
        // The hub's entity id, from the prefix and the address alone.
        config.insert(
            QStringLiteral("object_id"),
            QStringLiteral("%1_%2_%3").arg(idText(prefix).left(64)).arg(r.address).arg(object));
        out.push_back({QStringLiteral("%1/%2/%3/%4/config")
                           .arg(discoveryPrefix, QLatin1String(component), node, object),
                       QJsonDocument(config).toJson(QJsonDocument::Compact)});
    };
    // The hub wants the degree sign in a temperature's unit.
    const QString unit =
        r.unit == tempFAHRENHEIT ? QStringLiteral("\u00B0F") : QStringLiteral("\u00B0C");
    for (int s = 1; s <= std::min(r.sensors, int(maxEntities)); ++s)
        add("sensor", QStringLiteral("sensor%1").arg(s),
            {{QStringLiteral("name"), QStringLiteral("Sensor %1").arg(s)},
             {QStringLiteral("device_class"), QStringLiteral("temperature")},
             {QStringLiteral("state_class"), QStringLiteral("measurement")},
             {QStringLiteral("unit_of_measurement"), unit},
             {QStringLiteral("value_template"),
              templateOf("sensores", "sensor", int(s), "valor")}});
    // A relay runs what its operation says (cooling, defrost, a fan...).
    for (int k = 1; k <= std::min(r.relays, int(maxEntities)); ++k)
        add("binary_sensor", QStringLiteral("rele%1").arg(k),
            {{QStringLiteral("name"),
              QStringLiteral("Relé %1 (%2)").arg(k).arg(OpRelayName(r.operation[size_t(k - 1)]))},
             {QStringLiteral("device_class"), QStringLiteral("running")},
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

std::vector<tMessage> FormerDiscoveryRemovals(const QString &prefix, const tStatusReading &r) {
    std::vector<tMessage> out;
    const QString node = idText(base(prefix, r.port, r.address));
    for (int k = 1; k <= maxEntities; ++k) {
        out.push_back(
            {QStringLiteral("homeassistant/sensor/%1/sensor%2/config").arg(node).arg(k), {}});
        out.push_back(
            {QStringLiteral("homeassistant/binary_sensor/%1/rele%2/config").arg(node).arg(k), {}});
    }
    return out;
}
