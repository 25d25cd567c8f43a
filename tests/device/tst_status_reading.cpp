// The status reading as the driver takes it from a status answer: what each
// model shows, the sensor states in words, the relays with their operations,
// and a failed read; the exchange carries the same value the driver keeps.
#include "ondrel_sim.h"
#include "status_reading.h"
#include "status_readings.h"
#include "u_ondrel.h"

#include <QJsonDocument>
#include <QTest>
#include <QTimeZone>

#include <memory>

namespace {

constexpr int slaveId = 201;

// Sees the readings the exchanges carry.
struct tCarried : tOndrelObserver {
    std::vector<tExchange> exchanges;
    void Exchanged(const tExchange &e) override { exchanges.push_back(e); }
};

// A reading in one line: unit, each sensor shown as its label reads, with
// the controller's min and max when valid, and each relay with its operation.
QString summary(const tStatusReading &r) {
    QStringList parts{r.unit == tempFAHRENHEIT ? "F" : "C"};
    for (int k = 0; k < r.sensors; ++k)
        parts << (r.state[size_t(k)] == stsTEMP_OK ? QString("%1 (%2..%3)")
                                                         .arg(SensorText(r, k))
                                                         .arg(r.min[size_t(k)])
                                                         .arg(r.max[size_t(k)])
                                                   : SensorText(r, k));
    for (int k = 0; k < r.relays; ++k)
        parts << QString("%1 op %2")
                     .arg(RelayStateText(r.relay[size_t(k)]))
                     .arg(r.operation[size_t(k)]);
    return parts.join(" | ");
}

} // namespace

Q_DECLARE_METATYPE(tStatusReading)

class TestStatusReading : public QObject {
    Q_OBJECT

  private Q_SLOTS:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Brazil)); }
    void answerBecomesTheReading_data();
    void answerBecomesTheReading();
    void failedReadKeepsWhoWasAsked();
    void jsonFormsOfOneReading_data();
    void jsonFormsOfOneReading();
};

void TestStatusReading::answerBecomesTheReading_data() {
    QTest::addColumn<QString>("model");
    QTest::addColumn<QString>("answer"); // registers 0x0200..0x0214
    QTest::addColumn<QString>("expected");
    // Relay words: bit 14 on. Sensor blocks: state (low 4 bits), value, min,
    // max. Last word: bit 0 Fahrenheit.
    const QString mixed = "4000 bfff 0000 ffff  0013 ff9c fe0c 044c  0001 00fa 00c8 012c  "
                          "0000 0000 0000 0000  0002 8000 0001 7fff  0002";
    QTest::newRow("qx4r: every state, four relays")
        << "qx4r" << mixed
        << "C | Aberto | 25ºC (200..300) | Lendo | Curto | Ligado op 1 | Desligado op 2 | "
           "Desligado op 8 | Ligado op 0";
    QTest::newRow("qx3r: four sensors, three relays")
        << "qx3r" << mixed
        << "C | Aberto | 25ºC (200..300) | Lendo | Curto | Ligado op 1 | Desligado op 2 | "
           "Desligado op 8";
    QTest::newRow("qx2n: two of each")
        << "qx2n" << mixed << "C | Aberto | 25ºC (200..300) | Ligado op 1 | Desligado op 2";
    QTest::newRow("qx1r: one of each, Fahrenheit, negative")
        << "qx1r"
        << "0000 0000 0000 0000  0001 ff9c fe0c 0320  0001 0000 0000 0000  0001 0000 0000 0000  "
           "0001 0000 0000 0000  fffd"
        << "F | -10ºF (-500..800) | Desligado op 1";
    QTest::newRow("an unknown model is read as one relay")
        << "zz9q" << mixed << "C | Aberto | Ligado op 1";
    QTest::newRow("a state beyond the known ones")
        << "qx2r"
        << "0000 4000 0000 0000  0007 00fa 0000 0000  0001 00fa 00c8 012c  0000 0000 0000 0000  "
           "0000 0000 0000 0000  0000"
        << "C | --- | 25ºC (200..300) | Desligado op 1 | Ligado op 2";
}

void TestStatusReading::answerBecomesTheReading() {
    QFETCH(QString, model);
    QFETCH(QString, answer);
    sim::Controller sim({.model = model.toStdString()});
    QVERIFY(sim.start());
    // Operation codes as the identification reads them.
    const uint16_t ops[] = {1, 2, 8, 0};
    for (int r = 0; r < 4; ++r)
        sim.setReg(0x0003 + r, ops[r]);
    tOndrel dev;
    dev.SetTimeout(1);
    QCOMPARE(dev.OpenConnection(QString::fromStdString(sim.portName()), slaveId), 1);
    int reg = 0x0200;
    for (const QString &w : answer.split(' ', Qt::SkipEmptyParts))
        sim.setReg(reg++, uint16_t(w.toUInt(nullptr, 16)));
    QCOMPARE(reg, 0x0215);

    tCarried seen;
    dev.AddObserver(&seen);
    const qint64 before = QDateTime::currentMSecsSinceEpoch();
    QCOMPARE(dev.SendCommand(cmdGET_STATUS), 21);
    dev.RemoveObserver(&seen);

    const tStatusReading &r = dev.LastReading();
    QTEST(summary(r), "expected");
    QCOMPARE(r.model, model);
    QCOMPARE(r.firmware, QString("1.2"));
    QCOMPARE(r.address, slaveId);
    QCOMPARE(r.port, QString::fromStdString(sim.portName()));
    QVERIFY(r.ok());
    QVERIFY(r.utcMs >= before && r.utcMs <= QDateTime::currentMSecsSinceEpoch());
    QCOMPARE(r.offsetSec, QDateTime::currentDateTime().offsetFromUtc());
    // Relays the model lacks are no reading of theirs.
    for (int k = r.relays; k < 4; ++k)
        QCOMPARE(r.relay[size_t(k)], -1);

    QCOMPARE(seen.exchanges.size(), size_t(1));
    QVERIFY(seen.exchanges[0].reading);
    QCOMPARE(summary(*seen.exchanges[0].reading), summary(r));
    QCOMPARE(seen.exchanges[0].reading->utcMs, r.utcMs);
}

void TestStatusReading::failedReadKeepsWhoWasAsked() {
    sim::Controller sim;
    QVERIFY(sim.start());
    tOndrel dev;
    dev.SetTimeout(1);
    QCOMPARE(dev.OpenConnection(QString::fromStdString(sim.portName()), slaveId), 1);
    QVERIFY(dev.SendCommand(cmdGET_STATUS) > 0);
    QVERIFY(dev.LastReading().ok());

    tCarried seen;
    dev.AddObserver(&seen);
    sim.setFault(sim::Fault::Exception, 4, 1);
    const int32_t result = dev.SendCommand(cmdGET_STATUS);
    QVERIFY(result < 0);
    // Any other command carries no reading and leaves the last one alone.
    QVERIFY(dev.SendCommand(cmdGET_PAR_SYSTEM) > 0);
    dev.RemoveObserver(&seen);

    const tStatusReading &r = dev.LastReading();
    QCOMPARE(r.result, result);
    QVERIFY(!r.ok());
    QCOMPARE(r.model, QString("qx4r"));
    QCOMPARE(r.address, slaveId);
    QCOMPARE(r.sensors, 0);
    QCOMPARE(r.relays, 0);
    QCOMPARE(r.state, (std::array<int32_t, 4>{-1, -1, -1, -1}));
    QCOMPARE(r.relay, (std::array<int32_t, 4>{-1, -1, -1, -1}));
    QCOMPARE(seen.exchanges.size(), size_t(2));
    QVERIFY(seen.exchanges[0].reading);
    QCOMPARE(seen.exchanges[0].reading->result, result);
    QVERIFY(!seen.exchanges[1].reading);

    // A session that ends forgets the reading.
    dev.CloseConnection();
    QCOMPARE(dev.LastReading().result, 0);
}

// The published form is what subscribers already parse, byte for byte; the
// command line's differs only by its options.
void TestStatusReading::jsonFormsOfOneReading_data() {
    QTest::addColumn<tStatusReading>("reading");
    QTest::addColumn<QByteArray>("published");
    QTest::addColumn<QString>("cliTime");
    QTest::addColumn<QString>("cliUnit");
    tStatusReading r = Qx4rReading(
        "/dev/ttyUSB0", QDateTime(QDate(2024, 5, 1), QTime(12, 0, 3, 417), QTimeZone(-10800)));
    QTest::newRow("qx4r, every state")
        << r
        << QByteArray(
               R"({"data_hora":"2024-05-01T12:00:03.417-03:00","endereco":201,"firmware":"1.2",)"
               R"("modelo":"qx4r","porta":"/dev/ttyUSB0","reles":[{"codigo":1,"estado":"ligado",)"
               R"("operacao":"Refrigeração","rele":1},{"codigo":3,"estado":"desligado",)"
               R"("operacao":"Degelo","rele":2},{"codigo":4,"estado":"desligado","operacao":)"
               R"("Ventilador","rele":3},{"codigo":6,"estado":"ligado","operacao":"Auxiliar",)"
               R"("rele":4}],"resultado":{"codigo":21,"texto":"ok"},"sensores":[{"estado":"ok",)"
               R"("max":30.1,"min":18,"sensor":1,"unidade":"C","valor":23.5},{"estado":"curto",)"
               R"("sensor":2,"unidade":"C"},{"estado":"ok","max":0,"min":-0.5,"sensor":3,)"
               R"("unidade":"C","valor":-0.5},{"estado":"lendo","sensor":4,"unidade":"C"}]})")
        << "2024-05-01T12:00:03-03:00"
        << "C";
    tStatusReading f = r;
    f.SetAt(QDateTime(QDate(2024, 5, 1), QTime(12, 0, 4, 417), QTimeZone(19800)));
    f.model = "qx2n";
    f.unit = tempFAHRENHEIT;
    f.sensors = f.relays = 2;
    f.state = {1, 3, -1, -1};
    f.value = {392, 1004, 0, 0};
    f.min = {380, 990, 0, 0};
    f.max = {411, 1100, 0, 0};
    f.relay = {0, 1, -1, -1};
    f.operation = {2, -1, -1, -1};
    QTest::newRow("qx2n, Fahrenheit, half-hour offset, an unknown operation")
        << f
        << QByteArray(
               R"({"data_hora":"2024-05-01T12:00:04.417+05:30","endereco":201,"firmware":"1.2",)"
               R"("modelo":"qx2n","porta":"/dev/ttyUSB0","reles":[{"codigo":2,"estado":)"
               R"("desligado","operacao":"Aquecimento","rele":1},{"codigo":-1,"estado":"ligado",)"
               R"("operacao":"---------","rele":2}],"resultado":{"codigo":21,"texto":"ok"},)"
               R"("sensores":[{"estado":"ok","max":41.1,"min":38,"sensor":1,"unidade":"F",)"
               R"("valor":39.2},{"estado":"aberto","sensor":2,"unidade":"F"}]})")
        << "2024-05-01T12:00:04+05:30"
        << "F";
    tStatusReading x = FailedReading("/dev/ttyUSB0", 201, -110);
    x.SetAt(QDateTime(QDate(2024, 11, 3), QTime(1, 30), QTimeZone::utc()));
    QTest::newRow("never identified, failed, UTC")
        << x
        << QByteArray(R"({"data_hora":"2024-11-03T01:30:00.000Z","endereco":201,"firmware":null,)"
                      R"("modelo":null,"porta":"/dev/ttyUSB0","resultado":{"codigo":-110,)"
                      R"("texto":"Unknow -110"}})")
        << "2024-11-03T01:30:00Z" << QString();
}

void TestStatusReading::jsonFormsOfOneReading() {
    QFETCH(tStatusReading, reading);
    QFETCH(QByteArray, published);
    QCOMPARE(QJsonDocument(ReadingJson(reading, publishedJson)).toJson(QJsonDocument::Compact),
             published);
    QJsonObject cli = ReadingJson(reading, cliJson);
    QTEST(cli.take("data_hora").toString(), "cliTime");
    QTEST(cli.take("unidade").toString(), "cliUnit");
    QJsonObject rest = QJsonDocument::fromJson(published).object();
    rest.remove("data_hora");
    QCOMPARE(cli, rest);
}

QTEST_GUILESS_MAIN(TestStatusReading)
#include "tst_status_reading.moc"
