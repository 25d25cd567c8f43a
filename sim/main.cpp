// ondrel-sim: serves a simulated controller on a pseudo-terminal until
// SIGINT or SIGTERM.

#include "faults.h"
#include "ondrel_sim.h"
#include "tcp_front.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

const char *const kUsage =
    "usage: ondrel-sim [--model M[,M...]] [--id N[,N...]] [--log-slots N] [--preload N]\n"
    "                  [--fahrenheit] [--slave-mode] [--no-drift]\n"
    "                  [--port-file FILE] [--fault NAME[:PARAM]] [--stall-after N]\n"
    "                  [--baud N [--adapter-latency MS] [--answer-delay MS]]\n"
    "                  [--speed N[,N...]] [--sensor N=VALUE]...\n"
    "                  [--tcp HOST:PORT | --rtu-tcp HOST:PORT]\n"
    "A line \"sensor N=VALUE\" on standard input holds a sensor while serving.\n";

[[noreturn]] void usage(const char *problem) {
    if (problem)
        std::fprintf(stderr, "ondrel-sim: %s\n", problem);
    std::fputs(kUsage, problem ? stderr : stdout);
    std::exit(problem ? 2 : 0);
}

int number(const char *text) {
    char *end = nullptr;
    const long v = std::strtol(text, &end, 0);
    if (!*text || *end)
        usage("not a number");
    return int(v);
}

std::vector<std::string> list(const std::string &text) {
    std::vector<std::string> items;
    size_t from = 0;
    for (size_t comma; (comma = text.find(',', from)) != std::string::npos; from = comma + 1)
        items.push_back(text.substr(from, comma - from));
    items.push_back(text.substr(from));
    return items;
}

// Written under another name first so that a reader never sees half a name.
bool writePortFile(const std::string &file, const std::string &port) {
    const std::string tmp = file + ".tmp";
    {
        std::ofstream out(tmp, std::ios::trunc);
        out << port << '\n';
        if (!out)
            return false;
    }
    return std::rename(tmp.c_str(), file.c_str()) == 0;
}

struct SensorHold {
    int sensor = 0; // 0..3
    sim::SensorState state = sim::SensorState::Valid;
    int tenths = 0;
};

// "N=VALUE": sensor 1..4 at VALUE degrees of the controller's unit (comma or
// point), or "curto" / "aberto" for a fault.
bool sensorHold(std::string text, SensorHold &out) {
    const size_t eq = text.find('=');
    if (eq == std::string::npos)
        return false;
    char *end = nullptr;
    const long n = std::strtol(text.c_str(), &end, 10);
    if (end != text.c_str() + eq || n < 1 || n > 4)
        return false;
    out.sensor = int(n) - 1;
    std::string value = text.substr(eq + 1);
    if (value == "curto" || value == "aberto") {
        out.state = value == "curto" ? sim::SensorState::Short : sim::SensorState::Open;
        out.tenths = 0;
        return true;
    }
    std::replace(value.begin(), value.end(), ',', '.');
    const double v = std::strtod(value.c_str(), &end);
    if (value.empty() || *end || v < -999.9 || v > 999.9)
        return false;
    out.state = sim::SensorState::Valid;
    out.tenths = int(std::lround(v * 10));
    return true;
}

} // namespace

int main(int argc, char **argv) {
    sim::Options options;
    options.preloadEvents = 8; // a log with something in it makes a livelier demo
    // Several addresses make several controllers on the one line; the last
    // model named serves the addresses left.
    std::vector<std::string> models{options.model};
    std::vector<int> ids{options.slaveId};
    std::vector<int> speeds{0};
    bool fahrenheit = false, slaveMode = false, drift = true;
    std::string portFile;
    std::vector<SensorHold> holds;
    sim::Fault fault = sim::Fault::None;
    int faultParam = 0;
    bool tcp = false;
    sim::TcpFront front = sim::TcpFront::ModbusTcp;
    std::string tcpHost;
    int tcpPort = 0;

    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> const char * {
            if (i + 1 >= argc)
                usage(("missing value after " + arg).c_str());
            return argv[++i];
        };
        if (arg == "--model")
            models = list(value());
        else if (arg == "--id") {
            ids.clear();
            for (const std::string &id : list(value()))
                ids.push_back(number(id.c_str()));
        } else if (arg == "--log-slots")
            options.logSlots = number(value());
        else if (arg == "--preload")
            options.preloadEvents = number(value());
        else if (arg == "--fahrenheit")
            fahrenheit = true;
        else if (arg == "--slave-mode")
            slaveMode = true;
        else if (arg == "--no-drift")
            drift = false;
        else if (arg == "--port-file")
            portFile = value();
        else if (arg == "--baud")
            options.baud = number(value());
        else if (arg == "--adapter-latency")
            options.adapterLatencyMs = number(value());
        else if (arg == "--speed") {
            speeds.clear();
            for (const std::string &speed : list(value()))
                speeds.push_back(number(speed.c_str()));
        } else if (arg == "--answer-delay")
            options.answerDelayMs = number(value());
        else if (arg == "--stall-after")
            options.stallAfterBytes = number(value());
        else if (arg == "--fault") {
            const std::string choice = value();
            const auto colon = choice.find(':');
            if (!sim::faultFromName(choice.substr(0, colon), fault))
                usage(("unknown fault " + choice).c_str());
            if (colon != std::string::npos)
                faultParam = number(choice.c_str() + colon + 1);
        } else if (arg == "--sensor") {
            SensorHold h;
            if (!sensorHold(value(), h))
                usage("--sensor takes N=VALUE: N 1 to 4, VALUE in degrees, curto or aberto");
            holds.push_back(h);
        } else if (arg == "--tcp" || arg == "--rtu-tcp") {
            if (tcp)
                usage("--tcp and --rtu-tcp: one of them, once");
            tcp = true;
            front = arg == "--tcp" ? sim::TcpFront::ModbusTcp : sim::TcpFront::RtuOverTcp;
            if (!sim::splitHostPort(value(), tcpHost, tcpPort))
                usage("an address is HOST:PORT, an IPv6 host in brackets ([::1]:5020)");
        } else if (arg == "--help" || arg == "-h")
            usage(nullptr);
        else
            usage(("unknown option " + arg).c_str());
    }
    for (size_t i = 0; i < ids.size(); ++i) {
        if (ids[i] < 1 || ids[i] > 247)
            usage("the id must be 1 to 247");
        for (size_t j = 0; j < i; ++j)
            if (ids[j] == ids[i])
                usage("an id appears twice");
    }
    for (int speed : speeds)
        if (speed < 0)
            usage("a controller's speed is 0 (any) or in bit/s");
    if (options.logSlots < 1 || options.logSlots > 32767)
        usage("the log holds 1 to 32767 slots");
    if (options.baud < 0 || options.baud > 4000000)
        usage("the speed must be 0 (not paced) to 4000000 bit/s");
    if (options.adapterLatencyMs < 0 || options.adapterLatencyMs > 255)
        usage("the adapter's latency timer runs 0 (no adapter) to 255 ms");
    if (options.answerDelayMs < 0 || options.answerDelayMs > 10000)
        usage("the answer delay is 0 to 10000 ms");
    if (options.stallAfterBytes < -1 || options.stallAfterBytes > 255)
        usage("a stall comes after 1 to 255 bytes, 0 (half the answer) or -1 (at random)");

    // Blocked before the serving thread starts, so that only sigwait sees them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    std::vector<sim::Controller *> all;
    std::unique_ptr<sim::Controller> first;
    for (size_t i = 0; i < ids.size(); ++i) {
        sim::Options o = options;
        o.slaveId = ids[i];
        o.model = models[std::min(i, models.size() - 1)];
        o.speed = speeds[std::min(i, speeds.size() - 1)];
        if (!first)
            first = std::make_unique<sim::Controller>(o);
        all.push_back(i == 0 ? first.get() : first->addToBus(o));
    }
    for (sim::Controller *c : all) {
        c->setFahrenheit(fahrenheit);
        c->setSlaveMode(slaveMode);
        c->setDrift(drift);
        c->setRelayLogic(true);
        if (fault != sim::Fault::None)
            c->setFault(fault, faultParam);
        for (const SensorHold &h : holds)
            c->holdSensor(h.sensor, h.state, h.tenths);
    }
    sim::Controller &controller = *first;
    if (tcp && !controller.listenTcp(front, tcpHost, tcpPort)) {
        std::fprintf(stderr, "ondrel-sim: cannot listen on %s port %d: %s\n", tcpHost.c_str(),
                     tcpPort, std::strerror(errno));
        return 1;
    }
    if (!controller.start()) {
        std::fprintf(stderr, "ondrel-sim: cannot create a pseudo-terminal: %s\n",
                     std::strerror(errno));
        return 1;
    }
    // Over TCP the name Tarvik opens it by: the scheme, the host and the port.
    std::string port = controller.portName();
    if (tcp) {
        const std::string host =
            tcpHost.find(':') != std::string::npos ? "[" + tcpHost + "]" : tcpHost;
        port = (front == sim::TcpFront::ModbusTcp ? "tcp://" : "rtu+tcp://") + host + ":" +
               std::to_string(controller.tcpPort());
    }
    for (size_t i = 0; i < ids.size(); ++i)
        std::printf("Simulated controller %s id %d on %s\n",
                    models[std::min(i, models.size() - 1)].c_str(), ids[i], port.c_str());
    if (options.baud > 0)
        std::printf("Answers paced at %d bit/s, adapter latency %d ms, answer delay up to %d ms\n",
                    options.baud, options.adapterLatencyMs, options.answerDelayMs);
    std::fflush(stdout);
    if (!portFile.empty() && !writePortFile(portFile, port)) {
        std::fprintf(stderr, "ondrel-sim: cannot write %s\n", portFile.c_str());
        return 1;
    }

    // Sensors changed while serving, one "sensor N=VALUE" line at a time;
    // the thread ends with standard input and is left at exit.
    std::thread([all] {
        std::string line;
        while (std::getline(std::cin, line)) {
            if (line.rfind("sensor ", 0) == 0)
                line.erase(0, 7);
            SensorHold h;
            if (!sensorHold(line, h)) {
                std::fprintf(stderr, "ondrel-sim: not \"sensor N=VALUE\": %s\n", line.c_str());
                continue;
            }
            for (sim::Controller *c : all)
                c->holdSensor(h.sensor, h.state, h.tenths);
            std::printf("sensor %d=%s\n", h.sensor + 1, line.substr(line.find('=') + 1).c_str());
            std::fflush(stdout);
        }
    }).detach();

    int signal = 0;
    sigwait(&stopSignals, &signal);
    controller.stop();
    return 0;
}
