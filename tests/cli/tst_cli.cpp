// tarvik-cli run as a user runs it, against simulated controllers sharing one
// line: a "qx4r" at 201 and a "qx2n" at 202; nobody answers 203. The port
// comes from TARVIK_PORTS unless a row says otherwise.
#include "file_size_limit.h"
#include "ondrel_sim.h"
#include "spreadsheet_rows.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace {

struct tOutcome {
    int code = -1;
    QByteArray bytes; // standard output as written
    QString out;
    QString err;
};

const QByteArray bom = "\xEF\xBB\xBF";

QList<QStringList> csvRows(const QString &text) {
    return SpreadsheetRows(text);
}

QByteArray readFile(const QString &name) {
    QFile f(name);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QStringList lines(const QString &text) {
    return text.split(u'\n', Qt::SkipEmptyParts);
}

} // namespace

class TestCli : public QObject {
    Q_OBJECT

  private Q_SLOTS:
    void init();
    void cleanup();
    void invocations_data();
    void invocations();
    void helpShowsTheReadmeExamples();
    void windowProgramSpeaksPortuguese_data();
    void windowProgramSpeaksPortuguese();
    void statusCsvParsesBack();
    void csvFollowsItsOutput_data();
    void csvFollowsItsOutput();
    void failedWritesAreSaid_data();
    void failedWritesAreSaid();
    void statusJsonParses();
    void logNewestFirst_data();
    void logNewestFirst();
    void configSaveCompareWrite();
    void clockReadAndSet();
    void traceFiles_data();
    void traceFiles();
    void intervalStopsWithTheLastLineWhole();
    void vanishedPortIsReopened();
    void identityCache();

  private:
    void startLine(int logSlots);
    QProcess *start(const QStringList &args, const QString &workDir = QString());
    QProcess *prepare(const QString &workDir = QString()); // the environment of every run
    tOutcome run(const QStringList &args, const QString &workDir = QString());
    // The program through the shell, for redirections: `line` follows its name.
    tOutcome runShell(const QString &line);
    // The program writing into a pipe nobody reads any more, as after `| head`,
    // with SIGPIPE as a shell leaves it.
    tOutcome runIntoClosedPipe(const QStringList &args);
    QString port() const { return QString::fromStdString(first->portName()); }

    std::unique_ptr<sim::Controller> first;
    sim::Controller *second = nullptr;
    std::unique_ptr<QProcess> process;
    QString portEnv;         // TARVIK_PORTS for the next run
    QTemporaryDir cacheHome; // XDG_CACHE_HOME of the runs: no user's cache is touched
};

void TestCli::init() {
    startLine(100);
}

void TestCli::startLine(int logSlots) {
    first.reset();
    sim::Options a;
    a.logSlots = logSlots;
    first = std::make_unique<sim::Controller>(a);
    sim::Options o;
    o.model = "qx2n";
    o.slaveId = 202;
    second = first->addToBus(o);
    QVERIFY(second);
    QVERIFY(first->start());
    portEnv = port();
}

void TestCli::cleanup() {
    if (process && process->state() != QProcess::NotRunning) {
        process->kill();
        process->waitForFinished();
    }
    process.reset();
    first.reset();
}

QProcess *TestCli::start(const QStringList &args, const QString &workDir) {
    QProcess *p = prepare(workDir);
    p->start(QStringLiteral(TARVIK_CLI), args);
    return p;
}

QProcess *TestCli::prepare(const QString &workDir) {
    process = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TARVIK_PORTS"), portEnv);
    env.insert(QStringLiteral("XDG_CACHE_HOME"), cacheHome.path());
    // The writes and log reads go into a history of this run, not the user's.
    env.insert(QStringLiteral("TARVIK_HISTORICO"), cacheHome.filePath("historico.sqlite"));
    process->setProcessEnvironment(env);
    if (!workDir.isEmpty())
        process->setWorkingDirectory(workDir);
    return process.get();
}

tOutcome TestCli::run(const QStringList &args, const QString &workDir) {
    QProcess *p = start(args, workDir);
    tOutcome o;
    if (!p->waitForFinished(60000) || p->exitStatus() != QProcess::NormalExit)
        return o;
    o.code = p->exitCode();
    o.bytes = p->readAllStandardOutput();
    o.out = QString::fromUtf8(o.bytes);
    o.err = QString::fromUtf8(p->readAllStandardError());
    return o;
}

tOutcome TestCli::runShell(const QString &line) {
    process = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TARVIK_PORTS"), portEnv);
    env.insert(QStringLiteral("TARVIK_HISTORICO"), cacheHome.filePath("historico.sqlite"));
    process->setProcessEnvironment(env);
    process->start(QStringLiteral("/bin/sh"),
                   {"-c", QStringLiteral("exec '%1' %2").arg(TARVIK_CLI, line)});
    tOutcome o;
    if (!process->waitForFinished(60000) || process->exitStatus() != QProcess::NormalExit)
        return o;
    o.code = process->exitCode();
    o.bytes = process->readAllStandardOutput();
    o.out = QString::fromUtf8(o.bytes);
    o.err = QString::fromUtf8(process->readAllStandardError());
    return o;
}

tOutcome TestCli::runIntoClosedPipe(const QStringList &args) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return {};
    ::close(fds[0]);
    QProcess *p = prepare();
    const int writeEnd = fds[1];
    p->setChildProcessModifier([writeEnd] {
        ::dup2(writeEnd, STDOUT_FILENO);
        std::signal(SIGPIPE, SIG_DFL);
    });
    p->start(QStringLiteral(TARVIK_CLI), args);
    tOutcome o;
    const bool ended = p->waitForFinished(60000) && p->exitStatus() == QProcess::NormalExit;
    ::close(writeEnd);
    if (!ended)
        return o;
    o.code = p->exitCode();
    o.err = QString::fromUtf8(p->readAllStandardError());
    return o;
}

void TestCli::invocations_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("portInEnvironment");
    QTest::addColumn<int>("code");
    QTest::addColumn<QStringList>("out"); // patterns, each matching one line, in order
    QTest::addColumn<QStringList>("err"); // patterns found somewhere in stderr

    QTest::newRow("info on two models")
        << QStringList{"-a", "201,202", "info"} << true << 0
        << QStringList{"^201: modelo qx4r, firmware 1\\.2, 4 relés \\(Refrigeração, Degelo, "
                       "Ventilador, Auxiliar\\), relógio \\d\\d/\\d\\d/\\d{4} \\d\\d:\\d\\d:\\d\\d "
                       "\\(\\w+(-feira)?\\)$",
                       "^202: modelo qx2n, firmware 1\\.2, 2 relés \\(Refrigeração, Degelo\\), sem "
                       "relógio$"}
        << QStringList{};
    QTest::newRow("info as JSON")
        << QStringList{"-a", "202", "info", "--json"} << true << 0
        << QStringList{"^\\{.*\"modelo\":\"qx2n\".*\"relogio\":null.*\\}$"} << QStringList{};
    QTest::newRow("port by option") << QStringList{"-p", "{port}", "-a", "202", "relogio"} << false
                                    << 0 << QStringList{"^202: sem relógio$"} << QStringList{};
    QTest::newRow("fast read") << QStringList{"-a", "202", "--rapido", "status"} << true << 0
                               << QStringList{"^202: Sensor 1: 4ºC .*  Relé 2: Desligado "
                                              "\\(Degelo\\)$"}
                               << QStringList{};
    QTest::newRow("silent controller")
        << QStringList{"-a", "203", "-t", "1", "status"} << true << 1 << QStringList{}
        << QStringList{"endereço 203: identificação: erro -6 \\(TIMEOUT\\); confira o cabo, a "
                       "velocidade \\(-b, agora 115200 bit/s\\) e o endereço \\(-a, agora 203\\)"};
    QTest::newRow("three addresses, one silent")
        << QStringList{"-a", "201,203,202", "-t", "1", "status"} << true << 1
        << QStringList{"^201: Sensor 1: 4ºC \\(Min: 4ºC, Max: 4ºC\\)  Sensor 2: -12ºC .*  "
                       "Sensor 4: 45ºC .*  Relé 4: Desligado \\(Auxiliar\\)$",
                       "^202: Sensor 1: .*  Sensor 2: .*  Relé 2: Desligado \\(Degelo\\)$"}
        << QStringList{"endereço 203: identificação: erro -6 \\(TIMEOUT\\)"};
    QTest::newRow("unknown option")
        << QStringList{"--bogus", "status"} << true << 2 << QStringList{}
        << QStringList{"opção desconhecida: --bogus", "uso: tarvik-cli \\[opções\\] COMANDO"};
    QTest::newRow("unknown command") << QStringList{"estado"} << true << 2 << QStringList{}
                                     << QStringList{"comando desconhecido: estado\nuso:"};
    QTest::newRow("misspelt command")
        << QStringList{"stauts", "--csv"} << true << 2 << QStringList{}
        << QStringList{"comando desconhecido: stauts; você quis dizer status\\?\nuso:"};
    QTest::newRow("misspelt second word")
        << QStringList{"config", "salva", "x.cfg"} << true << 2 << QStringList{}
        << QStringList{"comando desconhecido: config salva; você quis dizer config salvar\\?"};
    QTest::newRow("first word of several")
        << QStringList{"confg"} << true << 2 << QStringList{}
        << QStringList{"comando desconhecido: confg; você quis dizer config salvar, config "
                       "gravar ou config comparar\\?"};
    QTest::newRow("misspelt first word")
        << QStringList{"relogo"} << true << 2 << QStringList{}
        << QStringList{"comando desconhecido: relogo; você quis dizer relógio\\?"};
    QTest::newRow("misspelt option")
        << QStringList{"status", "--intervlo", "5"} << true << 2 << QStringList{}
        << QStringList{"opção desconhecida: --intervlo; você quis dizer --intervalo\\?"};
    QTest::newRow("misspelt option with its value")
        << QStringList{"--enderco=202", "info"} << true << 2 << QStringList{}
        << QStringList{"opção desconhecida: --enderco=202; você quis dizer --endereço\\?"};
    QTest::newRow("address out of range")
        << QStringList{"-a", "201,248", "info"} << true << 2 << QStringList{}
        << QStringList{"endereço fora de 1..247: \"248\""};
    QTest::newRow("option of another command")
        << QStringList{"info", "--csv"} << true << 2 << QStringList{}
        << QStringList{"--csv não vale para o comando info"};
    QTest::newRow("two formats") << QStringList{"status", "--csv", "--json"} << true << 2
                                 << QStringList{} << QStringList{"--csv e --json não vão juntos"};
    QTest::newRow("several files without %a")
        << QStringList{"-a", "201,202", "config", "salvar", "x.cfg"} << true << 2 << QStringList{}
        << QStringList{"leva %a"};
    QTest::newRow("no port") << QStringList{"info"} << false << 2 << QStringList{}
                             << QStringList{"nenhuma porta: use -p PORTA ou a variável "
                                            "TARVIK_PORTS"};
    QTest::newRow("saving onto a device")
        << QStringList{"config", "salvar", "/dev/null"} << true << 2 << QStringList{}
        << QStringList{"/dev/null não é um arquivo comum, é um dispositivo; nada foi gravado"};
    QTest::newRow("port that does not exist")
        << QStringList{"-p", "/dev/tarvik-none", "status"} << true << 1 << QStringList{}
        << QStringList{"A porta /dev/tarvik-none não existe\\. \\(erro -14\\)"};
    QTest::newRow("scan of a range")
        << QStringList{"-t", "1", "procurar", "--de", "195", "--ate", "205"} << true << 0
        << QStringList{"^201: modelo qx4r, firmware 1\\.2, velocidade 7 \\(115200 bit/s\\)$",
                       "^202: modelo qx2n, firmware 1\\.2, velocidade 7 \\(115200 bit/s\\)$"}
        << QStringList{};
    QTest::newRow("scan as JSON")
        << QStringList{"-t", "1", "procurar", "--de", "202", "--ate", "202", "--json"} << true << 0
        << QStringList{"^\\{\"bit_s\":115200,\"endereco\":202,\"firmware\":\"1\\.2\",\"modelo\":"
                       "\"qx2n\",\"velocidade\":7\\}$"}
        << QStringList{};
    QTest::newRow("scan finds nobody")
        << QStringList{"-t", "1", "procurar", "--de", "1", "--ate", "3"} << true << 1
        << QStringList{} << QStringList{"nenhum controlador respondeu de 1 a 3"};
    QTest::newRow("scan range reversed")
        << QStringList{"procurar", "--de", "10", "--ate", "5"} << true << 2 << QStringList{}
        << QStringList{"--de 10 passa de --até 5"};
    QTest::newRow("line statistics")
        << QStringList{"-a", "202,203", "-t", "1", "info", "--estatisticas"} << true << 1
        << QStringList{"^202: modelo qx2n"}
        << QStringList{"--- estatísticas da linha /dev/pts/\\d+ ---\n"
                       "2 trocas, 1 boas, 50,0% com falha\n"
                       "ida e volta mín/mediana/p95/máx = \\d+,\\d/\\d+,\\d/\\d+,\\d/\\d+,\\d ms\n"
                       "falhas: 1 timeout\n"};
    QTest::newRow("line statistics as JSON")
        << QStringList{"-a", "202", "info", "--json", "--estatisticas"} << true << 0
        << QStringList{"^\\{.*\"modelo\":\"qx2n\".*\\}$",
                       "^\\{\"estatisticas\":\\{.*\"boas\":1,.*\"ida_e_volta_ms\":\\{\"max\":.*"
                       "\"timeout\":0,\"transacao\":0,\"trocas\":1\\},\"porta\":\"/dev/pts/"
                       "\\d+\"\\}$"}
        << QStringList{};
    QTest::newRow("accented command") << QStringList{"-a", "202", "relógio"} << true << 0
                                      << QStringList{"^202: sem relógio$"} << QStringList{};
    QTest::newRow("accented option") << QStringList{"--endereço=202", "relógio", "ler"} << true << 0
                                     << QStringList{"^202: sem relógio$"} << QStringList{};
    QTest::newRow("interval out of range")
        << QStringList{"status", "--intervalo", "0,05"} << true << 2 << QStringList{}
        << QStringList{"valor inválido para --intervalo: \"0,05\" \\(segundos, de 0,1 a 86400\\)"};
    QTest::newRow("version") << QStringList{"--version"} << false << 0
                             << QStringList{"^tarvik-cli \\d+\\.\\d+$"} << QStringList{};
    for (const char *help : {"--help", "-h", "--ajuda", "ajuda"})
        QTest::addRow("help as %s", help)
            << QStringList{help} << false << 0
            << QStringList{"^Uso: tarvik-cli \\[opções\\] COMANDO \\[ARQUIVO\\]$"} << QStringList{};
}

void TestCli::invocations() {
    QFETCH(QStringList, args);
    QFETCH(bool, portInEnvironment);
    QFETCH(int, code);
    QFETCH(QStringList, out);
    QFETCH(QStringList, err);
    args.replaceInStrings(QStringLiteral("{port}"), port());
    if (!portInEnvironment)
        portEnv.clear();
    const tOutcome o = run(args);
    QVERIFY2(o.code == code,
             qPrintable(QStringLiteral("exit %1\n%2%3").arg(o.code).arg(o.out, o.err)));
    const QStringList got = lines(o.out);
    if (o.out.startsWith(QStringLiteral("Uso: "))) {
        QVERIFY(o.out.contains(QStringLiteral("Códigos de saída:")));
        QVERIFY(o.out.contains(QStringLiteral("a cada 3 segundos até voltar")));
    } else {
        QCOMPARE(got.size(), out.size());
    }
    for (qsizetype i = 0; i < out.size(); ++i)
        QVERIFY2(QRegularExpression(out[i]).match(got[i]).hasMatch(), qPrintable(got[i]));
    for (const QString &pattern : err)
        QVERIFY2(QRegularExpression(pattern).match(o.err).hasMatch(), qPrintable(o.err));
    if (code == 2 && !o.err.contains(QStringLiteral("nenhuma porta")))
        QVERIFY(o.out.isEmpty());
}

// Every example of the README's tarvik-cli section is in the help as written.
void TestCli::helpShowsTheReadmeExamples() {
    QFile readme(QStringLiteral(TARVIK_README));
    QVERIFY(readme.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(readme.readAll());
    const qsizetype from = text.indexOf("## From a terminal: tarvik-cli");
    QVERIFY(from >= 0);
    const QString section = text.mid(from, text.indexOf("\n## ", from + 1) - from);
    const QString help = run({"--help"}).out;
    int examples = 0;
    for (const QString &line : section.split(u'\n')) {
        if (!line.startsWith("    tarvik-cli "))
            continue;
        const QString example = line.section(" # ", 0, 0).trimmed();
        QVERIFY2(help.contains("\n  " + example + "\n"), qPrintable(example));
        ++examples;
    }
    QVERIFY(examples > 0);
}

// The window program's help and errors are in Portuguese, whatever the
// system's language and whether Qt's translations are installed.
void TestCli::windowProgramSpeaksPortuguese_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("said"); // a pattern found in standard output and error
    for (const char *help : {"--help", "-h", "--ajuda"})
        QTest::addRow("help as %s", help)
            << QStringList{help} << 0
            << "^Uso: .*tarvik \\[opções\\]\n.+\n\nOpções:\n  -h, -\\?, --help, --ajuda +Mostra "
               "esta ajuda\\.\n";
    QTest::newRow("version") << QStringList{"--version"} << 0 << "^tarvik \\d+\\.\\d+\n$";
    QTest::newRow("unknown option") << QStringList{"--bogus"} << 1 << "bogus";
}

void TestCli::windowProgramSpeaksPortuguese() {
    QFETCH(QStringList, args);
    QFETCH(int, code);
    QFETCH(QString, said);
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LANG"), QStringLiteral("C"));
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(TARVIK_WINDOW), args);
    QVERIFY(p.waitForFinished(60000));
    const QString text = QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError());
    QCOMPARE(p.exitCode(), code);
    QVERIFY2(QRegularExpression(said).match(text).hasMatch(), qPrintable(text));
    for (const char *english : {"Usage", "Options:", "Displays", "Unknown"})
        QVERIFY2(!text.contains(QLatin1String(english)), qPrintable(text));
}

void TestCli::statusCsvParsesBack() {
    first->setSensor(0, sim::SensorState::Valid, 235);
    first->setSensor(1, sim::SensorState::Open, 0);
    first->setReg(0xA001, 0); // minimum and maximum start again from the present values
    first->setSensor(0, sim::SensorState::Valid, -5);
    first->setReg(0x0200, 0x4000); // relay 1 energised
    const tOutcome o = run({"-a", "201,202", "status", "--csv"});
    QCOMPARE(o.code, 0);
    const QList<QStringList> rows = csvRows(o.out);
    QCOMPARE(rows.size(), 3);
    const QStringList &header = rows[0];
    QCOMPARE(header.mid(0, 7),
             QStringList({"Data", "Hora", "Endereço", "Unidade", "Sensor 1", "Min 1", "Max 1"}));
    QCOMPARE(header.size(), 4 + 4 * 3 + 4 * 2 + 1);
    QCOMPARE(header.last(), "Data e hora");
    auto cell = [&](const QStringList &row, const QString &column) {
        return row.value(header.indexOf(column));
    };
    const QStringList &a = rows[1], &b = rows[2];
    QCOMPARE(a.size(), header.size());
    QCOMPARE(b.size(), header.size());
    QVERIFY(QRegularExpression("^\\d\\d/\\d\\d/\\d{4}$").match(cell(a, "Data")).hasMatch());
    QVERIFY(QRegularExpression("^\\d\\d:\\d\\d:\\d\\d$").match(cell(a, "Hora")).hasMatch());
    QCOMPARE(cell(a, "Data e hora"),
             QDateTime::fromString(cell(a, "Data") + ' ' + cell(a, "Hora"), "dd/MM/yyyy HH:mm:ss")
                 .toString("yyyy-MM-dd HH:mm:ss"));
    QCOMPARE(cell(a, "Endereço"), "201");
    QCOMPARE(cell(a, "Unidade"), "ºC");
    QCOMPARE(cell(a, "Sensor 1"), "-0,5");
    QCOMPARE(cell(a, "Min 1"), "-0,5");
    QCOMPARE(cell(a, "Max 1"), "23,5");
    QCOMPARE(cell(a, "Sensor 2"), "Aberto");
    QCOMPARE(cell(a, "Min 2"), "");
    QCOMPARE(cell(a, "Relé 1"), "Ligado");
    QCOMPARE(cell(a, "Operação 1"), "Refrigeração");
    QCOMPARE(cell(a, "Operação 4"), "Auxiliar");
    QCOMPARE(cell(b, "Endereço"), "202");
    QCOMPARE(cell(b, "Sensor 2"), "-12,0");
    QCOMPARE(cell(b, "Sensor 3"), "");   // a two-relay model shows two sensors
    QCOMPARE(cell(b, "Operação 3"), ""); // and two relays
}

// A file a spreadsheet opens starts with the mark and ends its lines with
// CR LF; a pipe or terminal gets plain lines for grep and awk. A file that
// already holds data gets neither a second mark nor a second header.
void TestCli::csvFollowsItsOutput_data() {
    QTest::addColumn<QString>("redirection"); // {file} stands for the file's path
    QTest::addColumn<QByteArray>("before");   // the file's content beforehand; "-" no file
    QTest::addColumn<bool>("mark");
    QTest::addColumn<bool>("header");
    QTest::addColumn<QByteArray>("lineEnd");
    QTest::newRow("pipe") << "" << QByteArray("-") << false << true << QByteArray("\n");
    QTest::newRow("new file") << "> {file}" << QByteArray("-") << true << true
                              << QByteArray("\r\n");
    QTest::newRow("empty file") << "> {file}" << QByteArray() << true << true << QByteArray("\r\n");
    QTest::newRow("appended to a new file")
        << ">> {file}" << QByteArray("-") << true << true << QByteArray("\r\n");
    QTest::newRow("appended to data") << ">> {file}"
                                      << QByteArray("\xEF\xBB\xBF"
                                                    "Data;Hora\r\n")
                                      << false << false << QByteArray("\r\n");
}

void TestCli::csvFollowsItsOutput() {
    QFETCH(QString, redirection);
    QFETCH(QByteArray, before);
    QFETCH(bool, mark);
    QFETCH(bool, header);
    QFETCH(QByteArray, lineEnd);
    QTemporaryDir dir;
    const QString file = dir.filePath("camara.csv");
    if (before != "-") {
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(before);
    }
    const tOutcome o = runShell(
        QStringLiteral("-a 201,202 status --csv %1").arg(redirection).replace("{file}", file));
    QCOMPARE(o.code, 0);
    QByteArray written = redirection.isEmpty() ? o.bytes : readFile(file);
    if (before != "-") {
        QVERIFY(written.startsWith(before));
        written = written.mid(before.size());
    }
    QCOMPARE(written.startsWith(bom), mark);
    if (mark)
        written = written.mid(bom.size());
    QCOMPARE(written.startsWith("Data;Hora;"), header);
    const QList<QByteArray> lines = written.split('\n');
    QCOMPARE(lines.size(), header ? 4 : 3); // and an empty piece after the last line end
    QVERIFY(lines.last().isEmpty());
    for (qsizetype i = 0; i + 1 < lines.size(); ++i)
        QCOMPARE(lines[i].endsWith('\r'), lineEnd == "\r\n");
}

// A result that cannot be written stops the command with the system's reason
// and exit 2; a file cut short by a full disk ends with a whole line.
void TestCli::failedWritesAreSaid_data() {
    QTest::addColumn<QString>("line"); // {file} stands for a file in a temporary folder
    QTest::addColumn<int>("diskFull"); // bytes a file may hold; 0: no limit
    QTest::addColumn<bool>("csv");
    QTest::addColumn<bool>("closedPipe"); // the line's words into a pipe nobody reads
    QTest::newRow("info") << "info > /dev/full" << 0 << false << false;
    QTest::newRow("help") << "--help > /dev/full" << 0 << false << false;
    QTest::newRow("log header") << "log --csv > /dev/full" << 0 << false << false;
    QTest::newRow("CSV recording")
        << "status --intervalo 0.1 --csv >> {file}" << 1500 << true << false;
    QTest::newRow("text recording")
        << "-a 201,202 status --intervalo 0.1 >> {file}" << 1000 << false << false;
    QTest::newRow("info into a closed pipe") << "info" << 0 << false << true;
    QTest::newRow("recording into a closed pipe")
        << "status --intervalo 0.1 --csv" << 0 << false << true;
}

void TestCli::failedWritesAreSaid() {
    QFETCH(QString, line);
    QFETCH(int, diskFull);
    QFETCH(bool, csv);
    QFETCH(bool, closedPipe);
    QTemporaryDir dir;
    const QString file = dir.filePath("camara.csv");
    tOutcome o;
    if (closedPipe) {
        o = runIntoClosedPipe(line.split(u' '));
    } else if (diskFull) {
        FileSizeLimit limit{rlim_t(diskFull)}; // the program inherits it
        QVERIFY(limit.ok);
        o = runShell(line.replace("{file}", file));
    } else {
        o = runShell(line);
    }
    QCOMPARE(o.code, 2);
    QVERIFY2(QRegularExpression("^tarvik-cli: não foi possível escrever na saída padrão: .+$",
                                QRegularExpression::MultilineOption)
                 .match(o.err)
                 .hasMatch(),
             qPrintable(o.err));
    if (!diskFull)
        return;
    const QByteArray written = readFile(file);
    QVERIFY(written.size() <= diskFull);
    QVERIFY2(written.endsWith('\n'), written.right(80).constData());
    if (csv) {
        const QList<QStringList> rows = csvRows(QString::fromUtf8(written));
        QVERIFY(rows.size() >= 3);
        for (const QStringList &row : rows)
            QCOMPARE(row.size(), rows[0].size());
    }
}

void TestCli::statusJsonParses() {
    first->setSensor(0, sim::SensorState::Valid, 235);
    first->setSensor(1, sim::SensorState::Short, 0);
    first->setReg(0xA001, 0);
    first->setReg(0x0201, 0x4000); // relay 2 energised
    second->setFahrenheit(true);
    second->setSensor(0, sim::SensorState::Valid, -40);
    const tOutcome o = run({"-a", "201,202", "status", "--json"});
    QCOMPARE(o.code, 0);
    const QStringList got = lines(o.out);
    QCOMPARE(got.size(), 2);
    QJsonParseError error;
    const QJsonObject a = QJsonDocument::fromJson(got[0].toUtf8(), &error).object();
    QCOMPARE(error.error, QJsonParseError::NoError);
    const QJsonObject b = QJsonDocument::fromJson(got[1].toUtf8(), &error).object();
    QCOMPARE(error.error, QJsonParseError::NoError);

    QCOMPARE(a["endereco"].toInt(), 201);
    QCOMPARE(a["modelo"].toString(), "qx4r");
    QCOMPARE(a["unidade"].toString(), "C");
    QVERIFY(QDateTime::fromString(a["data_hora"].toString(), Qt::ISODate).isValid());
    const QJsonArray sensors = a["sensores"].toArray();
    QCOMPARE(sensors.size(), 4);
    QCOMPARE(sensors[0]["estado"].toString(), "ok");
    QCOMPARE(sensors[0]["valor"].toDouble(), 23.5);
    QCOMPARE(sensors[0]["min"].toDouble(), 23.5);
    QVERIFY(got[0].contains("\"valor\":23.5")); // a point, whatever the locale
    QCOMPARE(sensors[1]["estado"].toString(), "curto");
    QVERIFY(!sensors[1].toObject().contains("valor"));
    const QJsonArray relays = a["reles"].toArray();
    QCOMPARE(relays.size(), 4);
    QCOMPARE(relays[0]["estado"].toString(), "desligado");
    QCOMPARE(relays[1]["estado"].toString(), "ligado");
    QCOMPARE(relays[1]["operacao"].toString(), "Degelo");
    QCOMPARE(relays[1]["codigo"].toInt(), 3);

    QCOMPARE(b["endereco"].toInt(), 202);
    QCOMPARE(b["unidade"].toString(), "F");
    QCOMPARE(b["sensores"].toArray().size(), 2);
    QCOMPARE(b["sensores"][0]["valor"].toDouble(), -4.0);
    QCOMPARE(b["reles"].toArray().size(), 2);
}

void TestCli::logNewestFirst_data() {
    QTest::addColumn<int>("ring");
    QTest::addColumn<int>("written");
    QTest::addColumn<QString>("max");
    QTest::addColumn<QList<int>>("minutes"); // of the events listed, in order
    QTest::newRow("at most max") << 100 << 5 << "3" << QList<int>{4, 3, 2};
    QTest::newRow("never a slot twice") << 3 << 5 << "5" << QList<int>{4, 3, 2};
    QTest::newRow("up to the first slot never written") << 100 << 2 << "5" << QList<int>{1, 0};
}

void TestCli::logNewestFirst() {
    QFETCH(int, ring);
    QFETCH(int, written);
    QFETCH(QString, max);
    QFETCH(QList<int>, minutes);
    startLine(ring);
    for (int i = 0; i < written; ++i) {
        sim::LogSlot s;
        s.event = uint16_t(i % 2 ? 0x10 : 0x11); // refrigeration, relay 1, off and on
        s.sensor1 = 0x907D;                      // -12.5 ºF
        s.year = 2024;
        s.month = 5;
        s.day = 1;
        s.hour = 12;
        s.minute = uint16_t(i);
        first->addLogSlot(s);
    }
    const tOutcome text = run({"log", "--max", max});
    QCOMPARE(text.code, 0);
    const QStringList got = lines(text.out);
    QCOMPARE(got.size(), minutes.size());
    for (qsizetype i = 0; i < got.size(); ++i)
        QCOMPARE(got[i], QStringLiteral("201: Relé 1  Refrigeração  %1  -12,5 ºF  Não usado  "
                                        "01/05/2024  12:%2:00")
                             .arg(minutes[i] % 2 ? "Desligado" : "Ligado")
                             .arg(minutes[i], 2, 10, QChar('0')));

    const tOutcome csv = run({"log", "--max", max, "--csv"});
    QCOMPARE(csv.code, 0);
    const QList<QStringList> rows = csvRows(csv.out);
    QCOMPARE(rows.size(), minutes.size() + 1);
    QCOMPARE(rows[0],
             QStringList({"Endereço", "Relé", "Operação", "Status", "Sensor", "Sensor Auxiliar",
                          "Data", "Hora", "Data e hora", "Sensor valor", "Sensor unidade ou estado",
                          "Sensor Auxiliar valor", "Sensor Auxiliar unidade ou estado"}));
    for (qsizetype i = 0; i < minutes.size(); ++i) {
        const QStringList &row = rows[i + 1];
        QCOMPARE(row.size(), rows[0].size());
        const QString minute = QStringLiteral("%1").arg(minutes[i], 2, 10, QChar('0'));
        QCOMPARE(row[4], "-12,5 ºF");
        QCOMPARE(row[7], QStringLiteral("12:%1:00").arg(minute));
        QCOMPARE(row.mid(8), QStringList({QStringLiteral("2024-05-01 12:%1:00").arg(minute),
                                          "-12,5", "ºF", "", "Não usado"}));
    }

    const tOutcome json = run({"log", "--max", max, "--json"});
    QCOMPARE(json.code, 0);
    const QJsonObject o = QJsonDocument::fromJson(json.out.toUtf8()).object();
    const QJsonArray events = o["eventos"].toArray();
    QCOMPARE(events.size(), minutes.size());
    QCOMPARE(events[0]["sensor"]["valor"].toDouble(), -12.5);
    QCOMPARE(events[0]["sensor"]["unidade"].toString(), "F");
    QVERIFY(events[0]["sensor_auxiliar"].isNull());
    QCOMPARE(events[0]["data"].toString(), "2024-05-01");
}

// Saved, compared unchanged, compared after a change on the controller, written
// back with a read-back check, and refused on another model or a short file.
void TestCli::configSaveCompareWrite() {
    QTemporaryDir dir;
    const QString file = dir.filePath("c-%a.cfg");
    const QString saved = dir.filePath("c-201.cfg");

    tOutcome o = run({"config", "salvar", file});
    QCOMPARE(o.code, 0);
    QCOMPARE(o.out, QStringLiteral("201: configuração salva em %1\n").arg(saved));
    QCOMPARE(QFileInfo(saved).size(), 404);

    o = run({"config", "comparar", saved});
    QCOMPARE(o.code, 0);
    QCOMPARE(o.out, "201: sem diferenças\n");

    first->setReg(0x0401, 60); // relay 1 SP, 5.0 when saved
    o = run({"config", "comparar", saved});
    QCOMPARE(o.code, 3);
    QCOMPARE(o.out, "201: Relé 1: SP arquivo 5,0 ≠ controlador 6,0\n");

    o = run({"config", "gravar", file, "--verificar"});
    QCOMPARE(o.code, 0);
    QCOMPARE(o.out, "201: configuração gravada e conferida\n");
    QCOMPARE(first->reg(0x0401), uint16_t(50));
    QCOMPARE(run({"config", "comparar", saved}).code, 0);

    const int before = second->requestCount();
    o = run({"-a", "202", "config", "gravar", saved});
    QCOMPARE(o.code, 2);
    QVERIFY2(o.err.contains("Arquivo de configuração inválido.\nCheque se o arquivo pertence a "
                            "esse modelo de Ondrel."),
             qPrintable(o.err));
    QCOMPARE(second->requestCount(), before + 1); // the identification, nothing written

    QFile shortFile(dir.filePath("short.cfg"));
    QVERIFY(shortFile.open(QIODevice::WriteOnly));
    shortFile.write(QByteArray(10, 'q'));
    shortFile.close();
    o = run({"config", "comparar", shortFile.fileName()});
    QCOMPARE(o.code, 2);
    QVERIFY2(o.err.contains("tem 10 bytes em vez de 404"), qPrintable(o.err));
}

void TestCli::clockReadAndSet() {
    const QRegularExpression difference("^201: .*, diferença para o computador: ([-+]?\\d+) s$");
    first->setClockOffsetSeconds(-3600);
    tOutcome o = run({"-a", "201,202", "relogio", "ler"});
    QCOMPARE(o.code, 0);
    QStringList got = lines(o.out);
    QCOMPARE(got.size(), 2);
    QRegularExpressionMatch m = difference.match(got[0]);
    QVERIFY2(m.hasMatch(), qPrintable(got[0]));
    QVERIFY(qAbs(m.captured(1).toInt() + 3600) <= 2);
    QCOMPARE(got[1], "202: sem relógio");

    o = run({"-a", "201,202", "relogio", "acertar"});
    QCOMPARE(o.code, 0);
    QVERIFY2(o.out.startsWith("201: relógio acertado para "), qPrintable(o.out));
    QVERIFY(o.out.contains("202: sem relógio"));

    m = difference.match(lines(run({"relogio"}).out).value(0));
    QVERIFY(m.hasMatch());
    QVERIFY(qAbs(m.captured(1).toInt()) <= 1);
}

void TestCli::traceFiles_data() {
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<bool>("modbus");
    QTest::addColumn<bool>("commands");
    QTest::newRow("frames") << QStringList{"--log-modbus"} << true << false;
    QTest::newRow("commands") << QStringList{"--log-comandos"} << false << true;
    QTest::newRow("both") << QStringList{"--log-modbus", "--log-comandos"} << true << true;
}

void TestCli::traceFiles() {
    QFETCH(QStringList, options);
    QFETCH(bool, modbus);
    QFETCH(bool, commands);
    QTemporaryDir dir;
    QCOMPARE(run(options + QStringList{"status"}, dir.path()).code, 0);
    QCOMPARE(QFileInfo::exists(dir.filePath("modbus.log")), modbus);
    QCOMPARE(QFileInfo::exists(dir.filePath("commands.log")), commands);
    if (commands) {
        QFile f(dir.filePath("commands.log"));
        QVERIFY(f.open(QIODevice::ReadOnly));
        QVERIFY(f.readAll().contains("Enviando comando de leitura REGS addr 0x200 len 21\r\n"));
    }
}

void TestCli::intervalStopsWithTheLastLineWhole() {
    QProcess *p = start({"-a", "201,202", "status", "--intervalo", "0.2", "--json"});
    QByteArray out;
    QTRY_VERIFY_WITH_TIMEOUT((out += p->readAllStandardOutput()).count('\n') >= 6, 30000);
    ::kill(pid_t(p->processId()), SIGINT);
    QVERIFY(p->waitForFinished(30000));
    QCOMPARE(p->exitStatus(), QProcess::NormalExit);
    QCOMPARE(p->exitCode(), 0);
    out += p->readAllStandardOutput();
    QVERIFY(out.endsWith('\n'));
    const QList<QByteArray> objects = out.trimmed().split('\n');
    for (const QByteArray &line : objects) {
        QJsonParseError error;
        QJsonDocument::fromJson(line, &error);
        QCOMPARE(error.error, QJsonParseError::NoError);
    }
    // Readings go round the addresses in turn.
    QVERIFY(objects[0].contains("\"endereco\":201"));
    QVERIFY(objects[1].contains("\"endereco\":202"));
}

// The port is a link to the controller's pty; unplugging removes the pty and
// the link, plugging in another controller brings the name back.
void TestCli::vanishedPortIsReopened() {
    QTemporaryDir dir;
    const QString link = dir.filePath("ttyUSB0");
    QVERIFY(QFile::link(port(), link));
    QProcess *p = start({"-p", link, "-a", "201", "status", "--intervalo", "0.3", "--csv"});
    QByteArray out, err;
    QTRY_VERIFY_WITH_TIMEOUT((out += p->readAllStandardOutput()).count('\n') >= 3, 30000);

    first.reset();
    QVERIFY(QFile::remove(link));
    QTRY_VERIFY_WITH_TIMEOUT((err += p->readAllStandardError()).contains("sumiu"), 30000);
    const qsizetype before = (out += p->readAllStandardOutput()).count('\n');

    first = std::make_unique<sim::Controller>();
    QVERIFY(first->start());
    QVERIFY(QFile::link(port(), link));
    QTRY_VERIFY_WITH_TIMEOUT((err += p->readAllStandardError()).contains("reaberta"), 30000);
    QTRY_VERIFY_WITH_TIMEOUT((out += p->readAllStandardOutput()).count('\n') >= before + 2, 30000);
    ::kill(pid_t(p->processId()), SIGINT);
    QVERIFY(p->waitForFinished(30000));
    out += p->readAllStandardOutput();
    err += p->readAllStandardError();

    QCOMPARE(err.count("sumiu"), 1);
    QVERIFY2(!err.contains("TIMEOUT"), err.constData());
    const QList<QStringList> rows = csvRows(QString::fromUtf8(out));
    for (const QStringList &row : rows)
        QCOMPARE(row.size(), rows[0].size());
    QCOMPARE(p->exitCode(), 1); // readings were lost while the port was away
}

// A status read identifies the controller only when its identity is not
// kept from an earlier run at this port and address: a failed exchange
// forgets it, an identification that finds another model replaces it, and
// --modelo needs none.
void TestCli::identityCache() {
    QFile::remove(cacheHome.filePath(QStringLiteral("tarvik/identidades")));
    auto status = [this](const QStringList &extra = {}) {
        const int before = first->requestCount() + second->requestCount();
        const tOutcome o = run(extra + QStringList{"status"});
        return std::make_pair(o, first->requestCount() + second->requestCount() - before);
    };
    const QString fourRelays = QStringLiteral("Relé 4: Desligado (Auxiliar)");

    auto [o, exchanges] = status();
    QCOMPARE(o.code, 0);
    QCOMPARE(exchanges, 2); // identification and status
    std::tie(o, exchanges) = status();
    QCOMPARE(o.code, 0);
    QCOMPARE(exchanges, 1);
    QVERIFY(o.out.contains(fourRelays));

    // A failure: the next run identifies again.
    first->setFault(sim::Fault::Silence, 0, 1);
    std::tie(o, exchanges) = status({"-t", "1"});
    QCOMPARE(o.code, 1);
    QVERIFY2(o.err.contains(QStringLiteral("leitura do status: erro -6")), qPrintable(o.err));
    std::tie(o, exchanges) = status();
    QCOMPARE(exchanges, 2);
    std::tie(o, exchanges) = status();
    QCOMPARE(exchanges, 1);

    // The cache taken for another model: status believes it while the
    // controller answers; an identification puts the right one back.
    QFile file(cacheHome.filePath(QStringLiteral("tarvik/identidades")));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QByteArray cached = file.readAll();
    file.close();
    QVERIFY(cached.contains("\t201\tqx4r\t1.2\t1,3,4,6\n"));
    cached.replace("\t201\tqx4r\t", "\t201\tqx1r\t");
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(cached);
    file.close();
    std::tie(o, exchanges) = status();
    QCOMPARE(exchanges, 1);
    QVERIFY(!o.out.contains(QStringLiteral("Relé 2")));
    QCOMPARE(run({"info"}).code, 0);
    std::tie(o, exchanges) = status();
    QCOMPARE(exchanges, 1);
    QVERIFY(o.out.contains(fourRelays));

    // --modelo: no identification, the operations as far as the cache knows them.
    std::tie(o, exchanges) = status({"-a", "202", "--modelo", "qx2n"});
    QCOMPARE(o.code, 0);
    QCOMPARE(exchanges, 1);
    QVERIFY2(o.out.contains(QStringLiteral("Relé 2: Desligado (---------)")), qPrintable(o.out));
    QCOMPARE(run({"-a", "202", "info"}).code, 0);
    std::tie(o, exchanges) = status({"-a", "202", "--modelo", "qx2n"});
    QCOMPARE(exchanges, 1);
    QVERIFY(o.out.contains(QStringLiteral("Relé 2: Desligado (Degelo)")));
    QCOMPARE(run({"--modelo", "qx-4", "status"}).code, 2);
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
