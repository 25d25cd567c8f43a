// The two ways of ending an answer on a line paced like a technician's: the
// simulated controller answers at the bit rate behind an emulated USB adapter
// (latency timer, 62-byte packets). Status exchanges in both modes beside
// their floors, answers split by the adapter, and a 1001-slot log read.
//
//   bench_fast_read [EXCHANGES [SPLIT_EXCHANGES [LOG_SLOTS]]]
//
// Defaults 200, 1000 and 1001; 0 skips that part.
#include "ondrel_sim.h"
#include "process_figures.h"
#include "u_ondrel.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

constexpr int requestBytes = 8;
constexpr int statusAnswerBytes = 5 + 2 * 21;
constexpr double silenceMs = 50.0; // the port's byte wait that ends an answer by silence

struct tLine {
    int baud;
    int latencyMs;
    int answerDelayMs = 0;
};

// Speed codes of the driver for the speeds used here.
int32_t speedCode(int baud) {
    return baud == 9600 ? 3 : 7;
}

const char *modeName(bool fast) {
    return fast ? "fast" : "design";
}

// A controller on the paced line and a driver connected to it.
struct tBench {
    sim::Controller controller;
    tOndrel dev;
    bool ok = false;

    tBench(const tLine &line, bool fast, int logSlots = 100)
        : controller(sim::Options{.logSlots = logSlots,
                                  .preloadEvents = logSlots,
                                  .baud = line.baud,
                                  .adapterLatencyMs = line.latencyMs,
                                  .answerDelayMs = line.answerDelayMs}) {
        if (!controller.start()) {
            std::fprintf(stderr, "no pseudo-terminal for the simulated controller\n");
            return;
        }
        dev.SetBaudRate(speedCode(line.baud));
        dev.SetTimeout(3);
        dev.SetFastRead(fast);
        const int32_t r = dev.OpenConnection(QString::fromStdString(controller.portName()), 201);
        if (r != 1) {
            std::fprintf(stderr, "identification failed: %d\n", r);
            return;
        }
        ok = true;
    }
};

struct tFigures {
    std::vector<double> wall;
    double cpu = 0;
    int failures = 0;
    int split = 0;
};

tFigures statusExchanges(const tLine &line, bool fast, int runs) {
    tFigures f;
    tBench b(line, fast);
    if (!b.ok) {
        f.failures = runs;
        return f;
    }
    for (int i = 0; i < 5; ++i) // settle the adapter's timer and the caches
        b.dev.SendCommand(cmdGET_STATUS);
    const int split0 = b.controller.splitReplies();
    f.wall.reserve(size_t(runs));
    const double cpu0 = ThreadCpuMs();
    QElapsedTimer clock;
    for (int i = 0; i < runs; ++i) {
        clock.start();
        if (b.dev.SendCommand(cmdGET_STATUS) != 21)
            ++f.failures;
        f.wall.push_back(double(clock.nsecsElapsed()) / 1e6);
    }
    f.cpu = (ThreadCpuMs() - cpu0) / runs;
    f.split = b.controller.splitReplies() - split0;
    return f;
}

// Wire time of one status exchange plus the adapter's latency, plus the
// silence when the answer ends by it.
double floorMs(const tLine &line, bool fast) {
    const double wire = (requestBytes + statusAnswerBytes) * 10 * 1000.0 / line.baud;
    return wire + line.latencyMs + (fast ? 0 : silenceMs);
}

void printRow(const tLine &line, bool fast, const tFigures &f) {
    const double floor = floorMs(line, fast);
    const double median = Percentile(f.wall, 0.5);
    std::printf("  %6d  %2d ms  %-6s  %7.2f  %7.2f (%+6.2f)  %7.2f  %6.3f  %4d/%zu\n", line.baud,
                line.latencyMs, modeName(fast), floor, median, median - floor,
                Percentile(f.wall, 0.95), f.cpu, f.failures, f.wall.size());
    std::fflush(stdout);
}

// As the log screen reads: the log's size and last slot, then per slot a
// selection and a read, newest first, the window's events between slots.
void logRead(const tLine &line, bool fast, int slots) {
    tBench b(line, fast, slots);
    if (!b.ok)
        return;
    QElapsedTimer clock;
    clock.start();
    int failures = 0;
    if (b.dev.SendCommand(cmdGET_LOG_INFO) < 0 || b.dev.LogCountSlots < 1) {
        std::fprintf(stderr, "no log information: %d\n", b.dev.ErrorCom);
        return;
    }
    b.dev.LogSlotRead = b.dev.LogLastSlot;
    for (int i = 0; i < slots; ++i) {
        if (b.dev.SendCommand(cmdSET_LOG_READ) < 0 || b.dev.SendCommand(cmdGET_LOG_READ) < 0)
            ++failures;
        b.dev.LogSlotRead =
            b.dev.LogSlotRead == 0 ? b.dev.LogCountSlots - 1 : b.dev.LogSlotRead - 1;
        QCoreApplication::processEvents();
    }
    const double s = double(clock.nsecsElapsed()) / 1e9;
    std::printf("  %6d  %2d ms  %-6s  %d slots in %6.1f s (%5.1f ms a slot), %d failed\n",
                line.baud, line.latencyMs, modeName(fast), slots, s, s * 1000 / slots, failures);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    auto arg = [&](int i, int fallback) {
        return argc > i ? std::max(0, atoi(argv[i])) : fallback;
    };
    const int runs = arg(1, 200);
    const int splitRuns = arg(2, 1000);
    const int logSlots = arg(3, 1001);

    const tLine lines[] = {{115200, 16}, {115200, 1}, {9600, 16}};
    if (runs > 0) {
        std::printf("cmdGET_STATUS (8-byte request, %d-byte answer) x %d per row; times in ms, CPU "
                    "in ms per exchange in the driver's thread\n",
                    statusAnswerBytes, runs);
        std::printf(
            "    baud  adapter mode      floor   median (vs floor)      p95     CPU  failed\n");
        for (const tLine &line : lines)
            for (bool fast : {false, true})
                printRow(line, fast, statusExchanges(line, fast, runs));
        std::printf("  floor: wire time of request and answer + adapter latency (+ 50 ms silence "
                    "in the design's mode).\n"
                    "  The adapter's timer ticks every latency period: an exchange that starts "
                    "just after a tick and\n"
                    "  fits in one period ends at the next tick, so a median can sit below that "
                    "floor.\n");
    }
    if (splitRuns > 0) {
        const tLine line{115200, 16, 16};
        std::printf(
            "\nAnswers split by the adapter: 115200 bit/s, 16 ms timer, random answer delay "
            "up to 16 ms, %d exchanges per mode\n",
            splitRuns);
        for (bool fast : {false, true}) {
            const tFigures f = statusExchanges(line, fast, splitRuns);
            std::printf("  %-6s  %d answers split, %d failed, median %.2f ms, p95 %.2f ms\n",
                        modeName(fast), f.split, f.failures, Percentile(f.wall, 0.5),
                        Percentile(f.wall, 0.95));
            std::fflush(stdout);
        }
    }
    if (logSlots > 0) {
        std::printf("\nEvent log read, cmdSET_LOG_READ then cmdGET_LOG_READ per slot\n");
        for (bool fast : {false, true})
            logRead(lines[0], fast, logSlots);
    }
    return 0;
}
