// The serial port on a pseudo-terminal: opening, line settings, the polled
// byte read, purging, staging, text lines, hang-up and the port list.
#include "pty_pair.h"
#include "u_uart.h"

#include <QTest>

#include <termios.h>

namespace {

// The line settings the port left on the device, seen from another opener.
termios settingsOf(const QString &name)
{
    termios t{};
    const int fd = ::open(name.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd >= 0) {
        tcgetattr(fd, &t);
        ::close(fd);
    }
    return t;
}

} // namespace

class tst_Uart : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void missingPort()
    {
        tUART u;
        QVERIFY(!u.Open(QStringLiteral("/dev/no-such-port")));
        QVERIFY(!u.Active());
        uint8_t c = 7;
        QVERIFY(!u.GetC(c));
        QCOMPARE(c, 7);
        QCOMPARE(u.Write(reinterpret_cast<const uint8_t *>("x"), 1), -1);
        QVERIFY(!u.Push(1));
    }

    // We run as root, so only the lock taken on open keeps a second opener out.
    void exclusiveOpen()
    {
        tPtyPair pty;
        QVERIFY(pty.valid());
        tUART first, second;
        QVERIFY(first.Open(pty.name()));
        QVERIFY(!second.Open(pty.name()));
        QVERIFY(!second.Active());
        first.Close();
        QVERIFY(second.Open(pty.name()));
    }

    void lineSettings()
    {
        tPtyPair pty;
        tUART u;
        u.SetBaud(19200); // closed: kept for the next Open
        QVERIFY(u.Open(pty.name()));
        termios t = settingsOf(pty.name());
        QCOMPARE(cfgetospeed(&t), speed_t(B19200));
        QCOMPARE(t.c_cflag & CSIZE, tcflag_t(CS8));
        QCOMPARE(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), tcflag_t(0));
        QCOMPARE(t.c_iflag & (IXON | IXOFF), tcflag_t(0));
        u.SetBaud(4800); // open: at once
        t = settingsOf(pty.name());
        QCOMPARE(cfgetospeed(&t), speed_t(B4800));
    }

    // One device read takes the whole burst; the rest comes from the buffer.
    void burstServedFromBuffer()
    {
        tPtyPair pty;
        tUART u;
        QVERIFY(u.Open(pty.name()));
        pty.send("ABCDE");
        uint8_t c = 0;
        QVERIFY(u.GetC(c));
        QCOMPARE(c, 'A');
        const int64_t reads = u.DeviceReads();
        for (char expected : QByteArray("BCDE")) {
            QVERIFY(u.GetC(c));
            QCOMPARE(c, uint8_t(expected));
        }
        QCOMPARE(u.DeviceReads(), reads);
        QVERIFY(!u.GetC(c));
        QCOMPARE(c, 0);
    }

    void purgeDropsBufferedAndQueued()
    {
        tPtyPair pty;
        tUART u;
        QVERIFY(u.Open(pty.name()));
        pty.send("abc");
        uint8_t c = 0;
        QVERIFY(u.GetC(c)); // "bc" now wait in the receive buffer
        pty.send("def");
        QTRY_VERIFY_WITH_TIMEOUT(u.RXda() == 3, 10000);
        u.Purge();
        QVERIFY(!u.GetC(c));
        pty.send("x");
        QVERIFY(u.GetC(c));
        QCOMPARE(c, 'x');
    }

    void reopenLosesWaitingBytes()
    {
        tPtyPair pty;
        tUART u;
        QVERIFY(u.Open(pty.name()));
        pty.send("stale");
        QTRY_VERIFY_WITH_TIMEOUT(u.RXda() == 5, 10000);
        QVERIFY(u.Open(QString()));
        QVERIFY(u.Active());
        uint8_t c = 0;
        QVERIFY(!u.GetC(c));
    }

    void stagingHoldsOneLessThanItsSize()
    {
        tPtyPair pty;
        tUART u;
        QVERIFY(u.Open(pty.name()));
        const QByteArray block(8191, 'z');
        QVERIFY(u.Push(block));
        QVERIFY(!u.Push('!'));
        QVERIFY(u.Flush());
        QCOMPARE(pty.receive(block.size()), block);
        QVERIFY(u.Push('!')); // staging starts over after a flush
    }

    void textLines()
    {
        tPtyPair pty;
        tUART u;
        QVERIFY(u.Open(pty.name()));
        pty.send("AB\rC");
        QCOMPARE(u.GetS(), QStringLiteral("AB\r"));
        QCOMPARE(u.GetS(), QStringLiteral("C"));

        pty.send("OK\r");
        QString reply;
        u.Exec(QStringLiteral("ID"), reply);
        QCOMPARE(reply, QStringLiteral("OK\r"));
        QCOMPARE(pty.receive(3), QByteArray("ID\r"));
        QVERIFY(u.PutC(0xC7));
        QCOMPARE(pty.receive(1), QByteArray("\xC7"));
    }

    // The far end vanishing leaves a port that fails fast instead of
    // spinning on a descriptor that is always readable and always empty.
    void hangUpFailsReadsAndWrites()
    {
        tPtyPair pty;
        tUART u;
        QVERIFY(u.Open(pty.name()));
        pty.hangUp();
        uint8_t c = 0;
        QVERIFY(!u.GetC(c));
        QVERIFY(!u.Active());
        QCOMPARE(u.Write(reinterpret_cast<const uint8_t *>("abc"), 3), -1);
        const int64_t reads = u.DeviceReads();
        QVERIFY(!u.GetC(c));
        QCOMPARE(u.DeviceReads(), reads);
    }

    void portList()
    {
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
