#include "modbus_master.h"
#include "ondrel_sim.h"
#include "raw_line.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

Q_DECLARE_METATYPE(sim::Fault)

namespace {

QByteArray hex(const char *text) {
    return QByteArray::fromHex(QByteArray(text));
}

const char *const kRead2 = "C9 03 00 00 00 02";
const char *const kRead2Reply = "C9 03 04 78 71 72 34";
const char *const kWrite1 = "C9 06 00 20 00 05";
const char *const kWriteN = "C9 10 00 20 00 02 04 00 05 00 06";
const char *const kWriteNReply = "C9 10 00 20 00 02";

} // namespace

class SimTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<sim::Controller> sim;

    void startSim(sim::Options options = {}) {
        sim = std::make_unique<sim::Controller>(options);
        QVERIFY(sim->start());
    }

  private Q_SLOTS:
    void cleanup() { sim.reset(); }

    void identification_data() {
        QTest::addColumn<QString>("model");
        QTest::addColumn<QString>("firmware");
        QTest::addColumn<QList<int>>("words");
        QTest::newRow("qx4r 1.2") << "qx4r"
                                  << "12" << QList<int>{0x7871, 0x7234, 0x3231};
        QTest::newRow("qx2n 3.0") << "qx2n"
                                  << "30" << QList<int>{0x7871, 0x6E32, 0x3033};
        QTest::newRow("short name") << "ab"
                                    << "10" << QList<int>{0x6261, 0x0000, 0x3031};
    }
    void identification() {
        QFETCH(QString, model);
        QFETCH(QString, firmware);
        QFETCH(QList<int>, words);
        sim::Options o;
        o.model = model.toStdString();
        o.firmwareMajor = firmware.at(0).toLatin1();
        o.firmwareMinor = firmware.at(1).toLatin1();
        startSim(o);
        Master m(sim->portName(), o.slaveId);
        QVERIFY(m.isOpen());
        std::vector<uint16_t> regs;
        QCOMPARE(m.read(0, 7, &regs), 0);
        for (int i = 0; i < words.size(); ++i)
            QCOMPARE(int(regs[size_t(i)]), words[i]);
    }

    void wireBytes() {
        startSim();
        RawLine line(sim->portName());
        QVERIFY(line.isOpen());
        // The model's characters travel in the order 2, 1, 4, 3.
        QCOMPARE(line.transact(hex("C9 03 00 00 00 07 14 40")).left(7),
                 hex("C9 03 0E 78 71 72 34"));
        QCOMPARE(sim->requestCount(), 1);
        const auto last = sim->lastRequest();
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(last.data()), qsizetype(last.size())),
                 hex("C9 03 00 00 00 07 14 40"));
    }

    void refusals_data() {
        QTest::addColumn<QString>("model");
        QTest::addColumn<bool>("write");
        QTest::addColumn<int>("address");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("exception");
        QTest::newRow("past identification") << "qx4r" << false << 0x0007 << 1 << 2;
        QTest::newRow("across a block end") << "qx4r" << false << 0x0005 << 4 << 2;
        QTest::newRow("between blocks") << "qx4r" << false << 0x0100 << 1 << 2;
        QTest::newRow("past relay block") << "qx4r" << false << 0x0417 << 2 << 2;
        QTest::newRow("past the log") << "qx4r" << false << 0xB00C << 2 << 2;
        QTest::newRow("clock without one") << "qx2n" << false << 0xA010 << 7 << 2;
        QTest::newRow("calibration without a clock") << "qx1n" << false << 0xA017 << 3 << 2;
        QTest::newRow("clock") << "qx4r" << false << 0xA010 << 10 << 0;
        QTest::newRow("whole status") << "qx2n" << false << 0x0200 << 21 << 0;
        QTest::newRow("whole log slot") << "qx1n" << false << 0xB000 << 13 << 0;
        QTest::newRow("write model") << "qx4r" << true << 0x0000 << 1 << 2;
        QTest::newRow("write status") << "qx4r" << true << 0x0205 << 1 << 2;
        QTest::newRow("write log count") << "qx4r" << true << 0xB000 << 1 << 2;
        QTest::newRow("write log slot") << "qx4r" << true << 0xB004 << 1 << 2;
        QTest::newRow("write operations") << "qx4r" << true << 0x0003 << 4 << 0;
    }
    void refusals() {
        QFETCH(QString, model);
        QFETCH(bool, write);
        QFETCH(int, address);
        QFETCH(int, count);
        QFETCH(int, exception);
        sim::Options o;
        o.model = model.toStdString();
        startSim(o);
        Master m(sim->portName(), o.slaveId);
        const int rc = write ? m.write(address, std::vector<uint16_t>(size_t(count), 0))
                             : m.read(address, count);
        QCOMPARE(rc, exception);
    }

    void faults_data() {
        QTest::addColumn<sim::Fault>("fault");
        QTest::addColumn<int>("param");
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("reply"); // without its CRC
        QTest::addColumn<QString>("crc");      // "good", "bad" or "none"
        using F = sim::Fault;
        const QByteArray read = hex(kRead2), write1 = hex(kWrite1), writeN = hex(kWriteN);
        QTest::newRow("none") << F::None << 0 << read << hex(kRead2Reply) << "good";
        QTest::newRow("silence") << F::Silence << 0 << read << QByteArray() << "none";
        QTest::newRow("exception 2") << F::Exception << 2 << read << hex("C9 83 02") << "good";
        QTest::newRow("exception default")
            << F::Exception << 0 << write1 << hex("C9 86 04") << "good";
        QTest::newRow("bad crc") << F::BadCrc << 0 << read << hex(kRead2Reply) << "bad";
        QTest::newRow("other slave")
            << F::OtherSlave << 0 << read << hex("CA 03 04 78 71 72 34") << "good";
        QTest::newRow("slave 7") << F::OtherSlave << 7 << read << hex("07 03 04 78 71 72 34")
                                 << "good";
        QTest::newRow("other function")
            << F::OtherFunction << 0 << read << hex("C9 04 04 78 71 72 34") << "good";
        QTest::newRow("byte count -2")
            << F::WrongByteCount << 0 << read << hex("C9 03 02 78 71") << "good";
        QTest::newRow("byte count +2")
            << F::WrongByteCount << 2 << read << hex("C9 03 06 78 71 72 34 00 00") << "good";
        QTest::newRow("echo value")
            << F::WrongEcho << 0 << write1 << hex("C9 06 00 20 00 06") << "good";
        QTest::newRow("echo quantity")
            << F::WrongEcho << 0 << writeN << hex("C9 10 00 20 00 03") << "good";
        QTest::newRow("echo address")
            << F::WrongEchoAddr << 0 << write1 << hex("C9 06 00 21 00 05") << "good";
        QTest::newRow("echo start")
            << F::WrongEchoAddr << 0 << writeN << hex("C9 10 00 21 00 02") << "good";
        QTest::newRow("one stray byte") << F::StrayBytes << 0 << read << hex("5A") << "none";
        QTest::newRow("two stray bytes") << F::StrayBytes << 2 << read << hex("5A A5") << "none";
        QTest::newRow("late") << F::Late << 300 << read << hex(kRead2Reply) << "good";
    }
    void faults() {
        QFETCH(sim::Fault, fault);
        QFETCH(int, param);
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, reply);
        QFETCH(QString, crc);
        startSim();
        sim->setFault(fault, param);
        RawLine line(sim->portName());
        const QByteArray got =
            line.transact(withCrc(request), fault == sim::Fault::Silence ? 500 : 3000);
        if (crc == "none") {
            QCOMPARE(got.toHex(' '), reply.toHex(' '));
            return;
        }
        QCOMPARE(got.chopped(2).toHex(' '), reply.toHex(' '));
        QCOMPARE(crcHolds(got), crc == "good");
    }

    void oversizeReply() {
        startSim();
        sim->setFault(sim::Fault::Oversize, 0, 1);
        RawLine line(sim->portName());
        const QByteArray got = line.transact(withCrc(hex(kRead2)));
        QCOMPARE(got.size(), 300);
        QCOMPARE(got.left(2), hex("C9 03"));
        QVERIFY(crcHolds(got));
    }

    void lateReplyWaits() {
        startSim();
        sim->setFault(sim::Fault::Late, 1500, 1);
        RawLine line(sim->portName());
        line.send(withCrc(hex(kRead2)));
        QVERIFY(line.receive(300).isEmpty());
        QCOMPARE(line.receive(10000), withCrc(hex(kRead2Reply)));
    }

    void chunkedReply() {
        startSim();
        sim->setFault(sim::Fault::Chunked, 150, 1);
        RawLine line(sim->portName());
        line.send(withCrc(hex("C9 03 00 00 00 07")));
        int reads = 0;
        const QByteArray got = line.receive(3000, 1000, &reads);
        QCOMPARE(got.size(), 19);
        QVERIFY(crcHolds(got));
        QVERIFY2(reads > 1, "the reply came in one piece");
    }

    // A stall: the first half, a pause, then the rest.
    void stalledReply() {
        startSim();
        sim->setFault(sim::Fault::Stall, 300, 1);
        RawLine line(sim->portName());
        line.send(withCrc(hex("C9 03 00 00 00 07")));
        const QByteArray first = line.receive(3000, 150);
        QCOMPARE(first.size(), 10);
        const QByteArray rest = line.receive(3000, 150);
        QCOMPARE(rest.size(), 9);
        QVERIFY(crcHolds(first + rest));
    }

    // On a paced line behind an adapter a reply longer than the latency
    // timer reaches the master in bursts, whole and in order.
    void pacedReplyArrivesWhole() {
        sim::Options o;
        o.baud = 9600;
        o.adapterLatencyMs = 16;
        startSim(o);
        RawLine line(sim->portName());
        const QByteArray got = line.transact(withCrc(hex("C9 03 02 00 00 15")));
        QCOMPARE(got.size(), 5 + 2 * 21);
        QCOMPARE(got.left(3), hex("C9 03 2A"));
        QVERIFY(crcHolds(got));
        QCOMPARE(sim->splitReplies(), 1);
    }

    void faultLastsItsCount() {
        startSim();
        sim->setFault(sim::Fault::BadCrc, 0, 2);
        RawLine line(sim->portName());
        const QByteArray request = withCrc(hex(kRead2));
        QVERIFY(!crcHolds(line.transact(request)));
        QVERIFY(!crcHolds(line.transact(request)));
        QVERIFY(crcHolds(line.transact(request)));
    }

    void faultWaitsForItsKindOfRequest() {
        startSim();
        sim->setFault(sim::Fault::WrongEcho, 0, 1);
        RawLine line(sim->portName());
        QCOMPARE(line.transact(withCrc(hex(kRead2))), withCrc(hex(kRead2Reply)));
        QCOMPARE(line.transact(withCrc(hex(kWriteN))), withCrc(hex("C9 10 00 20 00 03")));
        QCOMPARE(line.transact(withCrc(hex(kWriteN))), withCrc(hex(kWriteNReply)));
    }

    void clearedFaultStops() {
        startSim();
        sim->setFault(sim::Fault::Silence);
        RawLine line(sim->portName());
        QVERIFY(line.transact(withCrc(hex(kRead2)), 300).isEmpty());
        sim->clearFault();
        QCOMPARE(line.transact(withCrc(hex(kRead2))), withCrc(hex(kRead2Reply)));
    }

    void spoiledWrites_data() {
        QTest::addColumn<sim::Fault>("fault");
        QTest::addColumn<bool>("carriedOut");
        using F = sim::Fault;
        QTest::newRow("silence") << F::Silence << false;
        QTest::newRow("exception") << F::Exception << false;
        QTest::newRow("stray bytes") << F::StrayBytes << false;
        QTest::newRow("oversize") << F::Oversize << false;
        QTest::newRow("bad crc") << F::BadCrc << true;
        QTest::newRow("other slave") << F::OtherSlave << true;
        QTest::newRow("wrong echo") << F::WrongEcho << true;
        QTest::newRow("chunked") << F::Chunked << true;
        QTest::newRow("stall") << F::Stall << true;
    }
    void spoiledWrites() {
        QFETCH(sim::Fault, fault);
        QFETCH(bool, carriedOut);
        startSim();
        const uint16_t before = sim->reg(0x0020);
        sim->setFault(fault, 0, 1);
        RawLine line(sim->portName());
        line.transact(withCrc(hex("C9 06 00 20 01 23")), fault == sim::Fault::Silence ? 300 : 3000);
        QTRY_COMPARE_WITH_TIMEOUT(sim->requestCount(), 1, 10000);
        QCOMPARE(sim->reg(0x0020), carriedOut ? uint16_t(0x0123) : before);
    }

    void otherSlavesAndNoiseIgnored() {
        startSim();
        RawLine line(sim->portName());
        QVERIFY(line.transact(withCrc(hex("07 03 00 00 00 02")), 300).isEmpty());
        // The next request is served, not swallowed as the other address's reply.
        QCOMPARE(line.transact(withCrc(hex(kRead2))), withCrc(hex(kRead2Reply)));
        QVERIFY(line.transact(hex("C9 03 00 00 00 02 00 00"), 300).isEmpty()); // bad CRC
        QCOMPARE(sim->requestCount(), 1);
        QCOMPARE(line.transact(withCrc(hex(kRead2))), withCrc(hex(kRead2Reply)));
        QCOMPARE(sim->requestCount(), 2);
    }

    void clientsComeAndGo() {
        startSim();
        for (int i = 0; i < 5; ++i) {
            RawLine line(sim->portName());
            QVERIFY(line.isOpen());
            QCOMPARE(line.transact(withCrc(hex(kRead2))), withCrc(hex(kRead2Reply)));
        }
        Master m(sim->portName(), 201);
        QCOMPARE(m.read(0, 2), 0);
    }

    // Controllers sharing one line each answer their own address from their
    // own registers; an address nobody has stays silent; a broadcast reaches all.
    void controllersShareALine() {
        sim = std::make_unique<sim::Controller>();
        sim::Options o;
        o.model = "qx2n";
        o.slaveId = 202;
        sim::Controller *second = sim->addToBus(o);
        QVERIFY(second);
        QVERIFY(!sim->addToBus(o)); // the address is taken
        QVERIFY(sim->start());
        o.slaveId = 203;
        QVERIFY(!sim->addToBus(o)); // only before the line serves
        QCOMPARE(second->portName(), sim->portName());

        RawLine line(sim->portName());
        QCOMPARE(line.transact(withCrc(hex("C9 03 00 01 00 01"))), withCrc(hex("C9 03 02 72 34")));
        QCOMPARE(line.transact(withCrc(hex("CA 03 00 01 00 01"))), withCrc(hex("CA 03 02 6E 32")));
        QVERIFY(line.transact(withCrc(hex("CB 03 00 01 00 01")), 300).isEmpty());
        QCOMPARE(line.transact(withCrc(hex("CA 06 00 20 00 05"))),
                 withCrc(hex("CA 06 00 20 00 05")));
        QCOMPARE(int(second->reg(0x20)), 5);
        QCOMPARE(int(sim->reg(0x20)), 0);
        QCOMPARE(sim->requestCount(), 1);
        QCOMPARE(second->requestCount(), 2);

        second->setFault(sim::Fault::Silence);
        QVERIFY(line.transact(withCrc(hex("CA 03 00 01 00 01")), 300).isEmpty());
        QCOMPARE(line.transact(withCrc(hex("C9 03 00 01 00 01"))), withCrc(hex("C9 03 02 72 34")));

        QVERIFY(line.transact(withCrc(hex("00 06 00 21 00 07")), 300).isEmpty());
        QCOMPARE(int(sim->reg(0x21)), 7);
        QCOMPARE(int(second->reg(0x21)), 7);
    }

    void standaloneBus() {
        QTemporaryDir dir;
        const QString portFile = dir.filePath("port");
        QProcess p;
        p.start(ONDREL_SIM, {"--model", "qx2r,qx1n", "--id", "17,18,19", "--no-drift",
                             "--port-file", portFile});
        QVERIFY(p.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(portFile).size() > 0, 10000);
        QFile f(portFile);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const std::string port = f.readAll().trimmed().toStdString();
        {
            RawLine line(port);
            QCOMPARE(line.transact(withCrc(hex("11 03 00 01 00 01"))),
                     withCrc(hex("11 03 02 72 32")));
            QCOMPARE(line.transact(withCrc(hex("13 03 00 01 00 01"))),
                     withCrc(hex("13 03 02 6E 31")));
        }
        p.terminate();
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), 0);
        const QList<QByteArray> lines = p.readAllStandardOutput().trimmed().split('\n');
        QCOMPARE(lines.size(), 3);
        QVERIFY(
            lines[2].startsWith("Simulated controller qx1n id 19 on " + QByteArray(port.c_str())));
    }

    // A generic Modbus TCP master reads the simulator served over TCP: the
    // identification of each controller by its unit id.
    void genericTcpMaster() {
        QTemporaryDir dir;
        const QString portFile = dir.filePath("port");
        QProcess sim;
        sim.start(ONDREL_SIM, {"--model", "qx4r,qx2n", "--id", "201,17", "--no-drift", "--tcp",
                               "127.0.0.1:0", "--port-file", portFile});
        QVERIFY(sim.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(portFile).size() > 0, 10000);
        QFile f(portFile);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QString port = QString::fromLatin1(f.readAll().trimmed());
        QVERIFY2(port.startsWith("tcp://127.0.0.1:"), qPrintable(port));
        const QString tcpPort = port.section(u':', -1);
        for (const auto &[unit, word] : {std::pair{"201", "7234"}, std::pair{"17", "6E32"}}) {
            QProcess mbpoll;
            mbpoll.start("mbpoll", {"-m", "tcp", "-p", tcpPort, "-a", unit, "-t", "4:hex", "-r",
                                    "2", "-c", "1", "-1", "127.0.0.1"});
            QVERIFY2(mbpoll.waitForFinished(20000), "mbpoll did not end");
            QCOMPARE(mbpoll.exitCode(), 0);
            QVERIFY2(mbpoll.readAllStandardOutput().contains(QByteArray("[2]: \t0x") + word), unit);
        }
        sim.terminate();
        QVERIFY(sim.waitForFinished(10000));
    }

    void standaloneProgram_data() {
        QTest::addColumn<QStringList>("line");
        QTest::addColumn<QString>("says");
        QTest::newRow("plain") << QStringList{} << "";
        QTest::newRow("paced") << QStringList{"--baud", "9600",           "--adapter-latency",
                                              "1",      "--answer-delay", "5"}
                               << "Answers paced at 9600 bit/s, adapter latency 1 ms, answer "
                                  "delay up to 5 ms\n";
    }
    void standaloneProgram() {
        QFETCH(QStringList, line);
        QFETCH(QString, says);
        QTemporaryDir dir;
        const QString portFile = dir.filePath("port");
        QProcess p;
        p.start(ONDREL_SIM, QStringList{"--model", "qx2r", "--id", "17", "--no-drift",
                                        "--port-file", portFile} +
                                line);
        QVERIFY(p.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(portFile).size() > 0, 10000);
        QFile f(portFile);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const std::string port = f.readAll().trimmed().toStdString();
        {
            RawLine line(port);
            QCOMPARE(line.transact(withCrc(hex("11 03 00 01 00 01"))),
                     withCrc(hex("11 03 02 72 32")));
        }
        p.terminate();
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 0);
        QCOMPARE(QString::fromLocal8Bit(p.readAllStandardOutput()),
                 QStringLiteral("Simulated controller qx2r id 17 on %1\n%2")
                     .arg(QString::fromStdString(port), says));
    }
};

QTEST_GUILESS_MAIN(SimTest)
#include "tst_sim.moc"
