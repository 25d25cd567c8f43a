// Controllers over TCP, as Modbus TCP and as RTU through a transparent
// gateway, against the simulator on 127.0.0.1 at a free port: a whole
// session and a scan over both, the transaction id, and each fault of a
// network with the words the user reads.
#include "bus_scan.h"
#include "log_walk.h"
#include "ondrel_sim.h"
#include "port_name.h"
#include "topics.h"
#include "u_ondrel.h"

#include <QLocale>
#include <QTest>

#include <memory>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

Q_DECLARE_METATYPE(sim::TcpFront)
Q_DECLARE_METATYPE(sim::Fault)
Q_DECLARE_METATYPE(tPortError)
Q_DECLARE_METATYPE(tPortKind)

namespace {

QString scheme(sim::TcpFront front) {
    return front == sim::TcpFront::ModbusTcp ? QStringLiteral("tcp://")
                                             : QStringLiteral("rtu+tcp://");
}

// A port nobody listens on: one the system just gave out and took back.
int closedPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(fd, reinterpret_cast<sockaddr *>(&a), len);
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

} // namespace

class tst_Network : public QObject {
    Q_OBJECT

    std::unique_ptr<sim::Controller> line;
    sim::Controller *second = nullptr;

    // Controllers 201 (qx4r) and 202 (qx2n) behind one TCP front on `host`.
    QString serve(sim::TcpFront front, const char *host = "127.0.0.1") {
        line = std::make_unique<sim::Controller>(sim::Options{.logSlots = 20});
        second = line->addToBus({.model = "qx2n", .slaveId = 202});
        if (!line->listenTcp(front, host, 0) || !line->start())
            return {};
        const QString h = QString::fromLatin1(host);
        return scheme(front) + (h.contains(u':') ? u'[' + h + u']' : h) + u':' +
               QString::number(line->tcpPort());
    }

    void addTransports() {
        QTest::addColumn<sim::TcpFront>("front");
        QTest::newRow("modbus tcp") << sim::TcpFront::ModbusTcp;
        QTest::newRow("rtu over tcp") << sim::TcpFront::RtuOverTcp;
    }

  private Q_SLOTS:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Brazil)); }
    void cleanup() {
        second = nullptr;
        line.reset();
    }

    // What the user types where a port goes: the transport, host and port,
    // or why it cannot be used; and the topic level that names it.
    void portNames_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<tPortKind>("kind");
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("port");
        QTest::addColumn<bool>("usable");
        QTest::addColumn<QString>("topicLevel");
        using K = tPortKind;
        QTest::newRow("serial") << "/dev/ttyUSB0" << K::Serial << "" << 0 << true << "ttyUSB0";
        QTest::newRow("modbus tcp, port 502 left out")
            << "tcp://10.0.0.5" << K::ModbusTcp << "10.0.0.5" << 502 << true << "10.0.0.5";
        QTest::newRow("scheme in capitals, a trailing slash")
            << "TCP://gw.loja1:1502/" << K::ModbusTcp << "gw.loja1" << 1502 << true
            << "gw.loja1_1502";
        QTest::newRow("gateway") << "rtu+tcp://gw:4001" << K::RtuOverTcp << "gw" << 4001 << true
                                 << "gw_4001";
        QTest::newRow("ipv6") << "tcp://[::1]:5020" << K::ModbusTcp << "::1" << 5020 << true
                              << "::1_5020";
        QTest::newRow("ipv6, port 502 left out")
            << "tcp://[fe80::1]" << K::ModbusTcp << "fe80::1" << 502 << true << "fe80::1";
        QTest::newRow("gateway without its port")
            << "rtu+tcp://gw" << K::RtuOverTcp << "gw" << 0 << false << "";
        QTest::newRow("ipv6 without brackets")
            << "tcp://::1" << K::ModbusTcp << "" << 0 << false << "";
        QTest::newRow("port 0") << "tcp://gw:0" << K::ModbusTcp << "gw" << 0 << false << "";
        QTest::newRow("no host") << "tcp://:502" << K::ModbusTcp << "" << 0 << false << "";
    }
    void portNames() {
        QFETCH(QString, typed);
        QFETCH(tPortKind, kind);
        QFETCH(QString, host);
        QFETCH(int, port);
        QFETCH(bool, usable);
        QFETCH(QString, topicLevel);
        const tPortName p = ParsePortName(typed);
        QCOMPARE(p.kind, kind);
        QCOMPARE(p.error.isEmpty(), usable);
        if (!usable)
            return;
        QCOMPARE(p.host, host);
        QCOMPARE(int(p.port), port);
        QCOMPARE(PortTopicLevel(typed), topicLevel);
    }
    // TARVIK_PORTS: the separators, where network names keep their colons.
    void portList() {
        QCOMPARE(SplitPortList(QStringLiteral(
                     "/dev/pts/3:tcp://[::1]:5020;rtu+tcp://gw:4001:COM3::tcp://gw2")),
                 QStringList(
                     {"/dev/pts/3", "tcp://[::1]:5020", "rtu+tcp://gw:4001", "COM3", "tcp://gw2"}));
    }

    // Identification, status, a write read back and the event log, on one
    // connection, with the controller's address as the unit id.
    void session_data() { addTransports(); }
    void session() {
        QFETCH(sim::TcpFront, front);
        const QString port = serve(front);
        QVERIFY(!port.isEmpty());
        line->addLogSlot({.event = 0x11, .year = 26, .month = 12, .day = 10, .hour = 8});
        tOndrel dev;
        dev.SetTimeout(1);
        QCOMPARE(dev.OpenConnection(port, 201), 1);
        QVERIFY(dev.Network());
        QCOMPARE(dev.Model, QStringLiteral("qx4r"));
        QCOMPARE(dev.Fimware, QStringLiteral("1.2"));

        line->setSensor(0, sim::SensorState::Valid, -123);
        QVERIFY(dev.SendCommand(cmdGET_STATUS) > 0);
        QCOMPARE(dev.Temperature[0].value, -123);

        QVERIFY(dev.SendCommand(cmdGET_PAR_SYSTEM) > 0);
        dev.System[9] = 42;
        QVERIFY(dev.SendCommand(cmdSET_PAR_SYSTEM) > 0);
        QCOMPARE(line->reg(0x0029), 42);
        dev.System[9] = 0;
        QVERIFY(dev.SendCommand(cmdGET_PAR_SYSTEM) > 0);
        QCOMPARE(dev.System[9], 42);

        const tLogWalkResult log =
            WalkLog(dev,
                    {.send = [&](tCommand c) { return Ready(dev.SendCommand(c)); }, .limit = 5})
                .Result();
        QCOMPARE(log.end, tLogWalkEnd::EndOfLog);
        QCOMPARE(log.events, 1);

        // Another address on the same connection.
        QCOMPARE(dev.OpenConnection(port, 202), 1);
        QCOMPARE(dev.Model, QStringLiteral("qx2n"));
        QCOMPARE(line->connectionCount(), 1);
        QCOMPARE(dev.LinkStats().Of(tOutcome::Good), dev.LinkStats().Total());
    }

    // Names as the user types them: a host name, IPv6.
    void hostNames_data() {
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("typed");
        QTest::newRow("localhost") << "127.0.0.1"
                                   << "localhost";
        QTest::newRow("ipv6") << "::1"
                              << "[::1]";
    }
    void hostNames() {
        QFETCH(QString, host);
        QFETCH(QString, typed);
        const QString served = serve(sim::TcpFront::ModbusTcp, qPrintable(host));
        if (served.isEmpty())
            QSKIP("no loopback for this address family here");
        tOndrel dev;
        dev.SetTimeout(1);
        QCOMPARE(
            dev.OpenConnection(QStringLiteral("tcp://%1:%2").arg(typed).arg(line->tcpPort()), 201),
            1);
        QCOMPARE(dev.Model, QStringLiteral("qx4r"));
    }

    // A sweep through the gateway finds exactly the controllers behind it.
    void scan_data() { addTransports(); }
    void scan() {
        QFETCH(sim::TcpFront, front);
        const QString port = serve(front);
        tOndrel dev;
        dev.SetTimeout(1);
        const tScanResult r = ScanBus(dev, {.port = port, .from = 190, .to = 210});
        QCOMPARE(r.result, 1);
        const QList<tFoundController> expected{{201, dev.BaudRate(), "qx4r", "1.2"},
                                               {202, dev.BaudRate(), "qx2n", "1.2"}};
        QCOMPARE(r.found, expected);
    }

    // An answer is taken only with its own request's transaction id: one
    // with another is refused, and an earlier request's answer, arriving
    // after its time-out, is thrown away while the wait goes on.
    void transactionId() {
        const QString port = serve(sim::TcpFront::ModbusTcp);
        tOndrel dev;
        dev.SetTimeout(1);
        QCOMPARE(dev.OpenConnection(port, 201), 1);

        line->setFault(sim::Fault::OtherTransaction, 0, 1);
        QCOMPARE(dev.SendCommand(cmdGET_STATUS), errMODBUS_TRANSACTION);
        QCOMPARE(dev.LinkStats().Of(tOutcome::Transaction), 1u);

        line->setSensor(0, sim::SensorState::Valid, 11);
        line->setFault(sim::Fault::Late, 1500, 1);
        QCOMPARE(dev.SendCommand(cmdGET_STATUS), errMODBUS_TIMEOUT);
        line->setSensor(0, sim::SensorState::Valid, 22);
        QVERIFY(dev.SendCommand(cmdGET_STATUS) > 0);
        QCOMPARE(dev.Temperature[0].value, 22);
        QCOMPARE(dev.LinkStats().Of(tOutcome::Late), 1u);
    }

    // Faults once connected: the result, and for a connection that ends, the
    // sentence that ends the session.
    void faults_data() {
        QTest::addColumn<sim::TcpFront>("front");
        QTest::addColumn<int>("address");
        QTest::addColumn<sim::Fault>("fault");
        QTest::addColumn<int>("param");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("lost");
        using F = sim::Fault;
        const auto mb = sim::TcpFront::ModbusTcp;
        const auto rt = sim::TcpFront::RtuOverTcp;
        QTest::newRow("gateway without a path") << mb << 201 << F::Exception << 10 << -16 << "";
        QTest::newRow("no controller behind the gateway") << mb << 99 << F::None << 0 << -17 << "";
        QTest::newRow("stalled") << mb << 201 << F::Silence << 0 << -6 << "";
        QTest::newRow("stalled, rtu") << rt << 201 << F::Silence << 0 << -6 << "";
        QTest::newRow("reset in the middle of an answer")
            << mb << 201 << F::Reset << 0 << -9
            << "Conexão com %1 perdida: a conexão foi interrompida pelo outro lado";
        QTest::newRow("reset in the middle of an answer, rtu")
            << rt << 201 << F::Reset << 0 << -8
            << "Conexão com %1 perdida: a conexão foi interrompida pelo outro lado";
    }
    void faults() {
        QFETCH(sim::TcpFront, front);
        QFETCH(int, address);
        QFETCH(sim::Fault, fault);
        QFETCH(int, param);
        QFETCH(int, code);
        QFETCH(QString, lost);
        const QString port = serve(front);
        tOndrel dev;
        dev.SetTimeout(1);
        QCOMPARE(dev.OpenConnection(port, 201), 1);
        if (address != 201)
            QCOMPARE(dev.OpenIdentified(port, address, {}), 1);
        line->setFault(fault, param, 1);
        QCOMPARE(dev.SendCommand(cmdGET_STATUS), code);
        QCOMPARE(dev.PortLost(), !lost.isEmpty());
        if (!lost.isEmpty()) {
            QCOMPARE(dev.PortLostText(), lost.arg(port));
            return;
        }
        // The connection is still good for the next command.
        dev.OpenIdentified(port, 201, {});
        QVERIFY(dev.SendCommand(cmdGET_STATUS) > 0);
    }

    void closedByThePeer() {
        const QString port = serve(sim::TcpFront::ModbusTcp);
        tOndrel dev;
        dev.SetTimeout(1);
        QCOMPARE(dev.OpenConnection(port, 201), 1);
        line->dropConnections();
        QTRY_VERIFY(dev.SendCommand(cmdGET_STATUS) < 0 && dev.PortLost());
        // A request that reaches the peer before its close is unread there,
        // and its kernel then resets instead of closing: both are said.
        const QStringList said{
            QStringLiteral("Conexão com %1 perdida: o outro lado fechou a conexão").arg(port),
            QStringLiteral("Conexão com %1 perdida: a conexão foi interrompida pelo outro lado")
                .arg(port)};
        QVERIFY2(said.contains(dev.PortLostText()), qPrintable(dev.PortLostText()));
    }

    // A connection that cannot be made says why, naming what was typed.
    void openFailures_data() {
        QTest::addColumn<QString>("port");
        QTest::addColumn<tPortError>("error");
        QTest::addColumn<QString>("text");
        const QString refused = QStringLiteral("tcp://127.0.0.1:%1").arg(closedPort());
        QTest::newRow("refused")
            << refused << tPortError::Refused
            << "Conexão recusada por " + refused +
                   ": nada atende nessa porta TCP; confira a porta e se o gateway está ligado.";
        // A name no resolver can even ask for (a label over 63 characters):
        // nothing leaves the computer.
        const QString unknown = QStringLiteral("rtu+tcp://%1.invalid:4001").arg(QString(70, u'x'));
        QTest::newRow("host not found")
            << unknown << tPortError::HostNotFound << "Host não encontrado em " + unknown;
        QTest::newRow("no port for a gateway")
            << "rtu+tcp://127.0.0.1" << tPortError::BadAddress
            << "Endereço de rede inválido em rtu+tcp://127.0.0.1: falta a porta TCP "
               "(rtu+tcp://HOST:PORTA).";
    }
    void openFailures() {
        QFETCH(QString, port);
        QFETCH(tPortError, error);
        QFETCH(QString, text);
        tOndrel dev;
        QCOMPARE(dev.OpenConnection(port, 201), errMODBUS_OPEN_UART);
        QCOMPARE(dev.PortError(), error);
        QVERIFY2(dev.PortErrorText().startsWith(text), qPrintable(dev.PortErrorText()));
    }
};

QTEST_GUILESS_MAIN(tst_Network)
#include "tst_network.moc"
