// The window records the connected controller into the history file
// whatever page it shows, and its Histórico page follows the connection.
#include "app_fixture.h"
#include "history_store.h"
#include "history_tap.h"

#include <QComboBox>
#include <QDoubleSpinBox>

class tst_history_window : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void recordsWhileConnectedOnAnyPage();
    void writeIsAudited();
    void unopenableHistoryDoesNotHoldTheWrite();
};

namespace {
// Writes OFS1 from the system page.
void WriteOffset(App &app, double value) {
    app.Click("btnMenuPAR");
    app.Find<QDoubleSpinBox>("edtOffSet1")->setValue(value);
    app.Click("btnWritePAR");
    QCOMPARE(app.Status(), QStringLiteral("Gravação dos parâmetros feita com sucesso"));
}
} // namespace

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

// One write from a page, one row: who, what, and the field with the value
// the page had read.
void tst_history_window::writeIsAudited() {
    Sim sim;
    QVERIFY(sim.started);
    App app;
    TfrmMain &w = app.Start(sim.Port());
    w.show();
    app.Click("btnCnt");
    WriteOffset(app, 1.5);
    app.Stop();

    tHistoryStore store;
    QVERIFY(store.Open(app.Path(QStringLiteral("historico.sqlite"))));
    const std::vector<tHistAuditEntry> rows = store.Audits(0, 0, INT64_MAX);
    QCOMPARE(rows.size(), size_t(1));
    const tHistAudit &a = rows.front().audit;
    QCOMPARE(a.user, OsUserName());
    QCOMPARE(a.command, QStringLiteral("Parâmetros de sistema"));
    QVERIFY(a.result > 0);
    QCOMPARE(a.fields.size(), size_t(1));
    QCOMPARE(a.fields[0].code, QStringLiteral("OFS1"));
    QCOMPARE(a.fields[0].oldValue, QStringLiteral("0,0ºC"));
    QCOMPARE(a.fields[0].newValue, QStringLiteral("1,5ºC"));
}

// A history file that cannot be opened is said once on the status line and
// memo; the writes go on.
void tst_history_window::unopenableHistoryDoesNotHoldTheWrite() {
    Sim sim;
    QVERIFY(sim.started);
    App app;
    QFile notAFolder(app.Path(QStringLiteral("arquivo")));
    QVERIFY(notAFolder.open(QIODevice::WriteOnly));
    notAFolder.close();
    qputenv("TARVIK_HISTORICO", (notAFolder.fileName() + "/historico.sqlite").toLocal8Bit());
    TfrmMain &w = app.Start(sim.Port());
    w.show();
    app.Click("btnCnt");
    WriteOffset(app, 1.5);
    WriteOffset(app, -2.0);
    qunsetenv("TARVIK_HISTORICO");
    QCOMPARE(int16_t(sim.controller->reg(0x0020)), int16_t(-20));
    QCOMPARE(app.MemoLines().filter(QStringLiteral("gravações no Ondrel")).size(), 1);
    app.Stop();
}

QTEST_MAIN(tst_history_window)
#include "tst_history_window.moc"
