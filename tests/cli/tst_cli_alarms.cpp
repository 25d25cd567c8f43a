// tarvik-cli's alarms as a site runs them against a simulated controller:
// limits set from the terminal, the check a monitoring system calls, and an
// episode the recorder opens, tells a program of, closes and keeps.
#include "history_store.h"
#include "ondrel_sim.h"
#include "sheet_cells.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

class TestCliAlarms : public QObject {
    Q_OBJECT

  private Q_SLOTS:
    void initTestCase();
    void limits();
    void verify_data();
    void verify();
    void recorderKeepsAnEpisode();

  private:
    struct tRun {
        int code = -1;
        QString out, err;
    };
    QProcessEnvironment env() const;
    tRun run(const QStringList &args);
    QString port() const { return QString::fromStdString(sim->portName()); }

    QTemporaryDir dir;
    QString file;
    std::unique_ptr<sim::Controller> sim;
};

void TestCliAlarms::initTestCase() {
    QVERIFY(dir.isValid());
    file = dir.filePath(QStringLiteral("historico.sqlite"));
    sim = std::make_unique<sim::Controller>();
    QVERIFY(sim->start());
    sim->setSensor(0, sim::SensorState::Valid, 50);
    // Limits are for a controller the history knows.
    tHistoryStore store;
    QVERIFY(store.Open(file));
    QVERIFY(store.ControllerId({0, port(), 201, QStringLiteral("qx4r"), QStringLiteral("1.2")}));
}

QProcessEnvironment TestCliAlarms::env() const {
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    e.insert(QStringLiteral("TARVIK_PORTS"), port());
    e.insert(QStringLiteral("TARVIK_HISTORICO"), file);
    e.insert(QStringLiteral("XDG_CACHE_HOME"), dir.filePath(QStringLiteral("cache")));
    e.insert(QStringLiteral("LANG"), QStringLiteral("pt_BR.UTF-8"));
    return e;
}

TestCliAlarms::tRun TestCliAlarms::run(const QStringList &args) {
    QProcess p;
    p.setProcessEnvironment(env());
    p.start(QStringLiteral(TARVIK_CLI), args);
    tRun r;
    if (!p.waitForFinished(60000))
        return r;
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

// Set with a comma or a point, changed in part, removed; every change in the
// trail of writes.
void TestCliAlarms::limits() {
    QCOMPARE(run({"-a", "201", "limites", "definir", "1", "--max", "8,0", "--min", "2"}).code, 0);
    QCOMPARE(run({"-a", "201", "limites", "definir", "3", "--max", "30.5"}).code, 0);
    QCOMPARE(run({"-a", "201", "limites", "definir", "3", "--atraso", "2"}).code, 0);
    QCOMPARE(run({"-a", "201", "limites", "remover", "3"}).code, 0);
    QCOMPARE(run({"-a", "201", "limites", "definir", "5", "--max", "1"}).code, 2);
    QCOMPARE(run({"-a", "201", "limites", "definir", "1"}).code, 2);
    QCOMPARE(run({"-a", "77", "limites", "definir", "1", "--max", "3"}).code, 2);
    const tRun listed = run({"limites"});
    QCOMPARE(listed.code, 0);
    QCOMPARE(listed.out.trimmed(),
             QStringLiteral("%1 endereço 201 sensor 1: mínimo 2ºC, máximo 8ºC, atraso 0 min, "
                            "histerese 0,5ºC")
                 .arg(port()));
    const QString trail = run({"historico", "alteracoes"}).out;
    QVERIFY2(trail.contains(QStringLiteral("MAX3 — → 30,5ºC")), qPrintable(trail));
    QVERIFY2(trail.contains(QStringLiteral("ATRASO3 0 min → 2 min")), qPrintable(trail));
    QVERIFY2(trail.contains(QStringLiteral("MAX3 30,5ºC → —")), qPrintable(trail));
}

void TestCliAlarms::verify_data() {
    QTest::addColumn<int>("state"); // sim::SensorState of sensor 1
    QTest::addColumn<int>("tenths");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("line");
    const int valid = int(sim::SensorState::Valid);
    const QStringList here{"-a", "201", "verificar"};
    QTest::newRow("inside") << valid << 50 << here << 0
                            << "TARVIK OK - temperaturas dentro dos limites | "
                               "sensor1=5.0;2.5:7.5;2.0:8.0 sensor2=0.0 sensor3=0.0 sensor4=0.0";
    QTest::newRow("within the hysteresis")
        << valid << 78 << here << 1
        << "TARVIK WARNING - sensor 1 7,8ºC perto do máximo 8 | sensor1=7.8;2.5:7.5;2.0:8.0 "
           "sensor2=0.0 sensor3=0.0 sensor4=0.0";
    QTest::newRow("above the max")
        << valid << 91 << here << 2
        << "TARVIK CRITICAL - sensor 1 9,1ºC acima do máximo 8 | sensor1=9.1;2.5:7.5;2.0:8.0 "
           "sensor2=0.0 sensor3=0.0 sensor4=0.0";
    QTest::newRow("sensor fault") << int(sim::SensorState::Short) << 0 << here << 2
                                  << "TARVIK CRITICAL - sensor 1 Curto | sensor1=U sensor2=0.0 "
                                     "sensor3=0.0 sensor4=0.0";
    QTest::newRow("no answer") << valid << 50 << QStringList{"-a", "9", "-t", "1", "verificar"} << 3
                               << "TARVIK UNKNOWN - sem resposta (erro -6 (TIMEOUT))";
    QTest::newRow("no port") << valid << 50
                             << QStringList{"-p", "/dev/tarvik-nenhuma", "-a", "201", "verificar"}
                             << 3 << "TARVIK UNKNOWN - a porta /dev/tarvik-nenhuma não abre";
}

// One line on standard output, the plugin's exit code for each state.
void TestCliAlarms::verify() {
    QFETCH(int, state);
    QFETCH(int, tenths);
    QFETCH(QStringList, args);
    QFETCH(int, code);
    QFETCH(QString, line);
    for (int k = 1; k < 4; ++k)
        sim->setSensor(k, sim::SensorState::Valid, 0);
    sim->setSensor(0, sim::SensorState(state), tenths);
    const tRun r = run(args);
    QCOMPARE(r.code, code);
    QCOMPARE(r.out.count(u'\n'), 1);
    QVERIFY2(r.out.startsWith(line), qPrintable(r.out));
}

// The room warms past its maximum while recording: the episode opens, the
// site's program is told, it closes past the hysteresis, is acknowledged and
// the acknowledgement shows among the changes.
void TestCliAlarms::recorderKeepsAnEpisode() {
    sim->setSensor(0, sim::SensorState::Valid, 50);
    const QString told = dir.filePath(QStringLiteral("told.txt"));
    QProcess recorder;
    recorder.setProcessEnvironment(env());
    recorder.start(QStringLiteral(TARVIK_CLI),
                   {"-a", "201", "registrar", "--intervalo", "1", "--ao-alarmar",
                    QStringLiteral("echo $TARVIK_ALARME_EVENTO $TARVIK_ALARME_CONDICAO "
                                   "$TARVIK_ALARME_EXTREMO >> %1; exit 4")
                        .arg(told)});
    QVERIFY(recorder.waitForStarted());
    const auto episodes = [this] {
        QList<QJsonObject> out;
        for (const QString &line : run({"alarmes", "--json"}).out.split(u'\n', Qt::SkipEmptyParts))
            out << QJsonDocument::fromJson(line.toUtf8()).object();
        return out;
    };
    sim->setSensor(0, sim::SensorState::Valid, 93);
    QTRY_COMPARE_WITH_TIMEOUT(episodes().size(), 1, 30000);
    sim->setSensor(0, sim::SensorState::Valid, 78); // inside, not past the hysteresis
    QTRY_VERIFY_WITH_TIMEOUT(QFile(told).size() > 0, 30000);
    QVERIFY(episodes().front().value(QStringLiteral("fim")).isNull());
    sim->setSensor(0, sim::SensorState::Valid, 74);
    QTRY_VERIFY_WITH_TIMEOUT(!episodes().front().value(QStringLiteral("fim")).isNull(), 30000);
    recorder.terminate();
    QVERIFY(recorder.waitForFinished(30000));
    QCOMPARE(recorder.exitCode(), 0);
    const QString err = QString::fromUtf8(recorder.readAllStandardError());
    QVERIFY2(err.contains(QStringLiteral("falhou (código 4)")), qPrintable(err));

    const QJsonObject e = episodes().front();
    QCOMPARE(e.value(QStringLiteral("condicao")).toString(), QStringLiteral("maximo"));
    QCOMPARE(e.value(QStringLiteral("extremo")).toDouble(), 9.3);
    QFile f(told);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(f.readAll()),
             QStringLiteral("abertura maximo 9.3\nfechamento maximo 9.3\n"));

    const QString n = QString::number(e.value(QStringLiteral("numero")).toInt());
    QCOMPARE(run({"alarmes", "reconhecer", n, "--comentario", "porta da câmara aberta"}).code, 0);
    QCOMPARE(run({"alarmes", "reconhecer", "999", "--comentario", "x"}).code, 2);
    QCOMPARE(episodes().front().value(QStringLiteral("reconhecimentos")).toArray().size(), 1);
    // As a spreadsheet: the CSV's columns, the start a date, the extreme a number.
    const QString xlsx = dir.filePath(QStringLiteral("alarmes.xlsx"));
    const tRun sheet = run({"alarmes", "--xlsx", xlsx});
    QVERIFY2(sheet.code == 0 && sheet.out.isEmpty(), qPrintable(sheet.err));
    const QMap<QString, tSheetCellRead> cells = SheetCells(xlsx);
    QCOMPARE(cells.value(QStringLiteral("A1")).value, QStringLiteral("Número"));
    QCOMPARE(cells.value(QStringLiteral("A2")).value, n);
    QCOMPARE(cells.value(QStringLiteral("F2")).kind, QStringLiteral("data"));
    QCOMPARE(cells.value(QStringLiteral("I2")).kind, QStringLiteral("número"));
    QCOMPARE(cells.value(QStringLiteral("I2")).value.toDouble(), 9.3); // as written: 16 digits
    const QString trail = run({"historico", "alteracoes"}).out;
    QVERIFY2(trail.contains(QStringLiteral("Alarme %1 reconhecido").arg(n)) &&
                 trail.contains(QStringLiteral("porta da câmara aberta")),
             qPrintable(trail));
}

QTEST_GUILESS_MAIN(TestCliAlarms)
#include "tst_cli_alarms.moc"
