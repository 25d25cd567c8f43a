// "Ajustar Rele 1" to "Ajustar Rele 4" in the window: the first-visit read,
// "Gravar" only over a block the controller gave, and the page that follows
// the operation a read brings.
#include "app_fixture.h"
#include "status_screen.h"

#include <QTabWidget>
#include <QTimer>

class tst_relay_menu : public QObject {
    Q_OBJECT

    // The window connected to `sim`, without the status refresh, so that
    // every request a test counts is one it caused.
    static TfrmMain &Connect(App &app, Sim &sim) {
        TfrmMain &w = app.Start(sim.Port());
        w.show();
        app.Click("btnCnt");
        w.StatusScreen()->timerProcess()->stop();
        return w;
    }
    static QString Shown(const App &app) {
        const QWidget *page = app.w->CurrentPage();
        return page ? page->objectName() : QString();
    }
    static bool Enabled(const App &app, const QString &name) {
        return app.Find<QWidget>(name)->isEnabled();
    }

  private Q_SLOTS:
    // The first press reads relay 2 even when the read fails, and no later
    // press reads again; the page filled from nothing cannot be written.
    void firstVisitReadsEvenWhenItFails() {
        Sim sim;
        QVERIFY(sim.started);
        App app;
        Connect(app, sim);
        sim::Controller &ctl = *sim.controller;
        app.Click("btnMenuStatus"); // brings the unit
        ctl.setFault(sim::Fault::Exception, 2, 1);
        const int before = ctl.requestCount();
        app.Click("btnMenuRelay2");
        QCOMPARE(ctl.requestCount(), before + 1);
        const std::vector<uint8_t> request = ctl.lastRequest();
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(request.data()) + 1, 5).toHex(),
                 "0305000018");
        QCOMPARE(app.Find<QPushButton>("btnMenuRelay2")->property("tag").toInt(), 1);
        QCOMPARE(app.dialogs->shown, QStringList{"warning: ILLEGAL DATA ADDRESS"});
        QCOMPARE(Shown(app), "pnlDefrost");
        QVERIFY(!Enabled(app, "btnDefrostWrite"));

        app.Click("btnMenuRelay2");
        QCOMPARE(ctl.requestCount(), before + 1);
        app.Click("btnDefrostRead");
        QCOMPARE(ctl.requestCount(), before + 2);
        QVERIFY(Enabled(app, "btnDefrostWrite"));
        // A new connection forgets the block.
        app.Click("btnMenuMain");
        app.Click("btnCnt");
        QVERIFY(!Enabled(app, "btnDefrostWrite"));
        app.Click("btnCnt");
        QVERIFY(!Enabled(app, "btnDefrostWrite"));
    }

    // "Ler" that brings another operation shows that operation's page, and
    // "Gravar" there writes the operation read back unchanged.
    void readShowsThePageOfTheOperationItBrings() {
        Sim sim;
        QVERIFY(sim.started);
        App app;
        Connect(app, sim);
        app.Click("btnMenuRelay1");
        QCOMPARE(Shown(app), "pnlCold");
        sim.controller->setReg(0x0400, 4);
        app.Click("btnColdRead");
        QCOMPARE(Shown(app), "pnlFan");
        QCOMPARE(app.Find<QLabel>("lblCaptionFan")->text(), "Rele1 - Ventilador");
        app.Click("btnFanWrite");
        QCOMPARE(app.Status(), "Gravação dos parâmetros feita com sucesso");
        QCOMPARE(sim.controller->reg(0x0400), 4);
    }

    // "Timer" chosen on a conditional timer relay: the next cooling relay
    // opens on "Principal".
    void coolingRelayOpensOnPrincipal() {
        Sim sim;
        QVERIFY(sim.started);
        sim.controller->setReg(0x0004, 8);
        App app;
        Connect(app, sim);
        auto *tabs = app.Find<QTabWidget>("tabCold");
        app.Click("btnMenuRelay2");
        QCOMPARE(app.Find<QLabel>("lblCaptionCold")->text(), "Rele2 - Timer Condicional");
        QVERIFY(tabs->isTabVisible(3));
        tabs->setCurrentIndex(3);
        app.Click("btnMenuRelay1");
        QCOMPARE(app.Find<QLabel>("lblCaptionCold")->text(), "Rele1 - Refrigeração");
        QVERIFY(!tabs->isTabVisible(3));
        QCOMPARE(tabs->currentIndex(), 0);
    }
};

QTEST_MAIN(tst_relay_menu)
#include "tst_relay_menu.moc"
