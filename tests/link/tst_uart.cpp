// The serial port on a pseudo-terminal: opening, line settings, the polled
// byte read, purging, staging, text lines, hang-up and the port list.
#include "pty_pair.h"
#include "u_uart.h"

#include <QTemporaryFile>
#include <QTest>

#include <memory>

#include <termios.h>

namespace {

// The line settings the port left on the device, seen from another opener.
termios settingsOf(const QString &name) {
    termios t{};
    const int fd = ::open(name.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd >= 0) {
        tcgetattr(fd, &t);
        ::close(fd);
    }
    return t;
}

} // namespace

Q_DECLARE_METATYPE(tOpenFailure)

class tst_Uart : public QObject {
    Q_OBJECT

    // Each test starts with a fresh pty and the port open on it.
    std::unique_ptr<tPtyPair> pty;
    std::unique_ptr<tUART> port;

  private Q_SLOTS:
    void init() {
        pty = std::make_unique<tPtyPair>();
        QVERIFY(pty->valid());
        port = std::make_unique<tUART>();
        QVERIFY(port->Open(pty->name()));
    }
    void cleanup() {
        port.reset();
        pty.reset();
    }

    void missingPort() {
        QVERIFY(!port->Open(QStringLiteral("/dev/no-such-port")));
        QVERIFY(!port->Active());
        uint8_t c = 7;
        QVERIFY(!port->GetC(c));
        QCOMPARE(c, 7);
        QCOMPARE(port->Write(reinterpret_cast<const uint8_t *>("x"), 1), -1);
        QVERIFY(!port->Push(1));
    }

    // We run as root, so only the lock taken on open keeps a second opener out.
    void exclusiveOpen() {
        tUART second;
        QVERIFY(!second.Open(pty->name()));
        QVERIFY(!second.Active());
        port->Close();
        QVERIFY(second.Open(pty->name()));
    }

    // Why an Open failed, as the system tells it; a good Open forgets it.
    void openFailureReasons_data() {
        QTest::addColumn<QString>("how");
        QTest::addColumn<tOpenFailure>("reason");
        QTest::newRow("no such device") << "missing" << tOpenFailure::NoDevice;
        QTest::newRow("bare name of no device") << "bare" << tOpenFailure::NoDevice;
        QTest::newRow("held by another opener") << "taken" << tOpenFailure::InUse;
        QTest::newRow("no permission") << "locked out" << tOpenFailure::NoPermission;
        QTest::newRow("not a terminal") << "plain file" << tOpenFailure::Other;
    }
    void openFailureReasons() {
        QFETCH(QString, how);
        QFETCH(tOpenFailure, reason);
        QString name = pty->name();
        QTemporaryFile plain;
        if (how == QLatin1String("missing"))
            name = QStringLiteral("/dev/no-such-port");
        if (how == QLatin1String("bare"))
            name = QStringLiteral("no-such-port");
        if (how == QLatin1String("plain file")) {
            QVERIFY(plain.open());
            name = plain.fileName();
        }
        std::unique_ptr<tLockedOut> lockedOut;
        if (how == QLatin1String("locked out")) {
            port->Close();
            lockedOut = std::make_unique<tLockedOut>(name);
            QVERIFY(lockedOut->valid());
        }
        tUART second;
        QVERIFY(!second.Open(name));
        lockedOut.reset();
        QCOMPARE(second.OpenFailure(), reason);
        QVERIFY(!second.OpenFailureText().isEmpty());
        QVERIFY(!second.Active());

        port->Close();
        QVERIFY(second.Open(pty->name()));
        QCOMPARE(second.OpenFailure(), tOpenFailure::None);
        QVERIFY(second.OpenFailureText().isEmpty());
    }

    void lineSettings() {
        port->Close();
        port->SetBaud(19200); // closed: kept for the next Open
        QVERIFY(port->Open(QString()));
        termios t = settingsOf(pty->name());
        QCOMPARE(cfgetospeed(&t), speed_t(B19200));
        QCOMPARE(t.c_cflag & CSIZE, tcflag_t(CS8));
        QCOMPARE(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), tcflag_t(0));
        QCOMPARE(t.c_iflag & (IXON | IXOFF), tcflag_t(0));
        port->SetBaud(4800); // open: at once
        t = settingsOf(pty->name());
        QCOMPARE(cfgetospeed(&t), speed_t(B4800));
    }

    // One device read takes the whole burst; the rest comes from the buffer.
    void burstServedFromBuffer() {
        pty->send("ABCDE");
        uint8_t c = 0;
        QVERIFY(port->GetC(c));
        QCOMPARE(c, 'A');
        const int64_t reads = port->DeviceReads();
        for (char expected : QByteArray("BCDE")) {
            QVERIFY(port->GetC(c));
            QCOMPARE(c, uint8_t(expected));
        }
        QCOMPARE(port->DeviceReads(), reads);
        QVERIFY(!port->GetC(c));
        QCOMPARE(c, 0);
    }

    // The byte wait is one blocking wait, not a poll every millisecond: a
    // silent wait reads the device once before it and once after.
    void silentWaitDoesNotPoll() {
        uint8_t c = 7;
        const int64_t reads = port->DeviceReads();
        QVERIFY(!port->GetC(c));
        QVERIFY2(port->DeviceReads() - reads <= 3,
                 qPrintable(QString::number(port->DeviceReads() - reads)));
        pty->send("z");
        QVERIFY(port->GetC(c));
        QCOMPARE(c, 'z');
    }

    void purgeDropsBufferedAndQueued() {
        pty->send("abc");
        uint8_t c = 0;
        QVERIFY(port->GetC(c)); // "bc" now wait in the receive buffer
        pty->send("def");
        QTRY_VERIFY_WITH_TIMEOUT(port->RXda() == 3, 10000);
        port->Purge();
        QVERIFY(!port->GetC(c));
        pty->send("x");
        QVERIFY(port->GetC(c));
        QCOMPARE(c, 'x');
    }

    void reopenLosesWaitingBytes() {
        pty->send("stale");
        QTRY_VERIFY_WITH_TIMEOUT(port->RXda() == 5, 10000);
        QVERIFY(port->Open(QString()));
        QVERIFY(port->Active());
        uint8_t c = 0;
        QVERIFY(!port->GetC(c));
    }

    void stagingHoldsOneLessThanItsSize() {
        const QByteArray block(8191, 'z');
        QVERIFY(port->Push(block));
        QVERIFY(!port->Push('!'));
        QVERIFY(port->Flush());
        QCOMPARE(pty->receive(block.size()), block);
        QVERIFY(port->Push('!')); // staging starts over after a flush
    }

    void textLines() {
        pty->send("AB\rC");
        QCOMPARE(port->GetS(), QStringLiteral("AB\r"));
        QCOMPARE(port->GetS(), QStringLiteral("C"));

        pty->send("OK\r");
        QString reply;
        port->Exec(QStringLiteral("ID"), reply);
        QCOMPARE(reply, QStringLiteral("OK\r"));
        QCOMPARE(pty->receive(3), QByteArray("ID\r"));
        QVERIFY(port->PutC(0xC7));
        QCOMPARE(pty->receive(1), QByteArray("\xC7"));
    }

    // The far end vanishing leaves a port that fails fast instead of
    // spinning on a descriptor that is always readable and always empty->
    void hangUpFailsReadsAndWrites() {
        pty->hangUp();
        uint8_t c = 0;
        QVERIFY(!port->GetC(c));
        QVERIFY(!port->Active());
        QCOMPARE(port->Write(reinterpret_cast<const uint8_t *>("abc"), 3), -1);
        const int64_t reads = port->DeviceReads();
        QVERIFY(!port->GetC(c));
        QCOMPARE(port->DeviceReads(), reads);
    }

    void portList() {
        qputenv("TARVIK_PORTS", "/tmp/sim-a:/tmp/sim-b;/tmp/sim-a");
        QStringList list{QStringLiteral("old")};
        const int32_t n = uart_GetCommList(list);
        QCOMPARE(n, list.size());
        QVERIFY(n >= 2);
        QCOMPARE(list.mid(0, 2), (QStringList{"/tmp/sim-a", "/tmp/sim-b"}));
        QCOMPARE(list.count(QStringLiteral("/tmp/sim-a")), 1);
        const QList<tPortInfo> info = uart_GetCommInfo();
        QCOMPARE(info.size(), list.size());
        for (int i = 0; i < info.size(); ++i)
            QCOMPARE(info[i].name, list[i]);

        QStringList filtered{QStringLiteral("kept")};
        QCOMPARE(uart_GetCommList(filtered, QStringLiteral("sim-b"), false), 1);
        QCOMPARE(filtered, (QStringList{"kept", "/tmp/sim-b"}));
        qunsetenv("TARVIK_PORTS");
    }
};

QTEST_GUILESS_MAIN(tst_Uart)
#include "tst_uart.moc"
