// The window records the connected controller into the history file
// whatever page it shows, and its Histórico page follows the connection.
#include "app_fixture.h"
#include "history_store.h"

#include <QComboBox>

class tst_history_window : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void recordsWhileConnectedOnAnyPage();
};

void tst_history_window::recordsWhileConnectedOnAnyPage() {
    Sim sim;
    QVERIFY(sim.started);
    App app;
    TfrmMain &w = app.Start(sim.Port());
    w.show();
    app.Click("btnCnt");
    // The history page reads nothing itself: the readings come from the
    // window's own watch.
    app.Click("btnMenuHist");
    QCOMPARE(w.CurrentPage()->objectName(), QStringLiteral("pnlHist"));

    tHistoryStore store;
    QVERIFY(store.Open(app.Path(QStringLiteral("historico.sqlite"))));
    int64_t id = 0;
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            for (const tHistController &c : store.Controllers())
                if (c.address == w.Ondrel().Address() && store.ReadingSpan(c.id))
                    id = c.id;
            return id != 0;
        }(),
        20000);
    // The page shows the connected controller.
    QCOMPARE(app.Find<QComboBox>("cbxHistController")->currentData().toLongLong(), id);
    // Built on its first visit, after connecting: it knows the connection.
    QVERIFY(app.Find<QComboBox>("cbxHistController")->currentText().endsWith("– conectado"));
    app.Stop();
}

QTEST_MAIN(tst_history_window)
#include "tst_history_window.moc"
