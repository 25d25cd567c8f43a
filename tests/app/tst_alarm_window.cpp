// The window tells an open alarm on every page, takes the alarm limits on
// the Histórico page into the history file, and acknowledges an episode.
#include "alarm_store.h"
#include "app_fixture.h"
#include "history_page.h"
#include "history_store.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFrame>
#include <QLineEdit>
#include <QTableWidget>

class tst_alarm_window : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void stripWhileRecordingInTheBackground();
    void pageLimitsAreTheAlarmLimits();
};

namespace {
std::vector<tAlarmEpisode> StoredEpisodes(const App &app) {
    tHistoryStore store;
    if (!store.Open(app.Path(QStringLiteral("historico.sqlite")), tHistoryStore::tAccess::Read))
        return {};
    tAlarmStore alarms(store);
    return alarms.Episodes(0, INT64_MAX);
}

bool StripShown(const App &app) {
    return app.Find<QFrame>(QStringLiteral("pnlAlarm"))->isVisible();
}
QString StripText(const App &app) {
    return app.Find<QLabel>(QStringLiteral("lblAlarm"))->text();
}
} // namespace

// The connection page shows, nobody but the recording's own watch reads the
// status: a sensor fault still opens the strip, and its end closes it.
void tst_alarm_window::stripWhileRecordingInTheBackground() {
    Sim sim;
    QVERIFY(sim.started);
    App app;
    TfrmMain &w = app.Start(sim.Port());
    w.show();
    app.Click("btnCnt");
    QTRY_VERIFY_WITH_TIMEOUT(w.Ondrel().Connected(), 30000);
    QCOMPARE(w.CurrentPage()->objectName(), QStringLiteral("pnlConnection"));
    QVERIFY(!StripShown(app));

    sim.controller->holdSensor(0, sim::SensorState::Short, 0);
    QTRY_VERIFY_WITH_TIMEOUT(StripShown(app), 60000);
    QVERIFY2(StripText(app).startsWith(QStringLiteral("ALARME: Sensor 1 Curto desde ")),
             qPrintable(StripText(app)));
    QCOMPARE(w.CurrentPage()->objectName(), QStringLiteral("pnlConnection"));
    std::vector<tAlarmEpisode> stored = StoredEpisodes(app);
    QCOMPARE(stored.size(), size_t(1));
    QCOMPARE(stored[0].condition, tAlarmCondition::Short);
    QVERIFY(stored[0].IsOpen());

    sim.controller->holdSensor(0, sim::SensorState::Valid, 40);
    QTRY_VERIFY_WITH_TIMEOUT(!StripShown(app), 60000);
    stored = StoredEpisodes(app);
    QCOMPARE(stored.size(), size_t(1));
    QVERIFY(!stored[0].IsOpen());
    app.Stop();
}

// A maximum set on the page is the file's alarm limit (audited), the alarm
// it opens is listed, drawn and acknowledged with a comment; a window
// started later shows the limit from the file.
void tst_alarm_window::pageLimitsAreTheAlarmLimits() {
    Sim sim;
    QVERIFY(sim.started);
    sim.controller->holdSensor(0, sim::SensorState::Valid, 90);
    App app;
    {
        TfrmMain &w = app.Start(sim.Port());
        w.show();
        app.Click("btnCnt");
        QTRY_VERIFY_WITH_TIMEOUT(w.Ondrel().Connected(), 30000);
        app.Click("btnMenuHist");
        auto *page = w.findChild<THistoryPage *>(QStringLiteral("pnlHist"));
        QVERIFY(page);
        QTRY_VERIFY_WITH_TIMEOUT(page->ControllerShown() != 0, 60000);

        auto *max1 = app.Find<QDoubleSpinBox>(QStringLiteral("edtHistMax1"));
        max1->setValue(5.0);
        QTRY_COMPARE_WITH_TIMEOUT(app.Status(),
                                  QStringLiteral("Limites de alarme do sensor 1 gravados"), 30000);
        {
            tHistoryStore store;
            QVERIFY(store.Open(app.Path(QStringLiteral("historico.sqlite")),
                               tHistoryStore::tAccess::Read));
            tAlarmStore alarms(store);
            const tAlarmSettings s = alarms.Settings(sim.Port(), w.Ondrel().Address());
            QCOMPARE(s.sensor[0].high, std::optional<int32_t>(50));
            QCOMPARE(s.sensor[0].low, std::optional<int32_t>());
            QCOMPARE(s.sensor[0].hysteresis, 5);
            bool audited = false;
            for (const tHistAuditEntry &a : store.Audits(0, 0, INT64_MAX))
                for (const tHistAuditField &f : a.audit.fields)
                    audited = audited || (f.code == QStringLiteral("MAX1") &&
                                          f.newValue.startsWith(QStringLiteral("5")));
            QVERIFY(audited);
        }

        // The recording judges by the new limit at its next reading.
        QTRY_VERIFY_WITH_TIMEOUT(StripShown(app), 60000);
        QVERIFY2(StripText(app).contains(QStringLiteral("Sensor 1 acima do máximo")),
                 qPrintable(StripText(app)));
        auto *list = app.Find<QTableWidget>(QStringLiteral("stgHistAlarm"));
        QTRY_COMPARE_WITH_TIMEOUT(list->rowCount(), 1, 30000);
        QVERIFY(!page->Curve().alarms.empty());

        // No comment, no acknowledgement: said through the window's dialogs.
        list->selectRow(0);
        app.Click("btnHistAck");
        QCOMPARE(app.dialogs->shown.size(), 1);
        QVERIFY(app.dialogs->shown[0].startsWith(QStringLiteral("warning: Escreva um comentário")));
        // A new alarm comes on top of the list meanwhile: the one chosen
        // stays the one acknowledged.
        sim.controller->holdSensor(1, sim::SensorState::Short, 0);
        QTRY_COMPARE_WITH_TIMEOUT(list->rowCount(), 2, 60000);
        auto *comment = app.Find<QLineEdit>(QStringLiteral("edtHistAlarmComment"));
        comment->setText(QStringLiteral("porta da câmara aberta"));
        app.Click("btnHistAck");
        QTRY_VERIFY_WITH_TIMEOUT(comment->text().isEmpty(), 30000);
        const std::vector<tAlarmEpisode> stored = StoredEpisodes(app);
        QCOMPARE(stored.size(), size_t(2));
        QCOMPARE(stored[0].condition, tAlarmCondition::High);
        QCOMPARE(stored[0].acks.size(), size_t(1));
        QCOMPARE(stored[0].acks[0].comment, QStringLiteral("porta da câmara aberta"));
        QCOMPARE(stored[1].acks.size(), size_t(0));
        QTRY_VERIFY_WITH_TIMEOUT(!list->item(1, 5)->text().isEmpty(), 30000);
        app.Stop();
    }
    TfrmMain &w = app.Start(sim.Port());
    w.show();
    app.Click("btnCnt");
    app.Click("btnMenuHist");
    auto *page = w.findChild<THistoryPage *>(QStringLiteral("pnlHist"));
    QTRY_VERIFY_WITH_TIMEOUT(page->ControllerShown() != 0, 60000);
    QCOMPARE(app.Find<QDoubleSpinBox>(QStringLiteral("edtHistMax1"))->value(), 5.0);
    app.Stop();
}

QTEST_MAIN(tst_alarm_window)
#include "tst_alarm_window.moc"
