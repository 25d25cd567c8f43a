// tarvik-cli as a script runs it: the time from the process's start to its
// exit and the processor time it used, against simulated controllers on a
// line paced at the bit rate, beside what the design cannot go below: each
// exchange's request and answer on the wire plus the 50 ms silence that ends
// an answer (the wire alone with --rapido, which ends it by its length).
//
//   bench_cli [RUNS] [BAUD] [ADAPTER_LATENCY_MS]   (20, 115200, 0)
#include "ondrel_sim.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct tRow {
    const char *what;
    std::vector<std::string> args;
    int exchanges;
    int wireBytes; // requests and answers of all exchanges
    bool fast;
};

// Identification 8 + 19 bytes, status 8 + 47, date 8 + 13, time 8 + 11.
const tRow rows[] = {
    {"status, qx4r", {"status"}, 2, 27 + 55, false},
    {"info, qx4r (clock)", {"info"}, 3, 27 + 21 + 19, false},
    {"info, qx2n", {"-a", "202", "info"}, 1, 27, false},
    {"status --rapido", {"--rapido", "status"}, 2, 27 + 55, true},
    {"info --rapido", {"--rapido", "info"}, 3, 27 + 21 + 19, true},
};

struct tSample {
    double wallMs;
    double cpuMs;
    int status;
};

tSample runOnce(const std::string &port, const std::vector<std::string> &args) {
    std::vector<std::string> argv = {TARVIK_CLI, "-p", port};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char *> raw;
    for (std::string &a : argv)
        raw.push_back(a.data());
    raw.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDOUT_FILENO);
        ::execv(raw[0], raw.data());
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    const double wall =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    auto ms = [](const timeval &t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; };
    return {wall, ms(usage.ru_utime) + ms(usage.ru_stime),
            WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char **argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    sim::Options options;
    options.baud = argc > 2 ? std::atoi(argv[2]) : 115200;
    options.adapterLatencyMs = argc > 3 ? std::atoi(argv[3]) : 0;
    sim::Controller line(options);
    sim::Options second = options;
    second.model = "qx2n";
    second.slaveId = 202;
    line.addToBus(second);
    if (!line.start()) {
        std::fprintf(stderr, "no pseudo-terminal for the simulated controllers\n");
        return 1;
    }
    const double bitRate = options.baud > 0 ? options.baud : 115200;
    std::printf("tarvik-cli, process start to exit, %d runs; line %d bit/s%s, adapter latency %d "
                "ms\n",
                runs, options.baud, options.baud > 0 ? "" : " (not paced)",
                options.adapterLatencyMs);
    std::printf("  %-20s %9s %9s %9s %9s\n", "command", "floor ms", "median", "over", "CPU ms");
    for (const tRow &row : rows) {
        std::vector<double> wall, cpu;
        for (int i = 0; i < runs; ++i) {
            const tSample s = runOnce(line.portName(), row.args);
            if (s.status != 0) {
                std::fprintf(stderr, "%s: exit status %d\n", row.what, s.status);
                return 1;
            }
            wall.push_back(s.wallMs);
            cpu.push_back(s.cpuMs);
        }
        const double wire = row.wireBytes * 10 * 1000.0 / bitRate;
        const double floor = wire + (row.fast ? 0 : 50.0 * row.exchanges);
        std::printf("  %-20s %9.1f %9.1f %+9.1f %9.1f\n", row.what, floor, median(wall),
                    median(wall) - floor, median(cpu));
    }
    return 0;
}
