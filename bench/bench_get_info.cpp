// Time and processor cost of identification reads against the simulated
// controller at 115200 bit/s, beside what the design cannot go below: the
// request and the answer on the wire plus the silence that ends the answer.
#include "ondrel_sim.h"
#include "process_figures.h"
#include "u_ondrel.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 200;

    sim::Controller controller;
    if (!controller.start()) {
        std::fprintf(stderr, "no pseudo-terminal for the simulated controller\n");
        return 1;
    }
    tOndrel dev;
    dev.SetBaudRate(7);
    dev.SetTimeout(3);
    if (dev.OpenConnection(QString::fromStdString(controller.portName()), 201) != 1) {
        std::fprintf(stderr, "identification failed: %d\n", dev.ErrorCom);
        return 1;
    }

    std::vector<double> wall;
    wall.reserve(size_t(runs));
    const double threadCpu0 = ThreadCpuMs();
    const double processCpu0 = ProcessCpuMs();
    QElapsedTimer clock;
    for (int i = 0; i < runs; ++i) {
        clock.start();
        const int32_t r = dev.SendCommand(cmdGET_INFO);
        wall.push_back(double(clock.nsecsElapsed()) / 1e6);
        if (r != 7) {
            std::fprintf(stderr, "transaction %d failed: %d\n", i, r);
            return 1;
        }
    }
    const double threadCpu = (ThreadCpuMs() - threadCpu0) / runs;
    const double processCpu = (ProcessCpuMs() - processCpu0) / runs;

    // 8-byte request and 19-byte answer, 10 bits a byte in 8N1, plus the
    // 50 ms byte wait that tells the answer has ended.
    const double wire = (8 + 19) * 10 * 1000.0 / 115200;
    const double floor = wire + 50.0;
    std::printf("cmdGET_INFO x %d at 115200 bit/s (simulated controller on a pty)\n", runs);
    std::printf("  floor    %7.2f ms (wire %.2f ms + 50 ms silence)\n", floor, wire);
    std::printf("  median   %7.2f ms (%+.2f ms from the floor)\n", Percentile(wall, 0.5),
                Percentile(wall, 0.5) - floor);
    std::printf("  p95      %7.2f ms\n", Percentile(wall, 0.95));
    std::printf("  CPU      %7.3f ms per transaction in the driver's thread\n", threadCpu);
    std::printf("           %7.3f ms per transaction for the whole process (with the simulator)\n",
                processCpu);
    return 0;
}
