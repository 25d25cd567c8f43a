// The longest time the window's GUI thread goes without processing events
// while it records a simulated controller at 9600 bit/s into the history
// file, once with the file free and once with another process taking the
// file's write lock again and again (as a second recorder on a slow disk
// would): `bench_record_gaps [seconds per run] [recording interval, s]
// [flip]` (offscreen unless QT_QPA_PLATFORM says otherwise; interval 1 by
// default; flip 0 keeps the sensors as they are). A sensor changes state
// every two seconds, so a reading is due that often whatever the recording interval.
//
// Then, with the file free: the Ajustes page read every 500 ms during the
// recording; the controller silent for 8 s with a 3 s time-out (4 x 864 ms);
// and a 1001-slot event log read (at 115200 bit/s, measured from the click
// to its end).
//
// `bench_record_gaps --hold FILE` is the other process: it holds the write
// lock for 400 ms, lets go for 50 ms, until killed.
#include "history_store.h"
#include "main_window.h"
#include "ondrel_sim.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QSpinBox>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

int Hold(const QString &path) {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"));
    db.setDatabaseName(path);
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=10000"));
    if (!db.open())
        return 1;
    QSqlQuery q(db);
    for (;;) {
        if (q.exec(QStringLiteral("BEGIN IMMEDIATE"))) {
            QThread::msleep(400);
            q.exec(QStringLiteral("COMMIT"));
        }
        QThread::msleep(50);
    }
}

struct tGaps {
    double maxMs = 0, p99Ms = 0, p999Ms = 0;
    size_t ticks = 0, over16 = 0; // gaps longer than a frame
    int64_t readings = 0;
    int requests = 0;   // status and other reads the controller answered while measured
    int64_t readMs = 0; // the log read's time
};

// What runs on top of the recording and the status page while measured.
enum class tLoad { None, PageRead, Timeout, LogRead };

// The events run until `done` or `ms` have passed.
bool WaitFor(const std::function<bool()> &done, int ms) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    return done();
}

// Runs the window for `seconds`, a 1 ms timer measuring the time between its
// ticks.
tGaps Run(const QString &port, sim::Controller &controller, const QString &historyFile, bool busy,
          int seconds, int interval, bool flipping, tLoad load = tLoad::None,
          const QByteArray &modbus = "BAUDRATE=3\r\n") {
    QTemporaryDir dir;
    {
        QFile ini(dir.filePath(QStringLiteral("tarvik.ini")));
        ini.open(QIODevice::WriteOnly);
        // 9600 bit/s; a reading a second where the window lets it be set.
        ini.write("[MODBUS]\r\n" + modbus +
                  QStringLiteral("[HISTORY]\r\nRECORD_INTERVAL=%1\r\n").arg(interval).toLatin1());
    }
    qputenv("TARVIK_HISTORICO", historyFile.toLocal8Bit());
    QProcess holder;
    if (busy) {
        holder.start(QCoreApplication::applicationFilePath(), {"--hold", historyFile});
        holder.waitForStarted();
        QThread::msleep(200);
    }
    tGaps g;
    {
        tStartOptions options;
        options.settingsPath = dir.filePath(QStringLiteral("tarvik.ini"));
        options.logFolder = dir.path();
        options.port = port;
        TfrmMain w(std::move(options));
        w.show();
        QApplication::processEvents();
        w.findChild<QPushButton *>(QStringLiteral("btnCnt"))->click();
        if (!WaitFor([&] { return w.Ondrel().Connected(); }, 10000)) {
            std::fprintf(stderr, "connection to the simulated controller failed\n");
            std::exit(1);
        }
        // The status page reads every second.
        w.findChild<QPushButton *>(QStringLiteral("btnMenuStatus"))->click();

        std::vector<double> deltas;
        QElapsedTimer clock;
        clock.start();
        int64_t last = clock.nsecsElapsed();
        QTimer tick;
        tick.setTimerType(Qt::PreciseTimer);
        tick.setInterval(1);
        QObject::connect(&tick, &QTimer::timeout, [&] {
            const int64_t now = clock.nsecsElapsed();
            deltas.push_back(double(now - last) / 1e6);
            last = now;
        });
        QTimer flip;
        flip.setInterval(2000);
        bool open = false;
        QObject::connect(&flip, &QTimer::timeout, [&] {
            open = !open;
            controller.setSensor(1, open ? sim::SensorState::Open : sim::SensorState::Valid, 50);
        });
        // The Ajustes page read twice a second, the status page shown between.
        QTimer pageRead;
        pageRead.setInterval(500);
        bool onPar = false;
        QObject::connect(&pageRead, &QTimer::timeout, [&] {
            onPar = !onPar;
            if (!onPar) {
                w.findChild<QPushButton *>(QStringLiteral("btnMenuStatus"))->click();
                return;
            }
            w.findChild<QPushButton *>(QStringLiteral("btnMenuPAR"))->click();
            w.findChild<QPushButton *>(QStringLiteral("btnReadPar"))->click();
        });
        // The first seconds (the first visit's read, the first paint) are
        // not counted.
        QEventLoop loop;
        if (flipping)
            flip.start();
        QTimer::singleShot(3000, &loop, &QEventLoop::quit);
        loop.exec();
        if (load == tLoad::LogRead) {
            w.findChild<QPushButton *>(QStringLiteral("btnMenuLog"))->click();
            w.findChild<QSpinBox *>(QStringLiteral("edtLogMax"))->setValue(1000);
        }
        QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
        tick.start();
        last = clock.nsecsElapsed();
        const int requestsBefore = controller.requestCount();
        if (load == tLoad::PageRead)
            pageRead.start();
        if (load == tLoad::Timeout) {
            controller.setFault(sim::Fault::Silence);
            QTimer::singleShot(8000, [&] { controller.clearFault(); });
        }
        if (load == tLoad::LogRead) {
            // From the click to the read's end, however long it takes.
            auto *get = w.findChild<QPushButton *>(QStringLiteral("btnLogGet"));
            get->click();
            QElapsedTimer read;
            read.start();
            WaitFor([&] { return get->isEnabled() && w.Session().Idle(); }, 600000);
            g.readMs = read.elapsed();
        } else {
            loop.exec();
        }
        pageRead.stop();
        g.requests = controller.requestCount() - requestsBefore;
        tick.stop();
        flip.stop();
        std::sort(deltas.begin(), deltas.end());
        g.ticks = deltas.size();
        g.over16 =
            size_t(std::count_if(deltas.begin(), deltas.end(), [](double d) { return d > 16; }));
        if (!deltas.empty()) {
            g.maxMs = deltas.back();
            g.p99Ms = deltas[deltas.size() * 99 / 100];
            g.p999Ms = deltas[deltas.size() * 999 / 1000];
        }
        w.findChild<QPushButton *>(QStringLiteral("btnCnt"))->click();
    }
    if (busy) {
        holder.kill();
        holder.waitForFinished();
    }
    tHistoryStore store;
    if (store.Open(historyFile))
        for (const tHistController &c : store.Controllers())
            g.readings += int64_t(store.Readings(c.id, 0, INT64_MAX).size());
    return g;
}

} // namespace

int main(int argc, char *argv[]) {
    if (argc == 3 && QByteArray(argv[1]) == "--hold") {
        QCoreApplication app(argc, argv);
        return Hold(QString::fromLocal8Bit(argv[2]));
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(2, atoi(argv[1])) : 20;
    const int interval = argc > 2 ? std::max(1, atoi(argv[2])) : 1;
    const bool flipping = argc > 3 ? atoi(argv[3]) != 0 : true;

    sim::Options options;
    options.baud = 9600;
    options.adapterLatencyMs = 0;
    sim::Controller controller(options);
    if (!controller.start()) {
        std::fprintf(stderr, "no pseudo-terminal for the simulated controller\n");
        return 1;
    }
    const QString port = QString::fromStdString(controller.portName());
    qputenv("TARVIK_PORTS", port.toLocal8Bit());

    constexpr int frameMs = 16;
    std::printf("GUI thread gaps while recording, %d s per run, recording interval %d s where "
                "the window has the setting, 1 ms timer; goal <= %d ms (one display frame)\n",
                seconds, interval, frameMs);
    std::printf("%-34s %9s %9s %9s %8s %8s %9s %9s\n", "run", "max ms", "p99.9 ms", "p99 ms",
                "ticks", ">16 ms", "readings", "requests");
    auto row = [](const char *name, const tGaps &g) {
        std::printf("%-34s %9.2f %9.2f %9.2f %8zu %8zu %9lld %9d\n", name, g.maxMs, g.p999Ms,
                    g.p99Ms, g.ticks, g.over16, static_cast<long long>(g.readings), g.requests);
        std::fflush(stdout);
    };
    auto freshFile = [](const QTemporaryDir &dir) {
        const QString file = dir.filePath(QStringLiteral("historico.sqlite"));
        // The file exists, in its final form, before anyone holds it.
        tHistoryStore store;
        store.Open(file);
        return file;
    };
    for (bool busy : {false, true}) {
        QTemporaryDir dir;
        row(busy ? "history locked by another process" : "history file free",
            Run(port, controller, freshFile(dir), busy, seconds, interval, flipping));
    }
    {
        QTemporaryDir dir;
        row("Ajustes read every 500 ms", Run(port, controller, freshFile(dir), false, seconds,
                                             interval, flipping, tLoad::PageRead));
    }
    {
        QTemporaryDir dir;
        row("silent 8 s, 3 s time-out",
            Run(port, controller, freshFile(dir), false, seconds, interval, flipping,
                tLoad::Timeout, "BAUDRATE=3\r\nTIMEOUT=4\r\n"));
    }
    {
        sim::Options fast;
        fast.baud = 115200;
        fast.adapterLatencyMs = 0;
        fast.logSlots = 1001;
        sim::Controller logged(fast);
        if (!logged.start())
            return 1;
        for (int k = 0; k < 1001; ++k)
            logged.addLogSlot({.event = uint16_t(1 + k % 4),
                               .sensor1 = 250,
                               .sensor2 = 0,
                               .year = 2026,
                               .month = 1,
                               .day = uint16_t(1 + k % 28),
                               .hour = uint16_t(k % 24),
                               .minute = uint16_t(k % 60),
                               .second = 0});
        const QString logPort = QString::fromStdString(logged.portName());
        qputenv("TARVIK_PORTS", logPort.toLocal8Bit());
        QTemporaryDir dir;
        const tGaps g = Run(logPort, logged, freshFile(dir), false, seconds, interval, false,
                            tLoad::LogRead, "BAUDRATE=7\r\n");
        row("1001-slot log read, 115200 bit/s", g);
        std::printf("  the log read took %.1f s\n", double(g.readMs) / 1000);
    }
    return 0;
}
