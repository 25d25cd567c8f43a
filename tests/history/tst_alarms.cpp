#include "alarm_store.h"

#include "u_ondrel.h"

#include <QTemporaryDir>
#include <QTest>

namespace {
constexpr int64_t minute = 60'000;
constexpr int64_t t0 = 1'780'000'000'000;

// "M=V": sensor 1 at V tenths at minute M; "M=curto", "M=aberto"; "M=-": no
// answer. The other sensors read "Aberto" but the model shows one sensor.
std::vector<tAlarmReading> Readings(const QString &script, int32_t unit = tempCELSIUS) {
    std::vector<tAlarmReading> out;
    for (const QString &token : script.split(u' ', Qt::SkipEmptyParts)) {
        const QStringList p = token.split(u'=');
        tAlarmReading r{.utcMs = t0 + p[0].toInt() * minute,
                        .answered = p[1] != u'-',
                        .unit = unit,
                        .sensors = 1,
                        .state = {stsTEMP_OK, stsTEMP_ERRMAX, stsTEMP_ERRMAX, stsTEMP_ERRMAX}};
        if (p[1] == QLatin1String("curto"))
            r.state[0] = stsTEMP_ERRMIN;
        else if (p[1] == QLatin1String("aberto"))
            r.state[0] = stsTEMP_ERRMAX;
        else
            r.value[0] = p[1].toInt();
        out.push_back(r);
    }
    return out;
}

// "+maximo@3s1e92": opened at minute 3, started at 1, extreme 9.2; "^" the
// extreme moved, "-" closed.
QString ChangeText(const tAlarmChange &c) {
    const char kind = c.kind == tAlarmChange::Opened   ? '+'
                      : c.kind == tAlarmChange::Closed ? '-'
                                                       : '^';
    QString s = QStringLiteral("%1%2@%3s%4")
                    .arg(QLatin1Char(kind))
                    .arg(AlarmConditionWord(c.condition))
                    .arg((c.atMs - t0) / minute)
                    .arg((c.startMs - t0) / minute);
    if (c.extreme)
        s += QStringLiteral("e%1").arg(*c.extreme);
    return s;
}

tStatusReading HistReading(int64_t t, int32_t v0) {
    tStatusReading r{.utcMs = t, .offsetSec = -3 * 3600, .result = 22};
    r.state = {stsTEMP_OK, stsTEMP_OK, stsTEMP_OK, stsTEMP_OK};
    r.value = {v0, 10, 10, 10};
    r.relay = {0, 0, 0, 0};
    return r;
}
} // namespace

class tst_alarms : public QObject {
    Q_OBJECT
    QTemporaryDir dir;

  private Q_SLOTS:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Brazil)); }

    void judge_data() {
        QTest::addColumn<QString>("limits"); // "low high delay hysteresis", "-" for none
        QTest::addColumn<QString>("readings");
        QTest::addColumn<int32_t>("unit");
        QTest::addColumn<QString>("changes");
        const int32_t c = tempCELSIUS;
        QTest::newRow("above max, no delay: opens at once") << "- 80 0 5"
                                                            << "0=75 1=85" << c << "+maximo@1s1e85";
        QTest::newRow("back inside within the delay: never opens")
            << "- 80 5 5"
            << "0=85 3=86 4=79 6=85" << c << "";
        QTest::newRow("out for the whole delay: opens, started at the first")
            << "- 80 5 5"
            << "0=85 3=90 5=86" << c << "+maximo@5s0e90";
        QTest::newRow("closes only past the hysteresis")
            << "- 80 0 5"
            << "0=85 1=78 2=76 3=75" << c << "+maximo@0s0e85 -maximo@3s0e85";
        QTest::newRow("extreme follows the worst value")
            << "- 80 0 5"
            << "0=85 1=90 2=88 3=70" << c << "+maximo@0s0e85 ^maximo@1s0e90 -maximo@3s0e90";
        QTest::newRow("below min, closes above min + hysteresis")
            << "20 - 0 10"
            << "0=15 1=12 2=29 3=30" << c << "+minimo@0s0e15 ^minimo@1s0e12 -minimo@3s0e12";
        QTest::newRow("reopens after closing")
            << "- 80 0 5"
            << "0=85 1=70 2=81" << c << "+maximo@0s0e85 -maximo@1s0e85 +maximo@2s2e81";
        QTest::newRow("fault with no limit, closes at a valid value")
            << "- - 0 5"
            << "0=50 1=curto 2=curto 3=50" << c << "+curto@1s1 -curto@3s1";
        QTest::newRow("one fault becomes another")
            << "- - 0 5"
            << "0=aberto 1=curto" << c << "+aberto@0s0 -aberto@1s0 +curto@1s1";
        QTest::newRow("no answer for the minutes set: opens, closes at the answer")
            << "- - 0 5"
            << "0=50 1=- 4=- 6=- 7=50" << c << "+sem_resposta@6s1 -sem_resposta@7s1";
        QTest::newRow("silence shorter than the minutes set") << "- - 0 5"
                                                              << "0=- 4=- 5=50" << c << "";
        QTest::newRow("silence keeps a range alarm open")
            << "- 80 0 5"
            << "0=85 1=- 2=70" << c << "+maximo@0s0e85 -maximo@2s0e85";
        QTest::newRow("Fahrenheit reading against Celsius limits")
            << "- 80 0 5"
            << "0=460 1=470" << int32_t(tempFAHRENHEIT) << "+maximo@1s1e83";
    }
    void judge() {
        QFETCH(QString, limits);
        QFETCH(QString, readings);
        QFETCH(int32_t, unit);
        QFETCH(QString, changes);
        const QStringList l = limits.split(u' ');
        const auto limit = [](const QString &s) {
            return s == u'-' ? std::nullopt : std::optional(s.toInt());
        };
        tAlarmSettings settings;
        settings.sensor[0] = {.low = limit(l[0]),
                              .high = limit(l[1]),
                              .delayMin = l[2].toInt(),
                              .hysteresis = l[3].toInt()};
        tAlarmJudge judge(settings);
        std::vector<tAlarmChange> out;
        for (const tAlarmReading &r : Readings(readings, unit))
            judge.Judge(r, out);
        QStringList got;
        for (const tAlarmChange &c : out)
            got << ChangeText(c);
        QCOMPARE(got.join(u' '), changes);
    }

    void verdict_data() {
        QTest::addColumn<QString>("reading");
        QTest::addColumn<int>("level");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<QString>("performance");
        QTest::newRow("inside") << "0=50" << 0 << ""
                                << "sensor1=5.0;2.5:7.5;2.0:8.0";
        QTest::newRow("within the hysteresis of the max")
            << "0=78" << 1 << "sensor 1 7,8ºC perto do máximo 8"
            << "sensor1=7.8;2.5:7.5;2.0:8.0";
        QTest::newRow("on the min: still inside, warned")
            << "0=20" << 1 << "sensor 1 2ºC perto do mínimo 2"
            << "sensor1=2.0;2.5:7.5;2.0:8.0";
        QTest::newRow("above the max") << "0=85" << 2 << "sensor 1 8,5ºC acima do máximo 8"
                                       << "sensor1=8.5;2.5:7.5;2.0:8.0";
        QTest::newRow("below the min") << "0=-5" << 2 << "sensor 1 -0,5ºC abaixo do mínimo 2"
                                       << "sensor1=-0.5;2.5:7.5;2.0:8.0";
        QTest::newRow("fault") << "0=aberto" << 2 << "sensor 1 Aberto"
                               << "sensor1=U";
    }
    void verdict() {
        QFETCH(QString, reading);
        QFETCH(int, level);
        QFETCH(QString, reason);
        QFETCH(QString, performance);
        tAlarmSettings settings;
        settings.sensor[0] = {.low = 20, .high = 80};
        const tAlarmVerdict v = AlarmVerdict(Readings(reading).front(), settings);
        QCOMPARE(int(v.level), level);
        QCOMPARE(v.reasons.join(u';'), reason);
        QCOMPARE(v.performance.join(u' '), performance);
    }

    // Limits set and removed are audited; a place the history never saw
    // takes none.
    void limitsAudited() {
        tHistoryStore store;
        QVERIFY(store.Open(dir.filePath(QStringLiteral("limits.sqlite"))));
        tAlarmStore alarms(store);
        QVERIFY(!alarms.SetLimits(QStringLiteral("/dev/ttyUSB0"), 1, 1, tAlarmLimits{.high = 80},
                                  QStringLiteral("ana"), t0, 0));
        QVERIFY(alarms.Message().contains(QStringLiteral("nenhum controlador")));
        const int64_t ctl = store.ControllerId(
            {0, QStringLiteral("/dev/ttyUSB0"), 1, QStringLiteral("qx4r"), QStringLiteral("1.0")});
        QVERIFY(alarms.SetLimits(QStringLiteral("/dev/ttyUSB0"), 1, 1,
                                 tAlarmLimits{.high = 80, .delayMin = 2}, QStringLiteral("ana"), t0,
                                 0));
        QVERIFY(alarms.SetLimits(QStringLiteral("/dev/ttyUSB0"), 1, 1,
                                 tAlarmLimits{.low = -5, .high = 80, .delayMin = 2},
                                 QStringLiteral("bia"), t0 + minute, 0));
        QCOMPARE(alarms.Settings(QStringLiteral("/dev/ttyUSB0"), 1).sensor[0].low, -5);
        QVERIFY(alarms.SetLimits(QStringLiteral("/dev/ttyUSB0"), 1, 1, std::nullopt,
                                 QStringLiteral("ana"), t0 + 2 * minute, 0));
        QVERIFY(alarms.Limits().empty());
        QVERIFY(!alarms.Settings(QStringLiteral("/dev/ttyUSB0"), 1).sensor[0].Any());

        QStringList trail;
        for (const tHistAuditEntry &e : store.Audits(ctl, 0, t0 + minute * 10)) {
            QStringList fields;
            for (const tHistAuditField &f : e.audit.fields)
                fields << QStringLiteral("%1 %2>%3").arg(f.code, f.oldValue, f.newValue);
            trail << e.audit.user + u':' + fields.join(u',');
        }
        QCOMPARE(trail, (QStringList{
                            QStringLiteral("ana:MAX1 —>8ºC,ATRASO1 0 min>2 min"),
                            QStringLiteral("bia:MIN1 —>-0,5ºC"),
                            QStringLiteral("ana:MIN1 -0,5ºC>—,MAX1 8ºC>—,ATRASO1 2 min>0 min"),
                        }));
    }

    // Two programs recording one controller keep one episode (each tells its
    // own hook); its end and
    // acknowledgement are rows after it, and a later run closes an episode
    // left open.
    void episodesAppended() {
        const QString path = dir.filePath(QStringLiteral("episodes.sqlite"));
        const tHistController where{0, QStringLiteral("/dev/ttyUSB0"), 3, QStringLiteral("qx4r"),
                                    QStringLiteral("1.0")};
        tHistoryStore a, b;
        QVERIFY(a.Open(path));
        QVERIFY(b.Open(path));
        const int64_t ctl = a.ControllerId(where);
        tAlarmStore alarms(a);
        QVERIFY(alarms.SetLimits(where.port, 3, 1, tAlarmLimits{.high = 80}, QStringLiteral("ana"),
                                 t0, 0));
        QStringList told;
        const auto changed = [&](const tAlarmEpisode &e, bool opened) {
            told << (opened ? QStringLiteral("+") : QStringLiteral("-")) + QString::number(e.id);
        };
        {
            tAlarmMonitor first(
                a, [](const QString &) {}, changed);
            tAlarmMonitor second(
                b, [](const QString &) {}, changed);
            second.Observe(where, ctl, HistReading(t0 - 1000, 50));
            first.Observe(where, ctl, HistReading(t0, 85));
            second.Observe(where, ctl, HistReading(t0 + 1000, 86));
            first.Observe(where, ctl, HistReading(t0 + minute, 92));
        }
        QCOMPARE(told, (QStringList{QStringLiteral("+1"), QStringLiteral("+1")}));
        QVERIFY(alarms.Acknowledge(
            1, {t0 + 2 * minute, 0, QStringLiteral("bia"), QStringLiteral("porta aberta")}));
        QVERIFY(!alarms.Acknowledge(7, {t0, 0, QStringLiteral("bia"), QString()}));

        tAlarmMonitor later(
            a, [](const QString &) {}, changed);
        later.Observe(where, ctl, HistReading(t0 + 3 * minute, 70));
        QCOMPARE(told.last(), QStringLiteral("-1"));

        const std::vector<tAlarmEpisode> all = alarms.Episodes(0, t0 + 10 * minute);
        QCOMPARE(all.size(), size_t(1));
        const tAlarmEpisode &e = all.front();
        QCOMPARE(e.condition, tAlarmCondition::High);
        QCOMPARE(e.startMs, t0);
        QCOMPARE(e.endMs, t0 + 3 * minute);
        QCOMPARE(e.extreme, 92);
        QCOMPARE(e.high, 80);
        QCOMPARE(e.acks.size(), size_t(1));
        QCOMPARE(e.acks.front().comment, QStringLiteral("porta aberta"));
        QVERIFY(alarms.OpenEpisodes().empty());
        QVERIFY(alarms.Episodes(t0 + 4 * minute, t0 + 5 * minute).empty());
    }
};

QTEST_GUILESS_MAIN(tst_alarms)
#include "tst_alarms.moc"
