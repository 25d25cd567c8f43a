#pragma once

// Where the publisher puts things on the broker: a controller's state and
// availability under the site's prefix, and the discovery messages with which
// a home-automation hub makes entities of its sensors and relays.

#include "alarm_judge.h"
#include "status_reading.h"

#include <QByteArray>
#include <QString>

#include <vector>

struct tMessage {
    QString topic;
    QByteArray payload;
};

// "tarvik/" and this computer's name.
QString DefaultTopicPrefix();

// A port name as one topic level: "/dev/ttyUSB0" gives "ttyUSB0",
// "/dev/serial/by-id/x" gives "serial_by-id_x"; a network controller is
// named by its host, with the TCP port unless Modbus TCP's own
// ("tcp://gw1" gives "gw1", "rtu+tcp://gw1:4001" "gw1_4001"); the
// wildcards and the separator never reach a topic.
QString PortTopicLevel(const QString &port);

// PREFIX/<port>/<address>/estado and .../disponivel.
QString StateTopic(const QString &prefix, const QString &port, int address);
QString AvailabilityTopic(const QString &prefix, const QString &port, int address);
// .../alarme: retained, the alarms open at the controller now.
QString AlarmTopic(const QString &prefix, const QString &port, int address);

// The alarm topic's JSON, compact: ativo, desde (the oldest opening, null
// when none), extremo (the oldest range alarm's, null when none), unidade
// and condicoes (sensor, condicao, desde, extremo of each open alarm).
// Times in ISO 8601 with `offsetSec`.
QByteArray AlarmJson(const std::vector<tAlarmActive> &open, int32_t offsetSec);
inline const QByteArray availableOnline = "online";
inline const QByteArray availableOffline = "offline";

// Why `prefix` cannot be a topic prefix (wildcards, a separator at either
// end, a level the broker keeps to itself, too long); empty when it can.
QString TopicPrefixProblem(const QString &prefix);
// The longest prefix taken, in bytes of UTF-8: far below what a topic may
// hold, so every topic made under it fits.
constexpr int maxPrefixBytes = 1024;

// Where a hub looks for entities unless told otherwise.
QString DefaultDiscoveryPrefix();

// The name that stays when the system numbers its adapters anew: the
// /dev/serial/by-id link of `port` when one points at it (the adapter's
// make and serial number), else `port` itself.
QString StablePortName(const QString &port,
                       const QString &byIdFolder = QStringLiteral("/dev/serial/by-id"));

// The identifier of one controller's device and entities on the hub: from
// the whole prefix, the port's stable name and the address, so that two
// prefixes never share one and a renumbered adapter keeps its entities.
QString DiscoveryNode(const QString &prefix, const QString &stablePort, int address);

// One entity per sensor and per relay of the reading's model, and a
// problem sensor from the alarm topic, under `discoveryPrefix`; retained by the caller. Empty for a
// failed reading. The reading's port is the one topics are made of; `stablePort` names it for the
// entities.
std::vector<tMessage> DiscoveryMessages(const QString &prefix, const tStatusReading &reading,
                                        const QString &discoveryPrefix = DefaultDiscoveryPrefix(),
                                        const QString &stablePort = QString());
// Empty retained messages for the topics earlier versions gave these
// entities (under "homeassistant/", named after the port as numbered then),
// so that the hub drops the entities they made instead of showing them
// unavailable beside the new ones.
std::vector<tMessage> FormerDiscoveryRemovals(const QString &prefix, const tStatusReading &reading);

// The state topic's message: the reading's JSON, compact, in UTF-8.
QByteArray StatePayload(const tStatusReading &reading);
