// The history file with a year of readings: its size, the processor time
// one recorded reading costs (its chain link included), the time a curve's
// query takes for a year and for a day, and the walk of the whole chain.
//
// bench_history [FILE [DAYS]]   (default: a temporary file, removed at the
// end, and 365 days)

#include "history_store.h"
#include "process_figures.h"

#include "u_ondrel.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cmath>
#include <cstdio>

namespace {
constexpr int64_t minute = 60'000;
int64_t yearReadings = 525'600;

tStatusReading Generated(int64_t i, int64_t start) {
    // A cold room: a slow daily wave, the compressor's saw-tooth, a door now and then.
    tStatusReading r{.utcMs = start + i * minute, .offsetSec = -3 * 3600};
    const double day = std::sin(double(i % 1440) / 1440.0 * 6.2832);
    for (int k = 0; k < 4; ++k) {
        r.state[k] = stsTEMP_OK;
        r.value[k] = int32_t(-180 + 20 * day + (i % 17) * 3 + k * 40 + ((i % 997) == 0 ? 150 : 0));
    }
    r.relay = {int32_t(i % 17 < 9), int32_t(i % 360 < 20), 1, 0};
    r.result = 22;
    r.roundTripMs = 11 + int32_t(i % 5);
    return r;
}

double Median(std::vector<double> v) {
    return Percentile(std::move(v), 0.5);
}
} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString path =
        argc > 1 ? QString::fromLocal8Bit(argv[1]) : dir.filePath("historico.sqlite");
    QFile::remove(path);
    if (argc > 2)
        yearReadings = QByteArray(argv[2]).toLongLong() * 1440;

    tHistoryStore store;
    if (!store.Open(path)) {
        std::fprintf(stderr, "%s\n", qPrintable(store.Message()));
        return 1;
    }
    const int64_t ctl = store.ControllerId(
        {0, QStringLiteral("/dev/ttyUSB0"), 201, QStringLiteral("qx4r"), QStringLiteral("1.2")});
    const int64_t start = 1'767'225'600'000; // 2026-01-01 00:00 UTC

    // The year, generated in large transactions (the recorder's own path is
    // timed apart below).
    QElapsedTimer fill;
    fill.start();
    for (int64_t i = 0; i < yearReadings; ++i) {
        if (i % 50'000 == 0)
            store.Begin();
        store.AddReading(ctl, Generated(i, start));
        if (i % 50'000 == 49'999 || i == yearReadings - 1)
            store.Commit();
    }
    std::printf("generated %lld readings (4 sensors, one a minute) in %.1f s\n",
                (long long)yearReadings, fill.elapsed() / 1000.0);
    // The size once the write-ahead log is folded in, as a reopened file has it.
    store.Close();
    store.Open(path);
    std::printf("file size: %.1f MB (goal <= 50 MB)\n", QFileInfo(path).size() / 1'000'000.0);

    // The recorder's path: one reading, one transaction, as it runs.
    const int recorded = 2000;
    const double cpu0 = ThreadCpuMs();
    QElapsedTimer wall;
    wall.start();
    std::vector<double> each;
    for (int i = 0; i < recorded; ++i) {
        QElapsedTimer one;
        one.start();
        store.AddReading(ctl, Generated(yearReadings + i, start));
        each.push_back(one.nsecsElapsed() / 1e6);
    }
    const double cpu = ThreadCpuMs() - cpu0;
    std::printf("recording: CPU %.3f ms per reading (goal <= 1 ms); wall median %.3f ms, "
                "99th %.3f ms, longest %.3f ms\n",
                cpu / recorded, Median(each), Percentile(each, 0.99),
                *std::max_element(each.begin(), each.end()));

    // The controller's event log: each slot read is stored once; reading the
    // log again (the hourly walk, another program) meets slots already held.
    const auto slots = [&](const char *what) {
        const int n = 2000;
        const double c0 = ThreadCpuMs();
        int fresh = 0;
        for (int i = 0; i < n; ++i) {
            tHistLogSlot s;
            s.controller = ctl;
            s.slot = i % 1000;
            s.readUtcMs = start + i;
            s.event = uint8_t(1 + i % 5);
            s.sensor1 = uint16_t(i);
            s.year = uint16_t(2020 + i / 1000);
            s.month = 1;
            s.mday = 1;
            bool isNew = false;
            store.AddLogSlot(s, &isNew);
            fresh += isNew;
        }
        std::printf("event log, %s: CPU %.3f ms per slot (%d of %d stored)\n", what,
                    (ThreadCpuMs() - c0) / n, fresh, n);
    };
    slots("new slots");
    slots("slots already held");

    // A curve's query: one bucket per pixel column of a 1000-pixel plot, all
    // four sensors, as the page asks for them.
    const auto curve = [&](int64_t from, int64_t to, const char *what, const char *goal) {
        std::vector<double> times;
        size_t buckets = 0;
        for (int run = 0; run < 7; ++run) {
            QElapsedTimer t;
            t.start();
            buckets = 0;
            for (int k = 0; k < 4; ++k)
                buckets += store.Buckets(ctl, k, from, to, std::max<int64_t>(1, (to - from) / 1000))
                               .size();
            times.push_back(t.nsecsElapsed() / 1e6);
        }
        std::printf("query + thinning, %s, 4 sensors: median %.1f ms, worst %.1f ms, %zu buckets "
                    "(goal %s)\n",
                    what, Median(times), *std::max_element(times.begin(), times.end()), buckets,
                    goal);
    };
    const int64_t end = start + yearReadings * minute;
    curve(start, end, "1 year", "<= 100 ms");
    curve(end - 1440 * minute, end, "24 h", "<= 20 ms");

    const auto timed = [&](const char *what, auto &&run) {
        QElapsedTimer t;
        t.start();
        const size_t n = run();
        std::printf("%s: %.1f ms (%zu rows)\n", what, t.nsecsElapsed() / 1e6, n);
    };
    const int64_t month = end - 30 * 1440 * minute;
    const tHistLimits limits{-200, -120};
    timed("readings, 30 days (CSV export)", [&] { return store.Readings(ctl, month, end).size(); });
    timed("relay changes, 30 days", [&] { return store.RelayChanges(ctl, month, end).size(); });
    timed("relay changes, 1 year", [&] { return store.RelayChanges(ctl, start, end).size(); });
    timed("days, 30 days, 1 sensor", [&] { return store.Days(ctl, 0, month, end, limits).size(); });
    timed("excursions, 30 days, 1 sensor",
          [&] { return store.Excursions(ctl, 0, month, end, limits).size(); });

    // The chain over the whole file, as `historico verificar` walks it.
    QElapsedTimer verify;
    verify.start();
    const double verifyCpu0 = ThreadCpuMs();
    const std::optional<tHistChainCheck> check = store.VerifyChain();
    std::printf("chain walk (historico verificar), %lld links: %.1f s, CPU %.1f s, %s (goal <= "
                "10 s)\n",
                check ? (long long)check->links : 0LL, verify.elapsed() / 1000.0,
                (ThreadCpuMs() - verifyCpu0) / 1000.0,
                !check           ? "failed"
                : check->Whole() ? "whole"
                                 : "NOT whole");
    return 0;
}
