#pragma once

// What the user types where a port goes (-p, TARVIK_PORTS, the window's
// port box): a serial device, or a controller reached over TCP.
//   /dev/ttyUSB0, COM3          a serial port
//   tcp://HOST[:PORT]           Modbus TCP (port 502 unless given)
//   rtu+tcp://HOST:PORT         RTU frames through a transparent gateway
// HOST is a name, an IPv4 address or an IPv6 one in brackets ([::1]).

#include <QString>
#include <QStringList>

#include <cstdint>

enum class tPortKind { Serial, ModbusTcp, RtuOverTcp };

struct tPortName {
    tPortKind kind = tPortKind::Serial;
    QString host{}; // without brackets
    uint16_t port = 0;
    // Why a network name cannot be used (empty when it can, and for serial).
    QString error{};
    bool network() const { return kind != tPortKind::Serial; }
};

constexpr uint16_t modbusTcpPort = 502;

tPortName ParsePortName(const QString &name);

// "HOST:PORT", with an IPv6 host in brackets: how a network controller is
// named to the user beside its address.
QString HostAndPort(const tPortName &p);

// The names in a list separated by ':' or ';', where a network name keeps
// its own colons: "/dev/pts/3:tcp://[::1]:5020;rtu+tcp://gw:4001".
QStringList SplitPortList(const QString &list);
