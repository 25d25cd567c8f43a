#include "history_store.h"

#include "u_ondrel.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <map>

namespace {
constexpr int64_t minute = 60'000;
constexpr int64_t t0 = 1'780'000'000'000; // a whole minute, in 2026

tHistReading Reading(int64_t ctl, int64_t t, int32_t v0,
                     std::array<int32_t, 4> relays = {0, 0, -1, -1}) {
    tHistReading r{.controller = ctl, .utcMs = t, .offsetSec = -3 * 3600};
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
    void clockMovedBackKeepsEverything();
    void daysAndExcursions_data();
    void daysAndExcursions();
    void relayChanges();
    void retentionOnlyWhenSet();
    void filePath_data();
    void filePath();
    void refusalReadsAsOneSentence_data();
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
        tHistReading r = Reading(ctl, t0 + m * minute, m * 10);
        if (m == 4) {
            r.state = {-1, -1, -1, -1};
            r.result = errMODBUS_TIMEOUT;
        }
        if (m == 7) {
            r.unit = tempFAHRENHEIT;
            r.value[0] = 770;
        }
        QVERIFY2(store.AddReading(r), qPrintable(store.Message()));
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
        tHistReading r = Reading(ctl, t, int32_t((i * 37) % 301 - 150),
                                 {int32_t(i % 3 == 0), int32_t(i % 7 < 3), -1, -1});
        if (i % 101 == 0)
            r.state[0] = stsTEMP_ERRMIN;
        if (i % 211 == 0)
            r.result = errMODBUS_TIMEOUT;
        if (i == 500) {
            r.unit = tempFAHRENHEIT;
            r.value[0] = 770; // 25.0 ºC: converts exactly both ways
        }
        QVERIFY(store.AddReading(r));
    }
    QVERIFY(store.Commit());

    const int64_t level = bucketMs >= slot4h ? slot4h : bucketMs >= 10 * minute ? 10 * minute : 0;
    const int64_t inFrom = level ? (from + level - 1) / level * level : to;
    const int64_t inTo = level ? to / level * level : to;
    std::map<int64_t, std::pair<int32_t, int32_t>> expected;
    std::map<int64_t, std::array<int32_t, 4>> relays; // on and known of relays 1 and 2
    for (const tHistReading &r : store.Readings(ctl, from, to)) {
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
        QVERIFY(store.AddReading(
            Reading(store.ControllerId({0, QStringLiteral("p"), 1, {}, {}}), t0, 5)));
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
    QVERIFY(!store.AddReading(Reading(1, t0 + minute, 6)));
    QVERIFY(!store.AddAudit({1, t0, 0, {}, {}, 1, {}}));
    QCOMPARE(store.ControllerId({0, QStringLiteral("q"), 1, {}, {}}), int64_t(0));
    store.Close();
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), before);
}

void tst_history_store::clockMovedBackKeepsEverything() {
    tHistoryStore store;
    QVERIFY(store.Open(Path("clock.sqlite")));
    const int64_t ctl = store.ControllerId({0, QStringLiteral("p"), 1, {}, {}});
    // Recorded at 10:02, then the clock goes back an hour and 10:02 comes
    // again, to the millisecond.
    QVERIFY(store.AddReading(Reading(ctl, t0 + 2 * minute, 1)));
    QVERIFY(store.AddReading(Reading(ctl, t0 + 3 * minute, 2)));
    QVERIFY(store.AddReading(Reading(ctl, t0 + 1 * minute, 3)));
    QVERIFY(store.AddReading(Reading(ctl, t0 + 2 * minute, 4)));
    const auto all = store.Readings(ctl, t0, t0 + 10 * minute);
    QCOMPARE(all.size(), size_t(4));
    QList<int32_t> values;
    for (const tHistReading &r : all)
        values << r.value[0];
    QCOMPARE(values, (QList<int32_t>{3, 1, 4, 2}));
}

void tst_history_store::daysAndExcursions_data() {
    QTest::addColumn<QList<int32_t>>("values"); // one a minute from t0
    QTest::addColumn<std::optional<int32_t>>("low");
    QTest::addColumn<std::optional<int32_t>>("high");
    QTest::addColumn<int64_t>("outsideMs");
    QTest::addColumn<QList<int64_t>>("excursions"); // start minute, end minute, extreme, ongoing

    const std::optional<int32_t> none;
    QTest::newRow("inside") << QList<int32_t>{10, 20, 30} << std::optional(0) << std::optional(40)
                            << int64_t(0) << QList<int64_t>{};
    QTest::newRow("one high") << QList<int32_t>{10, 50, 60, 30, 20} << none << std::optional(40)
                              << 2 * minute << QList<int64_t>{1, 3, 60, 0};
    QTest::newRow("low then high")
        << QList<int32_t>{-10, 10, 50} << std::optional(0) << std::optional(40) << 2 * minute
        << QList<int64_t>{0, 1, -10, 0, 2, 2, 50, 1};
    QTest::newRow("high to low at once")
        << QList<int32_t>{50, -20, 10} << std::optional(0) << std::optional(40) << 2 * minute
        << QList<int64_t>{0, 1, 50, 0, 1, 2, -20, 0};
    QTest::newRow("no limits") << QList<int32_t>{500} << none << none << int64_t(0)
                               << QList<int64_t>{};
}

void tst_history_store::daysAndExcursions() {
    QFETCH(QList<int32_t>, values);
    QFETCH(std::optional<int32_t>, low);
    QFETCH(std::optional<int32_t>, high);
    QFETCH(int64_t, outsideMs);
    QFETCH(QList<int64_t>, excursions);

    tHistoryStore store;
    QVERIFY(store.Open(Path(QTest::currentDataTag())));
    const int64_t ctl = store.ControllerId({0, QStringLiteral("p"), 1, {}, {}});
    for (int m = 0; m < values.size(); ++m)
        QVERIFY(store.AddReading(Reading(ctl, t0 + m * minute, values[m])));
    const int64_t end = t0 + values.size() * minute;
    const tHistLimits limits{low, high};

    const auto days = store.Days(ctl, 0, t0, end, limits);
    QCOMPARE(days.size(), size_t(1));
    QCOMPARE(days[0].count, int32_t(values.size()));
    QCOMPARE(days[0].min, *std::min_element(values.begin(), values.end()));
    QCOMPARE(days[0].max, *std::max_element(values.begin(), values.end()));
    QCOMPARE(days[0].outsideMs, outsideMs);

    const auto found = store.Excursions(ctl, 0, t0, end, limits);
    QList<int64_t> got;
    for (const tHistExcursion &e : found)
        got << (e.startMs - t0) / minute << (e.endMs - t0) / minute << e.extreme << e.ongoing;
    QCOMPARE(got, excursions);
}

void tst_history_store::relayChanges() {
    tHistoryStore store;
    QVERIFY(store.Open(Path("relays.sqlite")));
    const int64_t ctl = store.ControllerId({0, QStringLiteral("p"), 1, {}, {}});
    QVERIFY(store.AddReading(Reading(ctl, t0, 0, {0, 1, -1, -1})));
    QVERIFY(store.AddReading(Reading(ctl, t0 + minute, 0, {1, 1, -1, -1})));
    tHistReading failed = Reading(ctl, t0 + 2 * minute, 0, {-1, -1, -1, -1});
    failed.result = errMODBUS_TIMEOUT;
    QVERIFY(store.AddReading(failed));
    QVERIFY(store.AddReading(Reading(ctl, t0 + 3 * minute, 0, {1, 0, -1, -1})));
    QList<int64_t> got;
    for (const tHistRelayChange &c : store.RelayChanges(ctl, t0, t0 + 10 * minute))
        got << (c.utcMs - t0) / minute << c.relay << c.on;
    QCOMPARE(got, (QList<int64_t>{0, 0, 0, 0, 1, 1, 1, 0, 1, 3, 1, 0}));
}

void tst_history_store::retentionOnlyWhenSet() {
    tHistoryStore store;
    QVERIFY(store.Open(Path("retention.sqlite")));
    const int64_t ctl = store.ControllerId({0, QStringLiteral("p"), 1, {}, {}});
    const int64_t day = 86'400'000;
    for (int d = 0; d < 10; ++d)
        QVERIFY(store.AddReading(Reading(ctl, t0 + d * day, d)));
    QCOMPARE(store.ApplyRetention(0, t0 + 10 * day), int64_t(0));
    QCOMPARE(store.Readings(ctl, 0, t0 + 10 * day).size(), size_t(10));
    QCOMPARE(store.ApplyRetention(3, t0 + 10 * day), int64_t(7));
    QCOMPARE(store.Readings(ctl, 0, t0 + 10 * day).front().value[0], 7);
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

// A file that cannot be used is said in one sentence: SQLite's words once,
// no empty part, no driver's aside glued on.
void tst_history_store::refusalReadsAsOneSentence_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("content"); // raw bytes; empty: as it is
    QTest::addColumn<QStringList>("sql");    // run on the file first
    QTest::addColumn<QString>("why");
    QTest::newRow("a folder") << dir.path() << QByteArray() << QStringList{}
                              << "unable to open database file";
    QTest::newRow("not a database")
        << Path("texto.sqlite") << QByteArray("não é um banco de dados\n").repeated(40)
        << QStringList{} << "file is not a database";
    QTest::newRow("an upgrade that fails")
        << Path("meio.sqlite") << QByteArray()
        << QStringList{"CREATE TABLE publish_target(x)", "PRAGMA user_version = 1"}
        << "publish_target";
}

void tst_history_store::refusalReadsAsOneSentence() {
    QFETCH(QString, path);
    QFETCH(QByteArray, content);
    QFETCH(QStringList, sql);
    QFETCH(QString, why);
    if (!content.isEmpty()) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(content);
    }
    if (!sql.isEmpty()) {
        {
            QSqlDatabase db =
                QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("prep"));
            db.setDatabaseName(path);
            QVERIFY(db.open());
            QSqlQuery q(db);
            for (const QString &s : sql)
                QVERIFY(q.exec(s));
        }
        QSqlDatabase::removeDatabase(QStringLiteral("prep"));
    }
    tHistoryStore store;
    QVERIFY(!store.Open(path));
    const QString said = store.Message();
    QVERIFY2(said.contains(why), qPrintable(said));
    QVERIFY2(!said.contains(QLatin1String(": :")), qPrintable(said));
    for (const char *aside : {"Unable to", "Error opening", "Parameter count"})
        QVERIFY2(!said.contains(QLatin1String(aside)), qPrintable(said));
}

QTEST_GUILESS_MAIN(tst_history_store)
#include "tst_history_store.moc"
