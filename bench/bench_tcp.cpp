// Controllers over TCP on loopback: status reads per second through Modbus
// TCP, Tarvik's master beside libmodbus's reading the same block from the
// same simulated server, round by round in alternating order; then a scan of
// addresses 1..247 through an RTU-over-TCP gateway with three controllers
// behind it, and the same scan through the Modbus TCP server.
//
//   bench_tcp [READS_PER_ROUND [ROUNDS]]   (default 2000 and 10)
#include "bus_scan.h"
#include "ondrel_sim.h"
#include "peer_master.h"
#include "u_ondrel.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

std::unique_ptr<sim::Controller> serve(sim::TcpFront front) {
    auto line = std::make_unique<sim::Controller>(sim::Options{.slaveId = 1});
    for (int id : {17, 247})
        line->addToBus({.model = "qx2n", .slaveId = id});
    if (!line->listenTcp(front, "127.0.0.1", 0) || !line->start())
        return nullptr;
    return line;
}

QString portOf(sim::TcpFront front, const sim::Controller &line) {
    return QStringLiteral("%1://127.0.0.1:%2")
        .arg(front == sim::TcpFront::ModbusTcp ? "tcp" : "rtu+tcp")
        .arg(line.tcpPort());
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    const int reads = argc > 1 ? std::atoi(argv[1]) : 2000;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 10;

    const auto server = serve(sim::TcpFront::ModbusTcp);
    if (!server) {
        std::fprintf(stderr, "the simulator cannot listen on 127.0.0.1\n");
        return 1;
    }
    tOndrel dev;
    dev.SetTimeout(1);
    if (dev.OpenConnection(portOf(sim::TcpFront::ModbusTcp, *server), 1) <= 0) {
        std::fprintf(stderr, "no session: %s\n", qPrintable(dev.PortErrorText()));
        return 1;
    }
    tPeerMaster peer(tPeerMaster::tTcp{"127.0.0.1", server->tcpPort()}, 1, 864);
    if (!peer.isOpen()) {
        std::fprintf(stderr, "libmodbus cannot connect\n");
        return 1;
    }
    const tCommandShape status = CommandShape(cmdGET_STATUS);
    std::vector<double> ours, theirs;
    int failures = 0, peerFailures = 0;
    auto runOurs = [&] {
        QElapsedTimer t;
        t.start();
        for (int i = 0; i < reads; ++i)
            failures += dev.SendCommand(cmdGET_STATUS) < 0;
        ours.push_back(reads / (double(t.nsecsElapsed()) / 1e9));
    };
    auto runTheirs = [&] {
        uint16_t regs[125];
        QElapsedTimer t;
        t.start();
        for (int i = 0; i < reads; ++i)
            peerFailures += !peer.read(status.start, status.count, regs);
        theirs.push_back(reads / (double(t.nsecsElapsed()) / 1e9));
    };
    for (int r = 0; r < rounds; ++r) {
        if (r % 2 == 0) {
            runOurs();
            runTheirs();
        } else {
            runTheirs();
            runOurs();
        }
    }
    const double a = median(ours), b = median(theirs);
    std::printf("status reads over loopback Modbus TCP (%d registers from 0x%04X), %d rounds of "
                "%d, alternating\n",
                status.count, status.start, rounds, reads);
    std::printf("  tarvik    %8.0f reads/s (median of rounds), %d failed\n", a, failures);
    std::printf("  libmodbus %8.0f reads/s (median of rounds), %d failed\n", b, peerFailures);
    std::printf("  ratio     %8.2f x libmodbus (at least 0.90 asked)\n", b > 0 ? a / b : 0);

    for (sim::TcpFront front : {sim::TcpFront::RtuOverTcp, sim::TcpFront::ModbusTcp}) {
        const auto line = serve(front);
        if (!line)
            return 1;
        tOndrel scanner;
        scanner.SetTimeout(1);
        QElapsedTimer clock;
        clock.start();
        const tScanResult r = ScanBus(scanner, {.port = portOf(front, *line)});
        const double seconds = double(clock.nsecsElapsed()) / 1e9;
        std::printf("scan 1..247 through %s, 3 controllers behind it\n",
                    qPrintable(portOf(front, *line)));
        std::printf("  found   ");
        for (const tFoundController &f : r.found)
            std::printf(" %d (%s)", f.id, qPrintable(f.model));
        std::printf("\n  time     %6.2f s%s\n", seconds,
                    front == sim::TcpFront::RtuOverTcp ? " (at most 10 s asked)" : "");
    }
    return 0;
}
