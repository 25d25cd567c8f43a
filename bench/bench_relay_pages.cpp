// Time to open a relay parameter page (its first visit, which reads the
// controller, excluded) and the memory the window holds after every relay
// page has been visited, against the simulated controller:
// `bench_relay_pages [opens per page]` (offscreen unless QT_QPA_PLATFORM
// says otherwise).
#include "main_window.h"
#include "ondrel_sim.h"
#include "process_figures.h"
#include "show_window.h"
#include "status_screen.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// Relay 1's block in the controller, as the line would write it.
void storeRelay1(sim::Controller &c, const std::vector<int32_t> &block) {
    for (int i = 0; i < 20; ++i) {
        const int32_t v = i < int(block.size()) ? block[size_t(i)] : 0;
        if (i < 16) {
            c.setReg(0x0400 + i, uint16_t(v));
        } else {
            c.setReg(0x0410 + 2 * (i - 16), uint16_t(v));
            c.setReg(0x0411 + 2 * (i - 16), uint16_t(uint32_t(v) >> 16));
        }
    }
}

struct tPageRun {
    const char *name;
    std::vector<int32_t> block;
};

} // namespace

int main(int argc, char *argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int opens = argc > 1 ? std::max(1, atoi(argv[1])) : 100;

    sim::Controller controller;
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
    TfrmMain w(std::move(options));
    w.show();
    QApplication::processEvents();
    w.findChild<QPushButton *>(QStringLiteral("btnCnt"))->click();
    if (!w.Ondrel().Connected()) {
        std::fprintf(stderr, "connection to the simulated controller failed\n");
        return 1;
    }
    // Only the page openings are timed: no status refresh in between.
    w.StatusScreen()->timerProcess()->stop();
    QApplication::processEvents();
    const long before = ResidentKb();

    const int32_t workdays = 190 | 450 << 8 | 495 << 20;
    const tPageRun runs[] = {
        {"pnlCold, op 1", {1, 50, -100, 150, -500, 1100, 20, 0, 2, 0, 3}},
        {"pnlCold, op 8", {8, 50, -100, 150, -500, 1100, 20, 0, 2, 0, 3, 0, 0, 0, 1, 0, workdays}},
        {"pnlDefrost", {3, 100, 0, 300, 0, 0, 0, 0, 0, 0, 360, 0, 1, 30, 0, 5}},
        {"pnlFan", {4, -50, -500, 500, 0, 0, 0, 100, 0, 0, 5, 0, 1, 1}},
        {"pnlHeat", {5, 450, 50, 20, 100, 800, 20, 100}},
        {"pnlAux", {6, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2}},
        {"pnlTimer", {7, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, workdays}},
        {"pnlNop", {0}},
    };

    // Every relay page visited once: relay 1 takes each block in turn and
    // reads it as on a first visit, which shows the page of its operation.
    auto readRelay1 = [&](const tPageRun &run) {
        storeRelay1(controller, run.block);
        w.SetVisited(tMenu::Relay1, false);
        w.btnMenuRelayClick(0);
        w.frmShow()->hide();
        QApplication::processEvents();
    };
    for (const tPageRun &run : runs)
        readRelay1(run);
    for (int r = 1; r < w.Ondrel().nRelay; ++r)
        w.btnMenuRelayClick(r);
    w.frmShow()->hide();
    QApplication::processEvents();
    const long after = ResidentKb();

    // Opening a page already visited: choose it by the operation, fill it,
    // lay it out and paint it. The connection page in between makes each
    // opening a real change of page.
    std::printf("Opening a relay page (first visit excluded), %d openings each, ms:\n", opens);
    std::printf("  %-20s %8s %8s %8s\n", "page", "median", "p95", "max");
    std::vector<double> all;
    QElapsedTimer clock;
    for (const tPageRun &run : runs) {
        readRelay1(run);
        std::vector<double> times;
        for (int i = 0; i < opens; ++i) {
            w.btnMenuMainClick();
            QApplication::processEvents();
            clock.start();
            w.btnMenuRelayClick(0);
            w.repaint();
            times.push_back(double(clock.nsecsElapsed()) / 1e6);
        }
        all.insert(all.end(), times.begin(), times.end());
        std::printf("  %-20s %8.3f %8.3f %8.3f\n", run.name, Percentile(times, 0.5),
                    Percentile(times, 0.95), Percentile(times, 1.0));
    }
    std::printf("  %-20s %8.3f %8.3f %8.3f\n", "all", Percentile(all, 0.5), Percentile(all, 0.95),
                Percentile(all, 1.0));
    std::printf("Resident memory: %ld KiB connected, %ld KiB after visiting every relay page "
                "(+%ld KiB)\n",
                before, after, after - before);
    return 0;
}
