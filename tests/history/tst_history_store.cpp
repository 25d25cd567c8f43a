#include "history_store.h"

#include "history_files.h"

#include "u_ondrel.h"

#include <QDateTime>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <future>
#include <map>
#include <thread>

namespace {
constexpr int64_t minute = 60'000;
constexpr int64_t t0 = 1'780'000'000'000; // a whole minute, in 2026

tStatusReading Reading(int64_t t, int32_t v0, std::array<int32_t, 4> relays = {0, 0, -1, -1}) {
    tStatusReading r{.utcMs = t, .offsetSec = -3 * 3600};
    r.state = {stsTEMP_OK, stsTEMP_ERRMAX, stsTEMP_OK, stsTEMP_OK};
    r.value = {v0, 999, 10, 20};
    r.relay = relays;
    r.result = 22;
    r.roundTripMs = 12;
    return r;
}

// What another program (or a plain sqlite3) sees in the file.
QVariant Pragma(const QString &path, const char *sql) {
    QVariant v;
    {
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("peek"));
        db.setDatabaseName(path);
        db.open();
        QSqlQuery q(db);
        if (q.exec(QLatin1String(sql)) && q.next())
            v = q.value(0);
    }
    QSqlDatabase::removeDatabase(QStringLiteral("peek"));
    return v;
}

// Runs `sql` statements on a connection of another program, in order.
void Exec(const QString &path, const QStringList &sql) {
    {
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("other"));
        db.setDatabaseName(path);
        QVERIFY(db.open());
        QSqlQuery q(db);
        for (const QString &s : sql)
            QVERIFY2(q.exec(s), qPrintable(s + u' ' + q.lastError().text()));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("other"));
}

using historyfiles::Bytes;

// Another program holding the file's write lock for `holdMs`, from a thread
// of its own; returns once the lock is held.
std::thread HoldWriteLock(const QString &path, int holdMs) {
    std::promise<void> held;
    std::future<void> isHeld = held.get_future();
    std::thread holder([path, holdMs, held = std::move(held)]() mutable {
        {
            QSqlDatabase db =
                QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("holder"));
            db.setDatabaseName(path);
            db.open();
            QSqlQuery q(db);
            q.exec(QStringLiteral("BEGIN IMMEDIATE"));
            held.set_value();
            std::this_thread::sleep_for(std::chrono::milliseconds(holdMs));
            q.exec(QStringLiteral("COMMIT"));
        }
        QSqlDatabase::removeDatabase(QStringLiteral("holder"));
    });
    isHeld.wait();
    return holder;
}

// A history file as the Tarvik of schema `version` left it (no mark, no
// chain), with a controller, two readings, a log slot and an audit.
void OlderFile(const QString &path, int32_t version) {
    QStringList sql;
    for (int32_t v = 0; v < version; ++v)
        sql += tHistoryStore::MigrationSql(v);
    sql << QStringLiteral("PRAGMA user_version = %1").arg(version)
        << QStringLiteral("INSERT INTO controller VALUES(1, '/dev/ttyUSB0', 201, 'qx4r', '1.2')");
    for (int m = 0; m < 2; ++m)
        sql << QStringLiteral("INSERT INTO reading VALUES(1, %1, 0, -10800, 0, 0, %2, 3, NULL, "
                              "0, 10, 0, 20, 1, 0, -1, -1, 22, 12)")
                   .arg(t0 + m * minute)
                   .arg(40 + m);
    sql << QStringLiteral("INSERT INTO log_slot VALUES(1, 7, 17, 250, 0, 2026, 12, 10, 8, 30, 5, "
                          "%1)")
               .arg(t0)
        << QStringLiteral("INSERT INTO audit VALUES(1, 1, %1, -10800, 'ana', 'Parâmetros de "
                          "sistema', 13)")
               .arg(t0)
        << QStringLiteral("INSERT INTO audit_field VALUES(1, 'OFS1', '0.0', '-1.5')");
    Exec(path, sql);
}

} // namespace

class tst_history_store : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    QString Path(const char *name) const { return dir.filePath(QLatin1String(name)); }

  private Q_SLOTS:
    void newFileIsWalAtCurrentVersion();
    void readingsThinnedPerBucket();
    void curveFromSummaryMatchesReadings_data();
    void curveFromSummaryMatchesReadings();
    void logSlotStoredOnce();
    void auditKeepsEachField();
    void newerFileOpensReadOnly();
    void foreignFileLeftAsItIs_data();
    void foreignFileLeftAsItIs();
    void olderFileUpgradedWhole();
    void readAccessChangesNothing();
    void chainNamesTheFirstTampering_data();
    void chainNamesTheFirstTampering();
    void chainWholeAcrossRetention();
    void damagedFileSaid();
    void writeWaitsForAnotherWriter_data();
    void writeWaitsForAnotherWriter();
    void clockMovedBackKeepsEverything();
    void daysAndExcursions_data();
    void daysAndExcursions();
    void daysOfASensorOpenAllDay();
    void relayChanges();
    void retention_data();
    void retention();
    void filePath_data();
    void filePath();
    void refusalReadsAsOneSentence();
};

void tst_history_store::newFileIsWalAtCurrentVersion() {
    const QString path = Path("sub/new.sqlite");
    {
        tHistoryStore store;
        QVERIFY2(store.Open(path), qPrintable(store.Message()));
        QVERIFY(!store.ReadOnly());
        const tHistController c{0, QStringLiteral("/dev/ttyUSB0"), 201, QStringLiteral("qx4r"),
                                QStringLiteral("1.2")};
        const int64_t id = store.ControllerId(c);
        QVERIFY(id > 0);
        QCOMPARE(store.ControllerId(c), id);
        tHistController other = c;
        other.address = 202;
        QVERIFY(store.ControllerId(other) != id);
        QCOMPARE(store.Controllers().size(), size_t(2));
        QCOMPARE(store.Controllers()[0].model, QStringLiteral("qx4r"));
    }
    QCOMPARE(Pragma(path, "PRAGMA user_version").toInt(), tHistoryStore::schemaVersion);
    QCOMPARE(Pragma(path, "PRAGMA journal_mode").toString(), QStringLiteral("wal"));
    // Opening again finds its controllers and migrates nothing.
    tHistoryStore again;
    QVERIFY(again.Open(path));
    QCOMPARE(again.Controllers().size(), size_t(2));
}

void tst_history_store::readingsThinnedPerBucket() {
    tHistoryStore store;
    QVERIFY(store.Open(Path("buckets.sqlite")));
    const int64_t ctl = store.ControllerId({0, QStringLiteral("p"), 1, QStringLiteral("qx4r"), {}});
    // Ten minutes: values 0..9; minute 4 failed; minute 7 read in Fahrenheit
    // (77.0 ºF = 25.0 ºC).
    for (int m = 0; m < 10; ++m) {
        tStatusReading r = Reading(t0 + m * minute, m * 10);
        if (m == 4) {
            r.state = {-1, -1, -1, -1};
            r.result = errMODBUS_TIMEOUT;
        }
        if (m == 7) {
            r.unit = tempFAHRENHEIT;
            r.value[0] = 770;
        }
        QVERIFY2(store.AddReading(ctl, r), qPrintable(store.Message()));
    }
    const auto b = store.Buckets(ctl, 0, t0, t0 + 10 * minute, 5 * minute);
    QCOMPARE(b.size(), size_t(2));
    QCOMPARE(b[0].fromMs, t0);
    QCOMPARE(b[0].min, 0);
    QCOMPARE(b[0].max, 30);
    QCOMPARE(b[0].count, 4); // the failed reading is no point
    QCOMPARE(b[1].fromMs, t0 + 5 * minute);
    QCOMPARE(b[1].min, 50);
    QCOMPARE(b[1].max, 250);
    QCOMPARE(b[1].lastMs, t0 + 9 * minute);
    // In Fahrenheit: 0.0 ºC is 32.0 ºF; the Fahrenheit reading stays as read.
    const auto f = store.Buckets(ctl, 0, t0, t0 + 10 * minute, 10 * minute, tempFAHRENHEIT);
    QCOMPARE(f.size(), size_t(1));
    QCOMPARE(f[0].min, 320);
    QCOMPARE(f[0].max, 770);
    // A sensor in error is never a point; the range's end is exclusive.
    QVERIFY(store.Buckets(ctl, 1, t0, t0 + 10 * minute, minute).empty());
    QCOMPARE(store.Buckets(ctl, 0, t0, t0 + 2 * minute, minute).size(), size_t(2));

    const auto all = store.Readings(ctl, t0, t0 + 10 * minute);
    QCOMPARE(all.size(), size_t(10));
    QCOMPARE(all[4].result, errMODBUS_TIMEOUT);
    QCOMPARE(all[7].unit, tempFAHRENHEIT);
    QCOMPARE(all[3].offsetSec, -3 * 3600);
    QCOMPARE(all[3].roundTripMs, 12);
    QCOMPARE(store.ReadingSpan(ctl)->second, t0 + 9 * minute);
}

void tst_history_store::curveFromSummaryMatchesReadings_data() {
    QTest::addColumn<int64_t>("bucketMs");
    QTest::addColumn<int32_t>("unit");
    QTest::newRow("readings only") << 7 * minute << tempCELSIUS;
    QTest::newRow("10 min slots") << 60 * minute << tempCELSIUS;
    QTest::newRow("4 h slots") << 8 * 60 * minute << tempCELSIUS;
    QTest::newRow("4 h slots, Fahrenheit") << 12 * 60 * minute << tempFAHRENHEIT;
}

// Wide buckets come from the summary the database keeps; they must hold
// what the readings hold, each summary slot counted where its start falls,
// the range's ragged ends taken from the readings themselves.
void tst_history_store::curveFromSummaryMatchesReadings() {
    QFETCH(int64_t, bucketMs);
    QFETCH(int32_t, unit);
    tHistoryStore store;
    // One file for every row: filled by the first.
    const bool fill = !QFile::exists(Path("curve.sqlite"));
    QVERIFY(store.Open(Path("curve.sqlite")));
    const int64_t ctl = store.ControllerId({0, QStringLiteral("p"), 1, {}, {}});
    const int64_t slot4h = 4 * 60 * minute, base = t0 - t0 % slot4h;
    const int64_t from = base + 7 * minute, to = base + 30 * 60 * minute + 13 * minute;
    QVERIFY(store.Begin());
    for (int64_t t = base - 30 * minute; fill && t < to + 30 * minute; t += minute) {
        const int64_t i = (t - base) / minute;
        tStatusReading r = Reading(t, int32_t((i * 37) % 301 - 150),
                                   {int32_t(i % 3 == 0), int32_t(i % 7 < 3), -1, -1});
        if (i % 101 == 0)
            r.state[0] = stsTEMP_ERRMIN;
        if (i % 211 == 0)
            r.result = errMODBUS_TIMEOUT;
        if (i == 500) {
            r.unit = tempFAHRENHEIT;
            r.value[0] = 770; // 25.0 ºC: converts exactly both ways
        }
        QVERIFY(store.AddReading(ctl, r));
    }
    QVERIFY(store.Commit());

    const int64_t level = bucketMs >= slot4h ? slot4h : bucketMs >= 10 * minute ? 10 * minute : 0;
    const int64_t inFrom = level ? (from + level - 1) / level * level : to;
    const int64_t inTo = level ? to / level * level : to;
    std::map<int64_t, std::pair<int32_t, int32_t>> expected;
    std::map<int64_t, std::array<int32_t, 4>> relays; // on and known of relays 1 and 2
    for (const tStatusReading &r : store.Readings(ctl, from, to)) {
        const int64_t slotted =
            r.utcMs >= inFrom && r.utcMs < inTo ? r.utcMs - r.utcMs % level : r.utcMs;
        if (r.result > 0) {
            auto &counts = relays[(slotted - from) / bucketMs];
            counts[0] += r.relay[0];
            counts[1] += 1;
            counts[2] += r.relay[1];
            counts[3] += 1;
        }
        if (r.state[0] != stsTEMP_OK)
            continue;
        int32_t v = r.value[0];
        if (r.unit != unit)
            v = unit == tempFAHRENHEIT ? int32_t(std::lround(v * 1.8 + 320))
                                       : int32_t(std::lround((v - 320) / 1.8));
        const int64_t at =
            r.utcMs >= inFrom && r.utcMs < inTo ? r.utcMs - r.utcMs % level : r.utcMs;
        auto [it, fresh] = expected.try_emplace((at - from) / bucketMs, v, v);
        it->second = {std::min(it->second.first, v), std::max(it->second.second, v)};
    }
    const auto got = store.Curve(ctl, from, to, bucketMs, unit);
    QCOMPARE(got[1].size(), size_t(0)); // sensor 2 is always in error
    QCOMPARE(got[0].size(), expected.size());
    size_t i = 0;
    for (const auto &[index, minMax] : expected) {
        QCOMPARE(got[0][i].fromMs, from + index * bucketMs);
        QCOMPARE(std::pair(got[0][i].min, got[0][i].max), minMax);
        ++i;
    }
    const auto bands = store.RelayBuckets(ctl, from, to, bucketMs);
    QCOMPARE(bands.size(), relays.size());
    i = 0;
    for (const auto &[index, counts] : relays) {
        QCOMPARE(bands[i].fromMs, from + index * bucketMs);
        QCOMPARE((std::array{bands[i].on[0], bands[i].known[0], bands[i].on[1], bands[i].known[1]}),
                 counts);
        QCOMPARE(bands[i].known[2], 0);
        ++i;
    }
}

void tst_history_store::logSlotStoredOnce() {
    tHistoryStore store, other;
    QVERIFY(store.Open(Path("slots.sqlite")));
    QVERIFY(other.Open(Path("slots.sqlite")));
    const int64_t ctl = store.ControllerId({0, QStringLiteral("p"), 1, QStringLiteral("qx4r"), {}});
    tSlotLog slot{.event = 0x11,
                  .sensor1 = 250,
                  .sensor2 = 0,
                  .year = 2026,
                  .month = 12,
                  .mday = 10,
                  .hour = 8,
                  .min = 30,
                  .sec = 5};
    bool isNew = false;
    QVERIFY(store.AddLogSlot(HistLogSlotOf(ctl, 7, slot, t0), &isNew));
    QVERIFY(isNew);
    // The same slot read again, by another program, later: not stored again.
    QVERIFY(other.AddLogSlot(HistLogSlotOf(ctl, 7, slot, t0 + minute), &isNew));
    QVERIFY(!isNew);
    // The ring wrapped: slot 7 now holds another event, which is new.
    slot.hour = 9;
    QVERIFY(store.AddLogSlot(HistLogSlotOf(ctl, 7, slot, t0 + 2 * minute), &isNew));
    QVERIFY(isNew);
    const auto held = store.LogSlots(ctl);
    QCOMPARE(held.size(), size_t(2));
    QCOMPARE(held[0].hour, uint8_t(9));
    QCOMPARE(held[1].readUtcMs, t0);
}

void tst_history_store::auditKeepsEachField() {
    tHistoryStore store;
    QVERIFY(store.Open(Path("audit.sqlite")));
    const int64_t a = store.ControllerId({0, QStringLiteral("p"), 1, QStringLiteral("qx4r"), {}});
    const int64_t b = store.ControllerId({0, QStringLiteral("p"), 2, QStringLiteral("qx4r"), {}});
    QVERIFY(
        store.AddAudit({a,
                        t0,
                        0,
                        QStringLiteral("ana"),
                        QStringLiteral("Parâmetros de sistema"),
                        1,
                        {{QStringLiteral("OFS1"), QStringLiteral("0.0"), QStringLiteral("-1.5")},
                         {QStringLiteral("TT"), QStringLiteral("ºC"), QStringLiteral("ºF")}}}));
    QVERIFY(store.AddAudit(
        {b, t0 + minute, 0, QStringLiteral("ana"), QStringLiteral("Relé 2 ligado"), 1, {}}));
    const auto all = store.Audits(0, t0, t0 + 2 * minute);
    QCOMPARE(all.size(), size_t(2));
    QCOMPARE(all[0].audit.fields.size(), size_t(2));
    QCOMPARE(all[0].audit.fields[1].newValue, QStringLiteral("ºF"));
    QCOMPARE(all[0].audit.command, QStringLiteral("Parâmetros de sistema"));
    QVERIFY(all[1].audit.fields.empty());
    QCOMPARE(store.Audits(b, t0, t0 + 2 * minute).size(), size_t(1));
    QCOMPARE(store.Audits(0, t0 + 1, t0 + 2 * minute).size(), size_t(1));
}

void tst_history_store::newerFileOpensReadOnly() {
    const QString path = Path("newer.sqlite");
    {
        tHistoryStore store;
        QVERIFY(store.Open(path));
        QVERIFY(store.AddReading(store.ControllerId({0, QStringLiteral("p"), 1, {}, {}}),
                                 Reading(t0, 5)));
    }
    Pragma(path, "PRAGMA user_version = 99");
    const QByteArray before = [&] {
        QFile f(path);
        f.open(QIODevice::ReadOnly);
        return f.readAll();
    }();
    tHistoryStore store;
    QVERIFY(store.Open(path));
    QVERIFY(store.ReadOnly());
    QVERIFY2(store.Message().contains(QStringLiteral("somente para leitura")),
             qPrintable(store.Message()));
    QCOMPARE(store.Controllers().size(), size_t(1));
    QCOMPARE(store.Readings(1, t0, t0 + 1).size(), size_t(1));
    QVERIFY(!store.AddReading(1, Reading(t0 + minute, 6)));
    QVERIFY(!store.AddAudit({1, t0, 0, {}, {}, 1, {}}));
    QCOMPARE(store.ControllerId({0, QStringLiteral("q"), 1, {}, {}}), int64_t(0));
    store.Close();
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), before);
}

void tst_history_store::foreignFileLeftAsItIs_data() {
    QTest::addColumn<QStringList>("sql"); // what another program made; none: a text file
    QTest::newRow("another program's database")
        << QStringList{"CREATE TABLE clientes(id INTEGER PRIMARY KEY, nome TEXT)",
                       "INSERT INTO clientes VALUES(1, 'Ana')", "PRAGMA user_version = 3"};
    QTest::newRow("marked by another program")
        << QStringList{"PRAGMA application_id = 1234", "CREATE TABLE t(x)"};
    QTest::newRow("tables alike, no mark") << QStringList{
        "CREATE TABLE controller(id)", "CREATE TABLE reading(x)", "PRAGMA user_version = 1"};
    QTest::newRow("not a database") << QStringList{};
}

// A file that is not a Tarvik history is refused, for writing or reading,
// and left byte for byte as it was (not even switched to WAL).
void tst_history_store::foreignFileLeftAsItIs() {
    QFETCH(QStringList, sql);
    const QString path = Path(QTest::currentDataTag());
    if (sql.isEmpty()) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray("data;hora;temperatura\n").repeated(400));
    } else {
        Exec(path, sql);
    }
    const QByteArray before = Bytes(path);
    for (auto access : {tHistoryStore::tAccess::Write, tHistoryStore::tAccess::Read}) {
        tHistoryStore store;
        QVERIFY(!store.Open(path, access));
        QVERIFY2(store.Message().contains(QStringLiteral("não é um histórico do Tarvik")),
                 qPrintable(store.Message()));
    }
    QCOMPARE(Bytes(path), before);
    QVERIFY(!QFile::exists(path + QStringLiteral("-wal")));
}

// A file of an older Tarvik (no mark) is taken as ours, marked and brought
// to the current schema with every row.
void tst_history_store::olderFileUpgradedWhole() {
    for (int32_t version = 1; version < tHistoryStore::schemaVersion; ++version) {
        const QString path = Path(qPrintable(QStringLiteral("older%1.sqlite").arg(version)));
        OlderFile(path, version);
        tHistoryStore store;
        QVERIFY2(store.Open(path), qPrintable(store.Message()));
        QVERIFY(!store.ReadOnly());
        QCOMPARE(store.Controllers().size(), size_t(1));
        const auto readings = store.Readings(1, t0, t0 + 2 * minute);
        QCOMPARE(readings.size(), size_t(2));
        QCOMPARE(readings[1].value[0], 41);
        QCOMPARE(store.LogSlots(1).size(), size_t(1));
        QCOMPARE(store.Audits(0, t0, t0 + 1).at(0).audit.fields.size(), size_t(1));
        QVERIFY(store.AddReading(1, Reading(t0 + 2 * minute, 42)));
        const std::optional<tHistChainCheck> check = store.VerifyChain();
        QVERIFY2(check && check->Whole(), check ? qPrintable(check->first) : "");
        QCOMPARE(check->sealedUpTo, int64_t(5)); // controller, 2 readings, slot, audit
        QCOMPARE(check->links, int64_t(6));
        store.Close();
        QCOMPARE(Pragma(path, "PRAGMA application_id").toInt(), tHistoryStore::applicationId);
        QCOMPARE(Pragma(path, "PRAGMA user_version").toInt(), tHistoryStore::schemaVersion);
    }
}

// Reading commands: a missing file is not made (nor its folder), a file is
// read without a change, and nothing is written through that connection.
void tst_history_store::readAccessChangesNothing() {
    tHistoryStore store;
    const QString missing = Path("nada/historico.sqlite");
    QVERIFY(!store.Open(missing, tHistoryStore::tAccess::Read));
    QVERIFY2(store.Message().contains(QStringLiteral("não existe")), qPrintable(store.Message()));
    QVERIFY(!QFileInfo::exists(Path("nada")));

    const QString path = Path("readonly.sqlite");
    {
        tHistoryStore writer;
        QVERIFY(writer.Open(path));
        QVERIFY(writer.AddReading(writer.ControllerId({0, QStringLiteral("p"), 1, {}, {}}),
                                  Reading(t0, 5)));
    }
    const QByteArray before = Bytes(path);
    QVERIFY(store.Open(path, tHistoryStore::tAccess::Read));
    QCOMPARE(store.Readings(1, t0, t0 + 1).size(), size_t(1));
    QVERIFY(!store.AddReading(1, Reading(t0 + minute, 6)));
    QCOMPARE(store.ControllerId({0, QStringLiteral("q"), 1, {}, {}}), int64_t(0));
    store.Close();
    QCOMPARE(Bytes(path), before);
}

// A damaged page is said as such by every query that meets it, never
// passed off as a shorter range.
void tst_history_store::damagedFileSaid() {
    const QString path = Path("damaged.sqlite");
    historyfiles::Damaged(path);
    tHistoryStore store;
    QVERIFY2(store.Open(path, tHistoryStore::tAccess::Read), qPrintable(store.Message()));
    const auto check = [&](const char *what) {
        QVERIFY2(store.LastFailed() && store.Damaged(), what);
        QVERIFY2(store.Message().contains(QStringLiteral("arquivo danificado")),
                 qPrintable(store.Message()));
    };
    QVERIFY(store.Readings(1, t0, t0 + 1440 * minute).empty());
    check("readings");
    QVERIFY(store.Days(1, 0, t0, t0 + 1440 * minute, {}).empty());
    check("days");
    QVERIFY(!store.CheckStructure());
    check("structure");
}

void tst_history_store::chainNamesTheFirstTampering_data() {
    QTest::addColumn<QStringList>("sql"); // what another program did to the file
    QTest::addColumn<QString>("first");   // in the first fault's words; empty: whole
    const QString at = QDateTime::fromMSecsSinceEpoch(t0 + 2 * minute)
                           .toString(QStringLiteral("dd/MM/yyyy HH:mm:ss"));
    const QString t2 = QString::number(t0 + 2 * minute);
    QTest::newRow("whole") << QStringList{} << QString();
    QTest::newRow("reading edited") << QStringList{"UPDATE reading SET v0 = v0 + 1 WHERE t = " + t2}
                                    << "leitura de p endereço 1 de " + at + ") alterado";
    QTest::newRow("reading removed") << QStringList{"DELETE FROM reading WHERE t = " + t2}
                                     << "leitura de p endereço 1 de " + at + ") removido";
    QTest::newRow("reading removed with its link")
        << QStringList{"DELETE FROM reading WHERE t = " + t2,
                       "DELETE FROM chain WHERE kind = 2 AND t = " + t2}
        << "removido(s) fora do Tarvik";
    QTest::newRow("reading inserted")
        << QStringList{"INSERT INTO reading SELECT ctl, t + 30000, seq, off, unit, s0, v0, s1, v1, "
                       "s2, v2, s3, v3, r0, r1, r2, r3, result, rtt FROM reading WHERE t = " +
                       t2}
        << "inserido fora do Tarvik";
    QTest::newRow("audit field edited")
        << QStringList{"UPDATE audit_field SET new = '9.9'"} << "alteração nº 1";
    QTest::newRow("log slot edited")
        << QStringList{"UPDATE log_slot SET sensor1 = 1"} << "slot do LOG de p endereço 1";
    QTest::newRow("controller edited")
        << QStringList{"UPDATE controller SET address = 5"} << "controlador p endereço 5";
    QTest::newRow("chain recomputed from a link")
        << QStringList{"UPDATE chain SET h = zeroblob(32) WHERE n = 3"} << "nº 3 da cadeia";
}

// Records stored by Tarvik, then changed by another program: the walk
// names the first change, whatever the kind of record and of change.
void tst_history_store::chainNamesTheFirstTampering() {
    QFETCH(QStringList, sql);
    QFETCH(QString, first);
    const QString path = Path(QTest::currentDataTag());
    {
        tHistoryStore store;
        QVERIFY(store.Open(path));
        const int64_t ctl = store.ControllerId({0, QStringLiteral("p"), 1, {}, {}});
        for (int m = 0; m < 5; ++m)
            QVERIFY(store.AddReading(ctl, Reading(t0 + m * minute, m)));
        QVERIFY(store.AddAudit(
            {ctl,
             t0,
             0,
             QStringLiteral("ana"),
             QStringLiteral("Parâmetros de sistema"),
             1,
             {{QStringLiteral("OFS1"), QStringLiteral("0.0"), QStringLiteral("-1.5")}}}));
        QVERIFY(store.AddLogSlot(HistLogSlotOf(ctl, 7, tSlotLog{.event = 1, .year = 2026}, t0)));
    }
    Exec(path, sql);
    tHistoryStore store;
    QVERIFY(store.Open(path, tHistoryStore::tAccess::Read));
    const std::optional<tHistChainCheck> check = store.VerifyChain();
    QVERIFY2(check, qPrintable(store.Message()));
    QCOMPARE(check->Whole(), first.isEmpty());
    QVERIFY2(check->first.contains(first), qPrintable(check->first));
    if (first.isEmpty()) {
        QCOMPARE(check->links, int64_t(8));
        QCOMPARE(check->records, (std::array<int64_t, 4>{1, 5, 1, 1}));
        QCOMPARE(check->head.hash.size(), 32);
    }
}

// The retention limit removes links with the readings and records the cut:
// the chain still checks, and so do readings added after.
void tst_history_store::chainWholeAcrossRetention() {
    tHistoryStore store;
    QVERIFY(store.Open(Path("chaincut.sqlite")));
    const int64_t ctl = store.ControllerId({0, QStringLiteral("p"), 1, {}, {}});
    const int64_t hour = 60 * minute;
    for (int h = 0; h < 48; ++h) {
        QVERIFY(store.AddReading(ctl, Reading(t0 + h * hour, h)));
        if (h % 10 == 0) // records that stay between the readings that go
            QVERIFY(store.AddAudit({ctl, t0 + h * hour, 0, {}, QStringLiteral("x"), 1, {}}));
    }
    QVERIFY(store.ApplyRetention(1, t0 + 47 * hour) > 0);
    QVERIFY(store.AddReading(ctl, Reading(t0 + 48 * hour, 48)));
    const std::optional<tHistChainCheck> check = store.VerifyChain();
    QVERIFY2(check && check->Whole(), check ? qPrintable(check->first) : "");
    QVERIFY(check->retained > 0);
    // The period's head is the link of its newest record.
    const std::optional<tHistChainLink> head = store.ChainHead(ctl, t0, t0 + 48 * hour + 1);
    QVERIFY(head);
    QCOMPARE(head->n, check->head.n);
    QVERIFY(store.ChainHead(ctl, t0 + 47 * hour, t0 + 48 * hour)->n < head->n);
}

void tst_history_store::writeWaitsForAnotherWriter_data() {
    QTest::addColumn<int>("write");
    QTest::newRow("publisher's queued reading") << 0;
    QTest::newRow("retention") << 1;
    QTest::newRow("group that reads first") << 2;
    QTest::newRow("audit") << 3;
}

// Another program holds the write lock for less than the busy time-out:
// each kind of write waits for it and succeeds.
void tst_history_store::writeWaitsForAnotherWriter() {
    QFETCH(int, write);
    const QString path = Path(QTest::currentDataTag());
    tHistoryStore store;
    QVERIFY(store.Open(path));
    const tHistController c{0, QStringLiteral("p"), 1, QStringLiteral("qx4r"), {}};
    const int64_t ctl = store.ControllerId(c);
    int64_t done = 0;
    const int64_t target = store.PublishTarget(QStringLiteral("mqtt://b"), QStringLiteral("x"),
                                               QStringLiteral("p"), 1, &done);
    for (int m = -30 * 60; m < 3; m += 60)
        QVERIFY(store.AddReading(ctl, Reading(t0 + m * minute, m)));
    std::thread holder = HoldWriteLock(path, 600);
    bool ok = false;
    switch (write) {
    case 0: {
        tHistQueued e;
        e.reading = Reading(t0 + 3 * minute, 3);
        e.reading.port = c.port;
        e.reading.address = c.address;
        e.reading.model = c.model;
        e.reading.firmware = c.firmware;
        ok = store.AddQueued(target, e) > 0;
        break;
    }
    case 1:
        ok = store.ApplyRetention(1, t0 + 3 * minute) > 0;
        break;
    case 2:
        ok = store.Begin() && store.ControllerId(c) == ctl &&
             store.AddReading(ctl, Reading(t0 + 3 * minute, 3)) && store.Commit();
        break;
    case 3:
        ok = store.AddAudit({ctl, t0, 0, QStringLiteral("ana"), QStringLiteral("x"), 1, {}});
        break;
    }
    holder.join();
    QVERIFY2(ok, qPrintable(store.Message()));
}

void tst_history_store::clockMovedBackKeepsEverything() {
    tHistoryStore store;
    QVERIFY(store.Open(Path("clock.sqlite")));
    const int64_t ctl = store.ControllerId({0, QStringLiteral("p"), 1, {}, {}});
    // Recorded at 10:02, then the clock goes back an hour and 10:02 comes
    // again, to the millisecond.
    QVERIFY(store.AddReading(ctl, Reading(t0 + 2 * minute, 1)));
    QVERIFY(store.AddReading(ctl, Reading(t0 + 3 * minute, 2)));
    QVERIFY(store.AddReading(ctl, Reading(t0 + 1 * minute, 3)));
    QVERIFY(store.AddReading(ctl, Reading(t0 + 2 * minute, 4)));
    // A correction of a second is no step worth a mark.
    QVERIFY(store.AddReading(ctl, Reading(t0 + 2 * minute - 1000, 5)));
    const auto values = [](const std::vector<tStatusReading> &readings) {
        QList<int32_t> v;
        for (const tStatusReading &r : readings)
            v << r.value[0];
        return v;
    };
    QCOMPARE(values(store.Readings(ctl, t0, t0 + 10 * minute)), (QList<int32_t>{3, 5, 1, 4, 2}));

    // In the order taken, the reading after the step marked with the time
    // stored before it; a range holding only the earlier side marks nothing.
    std::vector<int64_t> steps;
    QCOMPARE(values(store.ReadingsAsStored(ctl, t0, t0 + 10 * minute, &steps)),
             (QList<int32_t>{1, 2, 3, 4, 5}));
    QCOMPARE(steps, (std::vector<int64_t>{0, 0, t0 + 3 * minute, 0, 0}));
    QCOMPARE(values(store.ReadingsAsStored(ctl, t0 + 2 * minute, t0 + 10 * minute, &steps)),
             (QList<int32_t>{1, 2, 4}));
    QCOMPARE(steps, (std::vector<int64_t>{0, 0, 0}));
    for (const auto &[from, to] :
         {std::pair{t0, t0 + 10 * minute}, std::pair{t0 + 2 * minute, t0 + 10 * minute}}) {
        const std::vector<tHistClockStep> said = store.ClockSteps(ctl, from, to);
        QCOMPARE(said.size(), size_t(1));
        QCOMPARE(said[0].beforeMs, t0 + 3 * minute);
        QCOMPARE(said[0].afterMs, t0 + minute);
    }
    QVERIFY(store.ClockSteps(ctl, t0 + 5 * minute, t0 + 10 * minute).empty());
}

void tst_history_store::daysAndExcursions_data() {
    QTest::addColumn<QList<int32_t>>("values"); // one a minute from t0
    QTest::addColumn<std::optional<int32_t>>("low");
    QTest::addColumn<std::optional<int32_t>>("high");
    QTest::addColumn<int64_t>("endMs"); // the range's end after t0; 0: a minute after the last
    QTest::addColumn<int64_t>("outsideMs");
    QTest::addColumn<QList<int64_t>>("excursions"); // start minute, end minute, extreme, ongoing

    const std::optional<int32_t> none;
    QTest::newRow("inside") << QList<int32_t>{10, 20, 30} << std::optional(0) << std::optional(40)
                            << int64_t(0) << int64_t(0) << QList<int64_t>{};
    QTest::newRow("one high") << QList<int32_t>{10, 50, 60, 30, 20} << none << std::optional(40)
                              << int64_t(0) << 2 * minute << QList<int64_t>{1, 3, 60, 0};
    // The last reading stands for nothing after itself, however far the
    // range goes on.
    QTest::newRow("low then high, readings stop")
        << QList<int32_t>{-10, 10, 50} << std::optional(0) << std::optional(40) << int64_t(0)
        << minute << QList<int64_t>{0, 1, -10, 0, 2, 2, 50, 1};
    // Readings go on past the range: the last one inside it stands until the end.
    QTest::newRow("range ends in an excursion")
        << QList<int32_t>{10, 50, 60, 30} << none << std::optional(40) << 90 * int64_t(1000)
        << 30 * int64_t(1000) << QList<int64_t>{1, 1, 50, 1};
    QTest::newRow("high to low at once")
        << QList<int32_t>{50, -20, 10} << std::optional(0) << std::optional(40) << int64_t(0)
        << 2 * minute << QList<int64_t>{0, 1, 50, 0, 1, 2, -20, 0};
    QTest::newRow("no limits") << QList<int32_t>{500} << none << none << int64_t(0) << int64_t(0)
                               << QList<int64_t>{};
}

void tst_history_store::daysAndExcursions() {
    QFETCH(QList<int32_t>, values);
    QFETCH(std::optional<int32_t>, low);
    QFETCH(std::optional<int32_t>, high);
    QFETCH(int64_t, endMs);
    QFETCH(int64_t, outsideMs);
    QFETCH(QList<int64_t>, excursions);

    tHistoryStore store;
    QVERIFY(store.Open(Path(QTest::currentDataTag())));
    const int64_t ctl = store.ControllerId({0, QStringLiteral("p"), 1, {}, {}});
    for (int m = 0; m < values.size(); ++m)
        QVERIFY(store.AddReading(ctl, Reading(t0 + m * minute, values[m])));
    const int64_t end = t0 + (endMs ? endMs : values.size() * minute);
    const QList<int32_t> inRange = values.first((end - t0 + minute - 1) / minute);
    const tHistLimits limits{low, high};

    const auto days = store.Days(ctl, 0, t0, end, limits);
    QCOMPARE(days.size(), size_t(1));
    QCOMPARE(days[0].count, int32_t(inRange.size()));
    QCOMPARE(days[0].min, *std::min_element(inRange.begin(), inRange.end()));
    QCOMPARE(days[0].max, *std::max_element(inRange.begin(), inRange.end()));
    QCOMPARE(days[0].outsideMs, outsideMs);
    QCOMPARE(days[0].open + days[0].shorted, 0);

    const auto found = store.Excursions(ctl, 0, t0, end, limits);
    QList<int64_t> got;
    for (const tHistExcursion &e : found)
        got << (e.startMs - t0) / minute << (e.endMs - t0) / minute << e.extreme << e.ongoing;
    QCOMPARE(got, excursions);
}

// A sensor open all day still has its day, with no values and the count of
// readings that found it open.
void tst_history_store::daysOfASensorOpenAllDay() {
    tHistoryStore store;
    QVERIFY(store.Open(Path("open.sqlite")));
    const int64_t ctl = store.ControllerId({0, QStringLiteral("p"), 1, {}, {}});
    for (int m = 0; m < 3; ++m)
        QVERIFY(store.AddReading(ctl, Reading(t0 + m * minute, 10))); // sensor 2 open
    const auto days = store.Days(ctl, 1, t0, t0 + 10 * minute, {std::nullopt, 40});
    QCOMPARE(days.size(), size_t(1));
    QCOMPARE(days[0].count, 0);
    QCOMPARE(days[0].open, 3);
    QCOMPARE(days[0].shorted, 0);
    QCOMPARE(days[0].outsideMs, int64_t(0));
}

void tst_history_store::relayChanges() {
    tHistoryStore store;
    QVERIFY(store.Open(Path("relays.sqlite")));
    const int64_t ctl = store.ControllerId({0, QStringLiteral("p"), 1, {}, {}});
    QVERIFY(store.AddReading(ctl, Reading(t0, 0, {0, 1, -1, -1})));
    QVERIFY(store.AddReading(ctl, Reading(t0 + minute, 0, {1, 1, -1, -1})));
    tStatusReading failed = Reading(t0 + 2 * minute, 0, {-1, -1, -1, -1});
    failed.result = errMODBUS_TIMEOUT;
    QVERIFY(store.AddReading(ctl, failed));
    QVERIFY(store.AddReading(ctl, Reading(t0 + 3 * minute, 0, {1, 0, -1, -1})));
    QList<int64_t> got;
    for (const tHistRelayChange &c : store.RelayChanges(ctl, t0, t0 + 10 * minute))
        got << (c.utcMs - t0) / minute << c.relay << c.on;
    QCOMPARE(got, (QList<int64_t>{0, 0, 0, 0, 1, 1, 1, 0, 1, 3, 1, 0}));
}

void tst_history_store::retention_data() {
    QTest::addColumn<QList<int>>("days"); // a reading at t0 + each day
    QTest::addColumn<int>("keepDays");
    QTest::addColumn<int64_t>("nowAfterNewest");
    QTest::addColumn<int64_t>("removed"); // -1: refused
    QTest::addColumn<QString>("why");
    const int64_t hour = 60 * minute, day = 24 * hour;
    const QList<int> tenDays{0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    QTest::newRow("clock right") << tenDays << 3 << hour << int64_t(6) << QString();
    QTest::newRow("nothing kept out") << tenDays << 0 << hour << int64_t(0) << QString();
    // Never closer to the newest reading than the kept span, whatever the clock.
    QTest::newRow("clock a little ahead") << tenDays << 3 << 2 * day << int64_t(6) << QString();
    QTest::newRow("clock far ahead") << tenDays << 3 << 400 * day << int64_t(-1) << "à frente";
    QTest::newRow("clock behind") << tenDays << 3 << -day << int64_t(-1) << "atrás";
    // Recorded after the clock jumped 400 days ahead: the true readings stay.
    QTest::newRow("recorded past a jump")
        << (QList<int>(tenDays) << 409) << 3 << hour << int64_t(-1) << "nenhuma leitura";
    // A long stop: what came before goes once the kept span is recorded after it.
    QTest::newRow("a span recorded past a stop")
        << (QList<int>(tenDays) << 409 << 410 << 411 << 412 << 413) << 3 << hour << int64_t(11)
        << QString();
}

void tst_history_store::retention() {
    QFETCH(QList<int>, days);
    QFETCH(int, keepDays);
    QFETCH(int64_t, nowAfterNewest);
    QFETCH(int64_t, removed);
    QFETCH(QString, why);
    tHistoryStore store;
    QVERIFY(store.Open(Path(QTest::currentDataTag())));
    const int64_t ctl = store.ControllerId({0, QStringLiteral("p"), 1, {}, {}});
    const int64_t day = 86'400'000;
    for (int d : days)
        QVERIFY(store.AddReading(ctl, Reading(t0 + d * day, d)));
    const int64_t newest = t0 + days.back() * day;
    QCOMPARE(store.ApplyRetention(keepDays, newest + nowAfterNewest), removed);
    QVERIFY2(store.Message().contains(why), qPrintable(store.Message()));
    const auto left = store.Readings(ctl, 0, newest + 1);
    QCOMPARE(left.size(), size_t(days.size()) - size_t(std::max<int64_t>(removed, 0)));
    QCOMPARE(left.back().utcMs, newest);
}

void tst_history_store::filePath_data() {
    QTest::addColumn<QString>("env");
    QTest::addColumn<QString>("settings");
    QTest::addColumn<QString>("data");
    QTest::addColumn<QString>("expected");
    QTest::newRow("installed") << QString() << "/home/u/.config/tarvik/tarvik.ini"
                               << "/home/u/.local/share/tarvik"
                               << "/home/u/.local/share/tarvik/historico.sqlite";
    QTest::newRow("portable") << QString() << "/media/pen/tarvik/tarvik.ini" << QString()
                              << "/media/pen/tarvik/historico.sqlite";
    QTest::newRow("override") << "/srv/camara.sqlite"
                              << "/media/pen/tarvik/tarvik.ini" << QString()
                              << "/srv/camara.sqlite";
}

void tst_history_store::filePath() {
    QFETCH(QString, env);
    QFETCH(QString, settings);
    QFETCH(QString, data);
    QFETCH(QString, expected);
    if (env.isEmpty())
        qunsetenv("TARVIK_HISTORICO");
    else
        qputenv("TARVIK_HISTORICO", env.toUtf8());
    QCOMPARE(HistoryFilePath(settings, data), expected);
    qunsetenv("TARVIK_HISTORICO");
}

// A query that fails is said in one sentence: SQLite's words once, no
// empty part, no driver's aside glued on ("... Unable to execute statement").
void tst_history_store::refusalReadsAsOneSentence() {
    const QString path = Path("sem-leituras.sqlite");
    tHistoryStore store;
    QVERIFY(store.Open(path));
    const int64_t ctl = store.ControllerId(
        {0, QStringLiteral("/dev/ttyUSB0"), 201, QStringLiteral("qx4r"), QStringLiteral("1.2")});
    QVERIFY(ctl > 0);
    {
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("other"));
        db.setDatabaseName(path);
        QVERIFY(db.open());
        QSqlQuery q(db);
        QVERIFY(q.exec(QStringLiteral("ALTER TABLE reading RENAME TO leituras")));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("other"));
    QVERIFY(store.Readings(ctl, 0, t0).empty());
    QVERIFY(store.LastFailed());
    QCOMPARE(store.Message(), QStringLiteral("Falha ao ler o histórico: no such table: reading"));
}

QTEST_GUILESS_MAIN(tst_history_store)
#include "tst_history_store.moc"
