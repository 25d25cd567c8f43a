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

#include "sheet_cells.h"
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include <sys/resource.h>

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
    void exportIntoAFile();
    void killedRecorderLeavesASoundFile();
    void twoRecordersShareOneFile();
    void recorderThroughAGateway();
    void writeIsAudited_data();
    void writeIsAudited();
    void logSlotsStoredOnce();
    void unopenableHistoryDoesNotHoldTheWrite();
    void recorderSaysWhatTheFileLost_data();
    void recorderSaysWhatTheFileLost();
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
    env.remove(QStringLiteral("XDG_RUNTIME_DIR")); // as a service runs it
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
                QVERIFY(store.AddReading(
                    controller,
                    {.utcMs = QDateTime::currentMSecsSinceEpoch() - d * dayMs, .result = -2}));
    }
    QCOMPARE(readingsOf(file, port(*sim)), before + 39);
    const int64_t runStart = QDateTime::currentMSecsSinceEpoch();
    const auto split = [this, runStart] {
        tHistoryStore store;
        std::pair<int, int> olderNewer{};
        if (store.Open(file))
            for (const tStatusReading &r :
                 store.Readings(store.Controllers().at(0).id, 0, INT64_MAX))
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
    QTest::newRow("verificar") << QStringList{"historico", "verificar"} << 0 << QString()
                               << "íntegro";
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
    QVERIFY2(p->exitCode() == code, qPrintable(err + out));
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
    QVERIFY2(!err.contains(QLatin1String("XDG_RUNTIME_DIR")), qPrintable(err));
    if (!pdf.isEmpty()) {
        QFile f(pdf);
        QCOMPARE(f.exists(), code == 0);
        if (code == 0) {
            QVERIFY(f.open(QIODevice::ReadOnly));
            QVERIFY(f.read(5) == "%PDF-");
        }
    }
}

// Into a file, `historico exportar` writes the CSV that --csv writes, for a
// spreadsheet; --xlsx writes the same columns as a spreadsheet file with
// dates as dates and temperatures as numbers, and nothing to the output.
void TestCliHistory::exportIntoAFile() {
    QVERIFY(readingsOf(file, port(*sim)) >= 3);
    auto exportTo = [&](const QStringList &args, const QString &out) {
        auto p = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TARVIK_HISTORICO"), file);
        p->setProcessEnvironment(env);
        p->setStandardOutputFile(out);
        p->start(QStringLiteral(TARVIK_CLI), args);
        return p->waitForFinished(60000) ? p->exitCode() : -1;
    };
    auto bytes = [](const QString &path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("missing");
    };
    const QString plain = dir.filePath(QStringLiteral("h.csv"));
    const QString flagged = dir.filePath(QStringLiteral("h-opcao.csv"));
    QCOMPARE(exportTo({"historico", "exportar"}, plain), 0);
    QCOMPARE(exportTo({"historico", "exportar", "--csv"}, flagged), 0);
    QVERIFY(bytes(plain).startsWith("\xEF\xBB\xBFPorta;"));
    QCOMPARE(bytes(plain), bytes(flagged));

    const QString xlsx = dir.filePath(QStringLiteral("h.xlsx"));
    const QString nothing = dir.filePath(QStringLiteral("nada.txt"));
    QCOMPARE(exportTo({"historico", "exportar", "--xlsx", xlsx}, nothing), 0);
    QCOMPARE(bytes(nothing), QByteArray());
    const QMap<QString, tSheetCellRead> cells = SheetCells(xlsx);
    QCOMPARE(cells.value("A1").value, "Porta");
    QCOMPARE(cells.value("F1").value, "Sensor 1 (ºC)");
    QCOMPARE(cells.value("A2").value, port(*sim));
    QCOMPARE(cells.value("B2").kind, "número");
    QCOMPARE(cells.value("D2").kind, "data");
    QCOMPARE(cells.value("E2").kind, "data");
    // A failed reading's sensor stays text ("---"); the others are numbers.
    bool number = false;
    for (auto at = cells.begin(); at != cells.end(); ++at)
        number = number || (at.key().startsWith(u'F') && at.value().kind == u"número");
    QVERIFY(number);
    QCOMPARE(exportTo({"historico", "exportar", "--xlsx", xlsx, "--csv"}, nothing), 2);
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

// A controller behind a Modbus TCP gateway is recorded as one on a serial
// line, and a connection the gateway drops is made again.
void TestCliHistory::recorderThroughAGateway() {
    sim::Controller gateway;
    QVERIFY(gateway.listenTcp(sim::TcpFront::ModbusTcp, "127.0.0.1", 0) && gateway.start());
    const QString address = QStringLiteral("tcp://127.0.0.1:%1").arg(gateway.tcpPort());
    const QString history = dir.filePath(QStringLiteral("gateway.sqlite"));
    auto p = start({"-p", address, "-a", "201", "registrar", "--intervalo", "1"}, {}, history);
    QTRY_VERIFY_WITH_TIMEOUT(readingsOf(history, address) >= 2, 30000);
    gateway.dropConnections();
    const int before = readingsOf(history, address);
    QTRY_VERIFY_WITH_TIMEOUT(readingsOf(history, address) >= before + 2, 30000);
    ::kill(pid_t(p->processId()), SIGTERM);
    QVERIFY(p->waitForFinished(30000));
    const QByteArray err = p->readAllStandardError();
    QVERIFY2(p->exitCode() == 0, err.constData());
    QCOMPARE(integrityCheck(history), QStringLiteral("ok"));
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

void TestCliHistory::recorderSaysWhatTheFileLost_data() {
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("said"); // on standard error, once
    QTest::addColumn<int>("code");
    // Removed under the recorder: said, and recording goes on in a new file.
    QTest::newRow("file deleted") << "deleted"
                                  << "foi apagado ou trocado" << 1;
    // Stopped while the readings wait for a full disk: they are counted.
    QTest::newRow("disk full at the stop") << "full"
                                           << "leitura(s) não gravada(s)" << 1;
}

void TestCliHistory::recorderSaysWhatTheFileLost() {
    QFETCH(QString, fault);
    QFETCH(QString, said);
    QFETCH(int, code);
    const QString history = dir.filePath(QTest::currentDataTag() + QStringLiteral(".sqlite"));
    // Inherited by the recorder: a write beyond its file size limit fails
    // as on a full disk instead of ending it.
    const auto oldXfsz = std::signal(SIGXFSZ, SIG_IGN);
    auto p = start({"-a", "201", "registrar", "--intervalo", "1,5"}, port(*sim), history);
    std::signal(SIGXFSZ, oldXfsz);
    QVERIFY(p->waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(readingsOf(history, port(*sim)) >= 3, 30000);
    QByteArray err;
    if (fault == QLatin1String("deleted")) {
        QVERIFY(QFile::remove(history)); // its -wal and -shm left behind, as rm leaves them
        QTRY_VERIFY_WITH_TIMEOUT((err += p->readAllStandardError()).contains(said.toUtf8()), 30000);
        QTRY_VERIFY_WITH_TIMEOUT(readingsOf(history, port(*sim)) >= 3, 30000);
    } else {
        const rlimit full{1, RLIM_INFINITY};
        QCOMPARE(::prlimit(pid_t(p->processId()), RLIMIT_FSIZE, &full, nullptr), 0);
        QTRY_VERIFY_WITH_TIMEOUT((err += p->readAllStandardError()).contains("interrompida"),
                                 30000);
        const int requests = sim->requestCount();
        QTRY_VERIFY_WITH_TIMEOUT(sim->requestCount() >= requests + 3, 30000);
    }
    ::kill(pid_t(p->processId()), SIGTERM);
    QVERIFY(p->waitForFinished(30000));
    err += p->readAllStandardError();
    QVERIFY2(err.contains("uma leitura a cada 1,5 s"), err.constData());
    QVERIFY2(err.count(said.toUtf8()) == 1, err.constData());
    QVERIFY2(p->exitCode() == code, err.constData());
    QCOMPARE(integrityCheck(history), QStringLiteral("ok"));
}

void TestCliHistory::badHistoryFileSaid_data() {
    QTest::addColumn<QString>("file"); // missing, damaged, foreign or tampered
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("said"); // on standard error, or output for verificar
    const QStringList record{"-a", "201", "registrar", "--intervalo", "1"};
    for (const char *command : {"exportar", "relatorio", "alteracoes"})
        QTest::addRow("mistyped name, %s", command)
            << "missing" << QStringList{"historico", command} << 2 << "não existe";
    // -p: the damaged file's controller, not the simulator's port.
    QTest::newRow("damaged, exportar")
        << "damaged" << QStringList{"-p", "/dev/ttyUSB0", "historico", "exportar", "--csv"} << 2
        << "arquivo danificado";
    QTest::newRow("damaged, relatorio")
        << "damaged" << QStringList{"-p", "/dev/ttyUSB0", "historico", "relatorio"} << 2
        << "arquivo danificado";
    QTest::newRow("damaged, registrar") << "damaged" << record << 2 << "arquivo danificado";
    QTest::newRow("foreign, exportar")
        << "foreign" << QStringList{"historico", "exportar"} << 2 << "não é um histórico do Tarvik";
    QTest::newRow("foreign, registrar")
        << "foreign" << record << 2 << "não é um histórico do Tarvik";
    QTest::newRow("foreign, verificar") << "foreign" << QStringList{"historico", "verificar"} << 2
                                        << "não é um histórico do Tarvik";
    QTest::newRow("edited, verificar")
        << "tampered" << QStringList{"historico", "verificar"} << 1
        << "adulterado: registro nº 3 da cadeia (leitura de /dev/ttyUSB0 endereço 201";
}

// A history that cannot be read whole is said, with a status that is not
// 0; a mistyped name makes nothing, and a file not ours stays as it was.
void TestCliHistory::badHistoryFileSaid() {
    QFETCH(QString, file);
    QFETCH(QStringList, args);
    QFETCH(int, code);
    QFETCH(QString, said);
    const QString folder = dir.filePath(QTest::currentDataTag());
    const QString history = folder + QStringLiteral("/historico.sqlite");
    if (file != QStringLiteral("missing")) {
        QVERIFY(QDir().mkpath(folder));
        if (file == QStringLiteral("damaged"))
            historyfiles::Damaged(history);
        else if (file == QStringLiteral("tampered"))
            historyfiles::Tampered(history);
        else
            historyfiles::Foreign(history);
    }
    const QByteArray before = historyfiles::Bytes(history);
    const tRun r = run(args, history);
    QVERIFY2(r.code == code, qPrintable(QString::number(r.code) + u' ' + r.err));
    QVERIFY2((r.err + r.out).contains(said), qPrintable(r.err + r.out));
    if (file == QStringLiteral("missing"))
        QVERIFY(!QFileInfo::exists(folder));
    else
        QCOMPARE(historyfiles::Bytes(history), before);
}

QTEST_GUILESS_MAIN(TestCliHistory)
#include "tst_cli_history.moc"
