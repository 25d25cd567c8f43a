// Time a full scan of addresses 1..247 takes with three controllers on a
// line paced at the scan's speed behind a USB adapter, beside the scan's own
// floor (every empty address waits out the scan time-out), and the link
// figures the scan leaves behind.
//
//   bench_scan [SPEED_CODE...]   (default: 7 and 3, that is 115200 and 9600)
#include "bus_scan.h"
#include "ondrel_sim.h"
#include "process_figures.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>
#include <cstdlib>
#include <memory>

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    QList<int32_t> codes;
    for (int i = 1; i < argc; ++i)
        codes << std::atoi(argv[i]);
    if (codes.isEmpty())
        codes = {7, 3};

    constexpr int addresses[] = {1, 17, 247};
    constexpr int adapterLatencyMs = 16;
    for (int32_t code : codes) {
        const int baud = BaudRateOf(code);
        sim::Options first{.slaveId = addresses[0],
                           .baud = baud,
                           .adapterLatencyMs = adapterLatencyMs,
                           .answerDelayMs = 2};
        sim::Controller line(first);
        for (int id : {addresses[1], addresses[2]})
            line.addToBus({.model = "qx2n", .slaveId = id});
        if (!line.start()) {
            std::fprintf(stderr, "no pseudo-terminal for the simulated controllers\n");
            return 1;
        }
        tOndrel dev;
        dev.SetBaudRate(code);
        dev.SetTimeout(1);
        const double cpu0 = ProcessCpuMs();
        QElapsedTimer clock;
        clock.start();
        const tScanResult r = ScanBus(dev, {.port = QString::fromStdString(line.portName())});
        const double seconds = double(clock.nsecsElapsed()) / 1e9;
        const double cpu = ProcessCpuMs() - cpu0;

        const int32_t timeout = ScanTimeoutMs(code);
        const double floor = (247 - 3) * timeout / 1000.0;
        std::printf("scan 1..247 at %d bit/s, 3 controllers, adapter latency %d ms\n", baud,
                    adapterLatencyMs);
        std::printf("  found   ");
        for (const tFoundController &f : r.found)
            std::printf(" %d (%s)", f.id, qPrintable(f.model));
        std::printf("\n  time     %6.2f s (floor %.2f s: 244 empty addresses x %d ms)\n", seconds,
                    floor, timeout);
        std::printf("  CPU      %6.2f s for the whole process (with the simulator)\n",
                    cpu / 1000.0);
        std::printf("  link     %s\n", qPrintable(dev.LinkStats().Summary()));
        if (r.found.size() != 3)
            return 1;
    }
    return 0;
}
