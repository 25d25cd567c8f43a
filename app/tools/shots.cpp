// Screenshots of the main window connected to a simulated controller, in
// each style, with the message window: `tarvik_shots <folder>`.
#include "alarm_store.h"
#include "dialogs.h"
#include "history_page.h"
#include "history_store.h"
#include "log_relays_page.h"
#include "main_window.h"
#include "ondrel_sim.h"
#include "show_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QPainter>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cstdio>

namespace {
void Settle() {
    for (int i = 0; i < 5; ++i) {
        QApplication::processEvents();
        QTest::qWait(30);
    }
}

// The main window with the message window drawn where it floats.
QImage Compose(TfrmMain &w, bool withMessage) {
    QImage shot = w.grab().toImage();
    if (withMessage) {
        QPainter p(&shot);
        QWidget *msg = w.frmShow();
        p.drawPixmap(w.mapFromGlobal(msg->pos()), msg->grab());
    }
    return shot;
}
// Dialogs answered without a person: questions with Yes, the open dialog
// with the configuration file the shots wrote.
class tShotDialogs : public tDialogs {
  public:
    QString configFile;
    QString saveFile;
    void Warning(QWidget *, const QString &text) override {
        std::fprintf(stderr, "warning: %s\n", qPrintable(text));
    }
    bool AskYesNo(QWidget *, const QString &) override { return true; }
    QString AskOpenFile(QWidget *, const QString &, const QString &) override { return configFile; }
    QString AskSaveFile(QWidget *, const QString &, const QString &) override { return saveFile; }
};

// A relay page as the shots show it: the block relay 1 holds, the page's
// name in the file names and how many sub-pages it has.
struct tRelayShot {
    const char *name;
    int32_t block[20];
    int subPages;
};
constexpr int32_t workdays = 190 | 450 << 8 | 495 << 20;
constexpr int32_t weekend = 0xC1 | 1200 << 8 | 1320 << 20;
constexpr tRelayShot relayShots[] = {
    {"cooling", {1, 50, -100, 150, -500, 1100, 20, 0, 2, 0, 3, 0, 0, 0, 1, 0}, 3},
    {"heating", {2, 450, 300, 600, -500, 1100, 20, 0, 1, 1, 5, 1, 1, 0, 0, 30}, 3},
    {"conditional-timer",
     {8, 50, -100, 150, -500, 1100, 20, 0, 2, 0, 3, 0, 0, 0, 1, 0, workdays, weekend},
     4},
    {"cooling-marked", {1, 50, -100, 150, -500, 1100, 0, 0, 7, 0, 3, 2, 5, 0, 1, 0}, 3},
    {"defrost", {3, 100, 0, 300, 0, 0, 0, 0, 1, 0, 1470, 0, 1, 30, 30, 5}, 2},
    {"fan", {4, -50, -500, 500, 0, 0, 0, 100, 1, 1, 5, 0, 1, 1, 0, 0}, 2},
    {"heat-exchanger", {5, 450, 50, 20, 100, 800, 20, 100, 0, 0, 0, 0, 0, 1}, 2},
    {"auxiliary", {6, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2}, 1},
    {"timer", {7, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, workdays, weekend, 0x80}, 1},
    {"none", {0}, 1},
};

// Relay 1's block in the controller, as the line would write it.
void StoreRelay1(sim::Controller &c, const int32_t *block) {
    for (int i = 0; i < 16; ++i)
        c.setReg(0x0400 + i, uint16_t(block[i]));
    for (int k = 0; k < 4; ++k) {
        const auto word = uint32_t(block[16 + k]);
        c.setReg(0x0410 + 2 * k, uint16_t(word));
        c.setReg(0x0411 + 2 * k, uint16_t(word >> 16));
    }
}
// A day of history for the simulated controller, so the Histórico page and
// its report show what a technician meets: a reading every 2 minutes until
// three hours ago, an afternoon above 8 ºC, relay 1 on ten minutes in
// thirty, sensor 3 open throughout; then half a minute of readings a second
// twenty minutes ago.
void FillHistory(const QString &path, const QString &port) {
    tHistoryStore history;
    if (!history.Open(path)) {
        std::fprintf(stderr, "no history: %s\n", qPrintable(history.Message()));
        return;
    }
    const int64_t id =
        history.ControllerId({0, port, 201, QStringLiteral("qx4r"), QStringLiteral("1.2")});
    const QDateTime now = QDateTime::currentDateTime();
    constexpr int64_t minute = 60'000;
    auto reading = [&](int64_t t, int32_t room, bool relayOn) {
        tStatusReading r{.utcMs = t, .offsetSec = now.offsetFromUtc()};
        r.state = {stsTEMP_OK, stsTEMP_OK, stsTEMP_ERRMAX, stsTEMP_OK};
        r.value = {room, room - 120, 0, 215};
        r.relay = {relayOn ? 1 : 0, 0, 0, 0};
        r.result = 22;
        r.roundTripMs = 9;
        return r;
    };
    const int64_t end = now.toMSecsSinceEpoch();
    history.Begin();
    for (int64_t t = end - 24 * 60 * minute; t < end - 3 * 60 * minute; t += 2 * minute) {
        const int64_t m = (t - end) / minute + 24 * 60; // minutes since the start
        const bool warm = m > 14 * 60 && m < 14 * 60 + 40;
        history.AddReading(
            id, reading(t, warm ? 92 + int32_t(m % 7) : 38 + int32_t(m / 13 % 6), m % 30 < 10));
    }
    for (int s = 0; s < 30; ++s)
        history.AddReading(id,
                           reading(end - 20 * minute + s * 1000, 41 + s % 4, s >= 10 && s < 22));
    history.Commit();

    // The warm afternoon was an alarm, acknowledged.
    tAlarmStore alarms(history);
    const tAlarmLimits limits{.low = 20, .high = 80, .unit = tempCELSIUS};
    const int64_t start = end - 10 * 60 * minute, finish = start + 42 * minute;
    alarms.SetLimits(port, 201, 1, limits, QStringLiteral("tecnico"), start - 60 * minute,
                     now.offsetFromUtc());
    const tAlarmChange opened{.kind = tAlarmChange::Opened,
                              .sensor = 1,
                              .condition = tAlarmCondition::High,
                              .startMs = start,
                              .atMs = start,
                              .extreme = 92,
                              .unit = tempCELSIUS};
    const int64_t episode = alarms.Open(port, 201, id, opened, now.offsetFromUtc(), limits);
    alarms.End(episode, finish, 98);
    alarms.Acknowledge(episode,
                       {finish + 5 * minute, now.offsetFromUtc(), QStringLiteral("tecnico"),
                        QStringLiteral("porta da câmara aberta na descarga")});
}
} // namespace

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("shots");
    QDir().mkpath(out);

    sim::Options simOptions;
    simOptions.preloadEvents = 40; // rows for the log page's tables
    sim::Controller controller(simOptions);
    // Three controllers on the line, so the scan's list shows three results.
    controller.addToBus({.model = "qx2n", .slaveId = 5});
    controller.addToBus({.model = "qx1r", .slaveId = 17});
    if (!controller.start()) {
        std::fprintf(stderr, "no simulated controller\n");
        return 1;
    }
    const QString port = QString::fromStdString(controller.portName());
    qputenv("TARVIK_PORTS", port.toLocal8Bit());
    QTemporaryDir dir;
    tStartOptions options;
    options.settingsPath = dir.filePath(QStringLiteral("tarvik.ini"));
    options.port = port;
    FillHistory(HistoryFilePath(options.settingsPath, {}), port);
    auto dialogs = std::make_unique<tShotDialogs>();
    tShotDialogs &answers = *dialogs;
    options.dialogs = std::move(dialogs);
    TfrmMain w(std::move(options));
    w.show();
    Settle();

    const char *const names[] = {"windows", "transparente", "jet"};
    // Pages shot connected, each after the visit of its menu button.
    using tMenuClick = void (TfrmMain::*)();
    const std::pair<const char *, tMenuClick> pageShots[] = {
        {"ajustes", &TfrmMain::btnMenuPARClick},
        {"rtc", &TfrmMain::btnMenuRTCClick},
        {"historico", &TfrmMain::btnMenuHistClick},
    };
    auto *styles = w.findChild<QComboBox *>(QStringLiteral("cbxStyle"));
    auto save = [&](int style, const char *what, bool withMessage) {
        Settle();
        Compose(w, withMessage).save(QStringLiteral("%1/%2-%3.png").arg(out, what, names[style]));
    };
    for (int style = 0; style < 3; ++style) {
        styles->setCurrentIndex(style);
        save(style, "disconnected", false);
    }
    // The controllers found on the line, before connecting.
    w.findChild<QPushButton *>(QStringLiteral("btnScan"))->click();
    for (int style = 0; style < 3; ++style) {
        styles->setCurrentIndex(style);
        save(style, "scan", false);
    }
    w.findChild<QPushButton *>(QStringLiteral("btnCnt"))->click();
    for (int style = 0; style < 3; ++style) {
        styles->setCurrentIndex(style);
        w.btnMenuMainClick();
        save(style, "connection", false);
        w.Msg(QStringLiteral("Lendo parâmetros de sistema no Ondrel..."));
        save(style, "message", true);
        w.btnMenuStatusClick();
        w.frmShow()->hide();
        save(style, "status", false);
        w.btnMenuAboutClick();
        save(style, "about", false);
        for (const auto &[what, click] : pageShots) {
            (w.*click)();
            save(style, what, false);
        }
    }
    // The history with its limits set: the afternoon outside them as a band,
    // the relay as bars; the last hour narrowed to its half minute of
    // readings; the report of the day, as PDF.
    auto *history = static_cast<THistoryPage *>(w.Target(tMenu::Hist));
    w.btnMenuHistClick();
    history->edtHistMax[0]->setValue(8.0);
    history->edtHistMin[0]->setValue(2.0);
    for (int style = 0; style < 3; ++style) {
        styles->setCurrentIndex(style);
        w.btnMenuHistClick();
        save(style, "historico-limites", false);
    }
    answers.saveFile = QDir(out).filePath(QStringLiteral("relatorio-24h.pdf"));
    history->btnHistReport->click();
    w.frmShow()->hide();
    history->SetRange(THistoryPage::tRange::Hour);
    history->cbxHistFit->setChecked(true);
    for (int style = 0; style < 3; ++style) {
        styles->setCurrentIndex(style);
        w.btnMenuHistClick();
        save(style, "historico-1h-ajustado", false);
    }
    answers.saveFile = QDir(out).filePath(QStringLiteral("relatorio-1h-ajustado.pdf"));
    history->btnHistReport->click();
    w.frmShow()->hide();
    history->cbxHistFit->setChecked(false);
    history->SetRange(THistoryPage::tRange::Day);

    // The room warms now, past the limit: the strip over every page, the
    // episode in the page's list.
    controller.holdSensor(0, sim::SensorState::Valid, 95);
    auto *strip = w.findChild<QWidget *>(QStringLiteral("pnlAlarm"));
    for (int i = 0; i < 300 && !strip->isVisible(); ++i)
        QTest::qWait(50);
    history->tabHistSide->setCurrentIndex(1);
    for (int style = 0; style < 3; ++style) {
        styles->setCurrentIndex(style);
        w.btnMenuStatusClick();
        save(style, "alarme-status", false);
        w.btnMenuHistClick();
        save(style, "alarme-historico", false);
    }
    history->tabHistSide->setCurrentIndex(0);
    controller.holdSensor(0, sim::SensorState::Valid, 40);
    for (int i = 0; i < 300 && strip->isVisible(); ++i)
        QTest::qWait(50);

    // Every relay page with each of its sub-pages: relay 1 takes each
    // block in turn, and the page's "Ler" brings it (and its page).
    w.btnMenuRelayClick(0);
    w.frmShow()->hide();
    for (const tRelayShot &shot : relayShots) {
        StoreRelay1(controller, shot.block);
        for (QPushButton *button : w.CurrentPage()->findChildren<QPushButton *>())
            if (button->text() == QLatin1String("Ler"))
                button->click();
        w.frmShow()->hide();
        auto *tabs = w.CurrentPage()->findChild<QTabWidget *>();
        for (int style = 0; style < 3; ++style) {
            styles->setCurrentIndex(style);
            for (int sub = 0; sub < shot.subPages; ++sub) {
                if (tabs)
                    tabs->setCurrentIndex(sub);
                save(style, qPrintable(QStringLiteral("relay-%1-%2").arg(shot.name).arg(sub)),
                     false);
            }
        }
        if (tabs)
            tabs->setCurrentIndex(0);
    }
    // The relay event log: a read caught half-way, then the tables filled.
    auto *logPage = static_cast<TLogRelaysPage *>(w.Target(tMenu::Log));
    for (int style = 0; style < 3; ++style) {
        styles->setCurrentIndex(style);
        w.btnMenuLogClick();
        logPage->edtLogMax->setValue(39);
        QTimer halfway;
        halfway.setInterval(0);
        QObject::connect(&halfway, &QTimer::timeout, &w, [&] {
            if (logPage->stgRL[0]->rowCount() < 5)
                return;
            halfway.stop();
            save(style, "log-reading", false);
        });
        halfway.start();
        logPage->btnLogGet->click();
        save(style, "log-filled", false);
        logPage->tabLogRelay->setCurrentIndex(1);
        save(style, "log-filled-rele2", false);
        logPage->tabLogRelay->setCurrentIndex(0);
    }
    // A configuration saved, loaded again and written back with its
    // read-back: the event memo lists every block.
    answers.configFile = dir.filePath(QStringLiteral("qx4r.cfg"));
    w.Ondrel().SaveConfig(answers.configFile);
    w.btnMenuMainClick();
    w.findChild<QPushButton *>(QStringLiteral("btnLoadConfig"))->click();
    w.findChild<QPushButton *>(QStringLiteral("btnApplyConfig"))->click();
    w.frmShow()->hide();
    for (int style = 0; style < 3; ++style) {
        styles->setCurrentIndex(style);
        save(style, "config-applied", false);
    }
    std::printf("screenshots in %s\n", qPrintable(out));
    return 0;
}
