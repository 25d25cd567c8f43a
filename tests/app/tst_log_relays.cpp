// The relay event log read in the whole window: what goes only to the
// application log file, and a window closed while the read runs.
#include "app_fixture.h"
#include "app_settings.h"
#include "status_screen.h"

#include <QSpinBox>
#include <QTableWidget>
#include <QTimer>

class tst_log_relays : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void closingStopsTheReadFirst_data();
    void closingStopsTheReadFirst();
};

void tst_log_relays::closingStopsTheReadFirst_data() {
    QTest::addColumn<bool>("sair");
    QTest::newRow("window closed") << false;
    QTest::newRow("Sair") << true;
}

void tst_log_relays::closingStopsTheReadFirst() {
    QFETCH(bool, sair);
    Sim sim;
    QVERIFY(sim.started);
    for (int i = 0; i < 100; ++i)
        sim.controller->addLogSlot({.event = 0x11,
                                    .sensor1 = uint16_t(i),
                                    .year = 2024,
                                    .month = 3,
                                    .day = 5,
                                    .hour = 14,
                                    .minute = 7,
                                    .second = 9});
    App app;
    app.WriteIni("[SYSTEM]\nSAVE_LOG=1\n");
    TfrmMain &w = app.Start(sim.Port());
    w.show();
    app.Click("btnCnt");
    app.Click("btnMenuLog");
    app.Find<QSpinBox>("edtLogMax")->setValue(50);
    auto *grid = app.Find<QTableWidget>("stgRL1");
    // Closes the window between slots, once three rows are listed.
    QTimer poll;
    poll.setInterval(0);
    connect(&poll, &QTimer::timeout, &w, [&] {
        if (grid->rowCount() < 3)
            return;
        poll.stop();
        if (sair)
            app.Press("btnMenuSair");
        else
            w.close();
    });
    poll.start();

    bool idleWhenHidden = false;
    connect(&w.Session(), &tSession::exchanged, &w, [&] { QVERIFY(w.isVisible()); });
    app.Press("btnLogGet");

    // The read returns after the slot it was reading, with the window still
    // open; then the window closes, with no exchange after the read.
    QTRY_VERIFY_WITH_TIMEOUT(!w.isVisible(), 10000);
    idleWhenHidden = w.Session().Idle();
    QVERIFY(idleWhenHidden);
    const int rows = grid->rowCount();
    QVERIFY2(rows == 3 || rows == 4, qPrintable(QString::number(rows)));
    QVERIFY(!w.StatusScreen()->timerProcess()->isActive());
    QVERIFY(app.Status().startsWith(QStringLiteral("Eventos lidos: %1 em ").arg(rows)));
    QVERIFY(app.MemoLines().filter("lendo LOG").isEmpty());
    app.Stop();

    QVERIFY(app.ReadFile("tarvik.ini").contains("LOG_MAX_READ=50\r\n"));
    const QByteArray log = app.ReadFile(AppBaseName() + QStringLiteral(".log"));
    QVERIFY2(log.contains("Iniciado a leitura do LOG\r\nFinalizado a leitura do LOG\r\n"
                          "lendo LOG 99\r\nlendo LOG 98\r\nlendo LOG 97\r\n"),
             log.constData());
    QCOMPARE(log.count("lendo LOG"), rows);
}

QTEST_MAIN(tst_log_relays)
#include "tst_log_relays.moc"
