#pragma once

// Where the publisher puts things on the broker: a controller's state and
// availability under the site's prefix, and the discovery messages with which
// a home-automation hub makes entities of its sensors and relays.

#include "alarm_judge.h"
#include "reading.h"

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

// One entity per sensor and per relay of the reading's model, and a
// problem sensor from the alarm topic, under "homeassistant/"; retained by
// the caller. Empty for a failed reading.
std::vector<tMessage> DiscoveryMessages(const QString &prefix, const tReading &reading);
