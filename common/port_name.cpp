#include "port_name.h"

#include <algorithm>

namespace {

struct tScheme {
    const char *prefix;
    tPortKind kind;
    bool portRequired;
};

constexpr tScheme schemes[] = {
    {"tcp://", tPortKind::ModbusTcp, false},
    {"rtu+tcp://", tPortKind::RtuOverTcp, true},
};

const tScheme *SchemeOf(QStringView text) {
    for (const tScheme &s : schemes)
        if (text.startsWith(QLatin1String(s.prefix), Qt::CaseInsensitive))
            return &s;
    return nullptr;
}

// The length of the host and optional ":PORT" at the start of `rest`: a
// bracketed IPv6 address, or a name up to the next ':', ';' or '/'.
qsizetype AuthorityLength(QStringView rest) {
    qsizetype i = 0;
    if (rest.startsWith(u'[')) {
        i = rest.indexOf(u']');
        i = i < 0 ? rest.size() : i + 1;
    } else {
        while (i < rest.size() && rest[i] != u':' && rest[i] != u';' && rest[i] != u'/')
            ++i;
    }
    if (i < rest.size() && rest[i] == u':') {
        qsizetype j = i + 1;
        while (j < rest.size() && rest[j].isDigit())
            ++j;
        if (j > i + 1)
            i = j;
    }
    return i;
}

} // namespace

tPortName ParsePortName(const QString &name) {
    tPortName p;
    const tScheme *scheme = SchemeOf(name);
    if (!scheme)
        return p;
    p.kind = scheme->kind;
    QStringView rest = QStringView(name).mid(qsizetype(qstrlen(scheme->prefix)));
    if (rest.endsWith(u'/'))
        rest.chop(1);
    QStringView portText;
    if (rest.startsWith(u'[')) {
        const qsizetype close = rest.indexOf(u']');
        if (close < 0) {
            p.error = QStringLiteral("falta o ] do endereço IPv6");
            return p;
        }
        p.host = rest.mid(1, close - 1).toString();
        QStringView after = rest.mid(close + 1);
        if (!after.isEmpty() && !after.startsWith(u':')) {
            p.error = QStringLiteral("depois do ] vem só :PORTA");
            return p;
        }
        portText = after.mid(1);
        if (after.isEmpty())
            portText = {};
    } else {
        const qsizetype colon = rest.lastIndexOf(u':');
        if (colon >= 0 && rest.left(colon).contains(u':')) {
            p.error = QStringLiteral("um endereço IPv6 vai entre colchetes, como [::1]");
            return p;
        }
        p.host = (colon < 0 ? rest : rest.left(colon)).toString();
        if (colon >= 0)
            portText = rest.mid(colon + 1);
    }
    if (p.host.isEmpty()) {
        p.error = QStringLiteral("falta o host");
        return p;
    }
    if (portText.isNull()) {
        if (scheme->portRequired) {
            p.error = QStringLiteral("falta a porta TCP (rtu+tcp://HOST:PORTA)");
            return p;
        }
        p.port = modbusTcpPort;
        return p;
    }
    bool ok = false;
    const uint port = portText.toUInt(&ok);
    if (!ok || port < 1 || port > 65535) {
        p.error = QStringLiteral("a porta TCP vai de 1 a 65535");
        return p;
    }
    p.port = uint16_t(port);
    return p;
}

QString HostAndPort(const tPortName &p) {
    const QString host = p.host.contains(u':') ? u'[' + p.host + u']' : p.host;
    return QStringLiteral("%1:%2").arg(host).arg(p.port);
}

QStringList SplitPortList(const QString &list) {
    QStringList names;
    QStringView rest(list);
    while (!rest.isEmpty()) {
        qsizetype end = 0;
        if (const tScheme *scheme = SchemeOf(rest)) {
            const qsizetype prefix = qsizetype(qstrlen(scheme->prefix));
            end = prefix + AuthorityLength(rest.mid(prefix));
            while (end < rest.size() && rest[end] != u':' && rest[end] != u';')
                ++end;
        } else {
            while (end < rest.size() && rest[end] != u':' && rest[end] != u';')
                ++end;
        }
        if (end > 0)
            names << rest.left(end).toString();
        rest = rest.mid(std::min(end + 1, rest.size()));
    }
    return names;
}
