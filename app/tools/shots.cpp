// Screenshots of the main window connected to a simulated controller, in
// each style, with the message window: `tarvik_shots <folder>`.
#include "dialogs.h"
#include "log_relays_page.h"
#include "main_window.h"
#include "ondrel_sim.h"
#include "show_window.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
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
    void Warning(QWidget *, const QString &text) override {
        std::fprintf(stderr, "warning: %s\n", qPrintable(text));
    }
    bool AskYesNo(QWidget *, const QString &) override { return true; }
    QString AskOpenFile(QWidget *, const QString &, const QString &) override { return configFile; }
    QString AskSaveFile(QWidget *, const QString &, const QString &) override { return {}; }
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
