// The emulated line: replies paced at the bit rate and the bursts a USB
// adapter's buffer and latency timer make of them, checked without a clock.
#include "line.h"

#include <QtTest>

namespace {

// Bursts written "at:count", blank-separated.
QString burstText(const std::vector<sim::Burst> &list) {
    QStringList out;
    for (const sim::Burst &b : list)
        out << QStringLiteral("%1:%2").arg(b.at).arg(b.bytes.size());
    return out.join(u' ');
}

} // namespace

class SimLineTest : public QObject {
    Q_OBJECT

  private Q_SLOTS:
    void bursts_data() {
        QTest::addColumn<int>("baud");
        QTest::addColumn<int>("latencyUs");
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("bytes");
        QTest::addColumn<int>("chunk");
        QTest::addColumn<int>("gap");
        QTest::addColumn<QString>("expected");
        QTest::newRow("not paced") << 0 << 0 << 1000 << 19 << 0 << 0 << "1000:19";
        QTest::newRow("not paced, in pieces")
            << 0 << 0 << 0 << 8 << 3 << 5000 << "0:3 5000:3 10000:2";
        QTest::newRow("9600, no adapter: byte by byte")
            << 9600 << 0 << 0 << 3 << 0 << 0 << "1041:1 2083:1 3125:1";
        QTest::newRow("115200, 16 ms: held to the tick")
            << 115200 << 16000 << 1000 << 19 << 0 << 0 << "16000:19";
        QTest::newRow("115200, 16 ms: a tick inside the reply")
            << 115200 << 16000 << 15000 << 19 << 0 << 0 << "16000:11 32000:8";
        QTest::newRow("115200, 16 ms: a full packet goes at once, the timer restarts")
            << 115200 << 16000 << 1000 << 100 << 0 << 0 << "6381:62 22381:38";
        QTest::newRow("9600, 16 ms: a reply longer than the timer")
            << 9600 << 16000 << 0 << 47 << 0 << 0 << "16000:15 32000:15 48000:16 64000:1";
        QTest::newRow("115200, 1 ms") << 115200 << 1000 << 0 << 19 << 0 << 0 << "1000:11 2000:8";
    }
    void bursts() {
        QFETCH(int, baud);
        QFETCH(int, latencyUs);
        QFETCH(int, start);
        QFETCH(int, bytes);
        QFETCH(int, chunk);
        QFETCH(int, gap);
        QFETCH(QString, expected);
        sim::UsbAdapter adapter(latencyUs);
        const sim::Frame reply(size_t(bytes), 0x55);
        const auto list =
            adapter.pass(reply, sim::wireTimes(reply.size(), start, baud, size_t(chunk), gap));
        QCOMPARE(burstText(list), expected);
    }

    // The timer keeps the phase a full packet gave it, from reply to reply.
    void timerKeepsItsPhase() {
        sim::UsbAdapter adapter(16000);
        adapter.pass(sim::Frame(100, 0), sim::wireTimes(100, 1000, 115200));
        QCOMPARE(burstText(adapter.pass(sim::Frame(1, 0), {30000})), QStringLiteral("38381:1"));
    }
};

QTEST_GUILESS_MAIN(SimLineTest)
#include "tst_sim_line.moc"
