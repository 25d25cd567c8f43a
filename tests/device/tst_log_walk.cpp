// The event-log walk against a simulated controller: which slots it hands
// over, newest first, and why it ends, for each of its readers (the log
// page, tarvik-cli, a recorder that stops at what it already holds).
#include "log_walk.h"
#include "ondrel_sim.h"
#include "u_ondrel.h"

#include <QTest>

Q_DECLARE_METATYPE(tLogWalkEnd)
Q_DECLARE_METATYPE(tCommand)

using Slots = QList<int>;

class TestLogWalk : public QObject {
    Q_OBJECT

  private Q_SLOTS:
    void endsAndSaysWhy_data();
    void endsAndSaysWhy();
};

void TestLogWalk::endsAndSaysWhy_data() {
    QTest::addColumn<int>("ring");
    QTest::addColumn<int>("events");
    QTest::addColumn<int>("limit");
    QTest::addColumn<int>("stopAt");  // the slot a recorder already holds; -1 none
    QTest::addColumn<int>("trouble"); // after this many slots: 100 + n cancel, 200 + n fault
    QTest::addColumn<Slots>("delivered");
    QTest::addColumn<tLogWalkEnd>("end");
    QTest::newRow("first empty slot")
        << 100 << 3 << 20 << -1 << 0 << Slots{2, 1, 0} << tLogWalkEnd::EndOfLog;
    QTest::newRow("every slot of a small ring")
        << 5 << 5 << 20 << -1 << 0 << Slots{4, 3, 2, 1, 0} << tLogWalkEnd::EndOfLog;
    QTest::newRow("limit n reads n + 1")
        << 100 << 50 << 3 << -1 << 0 << Slots{49, 48, 47, 46} << tLogWalkEnd::Limit;
    QTest::newRow("nothing logged") << 100 << 0 << 20 << -1 << 0 << Slots{} << tLogWalkEnd::Empty;
    QTest::newRow("recorder reaches what it holds")
        << 100 << 10 << 1000 << 6 << 0 << Slots{9, 8, 7} << tLogWalkEnd::Stopped;
    QTest::newRow("cancelled between slots")
        << 100 << 10 << 20 << -1 << 102 << Slots{9, 8} << tLogWalkEnd::Cancelled;
    QTest::newRow("a failed exchange")
        << 100 << 10 << 20 << -1 << 202 << Slots{9, 8} << tLogWalkEnd::Failed;
}

void TestLogWalk::endsAndSaysWhy() {
    QFETCH(int, ring);
    QFETCH(int, events);
    QFETCH(int, limit);
    QFETCH(int, stopAt);
    QFETCH(int, trouble);
    QFETCH(Slots, delivered);
    sim::Options options;
    options.logSlots = ring;
    sim::Controller controller(options);
    QVERIFY(controller.start());
    for (int i = 0; i < events; ++i)
        controller.addLogSlot({.event = 0x11,
                               .sensor1 = uint16_t(i),
                               .year = 2024,
                               .month = 3,
                               .day = 5,
                               .hour = 14,
                               .minute = 7,
                               .second = 9});
    tOndrel dev;
    dev.SetTimeout(1);
    QCOMPARE(dev.OpenConnection(QString::fromStdString(controller.portName()), 201), 1);
    Slots got;
    QList<tCommand> sent;
    const tLogWalkResult r =
        WalkLog(dev, {.send =
                          [&](tCommand cmd) {
                              sent << cmd;
                              return Ready(dev.SendCommand(cmd));
                          },
                      .limit = limit,
                      .slotRead =
                          [&](int32_t slot, const tSlotLog &log) {
                              if (slot == stopAt)
                                  return false;
                              got << (int(log.sensor1) == slot ? slot : -1 - slot);
                              if (trouble == 200 + got.size())
                                  controller.setFault(sim::Fault::Exception, 0, 1);
                              return true;
                          },
                      .cancelled = [&] { return trouble == 100 + got.size(); }})
            .Result();
    QCOMPARE(got, delivered);
    QTEST(r.end, "end");
    QCOMPARE(r.events, int(got.size()));
    if (r.end == tLogWalkEnd::Failed) {
        QCOMPARE(r.failed, cmdSET_LOG_READ);
        QCOMPARE(r.failedSlot, delivered.last() - 1);
        QVERIFY(r.result < 0);
    }
    // Only the slots walked were asked for, after one information read.
    QCOMPARE(sent.count(cmdGET_LOG_INFO), 1);
    QCOMPARE(sent.count(cmdGET_LOG_READ), r.walked);
}

QTEST_GUILESS_MAIN(TestLogWalk)
#include "tst_log_walk.moc"
