// The simulated controller's behaviour behind its registers, seen through
// libmodbus's own RTU master.

#include "modbus_master.h"
#include "ondrel_sim.h"

#include <QDateTime>
#include <QtTest>
#include <memory>

namespace {

using Words = QList<int>;

std::vector<uint16_t> words(const Words &w) {
    std::vector<uint16_t> out;
    for (int v : w)
        out.push_back(uint16_t(v));
    return out;
}

Words asWords(const std::vector<uint16_t> &w) {
    Words out;
    for (uint16_t v : w)
        out.append(v);
    return out;
}

constexpr int kStatus = 0x0200, kFlags = 0x0214, kSystem = 0x0020, kUnit = 0x0026, kSlave = 0x002C,
              kSetRelays = 0xA002, kClock = 0xA010, kLogInfo = 0xB000, kLogSelect = 0xB003,
              kLogSlot = 0xB004;
constexpr int kOn = 0x4000;

} // namespace

class SimControllerTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<sim::Controller> sim;
    std::unique_ptr<Master> master;

    void startSim(sim::Options options = {}) {
        sim = std::make_unique<sim::Controller>(options);
        QVERIFY(sim->start());
        master = std::make_unique<Master>(sim->portName(), options.slaveId);
        QVERIFY(master->isOpen());
    }
    Words read(int address, int count) {
        std::vector<uint16_t> regs;
        return master->read(address, count, &regs) == 0 ? asWords(regs) : Words{};
    }
    int read1(int address) { return read(address, 1).value(0, -1); }
    // The selected log slot after selecting `slot`.
    Words slot(int slot) {
        return master->write(kLogSelect, uint16_t(slot)) == 0 ? read(kLogSlot, 9) : Words{};
    }

  private Q_SLOTS:
    void init() { QLocale::setDefault(QLocale::c()); }
    void cleanup() {
        master.reset();
        sim.reset();
    }

    void keepsWhatIsWritten_data() {
        QTest::addColumn<int>("address");
        QTest::addColumn<Words>("values");
        QTest::newRow("system") << kSystem
                                << Words{5, 0xFFFB, 0, 1, 1234, 9999, 0, 0, 1, 0, 720, 240, 0};
        QTest::newRow("relay 4 block")
            << 0x0700 << Words{2,  0xFE0C, 3,  4,  5,      6, 7, 8, 65036,  10,     11, 12,
                               13, 14,     15, 16, 0xFFFF, 1, 0, 0, 0xABCD, 0x1234, 7,  0};
        QTest::newRow("calibration") << 0xA017 << Words{0xFFFF, 0x0001, 1};
        QTest::newRow("clock format") << 0x0027 << Words{0, 1};
    }
    void keepsWhatIsWritten() {
        QFETCH(int, address);
        QFETCH(Words, values);
        startSim();
        QCOMPARE(master->write(address, words(values)), 0);
        QCOMPARE(read(address, int(values.size())), values);
    }

    void operationCodeShowsTwice() {
        startSim();
        QCOMPARE(master->write(0x0003, words({2, 7, 8, 0})), 0);
        for (int r = 0; r < 4; ++r)
            QCOMPARE(read1(0x0400 + 0x100 * r), Words({2, 7, 8, 0})[r]);
        QCOMPARE(master->write(0x0500, uint16_t(5)), 0);
        QCOMPARE(read(0x0003, 4), Words({2, 5, 8, 0}));
    }

    void factoryDefaults_data() {
        QTest::addColumn<QString>("model");
        QTest::addColumn<Words>("operations");
        QTest::newRow("qx4r") << "qx4r" << Words{1, 3, 4, 6};
        QTest::newRow("qx2n") << "qx2n" << Words{1, 3, 0, 0};
        QTest::newRow("qx1n") << "qx1n" << Words{1, 0, 0, 0};
    }
    void factoryDefaults() {
        QFETCH(QString, model);
        QFETCH(Words, operations);
        sim::Options o;
        o.model = model.toStdString();
        startSim(o);
        const Words defaults = read(kSystem, 13);
        QCOMPARE(defaults, Words({0, 0, 0, 0, 0, 0, 0, 1, 0, 1, 0, 0, 0}));
        QCOMPARE(read(0x0003, 4), operations);
        const Words relay1 = read(0x0400, 24);
        QCOMPARE(relay1.mid(0, 8), Words({1, 50, 0xFF9C, 150, 0xFE0C, 1100, 20, 0}));

        QCOMPARE(master->write(kSystem, words({1, 2, 3, 4, 5, 6, 1, 0, 1, 0, 7, 8, 1})), 0);
        QCOMPARE(master->write(0x0003, words({8, 8, 8, 8})), 0);
        QCOMPARE(master->write(0x0401, uint16_t(999)), 0);
        QCOMPARE(read1(kFlags), 3);
        QCOMPARE(master->write(0xA000, uint16_t(0)), 0);
        QCOMPARE(read(kSystem, 13), defaults);
        QCOMPARE(read(0x0003, 4), operations);
        QCOMPARE(read(0x0400, 24), relay1);
        QCOMPARE(read1(kFlags), 0);
    }

    void actionRegistersTakeZero_data() {
        QTest::addColumn<int>("address");
        QTest::newRow("factory defaults") << 0xA000;
        QTest::newRow("statistics") << 0xA001;
        QTest::newRow("clock output") << 0xA003;
        QTest::newRow("log clear") << 0xB002;
    }
    void actionRegistersTakeZero() {
        QFETCH(int, address);
        startSim();
        QCOMPARE(master->write(address, uint16_t(1)), 3);
        QCOMPARE(master->write(address, uint16_t(0)), 0);
        QCOMPARE(read1(address), 0);
    }

    void sensorStatus_data() {
        QTest::addColumn<int>("sensor");
        QTest::addColumn<int>("state");
        QTest::addColumn<int>("tenths");
        QTest::newRow("valid") << 0 << 1 << 250;
        QTest::newRow("negative") << 1 << 1 << -100;
        QTest::newRow("short") << 2 << 2 << 0;
        QTest::newRow("open") << 3 << 3 << 1100;
        QTest::newRow("not ready") << 3 << 0 << 0;
    }
    void sensorStatus() {
        QFETCH(int, sensor);
        QFETCH(int, state);
        QFETCH(int, tenths);
        startSim();
        sim->setSensor(sensor, sim::SensorState(state), tenths);
        const Words status = read(kStatus, 21);
        QCOMPARE(status.size(), 21);
        QCOMPARE(status[4 + 4 * sensor], state);
        QCOMPARE(int16_t(status[5 + 4 * sensor]), tenths);
    }

    void statisticsFollowAndRestart() {
        startSim();
        sim->setSensor(0, sim::SensorState::Valid, 100);
        sim->setSensor(0, sim::SensorState::Valid, 300);
        sim->setSensor(0, sim::SensorState::Valid, 200);
        sim->setSensor(0, sim::SensorState::Open, 900); // no reading: statistics stay
        QCOMPARE(read(0x0205, 3), Words({900, 40, 300}));
        sim->setSensor(0, sim::SensorState::Valid, 200);
        QCOMPARE(master->write(0xA001, uint16_t(0)), 0);
        QCOMPARE(read(0x0205, 3), Words({200, 200, 200}));
        sim->setSensor(0, sim::SensorState::Valid, 150);
        QCOMPARE(read(0x0205, 3), Words({150, 150, 200}));
    }

    void fahrenheit() {
        startSim();
        sim->setSensor(0, sim::SensorState::Valid, 250);
        const Words celsius = read(0x0400, 8);
        QCOMPARE(master->write(kUnit, uint16_t(1)), 0);
        QCOMPARE(read1(kFlags), 1);
        QCOMPARE(read(0x0205, 3), Words({770, 392, 770})); // 25.0, min 4.0, max 25.0 °C
        // Relay temperatures follow the unit: SP 5.0 °C is 41.0 °F.
        QCOMPARE(read(0x0400, 3), Words({1, 410, 140}));
        sim->setSensor(0, sim::SensorState::Valid, -40);
        QCOMPARE(read1(0x0205), 0xFFD8);
        QCOMPARE(master->write(kUnit, uint16_t(0)), 0);
        QCOMPARE(read1(kFlags), 0);
        QCOMPARE(read1(0x0205), 0xFF38); // -4.0 °F is -20.0 °C
        QCOMPARE(read(0x0400, 8), celsius);
    }

    void slaveModeRelays_data() {
        QTest::addColumn<QString>("model");
        QTest::addColumn<int>("bits");
        QTest::addColumn<Words>("states");
        QTest::newRow("qx4r 1, 3") << "qx4r" << 0x5 << Words{kOn, 0, kOn, 0};
        QTest::newRow("qx4r all") << "qx4r" << 0xF << Words{kOn, kOn, kOn, kOn};
        QTest::newRow("qx2n ignores 3, 4") << "qx2n" << 0xE << Words{0, kOn, 0, 0};
        QTest::newRow("upper bits ignored") << "qx4r" << 0xFFF2 << Words{0, kOn, 0, 0};
    }
    void slaveModeRelays() {
        QFETCH(QString, model);
        QFETCH(int, bits);
        QFETCH(Words, states);
        sim::Options o;
        o.model = model.toStdString();
        startSim(o);
        QCOMPARE(master->write(kSetRelays, uint16_t(bits)), 1); // refused while autonomous
        QCOMPARE(master->write(kSlave, uint16_t(1)), 0);
        QCOMPARE(read1(kFlags), 2);
        QCOMPARE(master->write(kSetRelays, uint16_t(bits)), 0);
        QCOMPARE(read(kStatus, 4), states);
    }

    void leavingSlaveModeSettlesRelays() {
        startSim();
        sim->setRelayLogic(true);
        sim->setSlaveMode(true);
        QCOMPARE(master->write(kSetRelays, uint16_t(0xF)), 0);
        QCOMPARE(master->write(kSlave, uint16_t(0)), 0);
        QCOMPARE(read(kStatus, 4), Words({0, 0, 0, 0})); // 4.0 is below the set point
    }

    void autonomousRelaysFollowTemperature() {
        startSim(); // relay 1 cooling SP 5.0 DT 2.0, 3 fan with it, 4 backing up relay 1
        sim->setSensor(0, sim::SensorState::Valid, 60);
        sim->setReg(kStatus + 1, kOn);
        QCOMPARE(read(kStatus, 4), Words({0, kOn, 0, 0})); // no logic: as set by hand
        sim->setRelayLogic(true);
        struct Step {
            int tenths;
            Words states;
        };
        const Step steps[] = {
            {60, {0, 0, 0, 0}},       // defrost off; inside the differential: stays off
            {71, {kOn, 0, kOn, kOn}}, // above SP + DT
            {55, {kOn, 0, kOn, kOn}}, // inside: stays on
            {50, {0, 0, 0, 0}},       // down to SP
        };
        for (const Step &s : steps) {
            sim->setSensor(0, sim::SensorState::Valid, s.tenths);
            QCOMPARE(read(kStatus, 4), s.states);
        }
        QCOMPARE(read(kLogInfo, 2), Words({100, 6})); // defrost off, three on, three off
        QCOMPARE(slot(0).value(0), 0x34);             // relay 2 off, defrost
        QCOMPARE(slot(1).value(0), 0x11);             // relay 1 on, refrigeration
        QCOMPARE(slot(6).value(0), 0x6C);             // relay 4 off, auxiliary
    }

    void logRecordsSwitching_data() {
        QTest::addColumn<bool>("fahrenheit");
        QTest::addColumn<int>("state");
        QTest::addColumn<int>("tenths");
        QTest::addColumn<int>("sensorWord");
        QTest::newRow("celsius") << false << 1 << 40 << 0x0028;
        QTest::newRow("negative") << false << 1 << -125 << 0x807D;
        QTest::newRow("fahrenheit") << true << 1 << -125 << 0x907D;
        QTest::newRow("short") << false << 2 << 0 << 0x2000;
        QTest::newRow("open") << true << 3 << 0 << 0x5000;
        QTest::newRow("starting") << false << 0 << 0 << 0x6000;
    }
    void logRecordsSwitching() {
        QFETCH(bool, fahrenheit);
        QFETCH(int, state);
        QFETCH(int, tenths);
        QFETCH(int, sensorWord);
        startSim();
        sim->setSlaveMode(true);
        sim->setFahrenheit(fahrenheit);
        sim->setSensor(0, sim::SensorState(state), tenths);
        QCOMPARE(read(kLogInfo, 2), Words({100, 0xFFFF}));
        const QDateTime before = QDateTime::currentDateTime();
        QCOMPARE(master->write(kSetRelays, uint16_t(1)), 0);
        const Words s = slot(0);
        QCOMPARE(read(kLogInfo, 2), Words({100, 0}));
        QCOMPARE(s.value(0), 0x11);
        QCOMPARE(s.value(1), sensorWord);
        const QDateTime stamp(QDate(s[3], s[4], s[5]), QTime(s[6], s[7], s[8]));
        QVERIFY2(qAbs(stamp.secsTo(before)) < 5, qPrintable(stamp.toString()));
    }

    void logClearAndSelect() {
        sim::Options o;
        o.preloadEvents = 3;
        startSim(o);
        QCOMPARE(read(kLogInfo, 2), Words({100, 2}));
        QCOMPARE(master->write(kLogSelect, uint16_t(100)), 3);
        QCOMPARE(master->write(kLogSelect, uint16_t(0xFFFF)), 3);
        QVERIFY(slot(2).value(3) > 2000);
        QCOMPARE(master->write(0xB002, uint16_t(0)), 0);
        QCOMPARE(read(kLogInfo, 2), Words({100, 0xFFFF}));
        QCOMPARE(slot(2), Words(9, 0));
    }

    void logRingWraps_data() {
        QTest::addColumn<int>("slots");
        QTest::addColumn<int>("preload");
        QTest::addColumn<int>("last");
        QTest::newRow("empty") << 100 << 0 << 0xFFFF;
        QTest::newRow("one") << 100 << 1 << 0;
        QTest::newRow("full") << 3 << 3 << 2;
        QTest::newRow("wrapped") << 3 << 5 << 1;
    }
    void logRingWraps() {
        QFETCH(int, slots);
        QFETCH(int, preload);
        QFETCH(int, last);
        sim::Options o;
        o.logSlots = slots;
        o.preloadEvents = preload;
        startSim(o);
        QCOMPARE(read(kLogInfo, 2), Words({slots, last}));
        if (preload > 1) // newest in the last slot, ten minutes after the one before
            QVERIFY(slot(last).mid(3) > slot(last == 0 ? slots - 1 : last - 1).mid(3));
    }

    void addedLogSlotIsReadAsGiven() {
        startSim();
        sim->addLogSlot({0x0152, 0x907D, 0x6000, 2016, 0x0C05, 30, 24, 0, 0});
        QCOMPARE(read(kLogInfo, 2), Words({100, 0}));
        QCOMPARE(slot(0), Words({0x0152, 0x907D, 0x6000, 2016, 0x0C05, 30, 24, 0, 0}));
    }

    void rawRegisters() {
        startSim();
        sim->setReg(0x0205, 0xFF9C);
        sim->setReg(0x0204, 0x0013);
        sim->setReg(kStatus + 1, 0xBFFF);
        sim->setReg(kLogInfo, 3);
        sim->setReg(0xB001, 1);
        QCOMPARE(read(kStatus, 6), Words({0, 0xBFFF, 0, 0, 0x0013, 0xFF9C}));
        QCOMPARE(read(kLogInfo, 2), Words({3, 1}));
        QCOMPARE(sim->reg(0x0205), uint16_t(0xFF9C));
    }

    void clockRunsFromHost() {
        startSim();
        const QDateTime host = QDateTime::currentDateTime();
        const Words c = read(kClock, 7);
        const QDateTime simulated(QDate(c[0], c[1], c[2]), QTime(c[4], c[5], c[6]));
        QVERIFY2(qAbs(host.secsTo(simulated)) < 5, qPrintable(simulated.toString()));
        QCOMPARE(c[3], QDate(c[0], c[1], c[2]).dayOfWeek() % 7);

        sim->setClockOffsetSeconds(86400LL * 10);
        const Words later = read(kClock, 7);
        QCOMPARE(QDate(c[0], c[1], c[2]).daysTo(QDate(later[0], later[1], later[2])), 10);
    }

    void clockKeepsWhatIsSet_data() {
        QTest::addColumn<int>("address");
        QTest::addColumn<Words>("values");
        QTest::addColumn<Words>("expected"); // -1: whatever the clock shows
        QTest::addColumn<bool>("stopped");
        QTest::newRow("date and weekday as given")
            << kClock << Words{2016, 2, 29, 3} << Words{2016, 2, 29, 3, -1, -1, -1} << false;
        QTest::newRow("time") << 0xA014 << Words{10, 20, 30} << Words{-1, -1, -1, -1, 10, 20, 30}
                              << false;
        QTest::newRow("weekday out of range")
            << 0xA013 << Words{9} << Words{-1, -1, -1, 9, -1, -1, -1} << false;
        QTest::newRow("invalid date")
            << kClock << Words{2016, 2, 30, 2} << Words{2016, 2, 30, 2, -1, -1, -1} << true;
        QTest::newRow("invalid time")
            << 0xA014 << Words{24, 0, 0} << Words{-1, -1, -1, -1, 24, 0, 0} << true;
    }
    void clockKeepsWhatIsSet() {
        QFETCH(int, address);
        QFETCH(Words, values);
        QFETCH(Words, expected);
        QFETCH(bool, stopped);
        startSim();
        QCOMPARE(master->write(address, words(values)), 0);
        const Words now = read(kClock, 7);
        for (int i = 0; i < 7; ++i) {
            if (expected[i] < 0)
                continue;
            if (i == 6 && !stopped) // a running clock's seconds move on
                QVERIFY(now[i] >= expected[i] && now[i] < expected[i] + 5);
            else
                QCOMPARE(now[i], expected[i]);
        }
        if (stopped)
            QCOMPARE(read(kClock, 7), now);
    }

    void driftMovesTemperatures() {
        startSim();
        const Words before = read(0x0205, 3);
        sim->setDrift(true);
        QTRY_VERIFY_WITH_TIMEOUT(read1(0x0205) != before[0], 10000);
        const Words after = read(0x0205, 3);
        QVERIFY(after[1] <= qMin(before[1], after[0]));
        QVERIFY(after[2] >= qMax(before[2], after[0]));
    }
};

QTEST_GUILESS_MAIN(SimControllerTest)
#include "tst_sim_controller.moc"
