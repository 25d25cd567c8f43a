// The publisher against a real broker: what a reading becomes on it, the
// discovery entities, readings that wait through an outage, and the
// refusals that end a run.
#include "broker.h"
#include "publisher.h"
#include "status_readings.h"
#include "topics.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>
#include <QTimeZone>

#include <mutex>

using broker::tBroker;
using broker::tSubscriber;

namespace {

const QString port = QStringLiteral("/dev/ttyUSB0");
const QString prefix = QStringLiteral("loja7");

// A "qx4r" at 201: sensor 1 at 23.5, sensor 2 short-circuited, sensor 3 at
// -0.5, sensor 4 still starting; relays 1 and 4 on.
tStatusReading qx4r(int minute) {
    return Qx4rReading(port, QDateTime(QDate(2024, 5, 1), QTime(12, minute, 3), QTimeZone(-10800)));
}

QJsonObject json(const QByteArray &bytes) {
    QJsonParseError e;
    const QJsonDocument d = QJsonDocument::fromJson(bytes, &e);
    if (e.error != QJsonParseError::NoError)
        qWarning() << e.errorString() << bytes;
    return d.object();
}

// The messages the publisher has for the user.
struct tSaid {
    std::mutex lock;
    QStringList lines;
    void operator()(const QString &s) {
        std::lock_guard g(lock);
        lines << s;
    }
    QString all() {
        std::lock_guard g(lock);
        return lines.join(u'\n');
    }
};

} // namespace

class TestPublisher : public QObject {
    Q_OBJECT

  private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void readingArrivesAsJson();
    void discoveryMakesAnEntityOfEverySensorAndRelay();
    void readingsWaitThroughAnOutage();
    void fullBufferSaysWhatItGaveUp();
    void refusals_data();
    void refusals();

  private:
    std::unique_ptr<tPublisher> start(tPublishOptions o = {});
    tPublishOptions plain() const;

    tBroker b;
    std::unique_ptr<tSubscriber> sub;
    std::shared_ptr<tSaid> said;
    int subscriberNumber = 0;
};

void TestPublisher::initTestCase() {
    QVERIFY(b.prepare());
}

void TestPublisher::init() {
    QVERIFY(b.start());
    said = std::make_shared<tSaid>();
    sub = std::make_unique<tSubscriber>();
    QVERIFY(sub->start(b, "#", QStringLiteral("sub%1").arg(++subscriberNumber)));
}

void TestPublisher::cleanup() {
    sub.reset();
    b.stop();
    // Retained messages and sessions of one case do not reach the next.
    QFile::remove(b.path("mosquitto.db"));
}

tPublishOptions TestPublisher::plain() const {
    tPublishOptions o;
    o.broker = {.tls = false, .host = QStringLiteral("127.0.0.1"), .port = b.port};
    o.prefix = prefix;
    o.user = b.user;
    o.password = b.password;
    o.firstRetryMs = 100;
    o.maxRetryMs = 400;
    return o;
}

std::unique_ptr<tPublisher> TestPublisher::start(tPublishOptions o) {
    auto s = said;
    return std::make_unique<tPublisher>(o, port, std::vector<int>{201},
                                        [s](const QString &t) { (*s)(t); });
}

void TestPublisher::readingArrivesAsJson() {
    auto p = start(plain());
    p->submit(qx4r(0));
    const QString state = "loja7/ttyUSB0/201/estado";
    const QString available = "loja7/ttyUSB0/201/disponivel";
    QTRY_COMPARE_WITH_TIMEOUT(sub->payloads(state).size(), 1, 20000);
    QTRY_COMPARE_WITH_TIMEOUT(sub->payloads(available).value(0), QByteArray("online"), 20000);

    const QJsonObject o = json(sub->payloads(state)[0]);
    QCOMPARE(o["data_hora"].toString(), "2024-05-01T12:00:03.000-03:00");
    QCOMPARE(o["modelo"].toString(), "qx4r");
    QCOMPARE(o["firmware"].toString(), "1.2");
    QCOMPARE(o["endereco"].toInt(), 201);
    QCOMPARE(o["resultado"].toObject()["codigo"].toInt(), 21);
    const QJsonArray s = o["sensores"].toArray();
    QCOMPARE(s.size(), 4);
    QCOMPARE(s[0]["valor"].toDouble(), 23.5);
    QVERIFY(s[0]["valor"].isDouble());
    QCOMPARE(s[0]["min"].toDouble(), 18.0);
    QCOMPARE(s[0]["unidade"].toString(), "C");
    QCOMPARE(s[0]["estado"].toString(), "ok");
    QCOMPARE(s[1]["estado"].toString(), "curto");
    QVERIFY(!s[1].toObject().contains("valor")); // no temperature behind a fault
    QCOMPARE(s[2]["valor"].toDouble(), -0.5);
    QCOMPARE(s[3]["estado"].toString(), "lendo");
    const QJsonArray r = o["reles"].toArray();
    QCOMPARE(r.size(), 4);
    QCOMPARE(r[0]["estado"].toString(), "ligado");
    QCOMPARE(r[1]["estado"].toString(), "desligado");
    QCOMPARE(r[3]["rele"].toInt(), 4);

    // A controller that stops answering: the failure is published, without
    // values, and the controller shows as unavailable.
    tStatusReading silent = qx4r(1);
    silent.result = -6;
    p->submit(silent);
    QTRY_COMPARE_WITH_TIMEOUT(sub->payloads(state).size(), 2, 20000);
    const QJsonObject f = json(sub->payloads(state)[1]);
    QCOMPARE(f["resultado"].toObject()["texto"].toString(), "TIMEOUT");
    QVERIFY(!f.contains("sensores"));
    QTRY_COMPARE_WITH_TIMEOUT(sub->payloads(available).last(), QByteArray("offline"), 20000);

    // Leaving says "offline" too, and nothing is left behind.
    p->submit(qx4r(2));
    QTRY_COMPARE_WITH_TIMEOUT(sub->payloads(available).last(), QByteArray("online"), 20000);
    QCOMPARE(p->finish(std::chrono::seconds(20)), size_t(0));
    QCOMPARE(sub->payloads(state).size(), 3);
    QTRY_COMPARE_WITH_TIMEOUT(sub->payloads(available).last(), QByteArray("offline"), 20000);
}

void TestPublisher::discoveryMakesAnEntityOfEverySensorAndRelay() {
    tPublishOptions o = plain();
    o.homeAssistant = true;
    auto p = start(o);
    tStatusReading r = qx4r(0);
    r.unit = tempFAHRENHEIT;
    p->submit(r);
    const QString node = DiscoveryNode(prefix, port, 201);
    QStringList topics;
    for (int k = 1; k <= 4; ++k)
        topics << QStringLiteral("homeassistant/sensor/%1/sensor%2/config").arg(node).arg(k)
               << QStringLiteral("homeassistant/binary_sensor/%1/rele%2/config").arg(node).arg(k);
    QTRY_VERIFY_WITH_TIMEOUT(
        std::all_of(topics.begin(), topics.end(),
                    [&](const QString &t) { return !sub->payloads(t).isEmpty(); }),
        20000);
    QSet<QString> ids;
    for (const QString &t : topics) {
        const QJsonObject c = json(sub->payloads(t)[0]);
        const bool sensor = t.contains("/sensor/");
        QCOMPARE(c["state_topic"].toString(), "loja7/ttyUSB0/201/estado");
        QCOMPARE(c["availability_topic"].toString(), "loja7/ttyUSB0/201/disponivel");
        QCOMPARE(c["device_class"].toString(), sensor ? "temperature" : "running");
        QVERIFY(c["value_template"].toString().contains(sensor ? "valor" : "estado"));
        if (sensor)
            QCOMPARE(c["unit_of_measurement"].toString(), QString::fromUtf8("\u00B0F"));
        else
            QCOMPARE(c["payload_on"].toString(), "ligado");
        QCOMPARE(c["device"]["model"].toString(), "qx4r");
        QCOMPARE(c["device"]["identifiers"][0].toString(), node);
        ids << c["unique_id"].toString();
    }
    QCOMPARE(ids.size(), topics.size()); // one id per entity
}

void TestPublisher::readingsWaitThroughAnOutage() {
    auto p = start(plain());
    const QString state = "loja7/ttyUSB0/201/estado";
    p->submit(qx4r(0));
    QTRY_COMPARE_WITH_TIMEOUT(sub->payloads(state).size(), 1, 20000);

    b.stop();
    QTRY_VERIFY_WITH_TIMEOUT(said->all().contains("perdida"), 20000);
    for (int m = 1; m <= 6; ++m)
        p->submit(qx4r(m));
    QVERIFY(b.start());
    QTRY_COMPARE_WITH_TIMEOUT(sub->payloads(state).size(), 7, 30000);
    p->submit(qx4r(7));
    QTRY_COMPARE_WITH_TIMEOUT(sub->payloads(state).size(), 8, 30000);
    QCOMPARE(p->finish(std::chrono::seconds(20)), size_t(0));

    // Once each, in order, each with the time it was taken.
    const QList<QByteArray> got = sub->payloads(state);
    QCOMPARE(got.size(), 8);
    for (int m = 0; m < 8; ++m)
        QCOMPARE(json(got[m])["data_hora"].toString(),
                 QStringLiteral("2024-05-01T12:%1:03.000-03:00").arg(m, 2, 10, QChar(u'0')));
    QVERIFY(said->all().contains("conectado"));
}

void TestPublisher::fullBufferSaysWhatItGaveUp() {
    tPublishOptions o = plain();
    o.makeBuffer = [](int) { return std::make_unique<tMemoryBuffer>(3); };
    b.stop();
    auto p = start(o);
    for (int m = 0; m < 5; ++m)
        p->submit(qx4r(m));
    QTRY_VERIFY_WITH_TIMEOUT(said->all().contains("2 leitura(s) mais antiga(s) descartada(s)"),
                             20000);
    QTRY_VERIFY_WITH_TIMEOUT(said->all().contains("inacessível"), 20000);
    QVERIFY(b.start());
    const QString state = "loja7/ttyUSB0/201/estado";
    QTRY_COMPARE_WITH_TIMEOUT(sub->payloads(state).size(), 3, 30000);
    QVERIFY(json(sub->payloads(state)[0])["data_hora"].toString().startsWith("2024-05-01T12:02"));
    QCOMPARE(p->finish(std::chrono::seconds(20)), size_t(0));
}

void TestPublisher::refusals_data() {
    QTest::addColumn<bool>("tls");
    QTest::addColumn<QString>("ca");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("host");
    QTest::addColumn<bool>("refused");
    QTest::addColumn<QString>("why");
    const QString ok = QStringLiteral("segredo de teste");
    QTest::newRow("wrong password") << false << QString() << "errada"
                                    << "127.0.0.1" << true << "recusou";
    QTest::newRow("tls, our authority") << true << "ca.crt" << ok << "localhost" << false << "";
    QTest::newRow("tls, another authority")
        << true << "other.crt" << ok << "localhost" << true << "certificate verify failed";
    QTest::newRow("tls, the system's authorities")
        << true << QString() << ok << "127.0.0.1" << true << "certificate verify failed";
}

void TestPublisher::refusals() {
    QFETCH(bool, tls);
    QFETCH(QString, ca);
    QFETCH(QString, password);
    QFETCH(QString, host);
    QFETCH(bool, refused);
    QFETCH(QString, why);
    tPublishOptions o = plain();
    o.broker = {.tls = tls, .host = host, .port = tls ? b.tlsPort : b.port};
    o.caFile = ca.isEmpty() ? QString() : b.path(ca);
    o.password = password;
    auto p = start(o);
    p->submit(qx4r(0));
    if (refused) {
        QTRY_VERIFY_WITH_TIMEOUT(p->refused(), 20000);
        QVERIFY2(said->all().contains(why), qPrintable(said->all()));
        QCOMPARE(p->finish(std::chrono::seconds(5)), size_t(1));
    } else {
        QTRY_COMPARE_WITH_TIMEOUT(sub->payloads("loja7/ttyUSB0/201/estado").size(), 1, 20000);
        QVERIFY(!p->refused());
    }
}

QTEST_GUILESS_MAIN(TestPublisher)
#include "tst_publisher.moc"
