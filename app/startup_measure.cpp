#include "startup_measure.h"
#include "process_figures.h"

#include "app_paths.h"
#include "main_window.h"

#include <QComboBox>
#include <QEvent>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <cstdio>
#include <functional>

namespace {
// Dialogs would wait for a hand that is not there; print them instead.
class tPrintedDialogs : public tDialogs {
  public:
    void Warning(QWidget *, const QString &text) override {
        std::printf("dialog: %s\n", qPrintable(DialogText(text)));
    }
    bool AskYesNo(QWidget *parent, const QString &text) override {
        Warning(parent, text);
        return true;
    }
    QString AskOpenFile(QWidget *, const QString &, const QString &) override { return {}; }
    QString AskSaveFile(QWidget *, const QString &, const QString &) override { return {}; }
};

// Runs `report` once the window has been painted for the first time, then
// closes the window.
class tFirstPaint : public QObject {
  public:
    tFirstPaint(TfrmMain &w, std::function<void(TfrmMain &)> r)
        : QObject(&w), frmMain(w), report(std::move(r)) {
        w.SetDialogs(std::make_unique<tPrintedDialogs>());
        w.installEventFilter(this);
    }

    bool eventFilter(QObject *, QEvent *event) override {
        if (event->type() == QEvent::Paint) {
            frmMain.removeEventFilter(this);
            // Queued, so the paint this event starts is finished when measured.
            QTimer::singleShot(0, &frmMain, [this] {
                report(frmMain);
                std::fflush(stdout);
                frmMain.close();
            });
        }
        return false;
    }

  private:
    TfrmMain &frmMain;
    std::function<void(TfrmMain &)> report;
};

void ReportMeasures(TfrmMain &w) {
    std::printf("startup to window shown: %.0f ms\n", MsSinceProcessStart());
    std::printf("processor time to window shown: %.0f ms\n", ProcessCpuMs());
    std::printf("resident memory before connecting: %.1f MB\n", ResidentKb() / 1024.0);
    // Out before the connection, for a reader timing the first lines.
    std::fflush(stdout);
    w.findChild<QPushButton *>(QStringLiteral("btnCnt"))->click();
    std::printf("connection: %s\n",
                qPrintable(w.findChild<QLabel *>(QStringLiteral("lblStatus"))->text()));
    std::printf("resident memory after connecting: %.1f MB\n", ResidentKb() / 1024.0);
}

void ReportStart(TfrmMain &w) {
    std::printf("style: %s, style sheet of %lld characters\n",
                qPrintable(w.findChild<QComboBox *>(QStringLiteral("cbxStyle"))->currentText()),
                static_cast<long long>(w.styleSheet().size()));
    std::printf("settings file: %s\n", qPrintable(ChooseAppPaths(CurrentAppPlace()).settingsFile));
}
} // namespace

void MeasureStartup(TfrmMain &frmMain) {
    new tFirstPaint(frmMain, ReportMeasures);
}

void CheckStart(TfrmMain &frmMain) {
    new tFirstPaint(frmMain, ReportStart);
}
