// Finding the controllers on a bus: exactly those present are found, at
// their own speed, a slow one at its own address, and the scan leaves the
// driver and the line as it found them.
#include "bus_scan.h"
#include "ondrel_sim.h"

#include <QTest>

#include <memory>

namespace {

// Unpaced, a simulated controller answers within microseconds; a short
// time-out keeps a sweep of 247 addresses quick.
constexpr int32_t testTimeoutMs = 10;

struct tPlace {
    int id;
    const char *model;
};

} // namespace

class tst_BusScan : public QObject {
    Q_OBJECT

    std::unique_ptr<sim::Controller> line;
    QList<sim::Controller *> controllers;

    // Controllers on one line, each listening at `speed` bit/s (0: any).
    bool startBus(const QList<tPlace> &places, int speed = 0) {
        controllers.clear();
        for (const tPlace &p : places) {
            const sim::Options o{.model = p.model, .slaveId = p.id, .speed = speed};
            if (!line) {
                line = std::make_unique<sim::Controller>(o);
                controllers << line.get();
            } else {
                controllers << line->addToBus(o);
            }
        }
        return line->start();
    }
    QString port() const { return QString::fromStdString(line->portName()); }

  private Q_SLOTS:
    void cleanup() {
        controllers.clear();
        line.reset();
    }

    void findsExactlyThose_data() {
        QTest::addColumn<int>("listening");
        QTest::addColumn<QList<int32_t>>("speeds");
        QTest::addColumn<int>("foundAt");
        QTest::newRow("present speed") << 0 << QList<int32_t>{} << 7;
        QTest::newRow("19200 among the speed codes") << 19200 << QList<int32_t>{7, 4} << 4;
    }
    void findsExactlyThose() {
        QFETCH(int, listening);
        QFETCH(QList<int32_t>, speeds);
        QFETCH(int, foundAt);
        QVERIFY(startBus({{1, "qx4r"}, {17, "qx2n"}, {247, "qx1r"}}, listening));
        tOndrel dev;
        dev.SetTimeout(1);
        QList<tFoundController> told;
        int32_t lastDone = -1, total = 0;
        const tScanIo io{.progress =
                             [&](int32_t, int32_t, int32_t done, int32_t all) {
                                 lastDone = done;
                                 total = all;
                             },
                         .found = [&](const tFoundController &f) { told << f; }};
        const tScanResult r =
            ScanBus(dev, {.port = port(), .speeds = speeds, .timeoutMs = testTimeoutMs}, io);

        QCOMPARE(r.result, 1);
        QVERIFY(!r.cancelled);
        const QList<tFoundController> expected{{1, foundAt, "qx4r", "1.2"},
                                               {17, foundAt, "qx2n", "1.2"},
                                               {247, foundAt, "qx1r", "1.2"}};
        auto text = [](const QList<tFoundController> &list) {
            QStringList items;
            for (const tFoundController &f : list)
                items << QStringLiteral("%1@%2").arg(f.id).arg(f.speed);
            return items.join(u' ');
        };
        QCOMPARE(text(r.found), text(expected));
        QCOMPARE(r.found, expected);
        QCOMPARE(told, expected);
        QCOMPARE(total, 247 * std::max<int32_t>(1, int32_t(speeds.size())));
        QCOMPARE(lastDone, total - 1);
        // Reads only, and the driver as it was: speed, fast read, port closed.
        for (sim::Controller *c : controllers)
            QCOMPARE(int(c->lastRequest().at(1)), 3);
        QCOMPARE(dev.BaudRate(), 7);
        QVERIFY(!dev.FastRead());
        QVERIFY(!dev.PortActive());
    }

    // A controller that answers after the scan's time-out is found at its
    // own address, not at the next, and the one after it is found too; the
    // line is clean for the session opened next.
    void slowControllerAtItsOwnAddress() {
        QVERIFY(startBus({{5, "qx4r"}, {6, "qx2n"}}));
        controllers[0]->setFault(sim::Fault::Late, 150);
        tOndrel dev;
        dev.SetTimeout(1);
        const tScanResult r =
            ScanBus(dev, {.port = port(), .from = 1, .to = 10, .timeoutMs = testTimeoutMs});
        const QList<tFoundController> expected{{5, 7, "qx4r", "1.2"}, {6, 7, "qx2n", "1.2"}};
        QCOMPARE(r.found, expected);

        QCOMPARE(dev.OpenConnection(port(), 6), 1);
        QCOMPARE(dev.Model, QStringLiteral("qx2n"));
        QCOMPARE(dev.SendCommand(cmdGET_STATUS), 21);
    }

    void cancelStopsAtOnce() {
        QVERIFY(startBus({{1, "qx4r"}, {17, "qx2n"}}));
        tOndrel dev;
        int32_t asked = 0;
        const tScanIo io{.progress = [&](int32_t id, int32_t, int32_t, int32_t) { asked = id; },
                         .cancelled = [&] { return asked >= 5; }};
        // A cancelled scan asks no one again: a time-out that a busy machine
        // cannot miss.
        const tScanResult r = ScanBus(dev, {.port = port(), .timeoutMs = 200}, io);
        QVERIFY(r.cancelled);
        QCOMPARE(asked, 5);
        QCOMPARE(r.found.size(), 1);
        QVERIFY(!dev.PortActive());
    }
};

QTEST_GUILESS_MAIN(tst_BusScan)
#include "tst_bus_scan.moc"
