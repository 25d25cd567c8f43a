// Screenshots of the main window connected to a simulated controller, in
// each style, with the message window: `tarvik_shots <folder>`.
#include "main_window.h"
#include "ondrel_sim.h"
#include "show_window.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QPainter>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

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
} // namespace

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("shots");
    QDir().mkpath(out);

    sim::Controller controller;
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
    TfrmMain w(std::move(options));
    w.show();
    Settle();

    const char *const names[] = {"windows", "transparente", "jet"};
    // Pages shot connected, each after the visit of its menu button.
    using tMenuClick = void (TfrmMain::*)();
    const std::pair<const char *, tMenuClick> pageShots[] = {
        {"ajustes", &TfrmMain::btnMenuPARClick},
        {"rtc", &TfrmMain::btnMenuRTCClick},
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
    std::printf("screenshots in %s\n", qPrintable(out));
    return 0;
}
