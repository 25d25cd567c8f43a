// ondrel-sim: serves a simulated controller on a pseudo-terminal until
// SIGINT or SIGTERM.

#include "faults.h"
#include "ondrel_sim.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

namespace {

const char *const kUsage =
    "usage: ondrel-sim [--model M] [--id N] [--log-slots N] [--preload N]\n"
    "                  [--fahrenheit] [--slave-mode] [--no-drift]\n"
    "                  [--port-file FILE] [--fault NAME[:PARAM]]\n"
    "                  [--baud N [--adapter-latency MS] [--answer-delay MS]]\n";

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

} // namespace

int main(int argc, char **argv) {
    sim::Options options;
    options.preloadEvents = 8; // a log with something in it makes a livelier demo
    bool fahrenheit = false, slaveMode = false, drift = true;
    std::string portFile;
    sim::Fault fault = sim::Fault::None;
    int faultParam = 0;

    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> const char * {
            if (i + 1 >= argc)
                usage(("missing value after " + arg).c_str());
            return argv[++i];
        };
        if (arg == "--model")
            options.model = value();
        else if (arg == "--id")
            options.slaveId = number(value());
        else if (arg == "--log-slots")
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
        else if (arg == "--answer-delay")
            options.answerDelayMs = number(value());
        else if (arg == "--fault") {
            const std::string choice = value();
            const auto colon = choice.find(':');
            if (!sim::faultFromName(choice.substr(0, colon), fault))
                usage(("unknown fault " + choice).c_str());
            if (colon != std::string::npos)
                faultParam = number(choice.c_str() + colon + 1);
        } else if (arg == "--help" || arg == "-h")
            usage(nullptr);
        else
            usage(("unknown option " + arg).c_str());
    }
    if (options.slaveId < 1 || options.slaveId > 247)
        usage("the id must be 1 to 247");
    if (options.logSlots < 1 || options.logSlots > 32767)
        usage("the log holds 1 to 32767 slots");
    if (options.baud < 0 || options.baud > 4000000)
        usage("the speed must be 0 (not paced) to 4000000 bit/s");
    if (options.adapterLatencyMs < 0 || options.adapterLatencyMs > 255)
        usage("the adapter's latency timer runs 0 (no adapter) to 255 ms");
    if (options.answerDelayMs < 0 || options.answerDelayMs > 10000)
        usage("the answer delay is 0 to 10000 ms");

    // Blocked before the serving thread starts, so that only sigwait sees them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    sim::Controller controller(options);
    controller.setFahrenheit(fahrenheit);
    controller.setSlaveMode(slaveMode);
    controller.setDrift(drift);
    controller.setRelayLogic(true);
    if (fault != sim::Fault::None)
        controller.setFault(fault, faultParam);
    if (!controller.start()) {
        std::fprintf(stderr, "ondrel-sim: cannot create a pseudo-terminal: %s\n",
                     std::strerror(errno));
        return 1;
    }
    const std::string port = controller.portName();
    std::printf("Simulated controller %s id %d on %s\n", options.model.c_str(), options.slaveId,
                port.c_str());
    if (options.baud > 0)
        std::printf("Answers paced at %d bit/s, adapter latency %d ms, answer delay up to %d ms\n",
                    options.baud, options.adapterLatencyMs, options.answerDelayMs);
    std::fflush(stdout);
    if (!portFile.empty() && !writePortFile(portFile, port)) {
        std::fprintf(stderr, "ondrel-sim: cannot write %s\n", portFile.c_str());
        return 1;
    }

    int signal = 0;
    sigwait(&stopSignals, &signal);
    controller.stop();
    return 0;
}
