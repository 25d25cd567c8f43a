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
    void stopAfterASilentControllerIsNoFailure();
    void refused_data();
    void refused();
    void alarmRetainedBesideTheState();

  private:
    QProcess *start(const QStringList &args);
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

    // Every sensor and relay of each model is an entity.
    const QList<std::pair<int, int>> entities = {{201, 4}, {202, 2}, {203, 1}};
    for (const auto &[id, count] : entities)
        for (int k = 1; k <= count; ++k)
            for (const char *kind : {"sensor/%1/sensor%2", "binary_sensor/%1/rele%2"}) {
                const QString topic = QStringLiteral("homeassistant/") +
                                      QString::fromLatin1(kind)
                                          .arg(QStringLiteral("loja_%1_%2").arg(level).arg(id))
                                          .arg(k) +
                                      QStringLiteral("/config");
                QTRY_VERIFY_WITH_TIMEOUT(!sub->payloads(topic).isEmpty(), 30000);
                const QJsonObject c = json(sub->payloads(topic)[0]);
                for (const char *key : {"name", "unique_id", "state_topic", "availability_topic",
                                        "device_class", "value_template", "device"})
                    QVERIFY2(c.contains(QLatin1String(key)), qPrintable(topic + " " + key));
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

    QList<std::pair<qint64, int>> taken;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "taken");
        db.setDatabaseName(historyFile());
        QVERIFY(db.open());
        QSqlQuery q(db);
        QVERIFY(q.exec(QStringLiteral("SELECT t, off FROM reading ORDER BY t, seq")));
        while (q.next())
            taken.append({q.value(0).toLongLong(), q.value(1).toInt()});
    }
    QSqlDatabase::removeDatabase(QStringLiteral("taken"));
    QList<std::pair<qint64, int>> published;
    for (const QByteArray &payload : sub->payloads(state(201))) {
        const QDateTime at =
            QDateTime::fromString(json(payload)["data_hora"].toString(), Qt::ISODateWithMs);
        published.append({at.toMSecsSinceEpoch(), at.offsetFromUtc()});
    }
    QVERIFY(taken.size() >= 10);
    QCOMPARE(published, taken);
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
    QVERIFY(late.start(b, alarm, QStringLiteral("late%1").arg(subscriberNumber)));
    QTRY_VERIFY_WITH_TIMEOUT(!late.payloads(alarm).isEmpty(), 30000);
    QCOMPARE(json(late.payloads(alarm).first())["ativo"].toBool(), true);

    const QString entity =
        QStringLiteral("homeassistant/binary_sensor/loja_%1_201/alarme/config").arg(level);
    QTRY_VERIFY_WITH_TIMEOUT(!sub->payloads(entity).isEmpty(), 30000);
    const QJsonObject c = json(sub->payloads(entity).first());
    QCOMPARE(c["device_class"].toString(), QStringLiteral("problem"));
    QCOMPARE(c["state_topic"].toString(), alarm);

    first->setSensor(0, sim::SensorState::Valid, 40);
    QTRY_VERIFY_WITH_TIMEOUT(!json(sub->payloads(alarm).last())["ativo"].toBool(), 30000);
    QVERIFY(json(sub->payloads(alarm).last())["condicoes"].toArray().isEmpty());
}

QTEST_GUILESS_MAIN(TestPublicar)
#include "tst_publicar.moc"
