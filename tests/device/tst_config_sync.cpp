// The configuration sequence against the simulated controllers of one line:
// a "qx4r" at 201 and a "qx2n" at 202. Commands go through the sequence's
// send callable, which records them and plays the controller's part in
// faults: failing one command, or holding a register at another value
// whatever is written to it.
#include "config_sync.h"
#include "ondrel_sim.h"
#include "u_ondrel.h"

#include <QLocale>
#include <QTest>

#include <memory>
#include <optional>

Q_DECLARE_METATYPE(tCommand)

namespace {

using tCommands = QList<tCommand>;

// A register the controller keeps at its own value after every write.
struct tHold {
    int address;
    uint16_t value;
};

bool isWrite(tCommand cmd) {
    return cmd == cmdSET_PAR_SYSTEM || cmd == cmdSET_PAR_opRELAYS || cmd == cmdSET_PAR_RELAY1 ||
           cmd == cmdSET_PAR_RELAY2 || cmd == cmdSET_PAR_RELAY3 || cmd == cmdSET_PAR_RELAY4;
}

const tCommands allWrites = {cmdSET_PAR_SYSTEM, cmdSET_PAR_opRELAYS, cmdSET_PAR_RELAY1,
                             cmdSET_PAR_RELAY2, cmdSET_PAR_RELAY3,   cmdSET_PAR_RELAY4};

} // namespace

class TestConfigSync : public QObject {
    Q_OBJECT

  private Q_SLOTS:
    void initTestCase();
    void init();
    void readsTheModelsBlocks_data();
    void readsTheModelsBlocks();
    void writes_data();
    void writes();
    void stepsAreReported();
    void unitChangesBeforeTheRelayBlocks();
    void comparesByThePagesCodes_data();
    void comparesByThePagesCodes();
    void sameRegisterIsNoDifference();

  private:
    tSyncIo recording();
    void connect(int address);

    std::unique_ptr<sim::Controller> first;
    sim::Controller *second = nullptr;
    tOndrel dev;
    tCommands sent;
    QStringList steps;
    std::optional<tCommand> failAt;
    std::optional<tHold> hold;
};

void TestConfigSync::initTestCase() {
    QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Brazil));
    dev.SetTimeout(1);
}

// Fresh controllers for every test: they keep what a test wrote.
void TestConfigSync::init() {
    dev.CloseConnection();
    first = std::make_unique<sim::Controller>();
    sim::Options o;
    o.model = "qx2n";
    o.slaveId = 202;
    second = first->addToBus(o);
    QVERIFY(second);
    QVERIFY(first->start());
    sent.clear();
    steps.clear();
    failAt.reset();
    hold.reset();
}

void TestConfigSync::connect(int address) {
    QCOMPARE(dev.OpenConnection(QString::fromStdString(first->portName()), address), 1);
}

tSyncIo TestConfigSync::recording() {
    return {.send =
                [this](tCommand cmd) {
                    sent << cmd;
                    if (failAt == cmd)
                        first->setFault(sim::Fault::Exception, 0, 1);
                    const int32_t r = dev.SendCommand(cmd);
                    if (r > 0 && hold && isWrite(cmd))
                        first->setReg(hold->address, hold->value);
                    return Ready(r);
                },
            .progress = [this](const QString &step) { steps << step; }};
}

void TestConfigSync::readsTheModelsBlocks_data() {
    QTest::addColumn<int>("address");
    QTest::addColumn<uint>("knownBefore");
    QTest::addColumn<bool>("onlyMissing");
    QTest::addColumn<tCommands>("expected");
    const tCommands all4 = {cmdGET_PAR_SYSTEM, cmdGET_PAR_opRELAYS, cmdGET_PAR_RELAY1,
                            cmdGET_PAR_RELAY2, cmdGET_PAR_RELAY3,   cmdGET_PAR_RELAY4};
    QTest::newRow("four relays") << 201 << 0u << false << all4;
    QTest::newRow("two relays") << 202 << 0u << false
                                << tCommands{cmdGET_PAR_SYSTEM, cmdGET_PAR_opRELAYS,
                                             cmdGET_PAR_RELAY1, cmdGET_PAR_RELAY2};
    const uint some = knownSYSTEM | knownRelay(1);
    QTest::newRow("only the missing ones")
        << 201 << some << true
        << tCommands{cmdGET_PAR_opRELAYS, cmdGET_PAR_RELAY1, cmdGET_PAR_RELAY3, cmdGET_PAR_RELAY4};
    QTest::newRow("known blocks read again when asked") << 201 << some << false << all4;
    QTest::newRow("nothing missing")
        << 202 << uint(knownSYSTEM | knownOPS | 0x78u) << true << tCommands{};
}

void TestConfigSync::readsTheModelsBlocks() {
    QFETCH(int, address);
    QFETCH(uint, knownBefore);
    QFETCH(bool, onlyMissing);
    QFETCH(tCommands, expected);
    connect(address);
    dev.Known = knownBefore;
    sim::Controller &c = address == 201 ? *first : *second;
    c.setReg(0x002B, 7);   // DLY
    c.setReg(0x0401, 123); // relay 1 SP
    const tSyncResult r = ReadConfig(dev, recording(), onlyMissing).Result();
    QVERIFY(r.ok());
    QCOMPARE(sent, expected);
    if (expected.contains(cmdGET_PAR_SYSTEM))
        QCOMPARE(dev.System[11], 7);
    if (expected.contains(cmdGET_PAR_RELAY1))
        QCOMPARE(dev.Relay[0].par[1], 123);
}

void TestConfigSync::writes_data() {
    QTest::addColumn<bool>("verify");
    QTest::addColumn<int>("failCommand"); // -1: none
    QTest::addColumn<int>("holdAddress"); // -1: none
    QTest::addColumn<int>("holdValue");
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("failed");
    QTest::addColumn<tCommands>("written");
    QTest::addColumn<QStringList>("differences");

    QTest::newRow("written in order")
        << false << -1 << -1 << 0 << 1 << int(cmdNONE) << allWrites << QStringList{};
    QTest::newRow("verified") << true << -1 << -1 << 0 << 1 << int(cmdNONE) << allWrites
                              << QStringList{};
    QTest::newRow("a relay parameter held")
        << true << -1 << 0x0501 << 125 << 1 << int(cmdNONE) << allWrites
        << QStringList{"Relé 2: SP arquivo 8,0 ≠ controlador 12,5"};
    QTest::newRow("a system parameter held")
        << true << -1 << 0x002B << 0 << 1 << int(cmdNONE) << allWrites
        << QStringList{"Sistema: DLY arquivo 10 ≠ controlador 0"};
    QTest::newRow("an operation held")
        << true << -1 << 0x0003 << 3 << 1 << int(cmdNONE) << allWrites
        << QStringList{"Relé 1: Operação arquivo Refrigeração ≠ controlador Degelo"};
    QTest::newRow("held, not verified")
        << false << -1 << 0x002B << 0 << 1 << int(cmdNONE) << allWrites << QStringList{};
    QTest::newRow("fails at the first block")
        << true << int(cmdSET_PAR_SYSTEM) << -1 << 0 << -4 << int(cmdSET_PAR_SYSTEM) << tCommands{}
        << QStringList{};
    QTest::newRow("fails mid-way") << false << int(cmdSET_PAR_RELAY3) << -1 << 0 << -4
                                   << int(cmdSET_PAR_RELAY3) << allWrites.first(4) << QStringList{};
    QTest::newRow("fails reading back") << true << int(cmdGET_PAR_RELAY2) << -1 << 0 << -4
                                        << int(cmdGET_PAR_RELAY2) << allWrites << QStringList{};
}

void TestConfigSync::writes() {
    QFETCH(bool, verify);
    QFETCH(int, failCommand);
    QFETCH(int, holdAddress);
    QFETCH(int, holdValue);
    QFETCH(int, result);
    QFETCH(int, failed);
    QFETCH(tCommands, written);
    QFETCH(QStringList, differences);
    connect(201);
    QVERIFY(ReadConfig(dev).Result().ok());
    dev.System[11] = 10;       // DLY, 0 on the controller
    dev.Relay[1].par[1] = 80;  // relay 2 (defrost) SP, 100 on the controller
    dev.Relay[2].par[10] = 7;  // relay 3 (fan) DLY, 5 on the controller
    dev.Relay[3].par[16] = -1; // relay 4 timer word, 0 on the controller
    if (failCommand >= 0)
        failAt = tCommand(failCommand);
    if (holdAddress >= 0)
        hold = tHold{holdAddress, uint16_t(holdValue)};

    const tSyncResult r = WriteConfig(dev, verify, recording()).Result();
    QCOMPARE(r.result > 0 ? 1 : r.result, result);
    QCOMPARE(int(r.failed), failed);
    QCOMPARE(r.written, written);
    QCOMPARE(r.differences, differences);
    // Only the blocks of a configuration: never the clock or its calibration.
    for (tCommand cmd : sent)
        QVERIFY(!ConfigBlockName(cmd).isEmpty());
    // What went before a failure reached the controller; nothing after it did.
    const bool relay3 = written.contains(cmdSET_PAR_RELAY3);
    QCOMPARE(first->reg(0x060A), uint16_t(relay3 ? 7 : 5));
    QCOMPARE(first->reg(0x0710), uint16_t(written.contains(cmdSET_PAR_RELAY4) ? 0xFFFF : 0));
}

void TestConfigSync::stepsAreReported() {
    connect(202);
    QVERIFY(WriteConfig(dev, true, recording()).Result().ok());
    QCOMPARE(steps,
             QStringList({"Gravando parâmetros de sistema", "Gravando operações dos relés",
                          "Gravando parâmetros do relé 1", "Gravando parâmetros do relé 2",
                          "Conferindo parâmetros de sistema", "Conferindo operações dos relés",
                          "Conferindo parâmetros do relé 1", "Conferindo parâmetros do relé 2"}));
}

// A configuration in Fahrenheit written to a controller in Celsius: the
// controller converts its relay blocks when its unit changes, so they must
// arrive after the system block, already in the file's unit.
void TestConfigSync::unitChangesBeforeTheRelayBlocks() {
    connect(201);
    QVERIFY(ReadConfig(dev).Result().ok());
    dev.System[6] = 1;
    dev.Relay[0].par[1] = 410; // SP 41.0 ºF
    const tSyncResult r = WriteConfig(dev, true, recording()).Result();
    QCOMPARE(r.differences, QStringList{});
    QVERIFY(r.ok());
    QCOMPARE(first->reg(0x0026), uint16_t(1));
    QCOMPARE(first->reg(0x0401), uint16_t(410));
}

void TestConfigSync::comparesByThePagesCodes_data() {
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("reg");
    QTest::addColumn<int>("value");
    QTest::addColumn<QStringList>("differences");
    QTest::newRow("same") << 201 << -1 << 0 << QStringList{};
    QTest::newRow("a temperature")
        << 201 << 0x0401 << 60 << QStringList{"Relé 1: SP arquivo 5,0 ≠ controlador 6,0"};
    QTest::newRow("a system entry")
        << 201 << 0x002B << 10 << QStringList{"Sistema: DLY arquivo 0 ≠ controlador 10"};
    QTest::newRow("a clock format")
        << 201 << 0x0027 << 0
        << QStringList{"Sistema: Formato de Horas arquivo 24 Horas ≠ controlador 12 Horas"};
    QTest::newRow("an operation")
        << 201 << 0x0004 << 1
        << QStringList{"Relé 2: Operação arquivo Degelo ≠ controlador Refrigeração"};
    QTest::newRow("an operation without a name")
        << 201 << 0x0006 << 12
        << QStringList{"Relé 4: Operação arquivo Auxiliar ≠ controlador código 12"};
    QTest::newRow("a choice") << 201 << 0x0408 << 0
                              << QStringList{
                                     "Relé 1: TLRS arquivo Operação Normal ≠ controlador Desligar"};
    QTest::newRow("an entry no page shows")
        << 201 << 0x0407 << 5 << QStringList{"Relé 1: par[7] arquivo 0 ≠ controlador 5"};
    QTest::newRow("a timer's upper word")
        << 201 << 0x0711 << 1 << QStringList{"Relé 4: par[16] arquivo 0 ≠ controlador 65536"};
    QTest::newRow("a relay the model lacks") << 202 << 0x0601 << 5 << QStringList{};
}

void TestConfigSync::comparesByThePagesCodes() {
    QFETCH(int, address);
    QFETCH(int, reg);
    QFETCH(int, value);
    QFETCH(QStringList, differences);
    connect(address);
    QVERIFY(ReadConfig(dev).Result().ok());
    const tConfigValues saved = ConfigOf(dev);
    if (reg >= 0)
        (address == 201 ? *first : *second).setReg(reg, uint16_t(value));
    const tSyncResult r = CompareConfig(dev, saved, recording()).Result();
    QVERIFY(r.result > 0);
    QCOMPARE(r.differences, differences);
    QCOMPARE(r.ok(), differences.isEmpty());
}

// A file may hold upper bits the 16-bit registers cannot carry.
void TestConfigSync::sameRegisterIsNoDifference() {
    tConfigValues wanted, found;
    wanted.System[4] = -1;
    found.System[4] = 65535;
    wanted.par[0][8] = 65536 + 2;
    found.par[0][8] = 2;
    wanted.System[13] = 5; // never exchanged with the controller
    QVERIFY(ConfigDifferences(wanted, found, 4).isEmpty());
    wanted.par[0][16] = 65536;
    QCOMPARE(ConfigDifferences(wanted, found, 4),
             QStringList{"Relé 1: par[16] arquivo 65536 ≠ controlador 0"});
}

QTEST_GUILESS_MAIN(TestConfigSync)
#include "tst_config_sync.moc"
