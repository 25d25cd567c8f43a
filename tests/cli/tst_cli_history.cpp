// tarvik-cli's history commands as a service and a user run them, against
// simulated controllers: the recorder writing the file, what reads it back,
// and the recorder killed or sharing the file with another.
#include "history_files.h"
#include "history_store.h"
#include "history_tap.h"
#include "ondrel_sim.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>

namespace {

QString integrityCheck(const QString &path) {
    QString result;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "check");
        db.setDatabaseName(path);
        if (db.open()) {
            QSqlQuery q(db);
            if (q.exec(QStringLiteral("PRAGMA integrity_check")) && q.next())
                result = q.value(0).toString();
        }
    }
    QSqlDatabase::removeDatabase("check");
    return result;
}

// Readings held per port, as the store answers another program.
int readingsOf(const QString &file, const QString &port) {
    tHistoryStore store;
    if (!store.Open(file))
        return -1;
    int n = 0;
    for (const tHistController &c : store.Controllers())
        if (c.port == port)
            n += int(store.Readings(c.id, 0, INT64_MAX).size());
    return n;
}

int logSlotsOf(const QString &file) {
    tHistoryStore store;
    if (!store.Open(file))
        return -1;
    int n = 0;
    for (const tHistController &c : store.Controllers())
        n += int(store.LogSlots(c.id).size());
    return n;
}

} // namespace

class TestCliHistory : public QObject {
    Q_OBJECT

  private Q_SLOTS:
    void initTestCase();
    void recorderEndsCleanlyOnSigterm();
    void stopAfterLossesIsNoFailure();
    void readBack_data();
    void readBack();
    void killedRecorderLeavesASoundFile();
    void twoRecordersShareOneFile();
    void writeIsAudited_data();
    void writeIsAudited();
    void logSlotsStoredOnce();
    void unopenableHistoryDoesNotHoldTheWrite();
    void badHistoryFileSaid_data();
    void badHistoryFileSaid();

  private:
    std::unique_ptr<QProcess> start(const QStringList &args, const QString &port,
                                    const QString &history = {});
    struct tRun {
        int code = -1;
        QString out, err;
    };
    tRun run(const QStringList &args, const QString &history);
    QString port(const sim::Controller &c) const { return QString::fromStdString(c.portName()); }

    QTemporaryDir dir;
    QString file; // the history the recorder filled, read back by the rest
    std::unique_ptr<sim::Controller> sim;
};

void TestCliHistory::initTestCase() {
    QVERIFY(dir.isValid());
    file = dir.filePath(QStringLiteral("historico.sqlite"));
    sim::Options o;
    o.logSlots = 10;
    o.preloadEvents = 4;
    sim = std::make_unique<sim::Controller>(o);
    QVERIFY(sim->start());
}

std::unique_ptr<QProcess> TestCliHistory::start(const QStringList &args, const QString &port,
                                                const QString &history) {
    auto p = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TARVIK_PORTS"), port);
    env.insert(QStringLiteral("TARVIK_HISTORICO"), history.isEmpty() ? file : history);
    env.insert(QStringLiteral("XDG_CACHE_HOME"), dir.filePath(QStringLiteral("cache")));
    p->setProcessEnvironment(env);
    p->start(QStringLiteral(TARVIK_CLI), args);
    return p;
}

void TestCliHistory::recorderEndsCleanlyOnSigterm() {
    auto p = start({"-a", "201", "registrar", "--intervalo", "1"}, port(*sim));
    QVERIFY(p->waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(readingsOf(file, port(*sim)) >= 3, 30000);
    QTRY_VERIFY_WITH_TIMEOUT(logSlotsOf(file) >= 4, 30000);
    ::kill(pid_t(p->processId()), SIGTERM);
    QVERIFY(p->waitForFinished(30000));
    QCOMPARE(p->exitStatus(), QProcess::NormalExit);
    const QByteArray err = p->readAllStandardError();
    QVERIFY2(p->exitCode() == 0, err.constData());
    QCOMPARE(integrityCheck(file), QStringLiteral("ok"));
    // The event log is read back to the newest slot held: a second run
    // stores no slot twice. With a retention limit it removes the readings
    // older than the limit (a reading a day for 40 days), and only those.
    const int slots = logSlotsOf(file);
    const int before = readingsOf(file, port(*sim));
    {
        tHistoryStore store;
        QVERIFY(store.Open(file));
        const int64_t controller = store.Controllers().at(0).id;
        const int64_t dayMs = 86'400'000;
        for (int d = 1; d <= 40; ++d)
            if (d != 30)
                QVERIFY(store.AddReading({.controller = controller,
                                          .utcMs = QDateTime::currentMSecsSinceEpoch() - d * dayMs,
                                          .result = -2}));
    }
    QCOMPARE(readingsOf(file, port(*sim)), before + 39);
    const int64_t runStart = QDateTime::currentMSecsSinceEpoch();
    const auto split = [this, runStart] {
        tHistoryStore store;
        std::pair<int, int> olderNewer{};
        if (store.Open(file))
            for (const tHistReading &r : store.Readings(store.Controllers().at(0).id, 0, INT64_MAX))
                ++(r.utcMs < runStart ? olderNewer.first : olderNewer.second);
        return olderNewer;
    };
    auto again =
        start({"-a", "201", "registrar", "--intervalo", "1", "--retencao", "30"}, port(*sim));
    QTRY_VERIFY_WITH_TIMEOUT(split().second >= 2, 30000);
    ::kill(pid_t(again->processId()), SIGTERM);
    QVERIFY(again->waitForFinished(30000));
    QCOMPARE(logSlotsOf(file), slots);
    QCOMPARE(split().first, before + 29);
}

void TestCliHistory::readBack_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("pdf");    // a file the run must make, or must not
    QTest::addColumn<QString>("output"); // expected in standard output
    const QString pdf = dir.filePath(QStringLiteral("relatorio.pdf"));
    QTest::newRow("exportar csv") << QStringList{"historico", "exportar", "--csv"} << 0 << QString()
                                  << "Sensor 1";
    QTest::newRow("exportar json")
        << QStringList{"historico", "exportar", "--json"} << 0 << QString() << "endereco";
    QTest::newRow("relatorio") << QStringList{"historico", "relatorio"} << 0 << QString()
                               << "sensor 1";
    QTest::newRow("alteracoes") << QStringList{"historico", "alteracoes"} << 0 << QString()
                                << QString();
    QTest::newRow("pdf") << QStringList{"historico", "relatorio", "--pdf", pdf} << 0 << pdf
                         << QString();
    QTest::newRow("pdf into a missing folder")
        << QStringList{"historico", "relatorio", "--pdf", dir.filePath("nada/r.pdf")} << 2
        << dir.filePath("nada/r.pdf") << QString();
    QTest::newRow("pdf of an unknown controller")
        << QStringList{"-a", "5", "historico", "relatorio", "--pdf", dir.filePath("x.pdf")} << 2
        << dir.filePath("x.pdf") << QString();
    QTest::newRow("pdf of an empty period")
        << QStringList{"historico", "relatorio",  "--de",  "2001-01-01",
                       "--ate",     "2001-01-02", "--pdf", dir.filePath("y.pdf")}
        << 2 << dir.filePath("y.pdf") << QString();
}

void TestCliHistory::readBack() {
    QFETCH(QStringList, args);
    QFETCH(int, code);
    QFETCH(QString, pdf);
    QFETCH(QString, output);
    QVERIFY(readingsOf(file, port(*sim)) >= 3);
    auto p = start(args, port(*sim));
    QVERIFY(p->waitForFinished(60000));
    const QString out = QString::fromUtf8(p->readAllStandardOutput());
    const QString err = QString::fromUtf8(p->readAllStandardError());
    QVERIFY2(p->exitCode() == code, qPrintable(err));
    QVERIFY2(out.contains(output), qPrintable(out));
    if (code != 0)
        QVERIFY(!err.isEmpty());
    if (args.contains("--json")) {
        const QStringList objects = out.trimmed().split(u'\n');
        QVERIFY(objects.size() >= 3);
        for (const QString &line : objects) {
            QJsonParseError error;
            QJsonDocument::fromJson(line.toUtf8(), &error);
            QCOMPARE(error.error, QJsonParseError::NoError);
        }
    } else if (args.contains("--csv")) {
        QVERIFY(out.count(port(*sim)) >= 3);
    }
    if (!pdf.isEmpty()) {
        QFile f(pdf);
        QCOMPARE(f.exists(), code == 0);
        if (code == 0) {
            QVERIFY(f.open(QIODevice::ReadOnly));
            QVERIFY(f.read(5) == "%PDF-");
        }
    }
}

// Stopped as a service is stopped, a recorder that lost readings on the way
// (a silent address) ends with success and counts the losses in the log.
void TestCliHistory::stopAfterLossesIsNoFailure() {
    const QString history = dir.filePath(QStringLiteral("perdas.sqlite"));
    auto p =
        start({"-a", "201,203", "-t", "1", "registrar", "--intervalo", "1"}, port(*sim), history);
    QVERIFY(p->waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(readingsOf(history, port(*sim)) >= 2, 30000);
    ::kill(pid_t(p->processId()), SIGTERM);
    QVERIFY(p->waitForFinished(30000));
    const QString err = QString::fromUtf8(p->readAllStandardError());
    QVERIFY2(err.contains(QStringLiteral("endereço 203 não responde")), qPrintable(err));
    QCOMPARE(p->exitStatus(), QProcess::NormalExit);
    QVERIFY2(p->exitCode() == 0, qPrintable(err));
    QVERIFY2(QRegularExpression(QStringLiteral("encerrado a pedido; [1-9]\\d* leitura\\(s\\) "
                                               "perdida\\(s\\)"))
                 .match(err)
                 .hasMatch(),
             qPrintable(err));
}

// What was committed before the kill stays, and the file is sound.
void TestCliHistory::killedRecorderLeavesASoundFile() {
    auto p = start({"-a", "201", "registrar", "--intervalo", "1"}, port(*sim));
    QVERIFY(p->waitForStarted());
    const int before = readingsOf(file, port(*sim));
    QTRY_VERIFY_WITH_TIMEOUT(readingsOf(file, port(*sim)) >= before + 2, 30000);
    const int seen = readingsOf(file, port(*sim));
    ::kill(pid_t(p->processId()), SIGKILL);
    QVERIFY(p->waitForFinished(30000));
    QCOMPARE(integrityCheck(file), QStringLiteral("ok"));
    QVERIFY(readingsOf(file, port(*sim)) >= seen);
}

// Two recorders on two ports write one file; neither is refused and both
// keep every reading they took.
void TestCliHistory::twoRecordersShareOneFile() {
    sim::Controller other;
    QVERIFY(other.start());
    const int first = readingsOf(file, port(*sim));
    auto a = start({"-a", "201", "registrar", "--intervalo", "1"}, port(*sim));
    auto b = start({"-a", "201", "registrar", "--intervalo", "1"}, port(other));
    QTRY_VERIFY_WITH_TIMEOUT(readingsOf(file, port(*sim)) >= first + 4, 30000);
    QTRY_VERIFY_WITH_TIMEOUT(readingsOf(file, port(other)) >= 4, 30000);
    for (QProcess *p : {a.get(), b.get()}) {
        ::kill(pid_t(p->processId()), SIGTERM);
        QVERIFY(p->waitForFinished(30000));
        const QByteArray err = p->readAllStandardError();
        QVERIFY2(p->exitCode() == 0, err.constData());
        QVERIFY2(!err.contains("interrompida"), err.constData());
    }
    QCOMPARE(integrityCheck(file), QStringLiteral("ok"));
}

TestCliHistory::tRun TestCliHistory::run(const QStringList &args, const QString &history) {
    auto p = start(args, port(*sim), history);
    tRun r;
    if (!p->waitForFinished(60000))
        return r;
    r.code = p->exitCode();
    r.out = QString::fromUtf8(p->readAllStandardOutput());
    r.err = QString::fromUtf8(p->readAllStandardError());
    return r;
}

// A configuration sent whole leaves one row per block in the trail, with who
// sent it, the outcome, and each field changed with the value it replaced.
void TestCliHistory::writeIsAudited_data() {
    QTest::addColumn<bool>("fahrenheit"); // the file was saved in Fahrenheit
    QTest::addColumn<bool>("refused");    // the controller refuses every write
    QTest::addColumn<int>("rows");
    QTest::addColumn<QString>("line"); // expected in the trail
    QTest::newRow("accepted") << false << false << 6
                              << QStringLiteral(" Parâmetros de sistema ok: OFS1 1,5ºC → 0,0ºC");
    // The controller converts its blocks when the unit changes: the values
    // replaced are said in the unit they were read in.
    QTest::newRow("unit switched")
        << true << false << 6 << QStringLiteral(" Parâmetros do relé 1 ok: R1.SP 5,0ºC → 41,0ºF");
    // The first write fails and ends the sequence.
    QTest::newRow("refused") << false << true << 1
                             << QStringLiteral(" Parâmetros de sistema erro ");
}

void TestCliHistory::writeIsAudited() {
    QFETCH(bool, fahrenheit);
    QFETCH(bool, refused);
    QFETCH(int, rows);
    QFETCH(QString, line);
    const QString history = dir.filePath(QTest::currentDataTag() + QStringLiteral(".sqlite"));
    const QString cfg = dir.filePath(QStringLiteral("audit.cfg"));
    sim->setFahrenheit(fahrenheit);
    QCOMPARE(run({"-a", "201", "config", "salvar", cfg}, history).code, 0);
    sim->setFahrenheit(false);
    constexpr int regOFS1 = 0x0020;
    if (!fahrenheit)
        sim->setReg(regOFS1, 15); // OFS1 moved to 1,5 since the file was saved
    if (refused)
        sim->setFault(sim::Fault::WrongEcho);
    const tRun written = run({"-a", "201", "config", "gravar", cfg}, history);
    sim->clearFault();
    sim->setFahrenheit(false);
    sim->setReg(regOFS1, 0);
    QVERIFY2((written.code == 0) != refused, qPrintable(written.err));
    const tRun trail = run({"historico", "alteracoes"}, history);
    QCOMPARE(trail.code, 0);
    const QStringList lines = trail.out.trimmed().split(u'\n');
    QCOMPARE(lines.size(), rows);
    QVERIFY2(lines.front().contains(QStringLiteral(" %1 %2 201").arg(OsUserName(), port(*sim))),
             qPrintable(lines.front()));
    QVERIFY2(trail.out.contains(line), qPrintable(trail.out));
}

// However often the log is read, each slot is stored once.
void TestCliHistory::logSlotsStoredOnce() {
    const QString history = dir.filePath(QStringLiteral("log.sqlite"));
    for (int round = 0; round < 2; ++round) {
        const tRun r = run({"-a", "201", "log"}, history);
        QVERIFY2(r.code == 0, qPrintable(r.err));
        QCOMPARE(logSlotsOf(history), 4);
    }
}

// A history file that cannot be opened is said once; the write goes on.
void TestCliHistory::unopenableHistoryDoesNotHoldTheWrite() {
    const QString cfg = dir.filePath(QStringLiteral("plain.cfg"));
    QCOMPARE(run({"-a", "201", "config", "salvar", cfg}, {}).code, 0);
    QFile notAFolder(dir.filePath(QStringLiteral("arquivo")));
    QVERIFY(notAFolder.open(QIODevice::WriteOnly));
    notAFolder.close();
    constexpr int regOFS1 = 0x0020;
    sim->setReg(regOFS1, 15);
    const tRun r =
        run({"-a", "201", "config", "gravar", cfg}, notAFolder.fileName() + "/historico.sqlite");
    QVERIFY2(r.code == 0, qPrintable(r.err));
    QCOMPARE(sim->reg(regOFS1), uint16_t(0));
    QCOMPARE(r.err.count(QStringLiteral("Histórico")), 1);
}

void TestCliHistory::badHistoryFileSaid_data() {
    QTest::addColumn<QString>("file"); // missing, damaged or foreign
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("said");
    const QStringList record{"-a", "201", "registrar", "--intervalo", "1"};
    for (const char *command : {"exportar", "relatorio", "alteracoes"})
        QTest::addRow("mistyped name, %s", command)
            << "missing" << QStringList{"historico", command} << "não existe";
    // -p: the damaged file's controller, not the simulator's port.
    QTest::newRow("damaged, exportar")
        << "damaged" << QStringList{"-p", "/dev/ttyUSB0", "historico", "exportar", "--csv"}
        << "arquivo danificado";
    QTest::newRow("damaged, relatorio")
        << "damaged" << QStringList{"-p", "/dev/ttyUSB0", "historico", "relatorio"}
        << "arquivo danificado";
    QTest::newRow("damaged, registrar") << "damaged" << record << "arquivo danificado";
    QTest::newRow("foreign, exportar")
        << "foreign" << QStringList{"historico", "exportar"} << "não é um histórico do Tarvik";
    QTest::newRow("foreign, registrar") << "foreign" << record << "não é um histórico do Tarvik";
}

// A history that cannot be read whole is said, with a status that is not
// 0; a mistyped name makes nothing, and a file not ours stays as it was.
void TestCliHistory::badHistoryFileSaid() {
    QFETCH(QString, file);
    QFETCH(QStringList, args);
    QFETCH(QString, said);
    const QString folder = dir.filePath(QTest::currentDataTag());
    const QString history = folder + QStringLiteral("/historico.sqlite");
    if (file != QStringLiteral("missing")) {
        QVERIFY(QDir().mkpath(folder));
        if (file == QStringLiteral("damaged"))
            historyfiles::Damaged(history);
        else
            historyfiles::Foreign(history);
    }
    const QByteArray before = historyfiles::Bytes(history);
    const tRun r = run(args, history);
    QVERIFY2(r.code == 2, qPrintable(QString::number(r.code) + u' ' + r.err));
    QVERIFY2(r.err.contains(said), qPrintable(r.err));
    if (file == QStringLiteral("missing"))
        QVERIFY(!QFileInfo::exists(folder));
    else
        QCOMPARE(historyfiles::Bytes(history), before);
}

QTEST_GUILESS_MAIN(TestCliHistory)
#include "tst_cli_history.moc"
