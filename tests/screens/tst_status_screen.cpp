#include "relay_operations.h"
#include "screen_test_host.h"
#include "status_color_button.h"
#include "status_print.h"
#include "status_screen.h"
#include "status_tag.h"
#include "temperature.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

namespace {

constexpr int regRELAY_STATE = 0x0200;
constexpr int regSET_RELAYS = 0xA002;

const QString slaveWarning = QStringLiteral(
    "Somente se pode ligar ou desligar quando o Ondrel estiver configurado no modo escravo.");

template <typename T> T *child(const QWidget *page, const char *prefix, int p, int k = 0) {
    const QString name = k ? QStringLiteral("%1%2_%3").arg(QLatin1String(prefix)).arg(p).arg(k)
                           : QStringLiteral("%1%2").arg(QLatin1String(prefix)).arg(p);
    return page->findChild<T *>(name);
}

QLabel *label(const QWidget *page, const char *prefix, int p, int k) {
    return child<QLabel>(page, prefix, p, k);
}

} // namespace

class TestStatusScreen : public QObject {
    Q_OBJECT

  private Q_SLOTS:
    void initTestCase() { QLocale::setDefault(QLocale(QStringLiteral("pt_BR"))); }

    void printTemp_data() {
        QTest::addColumn<int>("sts");
        QTest::addColumn<int>("unit");
        QTest::addColumn<int>("value");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("min");
        QTest::addColumn<QString>("max");
        const QString none = QStringLiteral("---  ");
        QTest::newRow("valid") << 1 << 0 << 235 << "23,5ºC"
                               << "Min: 18ºC  "
                               << "Max: 30,1ºC  ";
        QTest::newRow("negative fahrenheit") << 1 << 1 << -5 << "-0,5ºF"
                                             << "Min: 18ºF  "
                                             << "Max: 30,1ºF  ";
        QTest::newRow("no group separator") << 1 << 0 << 32767 << "3276,7ºC"
                                            << "Min: 18ºC  "
                                            << "Max: 30,1ºC  ";
        QTest::newRow("reading") << 0 << 0 << 235 << "Lendo" << none << none;
        QTest::newRow("short") << 2 << 0 << 235 << "Curto" << none << none;
        QTest::newRow("open") << 3 << 0 << 235 << "Aberto" << none << none;
        QTest::newRow("unknown state") << 7 << 0 << 235 << "---" << none << none;
    }
    void printTemp() {
        QFETCH(int, sts);
        QFETCH(int, unit);
        QFETCH(int, value);
        QLabel v(QStringLiteral("TS")), n(QStringLiteral("MIN")), x(QStringLiteral("MAX"));
        // The sensor shown is the third, beside others that are valid.
        tStatusReading r{.result = 21, .unit = unit, .sensors = 4};
        r.state = {1, 1, sts, 1};
        r.value[2] = value;
        r.min[2] = 180;
        r.max[2] = 301;
        PrintTemp(&v, &n, &x, r, 2);
        QTEST(v.text(), "shown");
        QTEST(n.text(), "min");
        QTEST(x.text(), "max");
    }

    void printRelayDrawsOnlyChanges() {
        QLabel state(QStringLiteral("Desligado"));
        SetTag(&state, 0);
        TColorButton lamp;
        printRelay(&state, &lamp, 1);
        QCOMPARE(state.text(), QStringLiteral("Ligado"));
        QCOMPARE(lamp.color(), 0xFF00FF00u);
        QCOMPARE(Tag(&state), 1);

        state.setText(QStringLiteral("marker"));
        printRelay(&state, &lamp, 1);
        QCOMPARE(state.text(), QStringLiteral("marker"));

        printRelay(&state, &lamp, 0);
        QCOMPARE(state.text(), QStringLiteral("Desligado"));
        QCOMPARE(lamp.property("color").toUInt(), 0xFF000000u);
    }

    void operationNames_data() {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("name");
        QTest::newRow("none") << 0 << "Sem Operação";
        QTest::newRow("heater") << 5 << "Trocador de Calor";
        QTest::newRow("conditional timer") << 8 << "Timer Condicional";
        QTest::newRow("negative") << -1 << "---------";
        QTest::newRow("placeholder entry") << 9 << "---------";
        QTest::newRow("above the table") << 12 << "---------";
        QTest::newRow("far above") << 65535 << "---------";
    }
    void operationNames() {
        QFETCH(int, code);
        QLabel l(QStringLiteral("Modo"));
        PrintOpRelay(&l, code);
        QTEST(l.text(), "name");
    }

    void pagesPerModel_data() {
        QTest::addColumn<QString>("model");
        QTest::addColumn<int>("page");
        QTest::addColumn<int>("sensors");
        QTest::addColumn<int>("relays");
        QTest::addColumn<QString>("title");
        const QString plural = QStringLiteral("Status de Temperaturas e Reles");
        QTest::newRow("qx1n") << "qx1n" << 1 << 1 << 1 << "Status de Temperatura e Rele";
        QTest::newRow("qx2r") << "qx2r" << 2 << 2 << 2 << plural;
        QTest::newRow("qx3r") << "qx3r" << 3 << 4 << 3 << plural;
        QTest::newRow("qx4r") << "qx4r" << 4 << 4 << 4 << plural;
    }
    void pagesPerModel() {
        QFETCH(QString, model);
        QFETCH(int, page);
        QFETCH(int, sensors);
        QFETCH(int, relays);
        QFETCH(QString, title);
        TestHost host;
        QVERIFY(host.Connect(model.toStdString()));
        for (int s = 0; s < 4; ++s)
            host.sim->setSensor(s, sim::SensorState::Valid, 200 + 15 * s);
        const std::array<int, 4> codes{opCOLD, opDEFROST, opTIMER, opAUX};
        for (int k = 0; k < 4; ++k)
            host.sim->setReg(3 + k, uint16_t(codes[k]));
        host.sim->setReg(regRELAY_STATE + relays - 1, 0x4000);
        QVERIFY(host.dev.SendCommand(cmdGET_INFO) > 0);

        QWidget holder;
        TStatusScreen screen(host, &holder);
        QWidget *w = screen.page(host.dev.nRelay);
        QCOMPARE(w->objectName(), QStringLiteral("pnlStatus%1").arg(page));
        QVERIFY(w->findChildren<QLabel *>().first()->text() == title);
        QCOMPARE(w->findChildren<TColorButton *>().size(), relays);

        screen.PrintOpRelays();
        child<QPushButton>(w, "btnStatusRead", page)->click();
        QCOMPARE(host.reports, (QStringList{"Lendo temperatura e estados dos reles",
                                            "Leituras feitas com sucesso"}));
        QCOMPARE(host.popups, 0);
        for (int k = 1; k <= 4; ++k) {
            QLabel *ts = label(w, "lblTS", page, k);
            QCOMPARE(ts != nullptr, k <= sensors);
            if (ts)
                QCOMPARE(ts->text(), tenthsText(200 + 15 * (k - 1)) + QStringLiteral("ºC"));
        }
        for (int k = 1; k <= relays; ++k) {
            const bool on = k == relays;
            QCOMPARE(label(w, "lblRL", page, k)->text(),
                     on ? QStringLiteral("Ligado") : QStringLiteral("Desligado"));
            QCOMPARE(child<TColorButton>(w, "cbtRL", page, k)->color(),
                     on ? clRELAY_ON : clRELAY_OFF);
            QCOMPARE(label(w, "lblOPRL", page, k)->text(),
                     QString::fromUtf8(opRELAY[size_t(codes[k - 1])]));
        }
        // Only the model's page is written.
        for (int p = 1; p <= 4; ++p)
            if (p != page)
                QCOMPARE(label(screen.page(p), "lblTS", p, 1)->text(), QStringLiteral("TS"));
    }

    void relaySwitching() {
        TestHost host;
        QVERIFY(host.Connect("qx4r"));
        QWidget holder;
        TStatusScreen screen(host, &holder);
        QWidget *w = screen.page(4);
        host.sim->setReg(regRELAY_STATE + 0, 0x4000);
        host.sim->setReg(regRELAY_STATE + 3, 0x4000);
        host.sim->setSlaveMode(false);
        screen.btnStatusRead4Click();

        // Outside slave mode: a warning and no traffic.
        int requests = host.sim->requestCount();
        child<TColorButton>(w, "cbtRL", 4, 2)->click();
        QCOMPARE(host.warnings, QStringList{slaveWarning});
        QCOMPARE(host.sim->requestCount(), requests);
        QCOMPARE(host.dev.Relay[1].sts, 0);

        host.sim->setSlaveMode(true);
        screen.btnStatusRead4Click();
        host.Clear();
        child<TColorButton>(w, "cbtRL", 4, 2)->click();
        QVERIFY(host.warnings.isEmpty());
        QCOMPARE(host.sim->reg(regSET_RELAYS), uint16_t(0x000B));
        QCOMPARE(host.reports,
                 (QStringList{"Atualizando estados dos reles", "Atualizando feita com sucesso"}));
        QCOMPARE(label(w, "lblRL", 4, 2)->text(), QStringLiteral("Ligado"));
        QCOMPARE(child<TColorButton>(w, "cbtRL", 4, 2)->color(), clRELAY_ON);

        // A refused switch is forgotten, so it does not ride along with the
        // next one.
        host.sim->setFault(sim::Fault::Exception, 4, 1);
        child<TColorButton>(w, "cbtRL", 4, 3)->click();
        QCOMPARE(host.errors, QList<int32_t>{-4});
        QCOMPARE(label(w, "lblRL", 4, 3)->text(), QStringLiteral("Desligado"));
        QCOMPARE(host.dev.Relay[2].sts, 0);
        child<TColorButton>(w, "cbtRL", 4, 2)->click();
        QCOMPARE(host.sim->reg(regSET_RELAYS), uint16_t(0x0009));
        QCOMPARE(label(w, "lblRL", 4, 2)->text(), QStringLiteral("Desligado"));
    }

    void automaticUpdateIsSilentAndResumes() {
        TestHost host;
        QVERIFY(host.Connect("qx1n"));
        QWidget holder;
        TStatusScreen screen(host, &holder);
        QLabel *ts = label(screen.page(1), "lblTS", 1, 1);
        host.sim->setSensor(0, sim::SensorState::Valid, 250);
        screen.timerProcess()->start();

        // Off: ticks send nothing.
        const int requests = host.sim->requestCount();
        screen.timerProcessTimer();
        QCOMPARE(host.sim->requestCount(), requests);

        child<QCheckBox>(screen.page(2), "cbxUpdate", 2)->click();
        QVERIFY(screen.AutoUpdate());
        for (int p = 1; p <= 4; ++p) {
            QVERIFY(child<QCheckBox>(screen.page(p), "cbxUpdate", p)->isChecked());
            QVERIFY(!child<QPushButton>(screen.page(p), "btnStatusRead", p)->isEnabled());
        }
        QTRY_COMPARE_WITH_TIMEOUT(ts->text(), QStringLiteral("25ºC"), 10000);

        host.Clear();
        host.dev.ErrorCom = 0;
        host.sim->setFault(sim::Fault::Silence);
        host.sim->setSensor(0, sim::SensorState::Valid, 300);
        QTRY_COMPARE_WITH_TIMEOUT(host.dev.ErrorCom, -6, 10000);
        QVERIFY(host.warnings.isEmpty());
        QVERIFY(host.reports.isEmpty());
        QCOMPARE(ts->text(), QStringLiteral("25ºC"));

        host.sim->clearFault();
        QTRY_COMPARE_WITH_TIMEOUT(ts->text(), QStringLiteral("30ºC"), 10000);
        QVERIFY(host.warnings.isEmpty());
        QVERIFY(host.reports.isEmpty());

        // A tick that meets an exchange in progress waits for its end.
        screen.timerProcess()->stop();
        host.dev.Busy = true;
        const int before = host.sim->requestCount();
        screen.timerProcessTimer();
        screen.timerProcessTimer();
        QCOMPARE(host.sim->requestCount(), before);
        host.dev.Busy = false;
        QTRY_COMPARE(host.sim->requestCount(), before + 1);

        child<QCheckBox>(screen.page(4), "cbxUpdate", 4)->click();
        QVERIFY(!screen.AutoUpdate());
        for (int p = 1; p <= 4; ++p) {
            QVERIFY(!child<QCheckBox>(screen.page(p), "cbxUpdate", p)->isChecked());
            QVERIFY(child<QPushButton>(screen.page(p), "btnStatusRead", p)->isEnabled());
        }
    }

    void restartStatistics() {
        TestHost host;
        QVERIFY(host.Connect("qx2r"));
        QWidget holder;
        TStatusScreen screen(host, &holder);
        child<QPushButton>(screen.page(2), "btnInitStat", 2)->click();
        QCOMPARE(host.reports, (QStringList{"Envio de comando de reinicio da estatísticas",
                                            "Lendo temperatura e estados dos reles",
                                            "Leituras feitas com sucesso",
                                            "Reinicio da estatística feito com sucesso"}));

        // A refused restart reads nothing.
        host.Clear();
        host.sim->setFault(sim::Fault::Exception, 4, 1);
        const int requests = host.sim->requestCount();
        screen.btnInitStat4Click();
        QCOMPARE(host.errors, QList<int32_t>{-4});
        QCOMPARE(host.reports,
                 (QStringList{"Envio de comando de reinicio da estatísticas", "Modbus error -4"}));
        QCOMPARE(host.sim->requestCount(), requests + 1);
    }
};

QTEST_MAIN(TestStatusScreen)
#include "tst_status_screen.moc"
