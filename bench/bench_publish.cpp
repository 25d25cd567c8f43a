// tarvik-cli publicar on a fleet's bus: 32 simulated controllers on one line
// paced at 115200 bit/s behind the usual USB adapter, published to Debian's
// broker on 127.0.0.1 and counted by a subscriber in this process.
//
// 1. Read as fast as the line allows (--intervalo 0.1): readings a second
//    arriving, design read and fast read, against the line's floor (each
//    status exchange's request and answer on the wire, nothing else).
// 2. The time from a reading (its time stamp) to its arrival at the subscriber.
// 3. With LONG_SECONDS: every controller read once a second for that long;
//    the publisher's processor use and resident memory, sampled along the run.
// 4. The buffer's cost, in this process without a bus: readings handed to
//    the publisher at once, until the broker has acknowledged them all,
//    waiting in memory and in the history file (each recorded there, and
//    the acknowledged mark kept); readings a second, processor time per
//    reading, and the reading thread's time per hand-over.
// 5. A bus of 8 addresses where one never answers (-t 1, --intervalo 0):
//    readings a second from the seven that answer.
// 6. Late answers on that bus, through the driver: a controller answering
//    one request after the time-out, and the same with its next request
//    lost; late answers taken for another request's, and the time a round.
//
//   bench_publish [SECONDS [LONG_SECONDS [READINGS [LATE_ROUNDS]]]]   (20, 0, 3000, 20)
#include "../tests/publish/broker.h"
#include "ondrel_sim.h"
#include "process_figures.h"
#include "publisher.h"
#include "store_buffer.h"
#include "u_ondrel.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>

#include <mosquitto.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>

namespace {

constexpr int controllers = 32;
constexpr int baud = 115200;
constexpr int statusWireBytes = 8 + 5 + 2 * 21; // request and answer

struct tArrivals {
    std::mutex lock;
    long count = 0;
    std::vector<double> latencyMs;
    int ignored = 0; // an address whose readings are not counted
};

void onMessage(mosquitto *, void *obj, const mosquitto_message *m) {
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    // Retained: the last reading of an earlier run, not one of this run.
    if (m->retain || !QByteArray(m->topic).endsWith("/estado"))
        return;
    const QJsonObject o =
        QJsonDocument::fromJson(QByteArray(static_cast<const char *>(m->payload), m->payloadlen))
            .object();
    const QDateTime at = QDateTime::fromString(o["data_hora"].toString(), Qt::ISODateWithMs);
    auto *a = static_cast<tArrivals *>(obj);
    const QList<QByteArray> levels = QByteArray(m->topic).split('/');
    if (a->ignored && levels.size() > 2 && levels[levels.size() - 2].toInt() == a->ignored)
        return;
    std::lock_guard g(a->lock);
    ++a->count;
    if (at.isValid())
        a->latencyMs.push_back(double(now - at.toMSecsSinceEpoch()));
}

void onConnect(mosquitto *mosq, void *, int) {
    mosquitto_subscribe(mosq, nullptr, "bench/#", 1);
}

struct tProcFigures {
    double cpuS = 0;
    long rssKb = 0;
};

tProcFigures figuresOf(qint64 pid) {
    tProcFigures f;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (stat.open(QIODevice::ReadOnly)) {
        const QByteArray s = stat.readAll();
        const QList<QByteArray> fields = s.mid(s.lastIndexOf(')') + 2).split(' ');
        // utime and stime are fields 14 and 15 of the whole line.
        if (fields.size() > 13)
            f.cpuS = (fields[11].toDouble() + fields[12].toDouble()) / double(sysconf(_SC_CLK_TCK));
    }
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (status.open(QIODevice::ReadOnly))
        for (const QByteArray &line : status.readAll().split('\n'))
            if (line.startsWith("VmRSS:"))
                f.rssKb = line.mid(6).trimmed().split(' ').value(0).toLong();
    return f;
}

int runs = 0;

struct tRun {
    broker::tBroker &b;
    sim::Controller line;
    tArrivals arrivals;
    mosquitto *sub = nullptr;
    QProcess publisher;
    int asked;

    // Addresses 1 to `addresses` asked, every one on the bus but `dead`.
    explicit tRun(broker::tBroker &br, int addresses = controllers, int dead = 0)
        : b(br), line(sim::Options{.slaveId = dead == 1 ? 2 : 1, .baud = baud}), asked(addresses) {
        for (int id = dead == 1 ? 3 : 2; id <= addresses; ++id)
            if (id != dead)
                line.addToBus(sim::Options{.slaveId = id, .baud = baud});
        arrivals.ignored = dead;
    }

    bool start(bool fast, double interval, const QStringList &more = {}) {
        if (!line.start())
            return false;
        sub = mosquitto_new(nullptr, true, &arrivals);
        mosquitto_username_pw_set(sub, b.readerUser.toUtf8().constData(),
                                  b.readerPassword.toUtf8().constData());
        mosquitto_connect_callback_set(sub, onConnect);
        mosquitto_message_callback_set(sub, onMessage);
        if (mosquitto_connect(sub, "127.0.0.1", b.port, 30) != MOSQ_ERR_SUCCESS ||
            mosquitto_loop_start(sub) != MOSQ_ERR_SUCCESS)
            return false;
        QStringList ids;
        for (int id = 1; id <= asked; ++id)
            ids << QString::number(id);
        QStringList args = {"-p",
                            QString::fromStdString(line.portName()),
                            "-a",
                            ids.join(u','),
                            "publicar",
                            "--broker",
                            QStringLiteral("mqtt://127.0.0.1:%1").arg(b.port),
                            "--topico",
                            "bench",
                            "--usuario",
                            b.user,
                            "--senha-arquivo",
                            b.path("senha"),
                            "--inseguro",
                            "--intervalo",
                            QString::number(interval)};
        if (fast)
            args.prepend("--rapido");
        args = more + args;
        // Each run its own history file: nothing left over from another.
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TARVIK_HISTORICO"),
                   b.path(QStringLiteral("historico-%1.sqlite").arg(++runs)));
        publisher.setProcessEnvironment(env);
        publisher.setStandardOutputFile(QProcess::nullDevice());
        publisher.setStandardErrorFile(QProcess::nullDevice());
        publisher.start(QStringLiteral(TARVIK_CLI), args);
        return publisher.waitForStarted(10000);
    }

    // Readings that arrived in `seconds`, after the first round.
    long countFor(double seconds) {
        const int counted = asked - (arrivals.ignored ? 1 : 0);
        if (!QTest::qWaitFor([&] { return taken().count >= counted; }, 60000))
            return 0;
        const long before = taken().count;
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        return taken().count - before;
    }

    struct tTaken {
        long count;
        std::vector<double> latency;
    };
    tTaken taken() {
        std::lock_guard g(arrivals.lock);
        return {arrivals.count, arrivals.latencyMs};
    }

    ~tRun() {
        publisher.terminate();
        if (!publisher.waitForFinished(10000))
            publisher.kill();
        publisher.waitForFinished();
        if (sub) {
            mosquitto_disconnect(sub);
            mosquitto_loop_stop(sub, false);
            mosquitto_destroy(sub);
        }
    }
};

double cpuSeconds() {
    rusage u = {};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// `count` readings of one controller handed over back to back, then the
// wait until the broker has them all.
void bufferCost(broker::tBroker &b, bool inFile, int count) {
    tPublishOptions o;
    o.broker.host = QStringLiteral("127.0.0.1");
    o.broker.port = b.port;
    o.prefix = QStringLiteral("bench-buffer");
    o.user = b.user;
    o.password = b.password;
    const QString port = QStringLiteral("/dev/ttyBENCH");
    std::shared_ptr<tPublishStore> store;
    if (inFile) {
        QString error;
        const QString path = b.path(QStringLiteral("buffer-%1.sqlite").arg(++runs));
        store = tPublishStore::Open(path, error);
        if (!store) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return;
        }
        o.makeBuffer = [&](int address) -> std::unique_ptr<tReadingBuffer> {
            return tStoreBuffer::Make(store, o.broker.text(), o.prefix, port, address, error);
        };
    }
    tStatusReading r{.port = port,
                     .address = 1,
                     .model = QStringLiteral("qx4r"),
                     .firmware = QStringLiteral("1.2"),
                     .result = 21,
                     .sensors = 4,
                     .relays = 4,
                     .state = {1, 1, 1, 1},
                     .value = {235, 41, -5, 12},
                     .min = {180, 40, -5, 0},
                     .max = {301, 52, 0, 30},
                     .relay = {1, 0, 0, 1},
                     .operation = {1, 3, 4, 6}};
    const double cpu0 = cpuSeconds();
    const auto t0 = std::chrono::steady_clock::now();
    double handOverS = 0;
    size_t left = 0;
    {
        tPublisher publisher(o, port, {1}, [](const QString &) {});
        for (int i = 0; i < count; ++i) {
            r.SetAt(QDateTime::currentDateTime());
            const auto h0 = std::chrono::steady_clock::now();
            publisher.submit(r);
            handOverS +=
                std::chrono::duration<double>(std::chrono::steady_clock::now() - h0).count();
        }
        left = publisher.finish(std::chrono::seconds(300));
    }
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const double cpu = cpuSeconds() - cpu0;
    std::printf("%-14s %12.0f %14.1f us %14.1f us %8zu\n", inFile ? "history file" : "memory",
                count / wall, 1e6 * cpu / count, 1e6 * handOverS / count, left);
}

// A bus of 8 controllers behind the driver, each relay block 1 holding
// 0x11nn and block 2 0x22nn: a block-2 read that brings 0x11nn took a late
// answer for its own.
struct tLateBus {
    static constexpr int size = 8;
    sim::Controller line{sim::Options{.slaveId = 1, .baud = baud}};
    std::vector<sim::Controller *> all{&line};
    tOndrel dev;
    tIdentification known;

    bool start() {
        for (int id = 2; id <= size; ++id)
            all.push_back(line.addToBus(sim::Options{.slaveId = id, .baud = baud}));
        if (!line.start())
            return false;
        for (sim::Controller *c : all)
            for (int i = 1; i < 24; ++i) {
                c->setReg(0x0400 + i, uint16_t(0x1100 + i));
                c->setReg(0x0500 + i, uint16_t(0x2200 + i));
            }
        dev.SetTimeout(1);
        dev.SetFastRead(true);
        if (dev.OpenConnection(QString::fromStdString(line.portName()), 1) != 1)
            return false;
        known = dev.Identification();
        return true;
    }
    int32_t send(int id, tCommand cmd) {
        dev.OpenIdentified(QString::fromStdString(line.portName()), id, known);
        return dev.SendCommand(cmd);
    }
};

// `rounds` times: controller k answers its block-1 read 1200 ms late (the
// time-out is 864 ms); with `lost`, it also ignores the next request. Then
// block 2 of every other controller is read, and of k last.
void lateAnswers(int rounds, bool lost) {
    tLateBus bus;
    if (!bus.start()) {
        std::fprintf(stderr, "no bus for the late answers\n");
        return;
    }
    int taken = 0, failed = 0, timedOut = 0;
    QElapsedTimer clock;
    clock.start();
    for (int round = 0; round < rounds; ++round) {
        const int k = 1 + round % tLateBus::size;
        bus.all[size_t(k - 1)]->setFault(sim::Fault::Late, 1200, 1);
        if (bus.send(k, cmdGET_PAR_RELAY1) == errMODBUS_TIMEOUT)
            ++timedOut;
        if (lost)
            bus.all[size_t(k - 1)]->setFault(sim::Fault::Silence, 0, 1);
        for (int i = 1; i <= tLateBus::size; ++i) {
            const int id = 1 + (k - 1 + i) % tLateBus::size;
            const int32_t r = bus.send(id, cmdGET_PAR_RELAY2);
            if (r < 0)
                ++failed;
            else if (bus.dev.Relay[1].par[1] != 0x2201)
                ++taken;
        }
    }
    std::printf("%-36s %8d %8d %8d %8d %12.0f\n",
                lost ? "a late answer, next request lost" : "a late answer", rounds, timedOut,
                taken, failed, double(clock.elapsed()) / rounds);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    const double seconds = argc > 1 ? std::atof(argv[1]) : 20;
    const double longSeconds = argc > 2 ? std::atof(argv[2]) : 0;
    const int bufferReadings = argc > 3 ? std::atoi(argv[3]) : 3000;
    const int lateRounds = argc > 4 ? std::atoi(argv[4]) : 20;
    mosquitto_lib_init();
    broker::tBroker b;
    if (!b.prepare() || !b.start()) {
        std::fprintf(stderr, "the broker did not start\n");
        return 1;
    }
    QFile pw(b.path("senha"));
    if (!pw.open(QIODevice::WriteOnly) || pw.write(b.password.toUtf8()) < 0)
        return 1;
    pw.close();
    pw.setPermissions(QFile::ReadOwner | QFile::WriteOwner);

    const double floorPerS = baud / 10.0 / statusWireBytes;
    std::printf("%d controllers on one line at %d bit/s, USB adapter latency 16 ms; %.0f s each\n",
                controllers, baud, seconds);
    std::printf("line floor: %.1f readings/s (%d bytes on the wire per status exchange)\n\n",
                floorPerS, statusWireBytes);
    std::printf("%-12s %14s %12s %12s %12s %12s\n", "read", "readings/s", "of floor", "latency p50",
                "p95", "max");
    for (const bool fast : {false, true}) {
        tRun run(b);
        if (!run.start(fast, 0.1)) {
            std::fprintf(stderr, "could not start the run\n");
            return 1;
        }
        const long n = run.countFor(seconds);
        const std::vector<double> lat = run.taken().latency;
        const double perS = n / seconds;
        std::printf("%-12s %14.1f %11.1f%% %10.1f ms %9.1f ms %9.1f ms\n", fast ? "fast" : "design",
                    perS, 100.0 * perS / floorPerS, Percentile(lat, 0.5), Percentile(lat, 0.95),
                    Percentile(lat, 1.0));
    }

    if (longSeconds > 0) {
        std::printf("\nevery controller once a second, fast read, %.0f s: the publisher's "
                    "processor use and resident memory\n",
                    longSeconds);
        std::printf("%10s %12s %12s %12s\n", "elapsed s", "CPU s", "CPU %", "RSS KiB");
        tRun run(b);
        if (!run.start(true, 1.0))
            return 1;
        const qint64 pid = run.publisher.processId();
        const auto t0 = std::chrono::steady_clock::now();
        const int samples = 10;
        tProcFigures last = figuresOf(pid);
        double lastT = 0;
        for (int i = 1; i <= samples; ++i) {
            std::this_thread::sleep_until(t0 +
                                          std::chrono::duration<double>(longSeconds * i / samples));
            const tProcFigures f = figuresOf(pid);
            const double t = longSeconds * i / samples;
            std::printf("%10.0f %12.2f %11.2f%% %12ld\n", t, f.cpuS,
                        100.0 * (f.cpuS - last.cpuS) / (t - lastT), f.rssKb);
            std::fflush(stdout);
            last = f;
            lastT = t;
        }
        const long arrived = run.taken().count;
        std::printf("readings arrived: %ld (%.1f/s)\n", arrived, arrived / longSeconds);
    }

    {
        constexpr int addresses = 8, dead = 4;
        std::printf("\n%d addresses on one line, %d never answers; -t 1 (864 ms), --intervalo 0, "
                    "USB adapter latency 16 ms; %.0f s each\n",
                    addresses, dead, seconds);
        std::printf("%-12s %28s\n", "read", "readings/s from the other 7");
        for (const bool fast : {false, true}) {
            tRun run(b, addresses, dead);
            if (!run.start(fast, 0, {"-t", "1"})) {
                std::fprintf(stderr, "could not start the run\n");
                return 1;
            }
            const long n = run.countFor(seconds);
            std::printf("%-12s %28.1f\n", fast ? "fast" : "design", n / seconds);
            std::fflush(stdout);
        }
    }

    if (lateRounds > 0) {
        std::printf("\nlate answers on a bus of %d (driver, fast read, -t 1): controller k answers "
                    "its relay-1 block read\n1200 ms late, then relay-2 blocks are read from k "
                    "and every other one\n",
                    tLateBus::size);
        std::printf("%-36s %8s %8s %8s %8s %12s\n", "case", "rounds", "timeouts", "taken", "failed",
                    "ms a round");
        for (const bool lost : {false, true})
            lateAnswers(lateRounds, lost);
    }

    std::printf("\nwhere readings wait: %d readings of one controller handed over at once, "
                "until the broker acknowledged them all\n",
                bufferReadings);
    std::printf("%-14s %12s %17s %17s %8s\n", "waiting in", "readings/s", "CPU per reading",
                "hand-over", "left");
    for (const bool inFile : {false, true})
        bufferCost(b, inFile, bufferReadings);
    return 0;
}
