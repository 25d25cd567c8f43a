// The two ways of ending an answer on a line paced like a technician's: the
// simulated controller answers at the bit rate behind an emulated USB adapter
// (latency timer, 62-byte packets) or with no adapter (bytes one by one).
// Status exchanges in both modes beside their floors and beside libmodbus's
// own master on the same line in the same run, answers split by the adapter,
// answers that stall in the middle or pause right after their first bytes,
// and a 1001-slot log read.
//
//   bench_fast_read [EXCHANGES [SPLIT_EXCHANGES [LOG_SLOTS [STALL_EXCHANGES
//                   [PAUSE_EXCHANGES]]]]]
//
// Defaults 200, 1000, 1001, 1000 and 50; 0 skips that part.
#include "ondrel_sim.h"
#include "peer_master.h"
#include "process_figures.h"
#include "u_ondrel.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <vector>

namespace {

constexpr int requestBytes = 8;
constexpr int statusAnswerBytes = 5 + 2 * 21;
constexpr double silenceMs = 50.0; // the port's byte wait that ends an answer by silence

struct tLine {
    int baud;
    int latencyMs;
    int answerDelayMs = 0;
    int stallAfter = 0; // where the stall fault pauses (sim::Options::stallAfterBytes)
};

// Speed codes of the driver for the speeds used here.
int32_t speedCode(int baud) {
    return baud == 9600 ? 3 : 7;
}

// The masters compared: Tarvik's driver ending answers by silence (the
// design) or by their length (fast), and libmodbus's RTU master, which reads
// each answer by its length as it arrives.
enum class tMaster { Design, Fast, Peer };
constexpr tMaster allMasters[] = {tMaster::Design, tMaster::Fast, tMaster::Peer};

const char *modeName(tMaster m) {
    switch (m) {
    case tMaster::Design:
        return "design";
    case tMaster::Fast:
        return "fast";
    case tMaster::Peer:
        return "peer";
    }
    return "?";
}

const char *modeName(bool fast) {
    return modeName(fast ? tMaster::Fast : tMaster::Design);
}

sim::Options lineOptions(const tLine &line, int logSlots) {
    return sim::Options{.logSlots = logSlots,
                        .preloadEvents = logSlots,
                        .baud = line.baud,
                        .adapterLatencyMs = line.latencyMs,
                        .answerDelayMs = line.answerDelayMs,
                        .stallAfterBytes = line.stallAfter};
}

// libmodbus's master on a controller's line, with the driver's response
// time-out (3 x 864 ms).
struct tPeer {
    sim::Controller controller;
    std::unique_ptr<tPeerMaster> master;
    bool ok = false;

    explicit tPeer(const tLine &line) : controller(lineOptions(line, 100)) {
        if (!controller.start()) {
            std::fprintf(stderr, "no pseudo-terminal for the simulated controller\n");
            return;
        }
        master = std::make_unique<tPeerMaster>(controller.portName(), line.baud, 201, 2592);
        ok = master->isOpen();
        if (!ok)
            std::fprintf(stderr, "libmodbus could not open %s\n", controller.portName().c_str());
    }
    bool status() {
        uint16_t regs[21];
        return master->read(0x0200, 21, regs);
    }
};

// A controller on the paced line and a driver connected to it.
struct tBench {
    sim::Controller controller;
    tOndrel dev;
    bool ok = false;

    tBench(const tLine &line, bool fast, int logSlots = 100)
        : controller(lineOptions(line, logSlots)) {
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
    std::vector<double> cpu; // per exchange
    int failures = 0;
    int split = 0;
};

// One master on a controller of its own on the line.
struct tContender {
    tMaster master;
    std::unique_ptr<tBench> driver;
    std::unique_ptr<tPeer> peer;

    tContender(const tLine &line, tMaster m) : master(m) {
        if (m == tMaster::Peer)
            peer = std::make_unique<tPeer>(line);
        else
            driver = std::make_unique<tBench>(line, m == tMaster::Fast);
    }
    bool ok() const { return peer ? peer->ok : driver->ok; }
    sim::Controller &controller() { return peer ? peer->controller : driver->controller; }
    bool status() { return peer ? peer->status() : driver->dev.SendCommand(cmdGET_STATUS) == 21; }
};

// `runs` status reads by each master, taking turns exchange by exchange so
// that the load of a shared machine weighs on all of them alike; each after
// five that settle the adapter's timer and the caches. `fault` spoils every
// answer.
std::vector<tFigures> statusExchanges(const tLine &line, const std::vector<tMaster> &masters,
                                      int runs, sim::Fault fault = sim::Fault::None,
                                      int faultParam = 0) {
    std::vector<std::unique_ptr<tContender>> contenders;
    std::vector<tFigures> figures(masters.size());
    std::vector<int> split0;
    for (tMaster m : masters) {
        contenders.push_back(std::make_unique<tContender>(line, m));
        tContender &c = *contenders.back();
        if (c.ok())
            for (int i = 0; i < 5; ++i)
                c.status();
        if (fault != sim::Fault::None)
            c.controller().setFault(fault, faultParam);
        split0.push_back(c.controller().splitReplies());
    }
    QElapsedTimer clock;
    // Each exchange starts at a random moment of the adapter's timer period,
    // as a technician's would: a master whose turns fell in step with its
    // adapter's timer would otherwise always (or never) see its answers split.
    std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<int> phaseUs(0, line.latencyMs * 1000);
    std::vector<size_t> order(contenders.size());
    for (size_t k = 0; k < order.size(); ++k)
        order[k] = k;
    for (int i = 0; i < runs; ++i) {
        // In a new order each round: a master that always ran right after
        // another, or always first, would carry what that one leaves behind
        // (caches, its line's threads still finishing).
        std::shuffle(order.begin(), order.end(), random);
        for (size_t k : order) {
            tFigures &f = figures[k];
            if (!contenders[k]->ok()) {
                ++f.failures;
                continue;
            }
            if (line.latencyMs > 0)
                QThread::usleep(phaseUs(random));
            const double cpu0 = ThreadCpuMs();
            clock.start();
            if (!contenders[k]->status())
                ++f.failures;
            f.wall.push_back(double(clock.nsecsElapsed()) / 1e6);
            f.cpu.push_back(ThreadCpuMs() - cpu0);
        }
    }
    for (size_t k = 0; k < contenders.size(); ++k) {
        figures[k].split = contenders[k]->controller().splitReplies() - split0[k];
    }
    return figures;
}

// Wire time of one status exchange plus the adapter's latency, plus the
// silence when the answer ends by it.
double floorMs(const tLine &line, tMaster master) {
    const double wire = (requestBytes + statusAnswerBytes) * 10 * 1000.0 / line.baud;
    return wire + line.latencyMs + (master == tMaster::Design ? silenceMs : 0);
}

double mean(const std::vector<double> &v) {
    double sum = 0;
    for (double x : v)
        sum += x;
    return v.empty() ? 0 : sum / double(v.size());
}

// `peer`: the peer's figures on the same line, for the ratios. The median
// is the usual exchange; the mean also carries the rare ones the host's
// other guests or an interrupt made costly.
void printRow(const tLine &line, tMaster master, const tFigures &f, const tFigures &peer) {
    const double floor = floorMs(line, master);
    const double median = Percentile(f.wall, 0.5);
    const double cpuMean = mean(f.cpu), peerMean = mean(peer.cpu);
    const double cpuMedian = Percentile(f.cpu, 0.5), peerMedian = Percentile(peer.cpu, 0.5);
    std::printf("  %6d  %2d ms  %-6s  %7.2f  %7.2f (%+6.2f)  %7.2f  %6.3f %5.2f  %6.3f %5.2f  "
                "%4d/%zu\n",
                line.baud, line.latencyMs, modeName(master), floor, median, median - floor,
                Percentile(f.wall, 0.95), cpuMedian, peerMedian > 0 ? cpuMedian / peerMedian : 0.0,
                cpuMean, peerMean > 0 ? cpuMean / peerMean : 0.0, f.failures, f.wall.size());
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
    const int stallRuns = arg(4, 1000);
    const int pauseRuns = arg(5, 50);

    const tLine lines[] = {{115200, 16}, {115200, 1}, {115200, 0}, {9600, 16}, {9600, 0}};
    if (runs > 0) {
        std::printf("cmdGET_STATUS (8-byte request, %d-byte answer) x %d per row; times in ms, CPU "
                    "in ms per exchange in the master's thread, and its ratio to the peer's\n",
                    statusAnswerBytes, runs);
        std::printf("                                                       CPU: median"
                    "          mean\n"
                    "    baud  adapter mode      floor   median (vs floor)      p95      ms x "
                    "peer      ms x peer  failed\n");
        for (const tLine &line : lines) {
            const std::vector<tFigures> f =
                statusExchanges(line, {tMaster::Design, tMaster::Fast, tMaster::Peer}, runs);
            for (size_t k = 0; k < f.size(); ++k)
                printRow(line, allMasters[k], f[k], f[2]);
        }
        std::printf("  adapter 0 ms: no adapter, every byte reaches the master as it crosses the "
                    "wire.\n"
                    "  peer: libmodbus's RTU master (response time-out 2.592 s, byte time-out "
                    "0.5 s).\n"
                    "  The three masters take turns exchange by exchange, in a new order each "
                    "round,\n"
                    "  each with a simulated controller of its own.\n"
                    "  floor: wire time of request and answer + adapter latency (+ 50 ms silence "
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
        const std::vector<tFigures> all =
            statusExchanges(line, {tMaster::Design, tMaster::Fast, tMaster::Peer}, splitRuns);
        for (size_t k = 0; k < all.size(); ++k) {
            const tFigures &f = all[k];
            std::printf("  %-6s  %d answers split, %d failed, median %.2f ms, p95 %.2f ms\n",
                        modeName(allMasters[k]), f.split, f.failures, Percentile(f.wall, 0.5),
                        Percentile(f.wall, 0.95));
        }
        std::fflush(stdout);
    }
    if (stallRuns > 0) {
        // Answers that stop in the middle for longer than the silence that
        // ends an answer: behind a slow adapter timer, split where its timer
        // ticks, and answers that stall on their own (the simulator's fault).
        // The second case is deterministic: a tenth of the exchanges shows it.
        struct tStallCase {
            const char *what;
            tLine line;
            sim::Fault fault;
            int faultParam;
            int runs;
        };
        const tStallCase cases[] = {
            {"adapter timer 60 ms, random answer delay up to 60 ms",
             {115200, 60, 60},
             sim::Fault::None,
             0,
             stallRuns},
            {"every answer stalls 100 ms after its first half, no adapter",
             {115200, 0},
             sim::Fault::Stall,
             100,
             std::max(1, stallRuns / 10)},
            {"adapter timer 16 ms, random answer delay up to 16 ms, every answer stalls 60 ms "
             "after a random number of bytes",
             {115200, 16, 16, -1},
             sim::Fault::Stall,
             60,
             stallRuns},
        };
        for (const tStallCase &c : cases) {
            std::printf("\nStalls inside answers: 115200 bit/s, %s; failures out of %d\n", c.what,
                        c.runs);
            const std::vector<tFigures> all =
                statusExchanges(c.line, {tMaster::Design, tMaster::Fast, tMaster::Peer}, c.runs,
                                c.fault, c.faultParam);
            for (size_t k = 0; k < all.size(); ++k) {
                const tFigures &f = all[k];
                std::printf("  %-6s  %4d failed, %d answers split, median %.2f ms, p95 %.2f ms\n",
                            modeName(allMasters[k]), f.failures, f.split, Percentile(f.wall, 0.5),
                            Percentile(f.wall, 0.95));
            }
            std::fflush(stdout);
        }
    }
    if (pauseRuns > 0) {
        // The answer's length is not known from its first byte alone: a
        // pause there is where ending an answer by its length can go wrong.
        std::printf("\nPauses right after the first bytes: 115200 bit/s, no adapter, every answer "
                    "pauses 60 ms after N bytes; failures out of %d\n",
                    pauseRuns);
        std::printf("  %5s  %8s  %8s  %8s\n", "N", modeName(tMaster::Design),
                    modeName(tMaster::Fast), modeName(tMaster::Peer));
        for (int after : {1, 2, 5}) {
            const std::vector<tFigures> all = statusExchanges(
                {115200, 0, 0, after}, {tMaster::Design, tMaster::Fast, tMaster::Peer}, pauseRuns,
                sim::Fault::Stall, 60);
            std::printf("  %5d  %8d  %8d  %8d\n", after, all[0].failures, all[1].failures,
                        all[2].failures);
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
