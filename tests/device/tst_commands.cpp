// Every command against the simulated controller, opened by its port name
// exactly as a user opens a real one.
#include "device_fields.h"
#include "ondrel_sim.h"
#include "temperature.h"
#include "u_ondrel.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

Q_DECLARE_METATYPE(tCommand)
Q_DECLARE_METATYPE(sim::Fault)

namespace {

constexpr int slaveId = 201;

QList<uint16_t> words(const QString &hex) {
    QList<uint16_t> w;
    for (const QString &h : hex.split(' ', Qt::SkipEmptyParts))
        w << uint16_t(h.toUInt(nullptr, 16));
    return w;
}

QString plainHex(const QString &spaced) {
    return spaced.simplified().remove(' ').toLower();
}

// Function code, address, count and data of the last request; id and CRC cut.
QString lastPdu(const sim::Controller &c) {
    const std::vector<uint8_t> f = c.lastRequest();
    if (f.size() < 4)
        return QString();
    return QByteArray(reinterpret_cast<const char *>(f.data()) + 1, qsizetype(f.size()) - 3)
        .toHex();
}

struct tBlock {
    tCommand get;
    tCommand set;
    int start;
};

} // namespace

class TestCommands : public QObject {
    Q_OBJECT

  private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void requestsCarryTheMapsTransaction_data();
    void requestsCarryTheMapsTransaction();
    void readsUnpackIntoFields_data();
    void readsUnpackIntoFields();
    void writtenBlocksReadBackUnchanged_data();
    void writtenBlocksReadBackUnchanged();
    void singleWritesTraceTheirCount_data();
    void singleWritesTraceTheirCount();
    void failedCommandsChangeNoField_data();
    void failedCommandsChangeNoField();
    void knownFollowsTheSession_data();
    void knownFollowsTheSession();
    void unitFollowsTheController();

  private:
    void setRegs(int start, const QString &hex);
    void stopClock();
    std::unique_ptr<sim::Controller> sim;
    std::unique_ptr<tOndrel> dev;
};

void TestCommands::initTestCase() {
    sim = std::make_unique<sim::Controller>();
    QVERIFY(sim->start());
    dev = std::make_unique<tOndrel>();
    dev->SetTimeout(1);
    QCOMPARE(dev->OpenConnection(QString::fromStdString(sim->portName()), slaveId), 1);
    QCOMPARE(dev->Model, QString("qx4r"));
}

void TestCommands::cleanupTestCase() {
    dev.reset();
    sim.reset();
}

void TestCommands::init() {
    sim->clearFault();
    fields::scramble(*dev);
}

void TestCommands::setRegs(int start, const QString &hex) {
    const QList<uint16_t> w = words(hex);
    for (qsizetype i = 0; i < w.size(); ++i)
        sim->setReg(start + int(i), w[i]);
}

// 30 February stops the controller's clock, so a time set in a test cannot
// tick on before it is read back.
void TestCommands::stopClock() {
    sim->setReg(0xA011, 2);
    sim->setReg(0xA012, 30);
}

void TestCommands::requestsCarryTheMapsTransaction_data() {
    QTest::addColumn<tCommand>("cmd");
    QTest::addColumn<QString>("assignments");
    QTest::addColumn<QString>("pdu");
    const QString relay2 = "Relay[1].par[0]=5 Relay[1].par[1]=-500 Relay[1].par[2]=250 "
                           "Relay[1].par[3]=-1 Relay[1].par[4]=0 Relay[1].par[5]=70000 "
                           "Relay[1].par[6]=-32768 Relay[1].par[7]=32767 Relay[1].par[8]=1 "
                           "Relay[1].par[9]=65536 Relay[1].par[10]=65535 Relay[1].par[11]=2 "
                           "Relay[1].par[12]=3 Relay[1].par[13]=4 Relay[1].par[14]=5 "
                           "Relay[1].par[15]=6 Relay[1].par[16]=-1 Relay[1].par[17]=131071 "
                           "Relay[1].par[18]=0x12345678 Relay[1].par[19]=0";
    const struct {
        const char *name;
        tCommand cmd;
        QString assignments;
        const char *pdu;
    } rows[] = {
        {"none", cmdNONE, "", "03 0000 0007"},
        {"info", cmdGET_INFO, "", "03 0000 0007"},
        {"status", cmdGET_STATUS, "", "03 0200 0015"},
        {"restart statistics", cmdRST_STAT_TEMP, "", "06 a001 0000"},
        {"log info", cmdGET_LOG_INFO, "", "03 b000 0002"},
        {"log select", cmdSET_LOG_READ, "LogSlotRead=7", "06 b003 0007"},
        {"log select past the ring", cmdSET_LOG_READ, "LogSlotRead=999", "06 b003 03e7"},
        {"log select low bits", cmdSET_LOG_READ, "LogSlotRead=65543", "06 b003 0007"},
        {"log slot", cmdGET_LOG_READ, "", "03 b004 0009"},
        {"log clear", cmdSET_LOG_CLEAR, "", "06 b002 0000"},
        {"date", cmdGET_RTC_DATE, "", "03 a010 0004"},
        {"set date", cmdSET_RTC_DATE, "RTC.Year=2024 RTC.Month=2 RTC.Day=29 RTC.Weekday=4",
         "10 a010 0004 08 07e8 0002 001d 0004"},
        {"time", cmdGET_RTC_TIME, "", "03 a014 0003"},
        {"set time", cmdSET_RTC_TIME, "RTC.Hour=23 RTC.Minute=59 RTC.Second=58",
         "10 a014 0003 06 0017 003b 003a"},
        {"format", cmdGET_RTC_FORMAT, "", "03 0027 0002"},
        {"set format", cmdSET_RTC_FORMAT, "System[7]=1 System[8]=65537",
         "10 0027 0002 04 0001 0001"},
        {"calibration", cmdGET_RTC_CAL, "", "03 a017 0003"},
        {"set calibration", cmdSET_RTC_CAL, "CalVal=65537 CalDir=1",
         "10 a017 0003 06 0001 0001 0001"},
        {"set calibration negative", cmdSET_RTC_CAL, "CalVal=-2 CalDir=-1",
         "10 a017 0003 06 fffe ffff ffff"},
        {"clock output", cmdSET_RTC_CLKOUT, "", "06 a003 0000"},
        {"system", cmdGET_PAR_SYSTEM, "", "03 0020 000d"},
        {"set system", cmdSET_PAR_SYSTEM,
         "System[0]=-5 System[1]=5 System[2]=0 System[3]=-1 System[4]=1234 System[5]=4321 "
         "System[6]=1 System[7]=0 System[8]=1 System[9]=10 System[10]=65536 System[11]=99 "
         "System[12]=0",
         "10 0020 000d 1a fffb 0005 0000 ffff 04d2 10e1 0001 0000 0001 000a 0000 0063 0000"},
        {"operations", cmdGET_PAR_opRELAYS, "", "03 0003 0004"},
        {"set operations", cmdSET_PAR_opRELAYS,
         "Relay[0].par[0]=1 Relay[1].par[0]=8 Relay[2].par[0]=0 Relay[3].par[0]=-1",
         "10 0003 0004 08 0001 0008 0000 ffff"},
        {"relays 1 0 1 1", cmdSET_RELAYS,
         "Relay[0].sts=1 Relay[1].sts=0 Relay[2].sts=1 Relay[3].sts=1", "06 a002 000d"},
        {"relays all on", cmdSET_RELAYS,
         "Relay[0].sts=1 Relay[1].sts=1 Relay[2].sts=1 Relay[3].sts=1", "06 a002 000f"},
        // A state never read must not switch an output on.
        {"relays unknown", cmdSET_RELAYS,
         "Relay[0].sts=-1 Relay[1].sts=-1 Relay[2].sts=1 Relay[3].sts=-1", "06 a002 0004"},
        {"relay 1", cmdGET_PAR_RELAY1, "", "03 0400 0018"},
        {"relay 2", cmdGET_PAR_RELAY2, "", "03 0500 0018"},
        {"relay 3", cmdGET_PAR_RELAY3, "", "03 0600 0018"},
        {"relay 4", cmdGET_PAR_RELAY4, "", "03 0700 0018"},
        {"set relay 2", cmdSET_PAR_RELAY2, relay2,
         "10 0500 0018 30 0005 fe0c 00fa ffff 0000 1170 8000 7fff 0001 0000 ffff 0002 0003 "
         "0004 0005 0006 ffff ffff ffff 0001 5678 1234 0000 0000"},
        {"set relay 1", cmdSET_PAR_RELAY1, QString(relay2).replace("Relay[1]", "Relay[0]"),
         "10 0400 0018 30 0005 fe0c 00fa ffff 0000 1170 8000 7fff 0001 0000 ffff 0002 0003 "
         "0004 0005 0006 ffff ffff ffff 0001 5678 1234 0000 0000"},
        {"set relay 3", cmdSET_PAR_RELAY3, QString(relay2).replace("Relay[1]", "Relay[2]"),
         "10 0600 0018 30 0005 fe0c 00fa ffff 0000 1170 8000 7fff 0001 0000 ffff 0002 0003 "
         "0004 0005 0006 ffff ffff ffff 0001 5678 1234 0000 0000"},
        {"set relay 4", cmdSET_PAR_RELAY4, QString(relay2).replace("Relay[1]", "Relay[3]"),
         "10 0700 0018 30 0005 fe0c 00fa ffff 0000 1170 8000 7fff 0001 0000 ffff 0002 0003 "
         "0004 0005 0006 ffff ffff ffff 0001 5678 1234 0000 0000"},
        // Last: it restores the controller's factory defaults.
        {"factory defaults", cmdSET_STANDARD, "", "06 a000 0000"},
    };
    for (const auto &r : rows)
        QTest::newRow(r.name) << r.cmd << r.assignments << plainHex(r.pdu);
}

void TestCommands::requestsCarryTheMapsTransaction() {
    QFETCH(tCommand, cmd);
    QFETCH(QString, assignments);
    QFETCH(QString, pdu);
    fields::apply(*dev, assignments);
    const int before = sim->requestCount();
    dev->SendCommand(cmd); // the controller may refuse a value; the request is what counts
    QCOMPARE(sim->requestCount(), before + 1);
    QCOMPARE(lastPdu(*sim), pdu);
}

void TestCommands::readsUnpackIntoFields_data() {
    QTest::addColumn<tCommand>("cmd");
    QTest::addColumn<int>("start");
    QTest::addColumn<QString>("regs");
    QTest::addColumn<QString>("expected");
    const QString relayWords = "0003 fe0c 7fff 8000 0000 ffff 0001 00fa fe0c 0000 ffff 0001 "
                               "0002 0003 0004 0005 ffff 0001 ffff ffff 0000 8000 1234 0000";
    const QString relayFields = "par[0]=3 par[1]=-500 par[2]=32767 par[3]=-32768 par[4]=0 "
                                "par[5]=-1 par[6]=1 par[7]=250 par[8]=65036 par[9]=0 "
                                "par[10]=65535 par[11]=1 par[12]=2 par[13]=3 par[14]=4 "
                                "par[15]=5 par[16]=131071 par[17]=-1 par[18]=-2147483648 "
                                "par[19]=4660";
    auto relay = [&](int r) {
        return QString(" " + relayFields).replace(" par", QString(" Relay[%1].par").arg(r));
    };
    const struct {
        const char *name;
        tCommand cmd;
        int start;
        QString regs, expected;
    } rows[] = {
        {"info", cmdGET_INFO, 0x0000, "7871 7234 3231 0001 0002 0008 0000",
         "Model=qx4r Fimware=1.2 Relay[0].par[0]=1 Relay[1].par[0]=2 Relay[2].par[0]=8 "
         "Relay[3].par[0]=0"},
        {"status celsius slave", cmdGET_STATUS, 0x0200,
         "4000 bfff 0000 ffff  0013 ff9c fe0c 044c  0001 00fa 00c8 012c  0000 0000 0000 0000 "
         " 0002 8000 0001 7fff  0002",
         "Relay[0].sts=1 Relay[1].sts=0 Relay[2].sts=0 Relay[3].sts=1 "
         "Temperature[0].sts=3 Temperature[0].value=-100 Temperature[0].valueMin=-500 "
         "Temperature[0].valueMax=1100 Temperature[1].sts=1 Temperature[1].value=250 "
         "Temperature[1].valueMin=200 Temperature[1].valueMax=300 Temperature[2].sts=0 "
         "Temperature[2].value=0 Temperature[3].sts=2 Temperature[3].value=-32768 "
         "Temperature[3].valueMin=1 Temperature[3].valueMax=32767 "
         "Temperature[0].TemperatureType=0 Temperature[1].TemperatureType=0 "
         "Temperature[2].TemperatureType=0 Temperature[3].TemperatureType=0 System[12]=1"},
        {"status fahrenheit", cmdGET_STATUS, 0x0200,
         "0000 0000 0000 0000  0001 0320 0300 0340  0001 0000 0000 0000  0001 0000 0000 0000 "
         " 0001 0000 0000 0000  fffd",
         "Relay[0].sts=0 Relay[3].sts=0 Temperature[0].value=800 "
         "Temperature[0].TemperatureType=1 Temperature[1].TemperatureType=1 "
         "Temperature[2].TemperatureType=1 Temperature[3].TemperatureType=1 System[12]=0"},
        {"log info", cmdGET_LOG_INFO, 0xB000, "0064 0005", "LogCountSlots=100 LogLastSlot=5"},
        {"log info empty", cmdGET_LOG_INFO, 0xB000, "0064 ffff",
         "LogCountSlots=100 LogLastSlot=-1"},
        {"log slot", cmdGET_LOG_READ, 0xB004, "0152 907d 6000 07e8 0c05 1d17 0a0b 012a ff11",
         "Log.event=0x52 Log.sensor1=0x907d Log.sensor2=0x6000 Log.year=2024 Log.month=5 "
         "Log.mday=0x17 Log.hour=11 Log.min=42 Log.sec=0x11"},
        {"date", cmdGET_RTC_DATE, 0xA010, "07e8 0002 001d 0004",
         "RTC.Year=2024 RTC.Month=2 RTC.Day=29 RTC.Weekday=4"},
        {"time", cmdGET_RTC_TIME, 0xA014, "0017 003b 003a",
         "RTC.Hour=23 RTC.Minute=59 RTC.Second=58"},
        {"format unsigned", cmdGET_RTC_FORMAT, 0x0027, "ffff 0001", "System[7]=65535 System[8]=1"},
        {"system signed", cmdGET_PAR_SYSTEM, 0x0020,
         "fffb 0005 0000 ffff 04d2 10e1 0001 ffff 0001 000a 8000 0063 0001",
         "System[0]=-5 System[1]=5 System[2]=0 System[3]=-1 System[4]=1234 System[5]=4321 "
         "System[6]=1 System[7]=-1 System[8]=1 System[9]=10 System[10]=-32768 System[11]=99 "
         "System[12]=1"},
        {"calibration", cmdGET_RTC_CAL, 0xA017, "ffff 0001 0000", "CalVal=131071 CalDir=0"},
        {"calibration wide", cmdGET_RTC_CAL, 0xA017, "0000 8000 ffff",
         "CalVal=-2147483648 CalDir=65535"},
        {"operations unsigned", cmdGET_PAR_opRELAYS, 0x0003, "0008 ffff 0000 0003",
         "Relay[0].par[0]=8 Relay[1].par[0]=65535 Relay[2].par[0]=0 Relay[3].par[0]=3"},
        {"relay 1", cmdGET_PAR_RELAY1, 0x0400, relayWords, relay(0)},
        {"relay 2", cmdGET_PAR_RELAY2, 0x0500, relayWords, relay(1)},
        {"relay 3", cmdGET_PAR_RELAY3, 0x0600, relayWords, relay(2)},
        {"relay 4", cmdGET_PAR_RELAY4, 0x0700, relayWords, relay(3)},
    };
    for (const auto &r : rows)
        QTest::newRow(r.name) << r.cmd << r.start << r.regs << r.expected;
}

void TestCommands::readsUnpackIntoFields() {
    QFETCH(tCommand, cmd);
    QFETCH(int, start);
    QFETCH(QString, regs);
    QFETCH(QString, expected);
    stopClock();
    setRegs(start, regs);
    if (cmd == cmdGET_STATUS) { // the controller derives its flags word from unit and mode
        const uint16_t flags = words(regs).last();
        sim->setFahrenheit(flags & 1);
        sim->setSlaveMode(flags & 2);
    }
    QCOMPARE(dev->SendCommand(cmd), int(words(regs).size()));
    QCOMPARE(dev->ErrorCom, 0);
    QCOMPARE(fields::mismatches(*dev, expected).join("; "), QString());
}

void TestCommands::writtenBlocksReadBackUnchanged_data() {
    QTest::addColumn<tCommand>("set");
    QTest::addColumn<tCommand>("get");
    QTest::addColumn<int>("start");
    QTest::addColumn<QString>("assignments");
    QTest::addColumn<QString>("regs");
    const QString relay = "par[0]=1 par[1]=-50 par[2]=20 par[3]=-1 par[4]=300 par[5]=0 "
                          "par[6]=7 par[7]=-200 par[8]=1 par[9]=0 par[10]=2 par[11]=15 "
                          "par[12]=30 par[13]=1 par[14]=0 par[15]=3 par[16]=70000 par[17]=5 "
                          "par[18]=86399 par[19]=0";
    const QString relayRegs = "0001 ffce 0014 ffff 012c 0000 0007 ff38 0001 0000 0002 000f "
                              "001e 0001 0000 0003 1170 0001 0005 0000 517f 0001 0000 0000";
    auto of = [&](int r) {
        return QString(" " + relay).replace(" par", QString(" Relay[%1].par").arg(r));
    };
    const struct {
        const char *name;
        tCommand set, get;
        int start;
        QString assignments, regs;
    } rows[] = {
        {"date", cmdSET_RTC_DATE, cmdGET_RTC_DATE, 0xA010,
         "RTC.Year=2031 RTC.Month=12 RTC.Day=31 RTC.Weekday=3", "07ef 000c 001f 0003"},
        {"time", cmdSET_RTC_TIME, cmdGET_RTC_TIME, 0xA014, "RTC.Hour=7 RTC.Minute=5 RTC.Second=9",
         "0007 0005 0009"},
        {"format", cmdSET_RTC_FORMAT, cmdGET_RTC_FORMAT, 0x0027, "System[7]=1 System[8]=0",
         "0001 0000"},
        {"calibration", cmdSET_RTC_CAL, cmdGET_RTC_CAL, 0xA017, "CalVal=65537 CalDir=1",
         "0001 0001 0001"},
        {"system", cmdSET_PAR_SYSTEM, cmdGET_PAR_SYSTEM, 0x0020,
         "System[0]=-5 System[1]=5 System[2]=0 System[3]=-10 System[4]=123 System[5]=321 "
         "System[6]=0 System[7]=1 System[8]=1 System[9]=10 System[10]=30 System[11]=5 "
         "System[12]=0",
         "fffb 0005 0000 fff6 007b 0141 0000 0001 0001 000a 001e 0005 0000"},
        {"operations", cmdSET_PAR_opRELAYS, cmdGET_PAR_opRELAYS, 0x0003,
         "Relay[0].par[0]=1 Relay[1].par[0]=2 Relay[2].par[0]=3 Relay[3].par[0]=4",
         "0001 0002 0003 0004"},
        {"relay 1", cmdSET_PAR_RELAY1, cmdGET_PAR_RELAY1, 0x0400, of(0), relayRegs},
        {"relay 2", cmdSET_PAR_RELAY2, cmdGET_PAR_RELAY2, 0x0500, of(1), relayRegs},
        {"relay 3", cmdSET_PAR_RELAY3, cmdGET_PAR_RELAY3, 0x0600, of(2), relayRegs},
        {"relay 4", cmdSET_PAR_RELAY4, cmdGET_PAR_RELAY4, 0x0700, of(3), relayRegs},
    };
    for (const auto &r : rows)
        QTest::newRow(r.name) << r.set << r.get << r.start << r.assignments << r.regs;
}

void TestCommands::writtenBlocksReadBackUnchanged() {
    QFETCH(tCommand, set);
    QFETCH(tCommand, get);
    QFETCH(int, start);
    QFETCH(QString, assignments);
    QFETCH(QString, regs);
    stopClock();
    fields::apply(*dev, assignments);
    QCOMPARE(dev->SendCommand(set), 1);

    const QList<uint16_t> want = words(regs);
    QList<uint16_t> got;
    for (qsizetype i = 0; i < want.size(); ++i)
        got << sim->reg(start + int(i));
    QCOMPARE(got, want);

    fields::scramble(*dev);
    QCOMPARE(dev->SendCommand(get), int(want.size()));
    QCOMPARE(fields::mismatches(*dev, assignments).join("; "), QString());
}

void TestCommands::singleWritesTraceTheirCount_data() {
    QTest::addColumn<tCommand>("cmd");
    QTest::addColumn<QString>("request");
    QTest::addColumn<int>("count");
    QTest::newRow("restart statistics") << cmdRST_STAT_TEMP << "addr 0xA001" << 1;
    QTest::newRow("log clear") << cmdSET_LOG_CLEAR << "addr 0xB002" << 7;
    QTest::newRow("relays") << cmdSET_RELAYS << "addr 0xA002" << 7;
}

void TestCommands::singleWritesTraceTheirCount() {
    QFETCH(tCommand, cmd);
    QFETCH(QString, request);
    QFETCH(int, count);
    QTemporaryDir dir;
    const QString home = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir.path()));
    sim->setSlaveMode(true); // relays obey the master only in slave mode
    dev->SetSaveLog(true);
    dev->Relay[0].sts = dev->Relay[1].sts = dev->Relay[2].sts = dev->Relay[3].sts = 0;
    const int result = dev->SendCommand(cmd);
    dev->SetSaveLog(false);
    QVERIFY(QDir::setCurrent(home));
    QCOMPARE(result, 1);

    QFile log(dir.filePath("commands.log"));
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromLatin1(log.readAll()).split("\r\n");
    const qsizetype at = lines.indexOf(QRegularExpression(".*REG " + request + " .*"));
    QVERIFY2(at > 0, qPrintable(lines.join('|')));
    QCOMPARE(lines.value(at + 1).trimmed(), QString("RX %1 regs").arg(count));
    QCOMPARE(lines.mid(at + 2).filter(QRegularExpression("^        0x")).size(), count);
}

void TestCommands::failedCommandsChangeNoField_data() {
    QTest::addColumn<sim::Fault>("fault");
    QTest::addColumn<int>("param");
    QTest::addColumn<tCommand>("cmd");
    const struct {
        const char *name;
        sim::Fault fault;
        int param;
    } faults[] = {
        {"silence", sim::Fault::Silence, 0},
        {"exception 2", sim::Fault::Exception, 2},
        {"exception 4", sim::Fault::Exception, 4},
        {"bad crc", sim::Fault::BadCrc, 0},
        {"other slave", sim::Fault::OtherSlave, 0},
        {"other function", sim::Fault::OtherFunction, 0},
        {"wrong byte count", sim::Fault::WrongByteCount, 0},
        {"one stray byte", sim::Fault::StrayBytes, 1},
        {"two stray bytes", sim::Fault::StrayBytes, 2},
        {"oversize", sim::Fault::Oversize, 0},
    };
    const std::pair<const char *, tCommand> commands[] = {
        {"info", cmdGET_INFO},          {"status", cmdGET_STATUS},
        {"log info", cmdGET_LOG_INFO},  {"calibration", cmdGET_RTC_CAL},
        {"relay 3", cmdGET_PAR_RELAY3},
    };
    for (const auto &f : faults)
        for (const auto &[name, cmd] : commands)
            QTest::addRow("%s, %s", f.name, name) << f.fault << f.param << cmd;
    QTest::newRow("wrong echo, system") << sim::Fault::WrongEcho << 0 << cmdSET_PAR_SYSTEM;
    QTest::newRow("wrong address echo, relays") << sim::Fault::WrongEchoAddr << 0 << cmdSET_RELAYS;
}

void TestCommands::failedCommandsChangeNoField() {
    QFETCH(sim::Fault, fault);
    QFETCH(int, param);
    QFETCH(tCommand, cmd);
    const QStringList before = fields::snapshot(*dev);
    sim->setFault(fault, param, 1);
    const int result = dev->SendCommand(cmd);
    QVERIFY2(result < 0, qPrintable(QString::number(result)));
    QCOMPARE(dev->ErrorCom, result);
    const QStringList cleared =
        cmd == cmdGET_LOG_INFO ? QStringList{"LogCountSlots=-1", "LogLastSlot=-1"} : QStringList{};
    QCOMPARE(fields::changed(before, fields::snapshot(*dev)).join("; "), cleared.join("; "));
}

void TestCommands::knownFollowsTheSession_data() {
    QTest::addColumn<tCommand>("cmd");
    QTest::addColumn<uint32_t>("known");
    QTest::newRow("status brings the unit") << cmdGET_STATUS << uint32_t(knownUNIT);
    QTest::newRow("system read") << cmdGET_PAR_SYSTEM << uint32_t(knownSYSTEM | knownUNIT);
    QTest::newRow("system written") << cmdSET_PAR_SYSTEM << uint32_t(knownSYSTEM | knownUNIT);
    QTest::newRow("relay 2 read") << cmdGET_PAR_RELAY2 << uint32_t(knownRelay(1));
    QTest::newRow("relay 4 written") << cmdSET_PAR_RELAY4 << uint32_t(knownRelay(3));
    QTest::newRow("calibration") << cmdGET_RTC_CAL << uint32_t(knownCAL);
    QTest::newRow("log info") << cmdGET_LOG_INFO << uint32_t(0);
}

// A fresh session knows the operation codes only; each block becomes known
// once read or written, and closing forgets them all.
void TestCommands::knownFollowsTheSession() {
    QFETCH(tCommand, cmd);
    QFETCH(uint32_t, known);
    tOndrel &d = *dev;
    QCOMPARE(d.OpenConnection(QString::fromStdString(sim->portName()), slaveId), 1);
    QCOMPARE(d.Known, uint32_t(knownOPS));
    QVERIFY(d.SendCommand(cmd) > 0);
    QCOMPARE(d.Known, knownOPS | known);
    d.CloseConnection();
    QCOMPARE(d.Known, 0u);
    QCOMPARE(d.OpenConnection(QString::fromStdString(sim->portName()), slaveId), 1);
}

// Fixed bounds follow the controller's unit as last learned in this
// connection, from a status read or the system block; before that,
// System[6] as it stands.
void TestCommands::unitFollowsTheController() {
    tOndrel &d = *dev;
    QCOMPARE(d.OpenConnection(QString::fromStdString(sim->portName()), slaveId), 1);
    d.System.fill(0);
    d.System[6] = 1;
    QCOMPARE(d.TempUnit(), tempFAHRENHEIT);
    QVERIFY(d.SendCommand(cmdGET_STATUS) > 0);
    QCOMPARE(d.TempUnit(), tempCELSIUS);
    QCOMPARE(convCelcius2Ondrel(d, 110), 110.0);
    QVERIFY(d.SendCommand(cmdSET_PAR_SYSTEM) > 0);
    QCOMPARE(d.TempUnit(), tempFAHRENHEIT);
    QCOMPARE(convCelcius2Ondrel(d, 110), 230.0);
    sim->setFahrenheit(false); // changed on the controller itself
    QVERIFY(d.SendCommand(cmdGET_STATUS) > 0);
    QCOMPARE(d.TempUnit(), tempCELSIUS);
    sim->setFahrenheit(true);
    QVERIFY(d.SendCommand(cmdGET_PAR_SYSTEM) > 0);
    QCOMPARE(d.TempUnit(), tempFAHRENHEIT);
    d.CloseConnection();
    QCOMPARE(d.ControllerUnit, -1);
    sim->setFahrenheit(false);
    QCOMPARE(d.OpenConnection(QString::fromStdString(sim->portName()), slaveId), 1);
}

QTEST_GUILESS_MAIN(TestCommands)
#include "tst_commands.moc"
