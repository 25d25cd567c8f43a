// The longest time the window's GUI thread goes without processing events
// while it records a simulated controller at 9600 bit/s into the history
// file, once with the file free and once with another process taking the
// file's write lock again and again (as a second recorder on a slow disk
// would): `bench_record_gaps [seconds per run] [recording interval, s]
// [flip]` (offscreen unless QT_QPA_PLATFORM says otherwise; interval 1 by
// default; flip 0 keeps the sensors as they are). A sensor changes state
// every two seconds, so a reading is due that often whatever the recording interval.
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
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstdio>
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
    int requests = 0; // status and other reads the controller answered while measured
};

// Runs the window for `seconds`, a 1 ms timer measuring the time between its
// ticks.
tGaps Run(const QString &port, sim::Controller &controller, const QString &historyFile, bool busy,
          int seconds, int interval, bool flipping) {
    QTemporaryDir dir;
    {
        QFile ini(dir.filePath(QStringLiteral("tarvik.ini")));
        ini.open(QIODevice::WriteOnly);
        // 9600 bit/s; a reading a second where the window lets it be set.
        ini.write(QStringLiteral("[MODBUS]\r\nBAUDRATE=3\r\n[HISTORY]\r\nRECORD_INTERVAL=%1\r\n")
                      .arg(interval)
                      .toLatin1());
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
        if (!w.Ondrel().Connected()) {
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
        // The first seconds (the first visit's read, the first paint) are
        // not counted.
        QEventLoop loop;
        if (flipping)
            flip.start();
        QTimer::singleShot(3000, &loop, &QEventLoop::quit);
        loop.exec();
        QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
        tick.start();
        last = clock.nsecsElapsed();
        const int requestsBefore = controller.requestCount();
        loop.exec();
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

    // The port's byte wait: how long a read of one byte waits on a silent
    // line, what the silence that ends every answer costs anyway.
    constexpr int byteWaitMs = 50;
    std::printf("GUI thread gaps while recording, %d s per run, recording interval %d s where "
                "the window has the setting, 1 ms timer; goal <= %d ms (one byte wait)\n",
                seconds, interval, byteWaitMs);
    std::printf("%-28s %9s %9s %9s %8s %8s %9s %9s\n", "history file", "max ms", "p99.9 ms",
                "p99 ms", "ticks", ">16 ms", "readings", "requests");
    for (bool busy : {false, true}) {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("historico.sqlite"));
        {
            // The file exists, in its final form, before anyone holds it.
            tHistoryStore store;
            store.Open(file);
        }
        const tGaps g = Run(port, controller, file, busy, seconds, interval, flipping);
        std::printf("%-28s %9.2f %9.2f %9.2f %8zu %8zu %9lld %9d\n",
                    busy ? "locked by another process" : "free", g.maxMs, g.p999Ms, g.p99Ms,
                    g.ticks, g.over16, static_cast<long long>(g.readings), g.requests);
        std::fflush(stdout);
    }
    return 0;
}
