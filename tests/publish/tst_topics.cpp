// Names on the broker made without one: the broker's address as shown, the
// client identifier, and the discovery nodes, entities and devices.
#include "publisher.h"
#include "relay_operations.h"
#include "status_readings.h"
#include "topics.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {

tStatusReading qx4r(const QString &port) {
    return Qx4rReading(port, QDateTime::currentDateTime());
}

QJsonObject json(const QByteArray &bytes) {
    return QJsonDocument::fromJson(bytes).object();
}

} // namespace

class TestTopics : public QObject {
    Q_OBJECT

  private Q_SLOTS:
    void brokerShownAsItIsWritten_data();
    void brokerShownAsItIsWritten();
    void clientIdsOfTwoSitesDiffer_data();
    void clientIdsOfTwoSitesDiffer();
    void prefixesThatReadAlikeKeepTheirEntities();
    void entitiesSurviveARenumberedAdapter();
    void deviceNamedForItsSite();
    void prefixProblems_data();
    void prefixProblems();
};

void TestTopics::brokerShownAsItIsWritten_data() {
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("shown");
    QTest::newRow("IPv6") << "mqtt://[::1]:1884"
                          << "mqtt://[::1]:1884";
    QTest::newRow("IPv6, default port") << "mqtts://[fe80::1]"
                                        << "mqtts://[fe80::1]:8883";
    QTest::newRow("IPv4") << "mqtt://127.0.0.1"
                          << "mqtt://127.0.0.1:1883";
    QTest::newRow("name") << "mqtts://broker.example:9883"
                          << "mqtts://broker.example:9883";
}

// What the program prints is an address it takes back.
void TestTopics::brokerShownAsItIsWritten() {
    QFETCH(QString, url);
    QFETCH(QString, shown);
    QString error;
    const std::optional<tBrokerAddress> a = ParseBroker(url, error);
    QVERIFY2(a, qPrintable(error));
    QCOMPARE(a->text(), shown);
    const std::optional<tBrokerAddress> again = ParseBroker(a->text(), error);
    QVERIFY2(again, qPrintable(error));
    QCOMPARE(again->host, a->host);
    QCOMPARE(again->port, a->port);
}

void TestTopics::clientIdsOfTwoSitesDiffer_data() {
    QTest::addColumn<QStringList>("one"); // host, prefix, port
    QTest::addColumn<QStringList>("other");
    const QString usb = QStringLiteral("/dev/ttyUSB0");
    QTest::newRow("prefixes that end alike")
        << QStringList{"pc", "lojaA/camara", usb} << QStringList{"pc", "lojaB/camara", usb};
    QTest::newRow("one prefix on two computers")
        << QStringList{"pc1", "loja", usb} << QStringList{"pc2", "loja", usb};
    QTest::newRow("two ports") << QStringList{"pc", "loja", usb}
                               << QStringList{"pc", "loja", "/dev/ttyUSB1"};
    QTest::newRow("names that run together")
        << QStringList{"pc", "loja", "a/b"} << QStringList{"pc", "loja/a", "b"};
}

void TestTopics::clientIdsOfTwoSitesDiffer() {
    QFETCH(QStringList, one);
    QFETCH(QStringList, other);
    const QString a = MqttClientId(one[0], one[1], one[2], 201);
    const QString b = MqttClientId(other[0], other[1], other[2], 201);
    QVERIFY2(a != b, qPrintable(a));
    QCOMPARE(a, MqttClientId(one[0], one[1], one[2], 201)); // the same run after run
    QVERIFY(a != MqttClientId(one[0], one[1], one[2], 202));
    // Every broker takes up to 23 characters of this kind.
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9-]{1,23}$"));
    QVERIFY2(plain.match(a).hasMatch(), qPrintable(a));
}

// "loja/1", "loja_1" and "loja 1" once made one node: their entities took
// each other's place.
void TestTopics::prefixesThatReadAlikeKeepTheirEntities() {
    QSet<QString> topics, ids, nodes;
    static const QRegularExpression allowed(QStringLiteral("^[A-Za-z0-9_-]+$"));
    const QStringList prefixes = {"loja/1", "loja_1", "loja 1", "loja-1"};
    for (const QString &prefix : prefixes) {
        const QString node = DiscoveryNode(prefix, QStringLiteral("/dev/ttyUSB0"), 201);
        QVERIFY2(allowed.match(node).hasMatch(), qPrintable(node));
        nodes << node;
        for (const tMessage &m : DiscoveryMessages(prefix, qx4r(QStringLiteral("/dev/ttyUSB0")))) {
            topics << m.topic;
            ids << json(m.payload)["unique_id"].toString();
        }
    }
    QCOMPARE(nodes.size(), prefixes.size());
    // Four sensors, four relays and the alarm each.
    QCOMPARE(topics.size(), prefixes.size() * 9);
    QCOMPARE(ids.size(), prefixes.size() * 9);
}

// The same adapter seen as ttyUSB0, then as ttyUSB1 after a reboot: its
// by-id link names it both times, and the hub keeps its entities.
void TestTopics::entitiesSurviveARenumberedAdapter() {
    QTemporaryDir dir;
    const QString byId = dir.filePath(QStringLiteral("by-id"));
    QVERIFY(QDir().mkpath(byId));
    const QString device = dir.filePath(QStringLiteral("ttyUSB1"));
    const QString other = dir.filePath(QStringLiteral("ttyUSB0"));
    for (const QString &f : {device, other}) {
        QFile file(f);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    const QString link = byId + QStringLiteral("/usb-FTDI_FT232R_A50285BI-if00-port0");
    QVERIFY(QFile::link(device, link));
    QVERIFY(QFile::link(other, byId + QStringLiteral("/usb-FTDI_FT232R_B1-if00-port0")));

    QCOMPARE(StablePortName(device, byId), link);
    QCOMPARE(StablePortName(link, byId), link);
    const QString lonely = dir.filePath(QStringLiteral("ttyS0"));
    QCOMPARE(StablePortName(lonely, byId), lonely); // no link: the name given
    QCOMPARE(StablePortName(device, dir.filePath(QStringLiteral("none"))), device);

    const std::vector<tMessage> before =
        DiscoveryMessages(QStringLiteral("loja"), qx4r(QStringLiteral("/dev/ttyUSB0")),
                          DefaultDiscoveryPrefix(), link);
    const std::vector<tMessage> after =
        DiscoveryMessages(QStringLiteral("loja"), qx4r(QStringLiteral("/dev/ttyUSB1")),
                          DefaultDiscoveryPrefix(), link);
    QCOMPARE(before.size(), after.size());
    for (size_t i = 0; i < before.size(); ++i) {
        QCOMPARE(before[i].topic, after[i].topic);
        const QJsonObject b = json(before[i].payload), a = json(after[i].payload);
        for (const char *key : {"unique_id", "object_id"})
            QCOMPARE(a[QLatin1String(key)], b[QLatin1String(key)]);
        QCOMPARE(a["device"]["identifiers"], b["device"]["identifiers"]);
        // The state is read where the controller is now.
        const QString topic = before[i].topic.contains(u"/alarme/") ? QStringLiteral("alarme")
                                                                    : QStringLiteral("estado");
        QCOMPARE(a["state_topic"].toString(), QStringLiteral("loja/ttyUSB1/201/") + topic);
    }
    QVERIFY(json(before[0].payload)["object_id"].toString().startsWith(u"loja_201_"));
}

void TestTopics::deviceNamedForItsSite() {
    const std::vector<tMessage> messages =
        DiscoveryMessages(QStringLiteral("lojaA/camara"), qx4r(QStringLiteral("/dev/ttyUSB0")),
                          QStringLiteral("casa/descoberta"));
    QCOMPARE(messages.size(), size_t(9));
    int relays = 0;
    for (const tMessage &m : messages) {
        QVERIFY2(m.topic.startsWith(u"casa/descoberta/"), qPrintable(m.topic));
        const QJsonObject c = json(m.payload);
        QCOMPARE(c["device"]["name"].toString(), QStringLiteral("lojaA/camara qx4r 201"));
        QCOMPARE(c["device"]["manufacturer"].toString(), QStringLiteral("Ondrel"));
        if (!m.topic.contains(u"/binary_sensor/") || m.topic.contains(u"/alarme/"))
            continue;
        ++relays;
        QCOMPARE(c["device_class"].toString(), QStringLiteral("running"));
        // Relay 2 of the reading runs operation 3.
        if (m.topic.contains(u"/rele2/"))
            QVERIFY2(c["name"].toString().contains(OpRelayName(3)),
                     qPrintable(c["name"].toString()));
    }
    QCOMPARE(relays, 4);

    // Those of earlier versions are emptied, each under its old topic.
    const std::vector<tMessage> former =
        FormerDiscoveryRemovals(QStringLiteral("loja"), qx4r(QStringLiteral("/dev/ttyUSB0")));
    QCOMPARE(former.size(), size_t(8));
    QCOMPARE(former[0].topic,
             QStringLiteral("homeassistant/sensor/loja_ttyUSB0_201/sensor1/config"));
    QVERIFY(former[0].payload.isEmpty());
}

void TestTopics::prefixProblems_data() {
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<QString>("problem"); // empty: taken
    QTest::newRow("plain") << "lojaA/camara"
                           << "";
    QTest::newRow("accented") << "padaria/câmara fria"
                              << "";
    QTest::newRow("wildcard") << "loja/#"
                              << "#";
    QTest::newRow("separator at the end") << "loja/"
                                          << "/";
    QTest::newRow("the broker's own") << "$SYS/tarvik"
                                      << "$";
    QTest::newRow("too long") << QString(70000, u'a') << "no máximo";
    QTest::newRow("just long enough") << QString(maxPrefixBytes, u'a') << "";
    QTest::newRow("too long in bytes") << QString(maxPrefixBytes / 2 + 1, u'ç') << "no máximo";
}

void TestTopics::prefixProblems() {
    QFETCH(QString, prefix);
    QFETCH(QString, problem);
    const QString said = TopicPrefixProblem(prefix);
    if (problem.isEmpty())
        QVERIFY2(said.isEmpty(), qPrintable(said));
    else
        QVERIFY2(said.contains(problem), qPrintable(said));
}

QTEST_GUILESS_MAIN(TestTopics)
#include "tst_topics.moc"
