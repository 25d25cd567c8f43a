// Soak: status reads against the simulated controller for SECONDS, a
// FAULT_PERCENT share of them spoiled by a fault switch drawn at random.
// Prints what came back, whether a good read ever brought words other than
// the controller's, the latency of good reads, and the resident memory each
// minute, so that a slow leak or a wrong answer shows over a long run.
//
//     build/bench/soak SECONDS FAULT_PERCENT [SEED]
//
// Exits with 1 when a good read brought a wrong word.
#include "faults.h"
#include "ondrel_sim.h"
#include "process_figures.h"
#include "u_ondrel.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <numeric>
#include <random>
#include <vector>

namespace {

constexpr int statusStart = 0x0200;
constexpr int statusWords = 21;

// Every fault switch, with the range its parameter is drawn from. The echo
// faults concern writes only, so their turn is a statistics restart.
struct tFaultRow {
    sim::Fault fault;
    int paramLow;
    int paramHigh;
    bool write;
};

constexpr tFaultRow faultTable[] = {
    {.fault = sim::Fault::Silence, .paramLow = 0, .paramHigh = 0, .write = false},
    {.fault = sim::Fault::Exception, .paramLow = 1, .paramHigh = 6, .write = false},
    {.fault = sim::Fault::BadCrc, .paramLow = 0, .paramHigh = 0, .write = false},
    {.fault = sim::Fault::OtherSlave, .paramLow = 0, .paramHigh = 0, .write = false},
    {.fault = sim::Fault::OtherFunction, .paramLow = 0, .paramHigh = 0, .write = false},
    {.fault = sim::Fault::WrongByteCount, .paramLow = -2, .paramHigh = 2, .write = false},
    {.fault = sim::Fault::WrongEcho, .paramLow = 0, .paramHigh = 0, .write = true},
    {.fault = sim::Fault::WrongEchoAddr, .paramLow = 0, .paramHigh = 0, .write = true},
    {.fault = sim::Fault::StrayBytes, .paramLow = 1, .paramHigh = 2, .write = false},
    // Up to twice the 864 ms time-out: some come in time, some after it.
    {.fault = sim::Fault::Late, .paramLow = 100, .paramHigh = 1800, .write = false},
    {.fault = sim::Fault::Chunked, .paramLow = 1, .paramHigh = 20, .write = false},
    {.fault = sim::Fault::Oversize, .paramLow = 257, .paramHigh = 400, .write = false},
};
constexpr int faultKinds = int(std::size(faultTable));

struct tTally {
    long reads = 0;
    long writes = 0;
    long goodReads = 0;
    long wrongWords = 0;
    long failedWithoutFault = 0; // knock-on: a late answer spoiling the next
    long goodDespiteFault = 0;   // late but in time, chunked
    std::array<long, faultKinds> faults{};
    std::map<int32_t, long> codes;
    // Good-read latencies, in room taken and touched before the run, so that
    // the resident memory shows the driver's growth and not this record's.
    std::vector<double> goodMs;

    long faultCount() const { return std::accumulate(faults.begin(), faults.end(), 0L); }
};

void printMinute(int minute, const tTally &t) {
    std::printf("%4d min  reads %7ld  good %7ld  faults %5ld  wrong words %ld  RSS %ld kB\n",
                minute, t.reads, t.goodReads, t.faultCount(), t.wrongWords, ResidentKb());
    std::fflush(stdout);
}

void printSummary(const tTally &t, double seconds, long rssKb) {
    std::printf("\nafter %.0f s\n", seconds);
    std::printf("  reads %ld, good %ld; writes %ld (turns of the echo faults)\n", t.reads,
                t.goodReads, t.writes);
    std::printf("  faults injected %ld:", t.faultCount());
    for (int k = 0; k < faultKinds; ++k)
        std::printf(" %s %ld", sim::faultName(faultTable[k].fault), t.faults[size_t(k)]);
    std::printf("\n  codes seen:");
    for (const auto &[code, n] : t.codes)
        std::printf(" [%d] %ld", code, n);
    std::printf("\n  good despite a fault %ld, failed without a fault of their own %ld\n",
                t.goodDespiteFault, t.failedWithoutFault);
    std::printf("  wrong words %ld\n", t.wrongWords);
    std::vector<double> ms(t.goodMs.begin(), t.goodMs.begin() + t.goodReads);
    std::sort(ms.begin(), ms.end());
    std::printf("  good reads: median %.2f ms, p99 %.2f ms, max %.2f ms\n", Percentile(ms, 0.5),
                Percentile(ms, 0.99), Percentile(ms, 1));
    std::printf("  RSS %ld kB at the end of the run\n", rssKb);
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s SECONDS FAULT_PERCENT [SEED]\n", argv[0]);
        return 2;
    }
    const double seconds = std::max(1.0, std::atof(argv[1]));
    const double faultPercent = std::clamp(std::atof(argv[2]), 0.0, 100.0);
    const unsigned seed = argc > 3 ? unsigned(std::strtoul(argv[3], nullptr, 0)) : 1u;

    sim::Controller controller;
    if (!controller.start()) {
        std::fprintf(stderr, "no pseudo-terminal for the simulated controller\n");
        return 1;
    }
    tOndrel dev;
    dev.SetBaudRate(7);
    dev.SetTimeout(1);
    if (dev.OpenConnection(QString::fromStdString(controller.portName()), 201) != 1) {
        std::fprintf(stderr, "identification failed: %d\n", dev.ErrorCom);
        return 1;
    }
    std::printf("soak: %.0f s, %.2f %% faults, seed %u; status reads (%d words from 0x%X) of a "
                "simulated qx4r at 115200 bit/s, time-out 864 ms\n",
                seconds, faultPercent, seed, statusWords, statusStart);

    std::mt19937 random(seed);
    std::uniform_real_distribution<double> chance(0, 100);
    std::uniform_int_distribution<int> kind(0, faultKinds - 1);
    tTally t;
    // A read takes at least the 50 ms silence that ends its answer.
    t.goodMs.assign(size_t(seconds * 25) + 100, 0.0);
    QElapsedTimer run;
    run.start();
    int minute = 0;
    printMinute(minute, t);
    for (long i = 0; run.elapsed() < qint64(seconds * 1000); ++i) {
        // New readings every turn, so an answer to another read cannot pass
        // for this one's.
        controller.setSensor(0, sim::SensorState::Valid, int(i % 2001) - 1000);
        controller.setSensor(1, sim::SensorState::Valid, int((i * 7) % 1501) - 500);
        std::array<uint16_t, statusWords> expected{};
        for (int k = 0; k < statusWords; ++k)
            expected[size_t(k)] = controller.reg(statusStart + k);

        const tFaultRow *row = nullptr;
        if (chance(random) < faultPercent) {
            row = &faultTable[kind(random)];
            std::uniform_int_distribution<int> param(row->paramLow, row->paramHigh);
            controller.setFault(row->fault, param(random), 1);
            ++t.faults[size_t(row - faultTable)];
        }
        const bool write = row && row->write;
        QElapsedTimer clock;
        clock.start();
        const int32_t r = dev.SendCommand(write ? cmdRST_STAT_TEMP : cmdGET_STATUS);
        const double ms = double(clock.nsecsElapsed()) / 1e6;
        controller.clearFault();

        ++t.codes[r];
        (write ? t.writes : t.reads) += 1;
        if (r > 0 && row)
            ++t.goodDespiteFault;
        if (r <= 0 && !row)
            ++t.failedWithoutFault;
        if (!write && r == statusWords) {
            if (size_t(t.goodReads) < t.goodMs.size())
                t.goodMs[size_t(t.goodReads)] = ms;
            else
                t.goodMs.push_back(ms);
            ++t.goodReads;
            for (int k = 0; k < statusWords; ++k)
                if (dev.Regs()[k] != expected[size_t(k)])
                    ++t.wrongWords;
        }
        if (run.elapsed() >= (minute + 1) * 60000LL)
            printMinute(++minute, t);
    }
    printSummary(t, double(run.elapsed()) / 1000, ResidentKb());
    return t.wrongWords == 0 ? 0 : 1;
}
