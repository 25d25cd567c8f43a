// What judging a reading against its limits costs: the judge alone, and the
// whole path a recorded reading takes (judge, limits read again each minute,
// episodes opened and closed in a history file), over a day of readings a
// second for a cold room that warms past its maximum now and then.
//
// bench_alarms [READINGS]   (default 86400)

#include "alarm_store.h"

#include "u_ondrel.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cmath>
#include <cstdio>

namespace {
tStatusReading Generated(int64_t i, int64_t start) {
    tStatusReading r{.utcMs = start + i * 1000, .offsetSec = -3 * 3600, .result = 22};
    const double wave = std::sin(double(i % 3600) / 3600.0 * 6.2832);
    for (int k = 0; k < 4; ++k) {
        r.state[k] = stsTEMP_OK;
        r.value[k] = int32_t(40 + 45 * wave + k * 5);
    }
    r.relay = {1, 0, 0, 0};
    return r;
}
} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    const int64_t count = argc > 1 ? QByteArray(argv[1]).toLongLong() : 86'400;
    const int64_t start = 1'767'225'600'000;
    tAlarmSettings settings;
    for (tAlarmLimits &l : settings.sensor)
        l = {.low = 0, .high = 80, .delayMin = 1};

    std::vector<tStatusReading> readings;
    for (int64_t i = 0; i < count; ++i)
        readings.push_back(Generated(i, start));

    tAlarmJudge judge(settings);
    std::vector<tAlarmChange> changes;
    QElapsedTimer t;
    t.start();
    for (const tStatusReading &r : readings)
        judge.Judge(AlarmReadingOf(r), changes);
    const double judgeMs = double(t.nsecsElapsed()) / 1e6 / double(count);

    QTemporaryDir dir;
    tHistoryStore store;
    if (!store.Open(dir.filePath(QStringLiteral("historico.sqlite")))) {
        std::fprintf(stderr, "%s\n", qPrintable(store.Message()));
        return 1;
    }
    const tHistController where{0, QStringLiteral("/dev/ttyUSB0"), 1, QStringLiteral("qx4r"),
                                QStringLiteral("1.2")};
    const int64_t ctl = store.ControllerId(where);
    tAlarmStore alarms(store);
    for (int32_t k = 1; k <= 4; ++k)
        alarms.SetLimits(where.port, 1, k, settings.sensor[size_t(k - 1)], QStringLiteral("bench"),
                         start, 0);
    int64_t told = 0;
    tAlarmMonitor monitor(
        store, [](const QString &text) { std::fprintf(stderr, "%s\n", qPrintable(text)); },
        [&](const tAlarmEpisode &, bool) { ++told; });
    t.restart();
    for (const tStatusReading &r : readings)
        monitor.Observe(where, ctl, r);
    const double monitorMs = double(t.nsecsElapsed()) / 1e6 / double(count);

    std::printf("readings: %lld, changes judged: %zu, openings and closings stored: %lld\n",
                static_cast<long long>(count), changes.size(), static_cast<long long>(told));
    std::printf("judge alone:            %.5f ms per reading (goal at most 0.05 ms)\n", judgeMs);
    std::printf("judged and stored:      %.5f ms per reading\n", monitorMs);
    return 0;
}
