// The window records the connected controller into the history file
// whatever page it shows, and its Histórico page follows the connection.
#include "app_fixture.h"
#include "file_size_limit.h"
#include "history_page.h"
#include "history_store.h"
#include "history_tap.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QSpinBox>
#include <QTimer>

class tst_history_window : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void recordsWhileConnectedOnAnyPage();
    void refusingFileIsSaidOnceAndCaughtUp();
    void closingWhileTheFileRefusesSaysWhatIsLost();
    void writeIsAudited();
    void unopenableHistoryDoesNotHoldTheWrite();
    void pageReadWaitsForTheRecordingsRead();
};

namespace {
// Writes OFS1 from the system page.
void WriteOffset(App &app, double value) {
    app.Click("btnMenuPAR");
    app.Find<QDoubleSpinBox>("edtOffSet1")->setValue(value);
    const QString done = QStringLiteral("Gravação dos parâmetros feita com sucesso");
    const qsizetype before = app.MemoLines().count(done);
    app.Click("btnWritePAR");
    // A recording's read may be told after it.
    QCOMPARE(app.MemoLines().count(done), before + 1);
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

namespace {
int64_t ConnectedId(tHistoryStore &store, int32_t address) {
    for (const tHistController &c : store.Controllers())
        if (c.address == address)
            return c.id;
    return 0;
}

QStringList HistoryLines(const App &app) {
    return app.MemoLines().filter(QStringLiteral("Gravação do histórico"));
}
} // namespace

// A file that refuses (here: as a full disk) while the window records: said
// once, the page keeps following, and once the file takes writes again the
// readings held meanwhile go in, each once, in order.
void tst_history_window::refusingFileIsSaidOnceAndCaughtUp() {
    Sim sim;
    QVERIFY(sim.started);
    App app;
    app.WriteIni("[HISTORY]\nRECORD_INTERVAL=1\n");
    TfrmMain &w = app.Start(sim.Port());
    w.show();
    QCOMPARE(app.Find<QSpinBox>("edtRecInterval")->value(), 1);
    app.Click("btnCnt");
    app.Click("btnMenuHist");
    auto *page = w.findChild<THistoryPage *>(QStringLiteral("pnlHist"));
    QVERIFY(page);
    page->SetRange(THistoryPage::tRange::Hour);
    const auto liveUntil = [page] {
        const auto &sensor = page->Curve().sensors[0];
        return sensor.empty() ? int64_t(0) : sensor.back().lastMs;
    };

    tHistoryStore store;
    QVERIFY(store.Open(app.Path(QStringLiteral("historico.sqlite"))));
    const int32_t address = w.Ondrel().Address();
    QTRY_VERIFY_WITH_TIMEOUT(store.Readings(ConnectedId(store, address), 0, INT64_MAX).size() >= 2,
                             20000);
    int64_t refusedAt = 0;
    {
        const FileSizeLimit full(4096);
        QVERIFY(full.ok);
        QTRY_COMPARE_WITH_TIMEOUT(HistoryLines(app).size(), 1, 20000);
        QVERIFY2(HistoryLines(app)[0].contains(QStringLiteral("interrompida")),
                 qPrintable(HistoryLines(app)[0]));
        QVERIFY(app.Status().contains(QStringLiteral("Gravação do histórico interrompida")));
        refusedAt = QDateTime::currentMSecsSinceEpoch();
        // The page goes on following the controller.
        QTRY_VERIFY_WITH_TIMEOUT(liveUntil() > refusedAt + 2000, 20000);
        QCOMPARE(HistoryLines(app).size(), 1);
    }
    QTRY_COMPARE_WITH_TIMEOUT(HistoryLines(app).size(), 2, 20000);
    QVERIFY2(HistoryLines(app)[1].contains(QStringLiteral("retomada")),
             qPrintable(HistoryLines(app)[1]));
    // What was read while the file refused is there, once, in order.
    const std::vector<tStatusReading> readings =
        store.Readings(ConnectedId(store, address), 0, INT64_MAX);
    int64_t held = 0;
    for (size_t i = 1; i < readings.size(); ++i) {
        QVERIFY(readings[i].utcMs > readings[i - 1].utcMs);
        // The status is read every second: no gap beyond a few of them.
        QVERIFY2(readings[i].utcMs - readings[i - 1].utcMs < 4000,
                 qPrintable(QString::number(readings[i].utcMs - readings[i - 1].utcMs)));
        held += readings[i].utcMs > refusedAt && readings[i].utcMs < refusedAt + 2000;
    }
    QVERIFY(held >= 1);
    app.Stop();
}

// Closing the window while the file refuses: the readings held get a last
// few seconds, and what never goes in is said before the window goes.
void tst_history_window::closingWhileTheFileRefusesSaysWhatIsLost() {
    Sim sim;
    QVERIFY(sim.started);
    App app;
    app.WriteIni("[HISTORY]\nRECORD_INTERVAL=1\n");
    TfrmMain &w = app.Start(sim.Port());
    w.show();
    app.Click("btnCnt");
    tHistoryStore store;
    QVERIFY(store.Open(app.Path(QStringLiteral("historico.sqlite"))));
    const int32_t address = w.Ondrel().Address();
    QTRY_VERIFY_WITH_TIMEOUT(!store.Readings(ConnectedId(store, address), 0, INT64_MAX).empty(),
                             20000);
    {
        const FileSizeLimit full(4096);
        QVERIFY(full.ok);
        QTRY_COMPARE_WITH_TIMEOUT(HistoryLines(app).size(), 1, 20000);
        w.close();
        const auto lost = [&] {
            return app.dialogs->shown.filter(QStringLiteral("não foram gravados no histórico"));
        };
        QTRY_COMPARE_WITH_TIMEOUT(lost().size(), 1, 30000);
        QVERIFY2(lost()[0].startsWith(QStringLiteral("warning: ")) &&
                     !lost()[0].startsWith(QStringLiteral("warning: 0 ")),
                 qPrintable(lost()[0]));
    }
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
    // Said once (the writer's "interrompida" stands for the readings and the
    // trail alike), and the second write adds nothing.
    QTRY_COMPARE_WITH_TIMEOUT(HistoryLines(app).size(), 1, 20000);
    QVERIFY2(HistoryLines(app)[0].contains(QStringLiteral("interrompida")),
             qPrintable(HistoryLines(app)[0]));
    app.Stop();
}

// "Ajustes" opened while the recording's own read waits for a slow
// controller: the page's read goes on the line after it, nothing is refused
// or shown, and the history holds good readings only.
void tst_history_window::pageReadWaitsForTheRecordingsRead() {
    Sim sim;
    QVERIFY(sim.started);
    App app;
    TfrmMain &w = app.Start(sim.Port());
    w.show();
    app.Find<QSpinBox>("edtRecInterval")->setValue(1);
    app.Click("btnCnt");
    QList<tExchange> seen;
    connect(&w.Session(), &tSession::exchanged, &w, [&](const tExchange &e) { seen << e; });
    // No page reads now: the recording's watch asks next, and its answer is late.
    sim.controller->setFault(sim::Fault::Late, 500, 1);
    const int asked = sim.controller->requestCount();
    QTimer press;
    press.setInterval(5);
    connect(&press, &QTimer::timeout, &w, [&] {
        if (sim.controller->requestCount() == asked)
            return;
        press.stop();
        app.Click("btnMenuPAR");
    });
    press.start();
    QTRY_VERIFY_WITH_TIMEOUT(seen.size() >= 2, 10000);
    QCOMPARE(seen[0].cmd, cmdGET_STATUS);
    QVERIFY(seen[0].result > 0);
    QCOMPARE(seen[1].cmd, cmdGET_PAR_SYSTEM);
    QVERIFY(seen[1].result > 0);
    QCOMPARE(app.dialogs->shown, QStringList());

    tHistoryStore store;
    QVERIFY(store.Open(app.Path(QStringLiteral("historico.sqlite"))));
    QTRY_VERIFY_WITH_TIMEOUT(
        !store.Readings(ConnectedId(store, w.Ondrel().Address()), 0, INT64_MAX).empty(), 10000);
    for (const tStatusReading &r :
         store.Readings(ConnectedId(store, w.Ondrel().Address()), 0, INT64_MAX))
        QVERIFY(r.result > 0);
    app.Stop();
}

QTEST_MAIN(tst_history_window)
#include "tst_history_window.moc"
