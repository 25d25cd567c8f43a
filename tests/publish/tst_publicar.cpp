// `tarvik-cli publicar` as a service runs it: simulated controllers on one
// line, Debian's broker on 127.0.0.1, and a subscriber reading what arrives.
#include "broker.h"
#include "ondrel_sim.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>

#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <memory>

using broker::tBroker;
using broker::tSubscriber;

namespace {

QJsonObject json(const QByteArray &bytes) {
    return QJsonDocument::fromJson(bytes).object();
}

} // namespace

class TestPublicar : public QObject {
    Q_OBJECT

  private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void threeControllersOnOneBus();
    void readingsTakenWhileTheBrokerIsAwayArriveOnceInOrder_data();
    void readingsTakenWhileTheBrokerIsAwayArriveOnceInOrder();
    void readingsWaitInTheHistoryThroughARestart();
    void readingsRefusedByAFullDiskReachTheFileLater();
    void stopAfterASilentControllerIsNoFailure();
    void refused_data();
    void refused();
    void stopsAtOnceWhenTheBrokerNeverAnswers();
    void alarmRetainedBesideTheState();
    void publishesThroughAGateway();

  private:
    QProcess *start(const QStringList &args);
    // The readings in the history file, and those published for `id`, by
    // their time and offset, in order.
    QList<std::pair<qint64, int>> stored() const;
    QList<std::pair<qint64, int>> published(int id);
    QString historyFile() const { return b.path("historico.sqlite"); }
    QString port() const { return QString::fromStdString(first->portName()); }
    QStringList plain() const;
    QString state(int id) const { return QStringLiteral("loja/%1/%2/estado").arg(level).arg(id); }
    QString available(int id) const {
        return QStringLiteral("loja/%1/%2/disponivel").arg(level).arg(id);
    }

    tBroker b;
    std::unique_ptr<tSubscriber> sub;
    std::unique_ptr<sim::Controller> first;
    std::unique_ptr<QProcess> process;
    QString level; // the port as a topic level
    int subscriberNumber = 0;
    QString history; // TARVIK_HISTORICO for the next start
};

void TestPublicar::initTestCase() {
    QVERIFY(b.prepare());
    QFile pw(b.path("senha"));
    QVERIFY(pw.open(QIODevice::WriteOnly));
    pw.write(b.password.toUtf8() + '\n');
    QFile wrong(b.path("senha-errada"));
    QVERIFY(wrong.open(QIODevice::WriteOnly));
    wrong.write("errada\n");
    for (QFile *f : {&pw, &wrong})
        QVERIFY(f->setPermissions(QFile::ReadOwner | QFile::WriteOwner));
}

// A "qx4r" at 201, a "qx2n" at 202 and a "qx1n" at 203 on one line.
void TestPublicar::init() {
    first = std::make_unique<sim::Controller>();
    sim::Options o;
    o.slaveId = 202;
    o.model = "qx2n";
    QVERIFY(first->addToBus(o));
    o.slaveId = 203;
    o.model = "qx1n";
    QVERIFY(first->addToBus(o));
    QVERIFY(first->start());
    level = port().mid(5).replace(u'/', u'_'); // "/dev/pts/3" -> "pts_3"
    QVERIFY(b.start());
    sub = std::make_unique<tSubscriber>();
    QVERIFY(sub->start(b, "#", QStringLiteral("sub%1").arg(++subscriberNumber)));
    history = historyFile();
}

void TestPublicar::cleanup() {
    if (process && process->state() != QProcess::NotRunning) {
        process->kill();
        process->waitForFinished();
    }
    process.reset();
    sub.reset();
    b.stop();
    QFile::remove(b.path("mosquitto.db"));
    for (const char *suffix : {"", "-wal", "-shm"})
        QFile::remove(historyFile() + QLatin1String(suffix));
    first.reset();
}

QProcess *TestPublicar::start(const QStringList &args) {
    process = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TARVIK_HISTORICO"), history);
    process->setProcessEnvironment(env);
    process->start(QStringLiteral(TARVIK_CLI), args);
    return process.get();
}

QStringList TestPublicar::plain() const {
    return {"-p",
            port(),
            "publicar",
            "--broker",
            QStringLiteral("mqtt://127.0.0.1:%1").arg(b.port),
            "--topico",
            "loja",
            "--usuario",
            b.user,
            "--senha-arquivo",
            b.path("senha"),
            "--inseguro",
            "--intervalo",
            "0.2"};
}

void TestPublicar::threeControllersOnOneBus() {
    QProcess *p = start(plain() + QStringList{"-a", "201,202,203", "--homeassistant"});

    const QList<std::pair<int, QString>> controllers = {
        {201, "qx4r"}, {202, "qx2n"}, {203, "qx1n"}};
    for (const auto &[id, model] : controllers) {
        QTRY_VERIFY_WITH_TIMEOUT(sub->payloads(state(id)).size() >= 2, 30000);
        QTRY_COMPARE_WITH_TIMEOUT(sub->payloads(available(id)).value(0), QByteArray("online"),
                                  30000);
        const QJsonObject r = json(sub->payloads(state(id)).last());
        QCOMPARE(r["modelo"].toString(), model);
        QCOMPARE(r["endereco"].toInt(), id);
        QVERIFY(r["resultado"]["codigo"].toInt() > 0);
        // The simulator's sensor 1 starts at 4.0 °C and holds still.
        QCOMPARE(r["sensores"][0]["valor"].toDouble(), 4.0);
        QCOMPARE(r["sensores"][0]["unidade"].toString(), "C");
        QVERIFY(QDateTime::fromString(r["data_hora"].toString(), Qt::ISODateWithMs).isValid());
    }
    // Going round the bus costs one exchange a reading: each controller is
    // identified once in the run, not again at every switch of address.
    QTRY_VERIFY_WITH_TIMEOUT(sub->payloads(state(201)).size() >= 5, 30000);
    const int requests = first->requestCount();
    const int readings = int(sub->payloads(state(201)).size());
    QVERIFY2(requests <= readings + 3,
             qPrintable(QStringLiteral("%1 requests for %2 readings").arg(requests).arg(readings)));

    // Every sensor and relay of each model is an entity, each under its
    // own topic.
    const QList<std::pair<int, int>> entities = {{201, 4}, {202, 2}, {203, 1}};
    for (const auto &[id, count] : entities)
        for (int k = 1; k <= count; ++k)
            for (const QString &object : {QStringLiteral("sensor/%1/sensor%2"),
                                          QStringLiteral("binary_sensor/%1/rele%2")}) {
                const QRegularExpression topic(
                    QStringLiteral("^homeassistant/") +
                    object.arg(QStringLiteral("loja_%1_[0-9a-f]+").arg(id)).arg(k) +
                    QStringLiteral("/config "));
                QList<QByteArray> found;
                QTRY_VERIFY_WITH_TIMEOUT(!(found = sub->matching(topic)).isEmpty(), 30000);
                const QJsonObject c = json(found[0]);
                for (const char *key : {"name", "unique_id", "state_topic", "availability_topic",
                                        "device_class", "value_template", "device"})
                    QVERIFY2(c.contains(QLatin1String(key)), qPrintable(topic.pattern() + key));
                QCOMPARE(c["state_topic"].toString(), state(id));
            }

    // Killed, it leaves no word: the broker says "offline" for each.
    p->kill();
    for (const auto &[id, model] : controllers)
        QTRY_COMPARE_WITH_TIMEOUT(sub->payloads(available(id)).last(), QByteArray("offline"),
                                  30000);
}

void TestPublicar::readingsTakenWhileTheBrokerIsAwayArriveOnceInOrder_data() {
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<bool>("unusableFile");
    QTest::addColumn<QString>("waiting"); // where the start line says readings wait
    QTest::newRow("in the history file") << QStringList{} << false << "no histórico";
    QTest::newRow("in memory, asked") << QStringList{"--sem-historico"} << false << "na memória";
    QTest::newRow("in memory, the file unusable") << QStringList{} << true << "não pode guardar";
}

void TestPublicar::readingsTakenWhileTheBrokerIsAwayArriveOnceInOrder() {
    QFETCH(QStringList, options);
    QFETCH(bool, unusableFile);
    QFETCH(QString, waiting);
    if (unusableFile)
        history = b.path("."); // a folder
    QProcess *p = start(plain() + QStringList{"-a", "201"} + options);
    QTRY_VERIFY_WITH_TIMEOUT(sub->payloads(state(201)).size() >= 2, 30000);
    const QString said = QString::fromUtf8(p->readAllStandardError());
    QVERIFY2(said.contains(waiting), qPrintable(said));

    // Away for several readings: counted at the controller, which goes on
    // being read.
    QByteArray err;
    b.stop();
    QTRY_VERIFY_WITH_TIMEOUT((err += p->readAllStandardError()).contains("perdida"), 30000);
    const int before = first->requestCount();
    QTRY_VERIFY_WITH_TIMEOUT(first->requestCount() >= before + 8, 30000);
    QVERIFY(b.start());
    QTRY_VERIFY_WITH_TIMEOUT((err += p->readAllStandardError()).contains("conectado"), 30000);
    const qsizetype afterOutage = sub->payloads(state(201)).size();
    QTRY_VERIFY_WITH_TIMEOUT(sub->payloads(state(201)).size() >= afterOutage + 10, 30000);

    ::kill(pid_t(p->processId()), SIGTERM);
    QVERIFY(p->waitForFinished(30000));
    QCOMPARE(p->exitStatus(), QProcess::NormalExit);
    QCOMPARE(p->exitCode(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(sub->payloads(available(201)).last(), QByteArray("offline"), 30000);

    // Each reading once, in the order taken, and none missing: no gap
    // between two readings is much longer than the period.
    const QList<QByteArray> got = sub->payloads(state(201));
    QDateTime previous;
    int readings = 0;
    for (const QByteArray &payload : got) {
        const QDateTime at =
            QDateTime::fromString(json(payload)["data_hora"].toString(), Qt::ISODateWithMs);
        QVERIFY(at.isValid());
        if (previous.isValid()) {
            QVERIFY2(previous < at, payload.constData());
            QVERIFY2(previous.msecsTo(at) < 2000, payload.constData());
        }
        previous = at;
        ++readings;
    }
    QVERIFY(readings >= 12);
}

// Killed during the outage and started again before the broker is back:
// every reading the publisher took, as the history file holds them, reaches
// the broker once, in order, each with its own time.
void TestPublicar::readingsWaitInTheHistoryThroughARestart() {
    const QStringList args = plain() + QStringList{"-a", "201"};
    QProcess *p = start(args);
    QTRY_VERIFY_WITH_TIMEOUT(sub->payloads(state(201)).size() >= 2, 30000);
    QByteArray err;
    b.stop();
    QTRY_VERIFY_WITH_TIMEOUT((err += p->readAllStandardError()).contains("perdida"), 30000);
    int before = first->requestCount();
    QTRY_VERIFY_WITH_TIMEOUT(first->requestCount() >= before + 5, 30000);
    p->kill();
    QVERIFY(p->waitForFinished(30000));

    p = start(args);
    err.clear();
    QTRY_VERIFY_WITH_TIMEOUT((err += p->readAllStandardError()).contains("de antes esperam"),
                             30000);
    before = first->requestCount();
    QTRY_VERIFY_WITH_TIMEOUT(first->requestCount() >= before + 5, 30000);
    QVERIFY(b.start());
    QTRY_VERIFY_WITH_TIMEOUT((err += p->readAllStandardError()).contains("conectado"), 30000);
    const qsizetype afterOutage = sub->payloads(state(201)).size();
    QTRY_VERIFY_WITH_TIMEOUT(sub->payloads(state(201)).size() >= afterOutage + 5, 30000);
    ::kill(pid_t(p->processId()), SIGTERM);
    QVERIFY(p->waitForFinished(30000));
    QCOMPARE(p->exitCode(), 0); // nothing left unpublished

    const QList<std::pair<qint64, int>> taken = stored();
    QVERIFY(taken.size() >= 10);
    QCOMPARE(published(201), taken);
}

// A disk full for a while (here: the publisher's file size limit lowered
// under it): the readings it refused are published meanwhile, and reach the
// file, in their place, once it takes writes again.
void TestPublicar::readingsRefusedByAFullDiskReachTheFileLater() {
    const auto oldXfsz = std::signal(SIGXFSZ, SIG_IGN); // inherited: a write fails instead
    QProcess *p = start(plain() + QStringList{"-a", "201"});
    std::signal(SIGXFSZ, oldXfsz);
    QTRY_VERIFY_WITH_TIMEOUT(sub->payloads(state(201)).size() >= 3, 30000);
    QByteArray err;
    const rlimit full{1, RLIM_INFINITY};
    QCOMPARE(::prlimit(pid_t(p->processId()), RLIMIT_FSIZE, &full, nullptr), 0);
    QTRY_VERIFY_WITH_TIMEOUT((err += p->readAllStandardError()).contains("recusou"), 30000);
    const int before = first->requestCount();
    QTRY_VERIFY_WITH_TIMEOUT(first->requestCount() >= before + 8, 30000);
    const rlimit room{RLIM_INFINITY, RLIM_INFINITY};
    QCOMPARE(::prlimit(pid_t(p->processId()), RLIMIT_FSIZE, &room, nullptr), 0);
    QTRY_VERIFY_WITH_TIMEOUT((err += p->readAllStandardError()).contains("volta a guardar"), 30000);
    const qsizetype afterwards = sub->payloads(state(201)).size();
    QTRY_VERIFY_WITH_TIMEOUT(sub->payloads(state(201)).size() >= afterwards + 3, 30000);
    ::kill(pid_t(p->processId()), SIGTERM);
    QVERIFY(p->waitForFinished(30000));
    err += p->readAllStandardError();
    QVERIFY2(p->exitCode() == 0, err.constData());
    const QList<std::pair<qint64, int>> taken = stored();
    QVERIFY(taken.size() >= 14);
    QCOMPARE(published(201), taken);
}

QList<std::pair<qint64, int>> TestPublicar::stored() const {
    QList<std::pair<qint64, int>> taken;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "taken");
        db.setDatabaseName(historyFile());
        if (db.open()) {
            QSqlQuery q(db);
            q.exec(QStringLiteral("SELECT t, off FROM reading ORDER BY t, seq"));
            while (q.next())
                taken.append({q.value(0).toLongLong(), q.value(1).toInt()});
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("taken"));
    return taken;
}

QList<std::pair<qint64, int>> TestPublicar::published(int id) {
    QList<std::pair<qint64, int>> out;
    for (const QByteArray &payload : sub->payloads(state(id))) {
        const QDateTime at =
            QDateTime::fromString(json(payload)["data_hora"].toString(), Qt::ISODateWithMs);
        out.append({at.toMSecsSinceEpoch(), at.offsetFromUtc()});
    }
    return out;
}

// Stopped as a service is stopped, a publisher that lost readings of a
// controller that never answered ends with success, the losses counted.
void TestPublicar::stopAfterASilentControllerIsNoFailure() {
    QProcess *p = start(plain() + QStringList{"-a", "201,204", "-t", "1"});
    QTRY_VERIFY_WITH_TIMEOUT(sub->payloads(state(204)).size() >= 2, 30000);
    QTRY_VERIFY_WITH_TIMEOUT(sub->payloads(state(201)).size() >= 2, 30000);
    ::kill(pid_t(p->processId()), SIGTERM);
    QVERIFY(p->waitForFinished(30000));
    const QString err = QString::fromUtf8(p->readAllStandardError());
    QCOMPARE(p->exitStatus(), QProcess::NormalExit);
    QVERIFY2(p->exitCode() == 0, qPrintable(err));
    QVERIFY2(QRegularExpression(QStringLiteral("encerrado a pedido; [1-9]\\d* leitura\\(s\\) "
                                               "perdida\\(s\\)"))
                 .match(err)
                 .hasMatch(),
             qPrintable(err));
}

void TestPublicar::refused_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message");
    const QString tls = QStringLiteral("mqtts://localhost:%1").arg(b.tlsPort);
    QTest::newRow("wrong password")
        << QStringList{"--usuario", b.user, "--senha-arquivo", b.path("senha-errada"), "--inseguro"}
        << 1 << "usuário ou senha errados";
    QTest::newRow("password in the clear")
        << QStringList{"--usuario", b.user, "--senha-arquivo", b.path("senha")} << 2
        << "--inseguro";
    QTest::newRow("certificate of another authority") << QStringList{"--broker",
                                                                     tls,
                                                                     "--ca",
                                                                     b.otherCaFile(),
                                                                     "--usuario",
                                                                     b.user,
                                                                     "--senha-arquivo",
                                                                     b.path("senha")}
                                                      << 1 << "certificate verify failed";
    QTest::newRow("not a broker address")
        << QStringList{"--broker", "http://127.0.0.1:1883"} << 2 << "mqtt://";
    QTest::newRow("no host") << QStringList{"--broker", "mqtts://:8883"} << 2 << "mqtts://HOST";
    QTest::newRow("authority without TLS") << QStringList{"--ca", b.caFile()} << 2 << "--ca";
    QTest::newRow("wildcard in the prefix") << QStringList{"--topico", "loja/#"} << 2 << "#";
    QTest::newRow("authority file missing")
        << QStringList{"--broker", tls, "--ca", b.path("nenhuma.crt")} << 2
        << "arquivo não encontrado";
    QTest::newRow("prefix over-long")
        << QStringList{"--topico", QString(70000, u'a')} << 2 << "no máximo";
    QTest::newRow("prefix of the broker's own")
        << QStringList{"--topico", "$SYS/tarvik"} << 2 << "--tópico: um prefixo que começa por $";
    QTest::newRow("discovery prefix with a wildcard")
        << QStringList{"--homeassistant", "--prefixo-descoberta", "ha/+"} << 2
        << "--prefixo-descoberta";
}

void TestPublicar::refused() {
    QFETCH(QStringList, args);
    QFETCH(int, code);
    QFETCH(QString, message);
    // A later --broker takes the place of the plain one.
    QProcess *p = start(QStringList{"-p", port(), "publicar", "--broker",
                                    QStringLiteral("mqtt://127.0.0.1:%1").arg(b.port)} +
                        args);
    QVERIFY(p->waitForFinished(30000));
    QCOMPARE(p->exitStatus(), QProcess::NormalExit);
    const QString err = QString::fromUtf8(p->readAllStandardError());
    QCOMPARE(p->exitCode(), code);
    QVERIFY2(err.contains(message), qPrintable(err));
}

// A broker whose network drops every attempt to connect (here: a listener
// whose queue is full) held Ctrl+C for the system's connect time-out, two
// minutes.
void TestPublicar::stopsAtOnceWhenTheBrokerNeverAnswers() {
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    QVERIFY(::bind(listener, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0);
    QVERIFY(::listen(listener, 0) == 0);
    QVERIFY(::getsockname(listener, reinterpret_cast<sockaddr *>(&a), &len) == 0);
    std::vector<int> queue; // never accepted: later attempts are dropped unanswered
    for (int i = 0; i < 3; ++i) {
        queue.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
        ::connect(queue.back(), reinterpret_cast<sockaddr *>(&a), sizeof a);
    }
    QStringList args = plain() + QStringList{"-a", "201"};
    args[args.indexOf(QStringLiteral("--broker")) + 1] =
        QStringLiteral("mqtt://127.0.0.1:%1").arg(ntohs(a.sin_port));
    QProcess *p = start(args);
    QTRY_VERIFY_WITH_TIMEOUT(first->requestCount() >= 3, 30000);
    ::kill(pid_t(p->processId()), SIGINT);
    const bool stopped = p->waitForFinished(20000);
    for (int fd : queue)
        ::close(fd);
    ::close(listener);
    QVERIFY2(stopped, "still running 20 s after Ctrl+C");
    const QString err = QString::fromUtf8(p->readAllStandardError());
    QVERIFY2(err.contains(QStringLiteral("esperam no histórico")), qPrintable(err));
}

// A sensor fault opens an alarm with no limit set: the retained alarm topic
// says so (a subscriber arriving later still gets it), the hub has a problem
// entity reading it, and the topic clears once the sensor reads again.
void TestPublicar::alarmRetainedBesideTheState() {
    const QString alarm = QStringLiteral("loja/%1/201/alarme").arg(level);
    first->setSensor(0, sim::SensorState::Short, 0);
    start(plain() + QStringList{"-a", "201", "--homeassistant"});
    QTRY_VERIFY_WITH_TIMEOUT(!sub->payloads(alarm).isEmpty() &&
                                 json(sub->payloads(alarm).last())["ativo"].toBool(),
                             30000);
    const QJsonObject open = json(sub->payloads(alarm).last());
    QCOMPARE(open["condicoes"][0]["condicao"].toString(), QStringLiteral("curto"));
    QCOMPARE(open["condicoes"][0]["sensor"].toInt(), 1);
    QVERIFY(QDateTime::fromString(open["desde"].toString(), Qt::ISODate).isValid());

    tSubscriber late;
    QVERIFY(late.start(b, alarm, QStringLiteral("late%1").arg(subscriberNumber), true));
    QTRY_VERIFY_WITH_TIMEOUT(!late.payloads(alarm).isEmpty(), 30000);
    QCOMPARE(json(late.payloads(alarm).first())["ativo"].toBool(), true);

    const QRegularExpression entity(
        QStringLiteral("^homeassistant/binary_sensor/loja_201_[0-9a-f]+/alarme/config "));
    QList<QByteArray> found;
    QTRY_VERIFY_WITH_TIMEOUT(!(found = sub->matching(entity)).isEmpty(), 30000);
    const QJsonObject c = json(found[0]);
    QCOMPARE(c["device_class"].toString(), QStringLiteral("problem"));
    QCOMPARE(c["state_topic"].toString(), alarm);

    first->setSensor(0, sim::SensorState::Valid, 40);
    QTRY_VERIFY_WITH_TIMEOUT(!json(sub->payloads(alarm).last())["ativo"].toBool(), 30000);
    QVERIFY(json(sub->payloads(alarm).last())["condicoes"].toArray().isEmpty());
}

// A controller behind a Modbus TCP gateway is published under its host, and
// a connection the gateway drops is made again.
void TestPublicar::publishesThroughAGateway() {
    sim::Controller gateway;
    QVERIFY(gateway.listenTcp(sim::TcpFront::ModbusTcp, "127.0.0.1", 0) && gateway.start());
    QStringList args = plain() + QStringList{"-a", "201"};
    args[1] = QStringLiteral("tcp://127.0.0.1:%1").arg(gateway.tcpPort());
    start(args);
    const QRegularExpression estado(QStringLiteral("^loja/127[^/]*/201/estado "));
    QTRY_VERIFY_WITH_TIMEOUT(sub->matching(estado).size() >= 2, 30000);
    QCOMPARE(json(sub->matching(estado).last())["modelo"].toString(), QStringLiteral("qx4r"));
    gateway.dropConnections();
    const qsizetype before = sub->matching(estado).size();
    QTRY_VERIFY_WITH_TIMEOUT(sub->matching(estado).size() >= before + 3, 30000);
    const QJsonObject last = json(sub->matching(estado).last());
    QVERIFY(last["resultado"]["codigo"].toInt() > 0);
}

QTEST_GUILESS_MAIN(TestPublicar)
#include "tst_publicar.moc"
