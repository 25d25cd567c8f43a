#include "recorder.h"

#include "file_size_limit.h"
#include "u_ondrel.h"

#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

namespace {
constexpr int64_t second = 1000;
constexpr int64_t t0 = 1'780'000'000'000;
constexpr int32_t address = 201;

// A status read of a qx2r as the driver takes it: every sensor at 5.0,
// relay 1 on; a failed one carries its result alone.
tStatusReading Reading(int64_t utcMs, int32_t offsetSec, int32_t result = 22) {
    tStatusReading r{.utcMs = utcMs,
                     .offsetSec = offsetSec,
                     .address = address,
                     .model = QStringLiteral("qx2r"),
                     .firmware = QStringLiteral("1.2"),
                     .result = result,
                     .roundTripMs = 9};
    if (r.ok()) {
        r.sensors = r.relays = 2;
        r.state = {stsTEMP_OK, stsTEMP_OK, stsTEMP_OK, stsTEMP_OK};
        r.value = {50, 50, 50, 50};
        r.relay = {1, 0, -1, -1};
    }
    return r;
}

QString IntegrityCheck(const QString &path) {
    QString answer;
    {
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("check"));
        db.setDatabaseName(path);
        db.open();
        QSqlQuery q(db);
        if (q.exec(QStringLiteral("PRAGMA integrity_check")) && q.next())
            answer = q.value(0).toString();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("check"));
    return answer;
}
} // namespace

class tst_recorder : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    QStringList reports;
    tRecorder::tReport Collect() {
        return [this](const QString &text, bool failure) {
            reports << (failure ? QStringLiteral("! ") : QString()) + text;
        };
    }

  private Q_SLOTS:
    void init() { reports.clear(); }
    void recordsAtIntervalAndOnChange();
    void intervalHeldWhateverTheReads_data();
    void intervalHeldWhateverTheReads();
    void liveViewKeepsTheLastHour();
    void fullDiskStopsOnceAndResumes();
    void fileGoneUnderTheRecorderIsSaidAndBegunAnew_data();
    void fileGoneUnderTheRecorderIsSaidAndBegunAnew();
    void eventLogStopsAtTheNewestHeldSlot();
};

void tst_recorder::recordsAtIntervalAndOnChange() {
    tHistoryStore store;
    QVERIFY(store.Open(dir.filePath(QStringLiteral("interval.sqlite"))));
    tRecorder rec(store, Collect());
    rec.SetInterval(60);
    // A reading every 5 s for three minutes: relay 2 switches on at 75 s,
    // sensor 3 opens at 100 s, the read at 130 s fails, the clock goes back
    // a minute after 170 s.
    for (int64_t s = 0; s <= 180; s += 5) {
        const int32_t result = s == 130 ? errMODBUS_TIMEOUT : 22;
        const int64_t at = s > 170 ? t0 + (s - 60) * second : t0 + s * second;
        tStatusReading r = Reading(at, -10800, result);
        if (r.ok()) {
            r.relay[1] = s >= 75 ? 1 : 0;
            r.state[2] = s >= 100 ? stsTEMP_ERRMAX : stsTEMP_OK;
            r.value[0] = int32_t(50 + s); // a value change alone is not news
        }
        rec.Observe(r);
    }
    const int64_t ctl = store.Controllers().at(0).id;
    QList<int64_t> seconds;
    for (const tStatusReading &r : store.Readings(ctl, t0 - 3600 * second, t0 + 3600 * second))
        seconds << (r.utcMs - t0) / second;
    // The interval at 60, the switch at 75, the sensor at 100, the failure at
    // 130 and the recovery at 135; at 175 the clock says 115, before the last
    // one recorded: recorded at once, kept in UTC order, nothing replaced.
    QCOMPARE(seconds, (QList<int64_t>{0, 60, 75, 100, 115, 130, 135}));
    QVERIFY(reports.isEmpty());
}

void tst_recorder::intervalHeldWhateverTheReads_data() {
    QTest::addColumn<int64_t>("intervalMs");
    QTest::addColumn<int64_t>("readEveryMs");
    QTest::addColumn<int64_t>("jitterMs"); // reads alternately this early and late
    QTest::addColumn<int64_t>("forMs");
    QTest::addColumn<int>("recorded");
    // The window reads every second, a few milliseconds either way.
    QTest::newRow("1 s, read every second")
        << int64_t(1000) << int64_t(1000) << int64_t(4) << int64_t(120'000) << 120;
    QTest::newRow("half a second")
        << int64_t(500) << int64_t(500) << int64_t(0) << int64_t(30'000) << 60;
    QTest::newRow("1.9 s, read every 100 ms")
        << int64_t(1900) << int64_t(100) << int64_t(0) << int64_t(19'000) << 10;
    QTest::newRow("a minute, read every second")
        << int64_t(60'000) << int64_t(1000) << int64_t(4) << int64_t(600'000) << 10;
}

// Readings unchanged but for the time: the interval alone decides.
void tst_recorder::intervalHeldWhateverTheReads() {
    QFETCH(int64_t, intervalMs);
    QFETCH(int64_t, readEveryMs);
    QFETCH(int64_t, jitterMs);
    QFETCH(int64_t, forMs);
    QFETCH(int, recorded);
    tHistoryStore store;
    QVERIFY(store.Open(
        dir.filePath(QString::fromLatin1(QTest::currentDataTag()) + QStringLiteral(".sqlite"))));
    const int64_t start = t0;
    tRecorder rec(store, Collect());
    rec.SetIntervalMs(intervalMs);
    int64_t k = 0;
    for (int64_t at = 0; at < forMs; at += readEveryMs, ++k)
        rec.Observe(Reading(start + at + (k % 2 ? jitterMs : -jitterMs), 0));
    const int64_t ctl = store.Controllers().at(0).id;
    QCOMPARE(int(store.Readings(ctl, start - forMs, start + 2 * forMs).size()), recorded);
}

void tst_recorder::liveViewKeepsTheLastHour() {
    tHistoryStore store;
    QVERIFY(store.Open(dir.filePath(QStringLiteral("live.sqlite"))));
    tRecorder rec(store, Collect());
    for (int64_t s = 0; s < 2 * 3600; s += 1)
        rec.Observe(Reading(t0 + s * second, 0));
    const auto &live = rec.Live(QString(), address);
    QCOMPARE(live.size(), size_t(3600));
    QCOMPARE(live.back().utcMs, t0 + (2 * 3600 - 1) * second);
    QCOMPARE(live.front().utcMs, t0 + 3600 * second);
    QVERIFY(rec.Live(QString(), address + 1).empty());
    // One reading a minute went to the file, not one a second.
    QCOMPARE(store.Readings(store.Controllers().at(0).id, 0, t0 + 3 * 3600 * second).size(),
             size_t(120));
}

void tst_recorder::fullDiskStopsOnceAndResumes() {
    const QString path = dir.filePath(QStringLiteral("full.sqlite"));
    tHistoryStore store;
    QVERIFY(store.Open(path));
    tRecorder rec(store, Collect());
    rec.SetInterval(10);
    int64_t s = 0;
    const auto observe = [&](int64_t until) {
        for (; s < until; s += 5)
            rec.Observe(Reading(t0 + s * second, 0));
    };
    observe(30);
    {
        const FileSizeLimit full(4096);
        QVERIFY(full.ok);
        observe(120);
        QVERIFY(rec.Failing());
        QCOMPARE(reports.size(), 1);
        QVERIFY2(reports[0].startsWith(QStringLiteral("! Gravação do histórico interrompida")),
                 qPrintable(reports[0]));
        // The live view went on.
        QCOMPARE(rec.Live(QString(), address).back().utcMs, t0 + 115 * second);
    }
    observe(150);
    QVERIFY(!rec.Failing());
    QCOMPARE(reports.size(), 2);
    QCOMPARE(reports[1], QStringLiteral("Gravação do histórico retomada"));
    // Every reading due in the meantime is in the file, in order.
    QList<int64_t> seconds;
    for (const tStatusReading &r :
         store.Readings(store.Controllers().at(0).id, 0, t0 + 3600 * second))
        seconds << (r.utcMs - t0) / second;
    QList<int64_t> expected;
    for (int64_t e = 0; e < 150; e += 10)
        expected << e;
    QCOMPARE(seconds, expected);
    store.Close();
    QCOMPARE(IntegrityCheck(path), QStringLiteral("ok"));
}

void tst_recorder::fileGoneUnderTheRecorderIsSaidAndBegunAnew_data() {
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("inNewFile"); // readings the file at the path holds at the end
    QTest::newRow("deleted") << "deleted" << 3;
    // Its write-ahead log stays at the old name: emptied into the file
    // moved, not taken by the new one.
    QTest::newRow("moved away") << "moved" << 3;
    // Another history copied in its place (a backup put back): written on.
    QTest::newRow("replaced") << "replaced" << 4;
}

// SQLite writes on into a file deleted under it, where nobody will read.
void tst_recorder::fileGoneUnderTheRecorderIsSaidAndBegunAnew() {
    QFETCH(QString, how);
    QFETCH(int, inNewFile);
    const QString path = dir.filePath(how + QStringLiteral(".sqlite"));
    tHistoryStore store;
    QVERIFY(store.Open(path));
    tRecorder rec(store, Collect());
    rec.SetInterval(10);
    int64_t s = 0;
    const auto observe = [&](int64_t until) {
        for (; s < until; s += 5)
            rec.Observe(Reading(t0 + s * second, 0));
    };
    observe(30); // 0, 10, 20
    if (how == QLatin1String("deleted")) {
        for (const char *suffix : {"", "-wal", "-shm"})
            QFile::remove(path + QLatin1String(suffix));
    } else if (how == QLatin1String("moved")) {
        QVERIFY(QFile::rename(path, path + QStringLiteral(".antigo")));
    } else {
        const QString other = dir.filePath(QStringLiteral("backup.sqlite"));
        {
            tHistoryStore backup;
            QVERIFY(backup.Open(other));
            const tStatusReading r = Reading(t0 - 3600 * second, 0);
            QVERIFY(backup.AddReading(
                backup.ControllerId({0, r.port, r.address, r.model, r.firmware}), r));
        }
        QVERIFY(QFile::remove(path));
        QVERIFY(QFile::rename(other, path));
    }
    observe(60); // 30, 40, 50
    QCOMPARE(rec.Replaced(), 1);
    QCOMPARE(reports.size(), 2);
    QVERIFY2(reports[0].startsWith(QStringLiteral("! Gravação do histórico interrompida")) &&
                 reports[0].contains(QStringLiteral("apagado ou trocado")),
             qPrintable(reports[0]));
    QCOMPARE(reports[1], QStringLiteral("Gravação do histórico retomada"));
    store.Close();
    tHistoryStore now;
    QVERIFY(now.Open(path));
    QCOMPARE(int(now.Readings(now.Controllers().at(0).id, 0, INT64_MAX).size()), inNewFile);
    if (how == QLatin1String("moved")) {
        tHistoryStore old;
        QVERIFY(old.Open(path + QStringLiteral(".antigo")));
        QCOMPARE(old.Readings(old.Controllers().at(0).id, 0, INT64_MAX).size(), size_t(3));
    }
}

void tst_recorder::eventLogStopsAtTheNewestHeldSlot() {
    tHistoryStore store;
    QVERIFY(store.Open(dir.filePath(QStringLiteral("log.sqlite"))));
    tRecorder rec(store, Collect());
    struct {
        tOndrel dev;
    } c;
    // A ring of 8 slots; `written` slots hold events, the newest at `last`.
    int32_t written = 3, last = 2;
    QList<int32_t> read;
    const auto send = [&](tCommand cmd) -> int32_t {
        if (cmd == cmdGET_LOG_INFO) {
            c.dev.LogCountSlots = 8;
            c.dev.LogLastSlot = last;
        } else if (cmd == cmdGET_LOG_READ) {
            const int32_t slot = c.dev.LogSlotRead;
            read << slot;
            const bool has = written >= 8 || (slot <= last && slot > last - written);
            c.dev.Log = has ? tSlotLog{.event = uint8_t(0x11 + (slot % 2)),
                                       .sensor1 = 250,
                                       .sensor2 = 0,
                                       .year = 2026,
                                       .month = 12,
                                       .mday = 10,
                                       .hour = 8,
                                       .min = uint8_t(slot),
                                       .sec = 0}
                            : tSlotLog{};
        }
        return 1;
    };
    QVERIFY(rec.EventLogDue(QString(), address, t0));
    QCOMPARE(rec.ReadEventLog(c.dev, address, send, t0), 3);
    QCOMPARE(read, (QList<int32_t>{2, 1, 0, 7})); // slot 7 was never written
    QVERIFY(!rec.EventLogDue(QString(), address, t0 + 60 * second));
    QVERIFY(rec.EventLogDue(QString(), address, t0 + 3600 * second));
    // Two new events: read back to the newest slot already held.
    read.clear();
    written = 5;
    last = 4;
    QCOMPARE(rec.ReadEventLog(c.dev, address, send, t0 + 3600 * second), 2);
    QCOMPARE(read, (QList<int32_t>{4, 3, 2}));
    QCOMPARE(store.LogSlots(store.Controllers().at(0).id).size(), size_t(5));
    // A failed command ends the walk with its result.
    QCOMPARE(rec.ReadEventLog(
                 c.dev, address, [](tCommand) { return errMODBUS_TIMEOUT; }, t0),
             errMODBUS_TIMEOUT);
}

QTEST_GUILESS_MAIN(tst_recorder)
#include "tst_recorder.moc"
