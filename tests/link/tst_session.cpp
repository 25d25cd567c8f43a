// The device session against the simulated controller on a pty: opening and
// identification, every failure code with recovery, the busy refusal, late
// and chunked answers, both trace files, trace failures and a vanishing port.
#include "file_size_limit.h"
#include "hex_frame.h"
#include "ondrel_sim.h"
#include "pty_pair.h"
#include "u_ondrel.h"
#include "u_uart.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <thread>

#include <csignal>
#include <memory>
#include <optional>

Q_DECLARE_METATYPE(sim::Fault)
Q_DECLARE_METATYPE(tCommand)
Q_DECLARE_METATYPE(tPortError)

namespace {

QStringList fileLines(const QString &name) {
    QFile f(name);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QString text = QString::fromLatin1(f.readAll());
    if (text.endsWith(QLatin1String("\r\n")))
        text.chop(2);
    return text.split(QStringLiteral("\r\n"));
}

// The trace of an answer as it arrives: one line per byte, then its CRC.
QStringList rxLines(const QByteArray &frame) {
    QStringList lines;
    for (qsizetype i = 0; i < frame.size(); ++i)
        lines << QString::asprintf("    [%d] rx 0x%X", int(i), unsigned(uint8_t(frame[i])));
    const unsigned crc = uint8_t(frame[frame.size() - 2]) | uint8_t(frame[frame.size() - 1]) << 8;
    lines << QString::asprintf("    [crc msg 0x%X] [crc calc 0x%X]", crc, crc);
    return lines;
}

// Checks a whole trace file: the header by its shape, every other line as is.
void compareTrace(const QString &name, const QString &title, const QStringList &expected) {
    QStringList lines = fileLines(name);
    QVERIFY2(!lines.isEmpty(), qPrintable(name));
    static const QString shape = QStringLiteral(
        "^ >>>>>>>>> %1 - Data: \\d\\d/\\d\\d/\\d{4} Hora:\\d\\d:\\d\\d:\\d\\d <<<<<<<< $");
    const QRegularExpression header(shape.arg(QRegularExpression::escape(title)));
    QVERIFY2(header.match(lines.takeFirst()).hasMatch(), qPrintable(name));
    QCOMPARE(lines, expected);
}

} // namespace

class tst_Session : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    std::unique_ptr<sim::Controller> sim;
    std::unique_ptr<tOndrel> dev;

    static constexpr int sensorTenths = 215;

    // The status was read: sensor 1 shows what the controller holds.
    bool statusRead() const {
        return dev->Temperature[0].sts == stsTEMP_OK && dev->Temperature[0].value == sensorTenths;
    }

    QString simPort() const { return QString::fromStdString(sim->portName()); }

    // A controller of `model` and a driver connected to it at 201.
    bool connectTo(const std::string &model = "qx4r") {
        return connectTo(sim::Options{.model = model});
    }
    bool connectTo(const sim::Options &options) {
        sim = std::make_unique<sim::Controller>(options);
        if (!sim->start())
            return false;
        sim->setSensor(0, sim::SensorState::Valid, sensorTenths);
        dev = std::make_unique<tOndrel>();
        dev->SetTimeout(1);
        return dev->OpenConnection(simPort(), 201) == 1;
    }

  private Q_SLOTS:
    void initTestCase() {
        QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Brazil));
        QVERIFY(dir.isValid());
        QVERIFY(QDir::setCurrent(dir.path()));
        std::signal(SIGXFSZ, SIG_IGN);
    }
    void cleanup() {
        dev.reset();
        sim.reset();
    }

    void identification_data() {
        QTest::addColumn<QString>("model");
        QTest::addColumn<int>("relays");
        QTest::addColumn<bool>("clock");
        QTest::newRow("qx4r") << "qx4r" << 4 << true;
        QTest::newRow("qx3r") << "qx3r" << 3 << true;
        QTest::newRow("qx2r") << "qx2r" << 2 << true;
        QTest::newRow("qx2n") << "qx2n" << 2 << false;
        QTest::newRow("qx1r") << "qx1r" << 1 << true;
        QTest::newRow("qx1n") << "qx1n" << 1 << false;
        QTest::newRow("upper case") << "QX4R" << 1 << false;
        QTest::newRow("unknown") << "zz9k" << 1 << false;
    }
    void identification() {
        QFETCH(QString, model);
        QFETCH(int, relays);
        QFETCH(bool, clock);
        QVERIFY(connectTo(model.toStdString()));
        const std::vector<uint8_t> request = sim->lastRequest();
        QCOMPARE(hexText(QByteArray(reinterpret_cast<const char *>(request.data()),
                                    qsizetype(request.size()))),
                 QStringLiteral("C9 03 00 00 00 07 14 40"));
        QVERIFY(dev->Connected());
        QCOMPARE(dev->Model, model);
        QCOMPARE(dev->Fimware, QStringLiteral("1.2"));
        QCOMPARE(dev->nRelay, relays);
        QCOMPARE(dev->HaveRTC, clock);
        for (int k = 0; k < 4; ++k)
            QCOMPARE(dev->Relay[k].par[0], int(sim->reg(3 + k)));
        QCOMPARE(dev->ErrorCom, 0);
    }

    void closeForgetsTheSessionButNotTheModel() {
        QVERIFY(connectTo("qx2n"));
        QCOMPARE(dev->SendCommand(cmdGET_STATUS), 21);
        QVERIFY(statusRead());
        dev->CloseConnection();
        QVERIFY(!dev->Connected());
        QVERIFY(!dev->Uart().Active());
        QCOMPARE(dev->Temperature[0].sts, -1);
        QCOMPARE(dev->Relay[1].sts, -1);
        QCOMPARE(dev->nRelay, 2);
        QVERIFY(dev->Model.isEmpty());
        QVERIFY(dev->Fimware.isEmpty());
    }

    void settings() {
        tOndrel d;
        const int timeouts[][2] = {{0, 3}, {11, 3}, {10, 10}, {1, 1}, {-4, 3}};
        for (const auto &[given, kept] : timeouts) {
            d.SetTimeout(given);
            QCOMPARE(d.Timeout(), kept);
        }
        const int speeds[][2] = {{0, 115200}, {9, 115200}, {1, 2400}, {3, 9600}, {6, 57600}};
        for (const auto &[code, rate] : speeds) {
            d.SetBaudRate(code);
            QCOMPARE(d.BaudRate(), code);
            QCOMPARE(d.Uart().baud, rate);
        }
    }

    void neverOpenedPort() {
        tOndrel d;
        QCOMPARE(d.SendCommand(cmdGET_STATUS), errMODBUS_TX);
        QCOMPARE(d.ErrorCom, errMODBUS_TX);
        QVERIFY(!d.Busy);
    }

    // A port that does not open gives -14 and says why, naming the port; a
    // port that opens forgets the last reason, whatever the controller does.
    void openFailures_data() {
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("code");
        QTest::addColumn<tPortError>("reason");
        QTest::addColumn<QString>("sentence"); // %1: the port
        QTest::newRow("no such port")
            << "missing" << -14 << tPortError::NoSuchPort << "A porta %1 não existe.";
        QTest::newRow("port taken")
            << "taken" << -14 << tPortError::InUse << "A porta %1 está em uso por outro programa.";
        QTest::newRow("no permission")
            << "locked out" << -14 << tPortError::NoPermission
            << "Sem permissão para abrir a porta %1: adicione o usuário ao grupo dialout e "
               "entre novamente.";
        QTest::newRow("controller silent") << "silent" << -6 << tPortError::None << "";
        QTest::newRow("controller refuses") << "refuses" << -2 << tPortError::None << "";
    }
    void openFailures() {
        QFETCH(QString, how);
        QFETCH(int, code);
        QFETCH(tPortError, reason);
        QFETCH(QString, sentence);
        QVERIFY(connectTo());
        // A reason left from an earlier attempt, which the next one replaces.
        QCOMPARE(dev->OpenConnection(QStringLiteral("/dev/gone"), 201), -14);
        QCOMPARE(dev->PortError(), tPortError::NoSuchPort);
        tUART other;
        std::unique_ptr<tLockedOut> lockedOut;
        QString port = simPort();
        if (how == QLatin1String("missing"))
            port = QStringLiteral("/dev/no-such-port");
        if (how == QLatin1String("taken"))
            QVERIFY(other.Open(port));
        if (how == QLatin1String("locked out")) {
            lockedOut = std::make_unique<tLockedOut>(port);
            QVERIFY(lockedOut->valid());
        }
        if (how == QLatin1String("silent"))
            sim->setFault(sim::Fault::Silence);
        if (how == QLatin1String("refuses"))
            sim->setFault(sim::Fault::Exception, 2);
        QCOMPARE(dev->OpenConnection(port, 201), code);
        lockedOut.reset();
        QVERIFY(!dev->Connected());
        QCOMPARE(dev->ErrorCom, code);
        QVERIFY(!dev->Busy);
        QCOMPARE(dev->PortError(), reason);
        QCOMPARE(dev->PortErrorText(), sentence.isEmpty() ? sentence : sentence.arg(port));
    }

    // Every spoiled answer gives its code, changes no field, and the next
    // command goes through; the same with the fast read on ("[fast]").
    void failureCodes_data() {
        QTest::addColumn<sim::Fault>("fault");
        QTest::addColumn<int>("param");
        QTest::addColumn<tCommand>("cmd");
        QTest::addColumn<bool>("fast");
        QTest::addColumn<int>("code");
        using sim::Fault;
        auto row = [](const QString &name, Fault fault, int param, tCommand cmd, int code) {
            for (bool fast : {false, true})
                QTest::newRow(qPrintable(fast ? name + QStringLiteral(" [fast]") : name))
                    << fault << param << cmd << fast << code;
        };
        for (int c : {1, 2, 3, 4, 6})
            row(QString::asprintf("exception %d", c), Fault::Exception, c, cmdGET_STATUS, -c);
        row("silence", Fault::Silence, 0, cmdGET_STATUS, -6);
        row("oversize", Fault::Oversize, 300, cmdGET_STATUS, -7);
        row("bad crc", Fault::BadCrc, 0, cmdGET_STATUS, -8);
        row("one stray byte", Fault::StrayBytes, 1, cmdGET_STATUS, -9);
        row("two stray bytes", Fault::StrayBytes, 2, cmdGET_STATUS, -9);
        row("other slave", Fault::OtherSlave, 7, cmdGET_STATUS, -10);
        row("other function", Fault::OtherFunction, 4, cmdGET_STATUS, -11);
        row("byte count", Fault::WrongByteCount, -2, cmdGET_STATUS, -12);
        row("echoed value", Fault::WrongEcho, 0, cmdRST_STAT_TEMP, -13);
        row("echoed quantity", Fault::WrongEcho, 0, cmdSET_RTC_TIME, -13);
        row("echoed address", Fault::WrongEchoAddr, 0, cmdRST_STAT_TEMP, -10);
        row("echoed start", Fault::WrongEchoAddr, 0, cmdSET_RTC_TIME, -10);
        row("chunked", Fault::Chunked, 20, cmdGET_STATUS, 21);
    }
    void failureCodes() {
        QFETCH(sim::Fault, fault);
        QFETCH(int, param);
        QFETCH(tCommand, cmd);
        QFETCH(bool, fast);
        QFETCH(int, code);
        QVERIFY(connectTo());
        dev->SetFastRead(fast);
        sim->setFault(fault, param, 1);
        QCOMPARE(dev->SendCommand(cmd), code);
        QVERIFY(!dev->Busy);
        if (code < 0) {
            QCOMPARE(dev->ErrorCom, code);
            QCOMPARE(dev->Temperature[0].sts, -1);
        }

        QCOMPARE(dev->SendCommand(cmdGET_STATUS), 21);
        QCOMPARE(dev->ErrorCom, 0);
        QVERIFY(statusRead());
    }

    // An answer that comes after the time-out is thrown away before the next
    // request and never read as that request's answer.
    void lateAnswerNotTakenForTheNext() {
        QVERIFY(connectTo());
        sim->setFault(sim::Fault::Late, 1200, 1);
        QCOMPARE(dev->SendCommand(cmdGET_INFO), errMODBUS_TIMEOUT);
        QTRY_VERIFY_WITH_TIMEOUT(dev->Uart().RXda() > 0, 10000);
        QCOMPARE(dev->SendCommand(cmdGET_STATUS), 21);
        QVERIFY(statusRead());
    }

    // The controller answers a relay-1 read late and ignores the next
    // request, as one still busy with the old answer does: the relay-2 read
    // that follows (same length) must not take relay 1's words for its own.
    void lateAnswerThenIgnoredRequest() {
        QVERIFY(connectTo());
        for (int i = 1; i < 24; ++i) {
            sim->setReg(0x0400 + i, uint16_t(0x1100 + i));
            sim->setReg(0x0500 + i, uint16_t(0x2200 + i));
        }
        sim->setFault(sim::Fault::Late, 1200, 1);
        QCOMPARE(dev->SendCommand(cmdGET_PAR_RELAY1), errMODBUS_TIMEOUT);
        sim->setFault(sim::Fault::Silence, 0, 1);
        const auto before = dev->Relay[1].par;
        QCOMPARE(dev->SendCommand(cmdGET_PAR_RELAY2), errMODBUS_TIMEOUT);
        QCOMPARE(dev->Relay[1].par, before);

        QCOMPARE(dev->SendCommand(cmdGET_PAR_RELAY2), 24);
        QCOMPARE(dev->Relay[1].par[1], 0x2201);
        QCOMPARE(dev->Relay[1].par[15], 0x220F);
    }

    // On a paced line behind a USB adapter whose 16 ms timer splits every
    // answer into bursts, both ways of ending an answer read it whole.
    void splitAnswersReadWhole_data() {
        QTest::addColumn<bool>("fast");
        QTest::newRow("silence ends the answer") << false;
        QTest::newRow("fast read") << true;
    }
    void splitAnswersReadWhole() {
        QFETCH(bool, fast);
        QVERIFY(connectTo(sim::Options{.baud = 9600, .adapterLatencyMs = 16}));
        dev->SetFastRead(fast);
        dev->SetBaudRate(3);
        for (int i = 0; i < 5; ++i) {
            sim->setSensor(0, sim::SensorState::Valid, -100 - i);
            QCOMPARE(dev->SendCommand(cmdGET_STATUS), 21);
            QCOMPARE(dev->Temperature[0].value, -100 - i);
        }
        QVERIFY(sim->splitReplies() >= 5);
    }

    // An answer that pauses after its first bytes for longer than the port's
    // byte wait, as when an adapter's timer ticks just inside it: the fast
    // read waits for the rest, however few bytes came before the pause (the
    // address alone does not tell the answer's length), and what follows is
    // not spoiled by a tail left on the line.
    void fastReadWaitsOutAPause_data() {
        QTest::addColumn<tCommand>("cmd");
        QTest::addColumn<int>("after");
        QTest::addColumn<int>("code");
        for (int after : {1, 2, 5}) {
            const QString n = QString::number(after);
            QTest::newRow(qPrintable("read, after " + n)) << cmdGET_STATUS << after << 21;
            QTest::newRow(qPrintable("write single, after " + n)) << cmdRST_STAT_TEMP << after << 1;
            QTest::newRow(qPrintable("write multiple, after " + n))
                << cmdSET_RTC_TIME << after << 1;
            // Relays switched by hand while the controller runs them: exception 1.
            QTest::newRow(qPrintable("exception, after " + n)) << cmdSET_RELAYS << after << -1;
        }
    }
    void fastReadWaitsOutAPause() {
        QFETCH(tCommand, cmd);
        QFETCH(int, after);
        QFETCH(int, code);
        QVERIFY(connectTo(sim::Options{.stallAfterBytes = after}));
        dev->SetFastRead(true);
        sim->setFault(sim::Fault::Stall, 150, 1);
        QCOMPARE(dev->SendCommand(cmd), code);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(dev->SendCommand(cmdGET_STATUS), 21);
        QVERIFY(statusRead());
    }

    // A command asked between another's start and end is refused at once,
    // untraced, and the last failure stays as it was.
    void commandWhileBusyIsRefused() {
        QVERIFY(connectTo());
        dev->SetSaveLog(true);
        dev->ErrorCom = -9;
        sim->setFault(sim::Fault::Silence, 0, 1);
        const int requests = sim->requestCount();
        tOndrelJob job = dev->Begin(cmdGET_INFO);
        QCOMPARE(dev->SendCommand(cmdGET_STATUS), errMODBUS_BUSY);
        QCOMPARE(dev->ErrorCom, -9);
        dev->Transact(job);
        QCOMPARE(dev->Finish(job), errMODBUS_TIMEOUT);
        QCOMPARE(sim->requestCount(), requests + 1);
        QCOMPARE(fileLines(QStringLiteral("commands.log")).mid(1),
                 (QStringList{"Enviando comando de leitura REGS addr 0x0 len 7", "    Erro -6"}));
    }

    // Both trace files, byte for byte, for one transaction of each kind.
    void traceFiles_data() {
        QTest::addColumn<tCommand>("cmd");
        QTest::addColumn<QStringList>("commands");
        QTest::addColumn<QString>("request");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QStringList>("after");

        const QStringList regs = {"        0x7871", "        0x7234", "        0x3231",
                                  "        0x1",    "        0x2",    "        0x3",
                                  "        0x4"};
        QTest::newRow("read") << cmdGET_INFO
                              << QStringList{"Enviando comando de leitura REGS addr 0x0 len 7",
                                             "    RX 7 regs"} +
                                     regs
                              << "Read Regs [Device=ID 201] [addr init=0x0] [len=7]"
                              << "C9 03 0E 78 71 72 34 32 31 00 01 00 02 00 03 00 04 crc"
                              << QStringList{"    read 14 bytes",     "    addr 0x0 = 0x7871",
                                             "    addr 0x1 = 0x7234", "    addr 0x2 = 0x3231",
                                             "    addr 0x3 = 0x1",    "    addr 0x4 = 0x2",
                                             "    addr 0x5 = 0x3",    "    addr 0x6 = 0x4"};
        // After a write the trace shows the buffer, still holding the identification.
        QTest::newRow("write single")
            << cmdRST_STAT_TEMP
            << QStringList{"Enviando comando de escrita REG addr 0xA001 = valor", "    RX 1 regs",
                           regs[0]}
            << "Write Reg [Device=ID 201] [addr init=0xA001] [value=0]"
            << "C9 06 A0 01 00 00 crc" << QStringList{};
        QTest::newRow("write multiple")
            << cmdSET_RTC_TIME
            << QStringList{"Enviando comando de escrita REGS addr 0xA014 len 3", "    RX 3 regs",
                           "        0xC", "        0x22", "        0x38"}
            << "Write Regs [Device=ID 201] [addr init=0xA014] [len=3]"
            << "C9 10 A0 14 00 03 crc" << QStringList{};
    }
    void traceFiles() {
        QFETCH(tCommand, cmd);
        QFETCH(QStringList, commands);
        QFETCH(QString, request);
        QFETCH(QString, answer);
        QFETCH(QStringList, after);
        sim = std::make_unique<sim::Controller>();
        QVERIFY(sim->start());
        for (int k = 0; k < 4; ++k)
            sim->setReg(3 + k, uint16_t(k + 1));
        dev = std::make_unique<tOndrel>();
        QCOMPARE(dev->OpenConnection(simPort(), 201), 1);
        dev->RTC.Hour = 12;
        dev->RTC.Minute = 34;
        dev->RTC.Second = 56;
        dev->SetSaveLog(true);
        QVERIFY(dev->SendCommand(cmd) > 0);

        compareTrace(QStringLiteral("commands.log"), QStringLiteral("INICIAÇÃO DO LOG DE COMANDOS"),
                     commands);
        compareTrace(QStringLiteral("modbus.log"), QStringLiteral("INICIAÇÃO DO LOG MODBUS"),
                     QStringList{request, "Wait data of the slave"} + rxLines(hexFrame(answer)) +
                         after);
    }

    // A trace that cannot be written is reported once per file; commands
    // keep working and the driver never stays busy.
    void traceFailure_data() {
        QTest::addColumn<QStringList>("full");
        QTest::addColumn<int>("sizeLimit");
        QTest::addColumn<int>("reports");
        QTest::newRow("modbus.log on a full disk") << QStringList{"modbus.log"} << 0 << 1;
        QTest::newRow("commands.log on a full disk") << QStringList{"commands.log"} << 0 << 1;
        QTest::newRow("both on a full disk") << QStringList{"modbus.log", "commands.log"} << 0 << 2;
        QTest::newRow("disk fills mid-transaction") << QStringList{} << 800 << 1;
    }
    void traceFailure() {
        QFETCH(QStringList, full);
        QFETCH(int, sizeLimit);
        QFETCH(int, reports);
        QVERIFY(connectTo());
        for (const QString &name : {QStringLiteral("modbus.log"), QStringLiteral("commands.log")})
            QFile::remove(name);
        for (const QString &name : full)
            QVERIFY(QFile::link(QStringLiteral("/dev/full"), name));
        QStringList seen;
        dev->OnTraceError = [&seen](const QString &why) { seen << why; };

        int first = 0, second = 0;
        bool busyAfterFirst = true;
        {
            std::optional<FileSizeLimit> tight;
            if (sizeLimit) {
                tight.emplace(rlim_t(sizeLimit));
                QVERIFY(tight->ok);
            }
            dev->SetSaveLog(true);
            first = dev->SendCommand(cmdGET_STATUS);
            busyAfterFirst = dev->Busy;
            second = dev->SendCommand(cmdGET_INFO);
        }

        QCOMPARE(first, 21);
        QVERIFY(!busyAfterFirst);
        QCOMPARE(second, 7);
        QVERIFY(!dev->Busy);
        QCOMPARE(seen.size(), reports);
    }

    // The adapter is pulled while a command waits: that command fails, and so
    // does the next one, cleanly, without waiting out the time-out.
    void portVanishesMidTransaction() {
        QVERIFY(connectTo());
        dev->SetTimeout(10);
        sim->setFault(sim::Fault::Late, 5000, 1);
        // Pulled once the request is in; this thread waits on the line.
        std::jthread pull([this, before = sim->requestCount()] {
            while (sim->requestCount() == before)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            sim->stop();
        });
        QCOMPARE(dev->SendCommand(cmdGET_STATUS), errMODBUS_TIMEOUT);
        QVERIFY(!dev->Busy);
        QVERIFY(!dev->Uart().Active());
        QCOMPARE(dev->SendCommand(cmdGET_STATUS), errMODBUS_TX);
        QCOMPARE(dev->ErrorCom, errMODBUS_TX);
        QVERIFY(!dev->Busy);
    }
};

QTEST_GUILESS_MAIN(tst_Session)
#include "tst_session.moc"
