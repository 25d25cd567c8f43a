// Reading the relay event log through the log page of the whole window,
// against the simulated controller at 115200 bit/s: the time for 21 and
// 1001 slots beside what the design cannot go below (two exchanges a slot,
// each its bytes on the wire plus the 50 ms byte wait that ends the answer),
// and the longest time the window goes without processing its events
// during the read. `bench_log_read` (runs offscreen unless told otherwise).
#include "dialogs.h"
#include "log_relays_page.h"
#include "main_window.h"
#include "ondrel_sim.h"
#include "process_figures.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// Dialogs that print instead of waiting for a click.
class PrintedDialogs : public tDialogs {
  public:
    void Warning(QWidget *, const QString &text) override {
        std::fprintf(stderr, "warning: %s\n", qPrintable(text));
    }
    bool AskYesNo(QWidget *, const QString &) override { return true; }
    QString AskOpenFile(QWidget *, const QString &, const QString &) override { return {}; }
    QString AskSaveFile(QWidget *, const QString &, const QString &) override { return {}; }
};

// Bytes on the wire at 115200 bit/s, 10 bits a byte, plus the byte wait.
double exchangeFloorMs(int requestBytes, int answerBytes) {
    return (requestBytes + answerBytes) * 10 * 1000.0 / 115200 + 50.0;
}

} // namespace

int main(int argc, char **argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    sim::Options simOptions;
    simOptions.logSlots = 1001;
    simOptions.preloadEvents = 1001;
    // Answers paced at the bit rate, with no adapter's timer in between:
    // the wire time of the floor is then spent for real.
    simOptions.baud = 115200;
    simOptions.adapterLatencyMs = 0;
    sim::Controller controller(simOptions);
    if (!controller.start()) {
        std::fprintf(stderr, "no pseudo-terminal for the simulated controller\n");
        return 1;
    }
    const QString port = QString::fromStdString(controller.portName());
    qputenv("TARVIK_PORTS", port.toLocal8Bit());
    QTemporaryDir dir;
    tStartOptions options;
    options.settingsPath = dir.filePath(QStringLiteral("tarvik.ini"));
    options.logFolder = dir.path();
    options.port = port;
    options.dialogs = std::make_unique<PrintedDialogs>();
    TfrmMain w(std::move(options));
    w.show();
    w.findChild<QPushButton *>(QStringLiteral("btnCnt"))->click();
    if (!w.Ondrel().Connected()) {
        std::fprintf(stderr, "no connection to the simulated controller\n");
        return 1;
    }
    w.btnMenuLogClick();
    auto *page = w.findChild<TLogRelaysPage *>();

    // Information read: 8-byte request, 9-byte answer (2 registers). Per
    // slot: the selection (8 and 8 bytes) and the slot (8 and 23 bytes).
    const double infoFloor = exchangeFloorMs(8, 9);
    const double slotFloor = exchangeFloorMs(8, 8) + exchangeFloorMs(8, 23);
    std::printf("Relay event log read at 115200 bit/s (whole window, simulated controller on a "
                "pty, paced)\n");
    for (int limit : {20, 1000}) {
        page->edtLogMax->setValue(limit);
        QElapsedTimer clock;
        std::vector<double> gaps;
        qint64 lastPass = 0;
        QTimer pass;
        pass.setInterval(0);
        QObject::connect(&pass, &QTimer::timeout, &w, [&] {
            const qint64 now = clock.nsecsElapsed();
            gaps.push_back(double(now - lastPass) / 1e6);
            lastPass = now;
        });
        pass.start();
        const double cpu0 = ThreadCpuMs();
        clock.start();
        page->btnLogGet->click();
        const double ms = double(clock.nsecsElapsed()) / 1e6;
        const double cpu = ThreadCpuMs() - cpu0;
        gaps.push_back(double(clock.nsecsElapsed() - lastPass) / 1e6);
        pass.stop();

        int rows = 0;
        for (const QTableWidget *grid : page->stgRL)
            rows += grid->rowCount();
        const int slots = limit + 1;
        const double floor = infoFloor + slots * slotFloor;
        std::sort(gaps.begin(), gaps.end());
        std::printf("  %4d slots: %9.1f ms, floor %9.1f ms (%+.1f%%), %.1f ms a slot "
                    "(floor %.1f); %d rows\n",
                    slots, ms, floor, 100.0 * (ms - floor) / floor, ms / slots, slotFloor, rows);
        std::printf("              longest gap without event processing %.1f ms, 99th "
                    "percentile %.1f ms, over %zu passes\n",
                    gaps.back(), gaps[size_t(0.99 * double(gaps.size() - 1))], gaps.size());
        std::printf("              window thread's processor time %.2f ms a slot (the slot's "
                    "work: two exchanges, a row and the progress)\n",
                    cpu / slots);
        if (rows != slots) {
            std::fprintf(stderr, "expected %d rows\n", slots);
            return 1;
        }
    }
    return 0;
}
