// The session without a window against the simulated controller: what it
// keeps in line with the connection, what it announces, and what its
// observers see of the line.
#include "ondrel_sim.h"
#include "session.h"

#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <memory>
#include <vector>

namespace {
// Records what a driver's observer is shown.
struct Recorder : tOndrelObserver {
    QList<tExchange> exchanges;
    QList<tWrite> writes;
    void Exchanged(const tExchange &e) override { exchanges << e; }
    void AboutToWrite(const tWrite &w) override { writes << w; }
};
} // namespace

class tst_session : public QObject {
    Q_OBJECT

    std::unique_ptr<sim::Controller> sim;

    QString Port() const { return QString::fromStdString(sim->portName()); }

  private Q_SLOTS:
    void init() {
        sim::Options options;
        options.model = "qx2r";
        sim = std::make_unique<sim::Controller>(options);
        QVERIFY(sim->start());
    }
    void cleanup() { sim.reset(); }

    // The refresh runs exactly while connected; ending a session says so
    // and stops it.
    void followsTheConnection() {
        tSession session;
        tOndrel &dev = session.Ondrel();
        dev.SetTimeout(1);
        QSignalSpy changed(&session, &tSession::connectionChanged);
        QSignalSpy reports(&session, &tSession::report);
        QVERIFY(!session.timerProcess()->isActive());
        QVERIFY(session.Open(Port(), 201).Result() > 0);
        QCOMPARE(changed.takeFirst().at(0).toBool(), true);
        QVERIFY(session.timerProcess()->isActive());
        session.SetRefresh(false);
        QVERIFY(!session.timerProcess()->isActive());
        session.SetRefresh(true);
        QVERIFY(session.timerProcess()->isActive());

        session.End();
        QVERIFY(!dev.Connected());
        QCOMPARE(changed.takeFirst().at(0).toBool(), false);
        QCOMPARE(reports.last().at(1).toString(), QStringLiteral("Desconectado do dispositivo"));
        QVERIFY(!session.timerProcess()->isActive());
        session.SetRefresh(true);
        QVERIFY(!session.timerProcess()->isActive());
        session.End();
        QCOMPARE(changed.size(), 0);
    }

    // A read announces the blocks it brought, for every page that shows
    // them; a write announces nothing (its page already shows it).
    void announcesWhatReadsBring() {
        tSession session;
        tOndrel &dev = session.Ondrel();
        dev.SetTimeout(1);
        QVERIFY(session.Open(Port(), 201).Result() > 0);
        QSignalSpy read(&session, &tSession::blockRead);
        QVERIFY(session.SendCommand(cmdGET_PAR_SYSTEM) > 0);
        QCOMPARE(read.size(), 1);
        QCOMPARE(read.takeFirst().at(0).toUInt(), uint32_t(knownSYSTEM | knownUNIT));
        QVERIFY(session.SendCommand(cmdSET_PAR_SYSTEM) > 0);
        QVERIFY(session.SendCommand(cmdRST_STAT_TEMP) > 0);
        QCOMPARE(read.size(), 0);
    }

    // Observers see every command with its result and time, and every write
    // with what the controller held before and what goes out.
    void observersSeeTheLine() {
        tOndrel dev;
        dev.SetTimeout(1);
        Recorder seen;
        dev.AddObserver(&seen);
        QVERIFY(dev.OpenConnection(Port(), 201) > 0);
        QVERIFY(dev.SendCommand(cmdGET_PAR_SYSTEM) > 0);
        const int32_t was = dev.System[2];
        dev.System[2] = was + 1;
        QVERIFY(dev.SendCommand(cmdSET_PAR_SYSTEM) > 0);
        sim->setFault(sim::Fault::Exception, 4, 1);
        QCOMPARE(dev.SendCommand(cmdGET_STATUS), errMODBUS_SLAVE_DEVICE_FAILURE);
        dev.RemoveObserver(&seen);
        QVERIFY(dev.SendCommand(cmdGET_STATUS) > 0);

        QCOMPARE(seen.exchanges.size(), 4);
        const tCommand cmds[] = {cmdGET_INFO, cmdGET_PAR_SYSTEM, cmdSET_PAR_SYSTEM, cmdGET_STATUS};
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(seen.exchanges[i].cmd, cmds[i]);
            QVERIFY(seen.exchanges[i].micros > 0);
        }
        QCOMPARE(seen.exchanges[3].result, errMODBUS_SLAVE_DEVICE_FAILURE);

        QCOMPARE(seen.writes.size(), 1);
        const tWrite &w = seen.writes[0];
        QCOMPARE(w.cmd, cmdSET_PAR_SYSTEM);
        QCOMPARE(w.start, 0x0020);
        QCOMPARE(int(w.after.size()), 13);
        QCOMPARE(int(w.before.size()), 13);
        for (int i = 0; i < 13; ++i)
            QCOMPARE(w.before[size_t(i)] == w.after[size_t(i)], i != 2);
        QCOMPARE(int16_t(w.before[2]), int16_t(was));
        QCOMPARE(int16_t(w.after[2]), int16_t(was + 1));
        // A register never seen in this session has no "before".
        QCOMPARE(dev.Seen(0x0017), -1);
    }

    // Commands asked while an exchange waits go on the line after it, a
    // person's before background reads and each kind in the order asked; a
    // background read asked again shares the one waiting. Once the queue is
    // full, background reads are dropped unsent, the newest first when a
    // person's command needs the room; nothing is ever refused as busy.
    void queuesInTurnWithinItsBound_data() {
        QTest::addColumn<int>("background");
        QTest::addColumn<QList<tCommand>>("sentAfter");
        QTest::addColumn<int>("dropped");
        const QList<tCommand> reads = {cmdGET_LOG_INFO,     cmdGET_RTC_DATE,   cmdGET_RTC_TIME,
                                       cmdGET_RTC_FORMAT,   cmdGET_RTC_CAL,    cmdGET_PAR_SYSTEM,
                                       cmdGET_PAR_opRELAYS, cmdGET_PAR_RELAY1, cmdGET_PAR_RELAY2};
        QTest::newRow("a person's first")
            << 2 << QList<tCommand>{cmdGET_INFO, cmdGET_LOG_INFO, cmdGET_RTC_DATE} << 0;
        QList<tCommand> full = {cmdGET_INFO};
        full += reads.mid(0, int(tSession::queueBound) - 1);
        QTest::newRow("beyond the bound")
            << int(reads.size()) << full << int(reads.size() - tSession::queueBound + 1);
    }
    void queuesInTurnWithinItsBound() {
        QFETCH(int, background);
        QFETCH(QList<tCommand>, sentAfter);
        QFETCH(int, dropped);
        const QList<tCommand> reads = {cmdGET_LOG_INFO,     cmdGET_RTC_DATE,   cmdGET_RTC_TIME,
                                       cmdGET_RTC_FORMAT,   cmdGET_RTC_CAL,    cmdGET_PAR_SYSTEM,
                                       cmdGET_PAR_opRELAYS, cmdGET_PAR_RELAY1, cmdGET_PAR_RELAY2};
        // The line on its own thread, as the window has it: this thread runs
        // its events while the status read waits.
        tSession session;
        session.UseLineThread();
        session.Ondrel().SetTimeout(1);
        const tTask<int32_t> opening = session.Open(Port(), 201);
        QTRY_VERIFY(opening.Done());
        QVERIFY(opening.Result() > 0);
        QList<tCommand> sent;
        QList<int32_t> results;
        connect(&session, &tSession::exchanged, this, [&](const tExchange &e) {
            sent << e.cmd;
            results << e.result;
        });
        sim->setFault(sim::Fault::Late, 300, 1);
        std::vector<tTask<int32_t>> asked;
        QTimer::singleShot(50, this, [&] {
            for (int k = 0; k < background; ++k)
                asked.push_back(session.Send(reads[k], tPriority::Background));
            asked.push_back(session.Send(reads[0], tPriority::Background));
            asked.push_back(session.Send(cmdGET_INFO));
            QVERIFY(session.Waiting() <= tSession::queueBound);
        });
        const tTask<int32_t> status = session.Send(cmdGET_STATUS);
        QTRY_VERIFY(status.Done() &&
                    std::all_of(asked.begin(), asked.end(), [](auto &t) { return t.Done(); }));
        QVERIFY(status.Result() > 0);
        QCOMPARE(sent.first(), cmdGET_STATUS);
        QCOMPARE(sent.mid(1), sentAfter);
        QVERIFY(std::all_of(results.begin(), results.end(), [](int32_t r) { return r > 0; }));
        // The read asked twice answered both.
        QCOMPARE(asked[size_t(background)].Result(), asked[0].Result());
        QCOMPARE(
            int(std::count_if(asked.begin(), asked.end(), [](auto &t) { return t.Result() == 0; })),
            dropped);
        QCOMPARE(session.Waiting(), size_t(0));
    }
};

QTEST_MAIN(tst_session)
#include "tst_session.moc"
