// tarvik-cli as a script runs it: the time from the process's start to its
// exit and the processor time it used, against simulated controllers on a
// line paced at the bit rate, beside what the design cannot go below: each
// exchange's request and answer on the wire plus the 50 ms silence that ends
// an answer (the wire alone with --rapido, which ends it by its length).
// Beside them, a generic tool reading the same 21 status registers on the
// same line (mbpoll, when installed), and the goals for a status read:
// wall time within 1.1x the tool's, processor time within 2x, resident
// memory within 8 MB. The identity cache lives in a folder of its own.
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
    bool freshCache = false; // the identity cache emptied before each run
};

// Identification 8 + 19 bytes, status 8 + 47, date 8 + 13, time 8 + 11. A
// status read identifies the controller only when its identity is not in
// the cache (or not given with --modelo).
const tRow rows[] = {
    {"status, identified", {"status"}, 2, 27 + 55, false, true},
    {"status, cached", {"status"}, 1, 55, false},
    {"info, qx4r (clock)", {"info"}, 3, 27 + 21 + 19, false},
    {"info, qx2n", {"-a", "202", "info"}, 1, 27, false},
    {"status --rapido, ident.", {"--rapido", "status"}, 2, 27 + 55, true, true},
    {"status --rapido, cached", {"--rapido", "status"}, 1, 55, true},
    {"status --rapido --modelo", {"--rapido", "--modelo", "qx4r", "status"}, 1, 55, true, true},
    {"info --rapido", {"--rapido", "info"}, 3, 27 + 21 + 19, true},
};

// The row the goals are for: a status read as a script repeats it.
constexpr const char *goalRow = "status --rapido, cached";

struct tSample {
    double wallMs;
    double cpuMs;
    long maxRssKb;
    int status;
};

tSample runProgram(std::vector<std::string> argv) {
    std::vector<char *> raw;
    for (std::string &a : argv)
        raw.push_back(a.data());
    raw.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDOUT_FILENO);
        ::dup2(null, STDERR_FILENO);
        ::execvp(raw[0], raw.data());
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    const double wall =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    auto ms = [](const timeval &t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; };
    return {wall, ms(usage.ru_utime) + ms(usage.ru_stime), usage.ru_maxrss,
            WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

tSample runCli(const std::string &port, const std::vector<std::string> &args) {
    std::vector<std::string> argv = {TARVIK_CLI, "-p", port};
    argv.insert(argv.end(), args.begin(), args.end());
    return runProgram(argv);
}

bool onPath(const char *program) {
    const std::string command = std::string("command -v ") + program + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

struct tMedians {
    double wall = 0;
    double cpu = 0;
    double rssKb = 0;
};

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Medians of `runs` runs; false when one failed.
template <typename Run> bool medians(int runs, Run run, const char *what, tMedians &m) {
    std::vector<double> wall, cpu, rss;
    for (int i = 0; i < runs; ++i) {
        const tSample s = run();
        if (s.status != 0) {
            std::fprintf(stderr, "%s: exit status %d\n", what, s.status);
            return false;
        }
        wall.push_back(s.wallMs);
        cpu.push_back(s.cpuMs);
        rss.push_back(double(s.maxRssKb));
    }
    m = {median(wall), median(cpu), median(rss)};
    return true;
}

// The identity cache of these runs, emptied on demand.
std::string cacheFolder;

void emptyCache() {
    const std::string command = "rm -rf '" + cacheFolder + "/tarvik'";
    std::system(command.c_str());
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
    char folder[] = "/tmp/bench_cli_cacheXXXXXX";
    if (!::mkdtemp(folder)) {
        std::fprintf(stderr, "no temporary folder for the identity cache\n");
        return 1;
    }
    cacheFolder = folder;
    ::setenv("XDG_CACHE_HOME", folder, 1);
    const double bitRate = options.baud > 0 ? options.baud : 115200;
    std::printf("tarvik-cli, process start to exit, %d runs; line %d bit/s%s, adapter latency %d "
                "ms\n",
                runs, options.baud, options.baud > 0 ? "" : " (not paced)",
                options.adapterLatencyMs);
    std::printf("  %-26s %9s %9s %9s %9s %9s\n", "command", "floor ms", "median", "over", "CPU ms",
                "RSS MB");
    tMedians goal;
    for (const tRow &row : rows) {
        tMedians m;
        const bool ok = medians(
            runs,
            [&] {
                if (row.freshCache)
                    emptyCache();
                return runCli(line.portName(), row.args);
            },
            row.what, m);
        if (!ok)
            return 1;
        const double wire = row.wireBytes * 10 * 1000.0 / bitRate;
        const double floor = wire + (row.fast ? 0 : 50.0 * row.exchanges);
        std::printf("  %-26s %9.1f %9.1f %+9.1f %9.1f %9.1f\n", row.what, floor, m.wall,
                    m.wall - floor, m.cpu, m.rssKb / 1024);
        if (std::string(row.what) == goalRow)
            goal = m;
    }
    emptyCache();

    if (!onPath("mbpoll")) {
        std::printf("\nmbpoll is not installed: no comparison with a generic tool "
                    "(apt install mbpoll)\n");
        return 0;
    }
    // Holding registers 0x0200..0x0214 of slave 201, once, no parity as the
    // simulator's line; 1-based reference 513 is register 0x0200.
    const std::string baud = std::to_string(options.baud > 0 ? options.baud : 115200);
    const std::vector<std::string> mbpoll = {
        "mbpoll", "-m", "rtu", "-a", "201",  "-r", "513", "-c", "21",           "-t",
        "4",      "-b", baud,  "-P", "none", "-o", "3",   "-1", line.portName()};
    tMedians peer;
    if (!medians(
            runs, [&] { return runProgram(mbpoll); }, "mbpoll", peer))
        return 1;
    std::printf("  %-26s %9.1f %9.1f %+9.1f %9.1f %9.1f\n", "mbpoll -1 (21 registers)",
                55 * 10 * 1000.0 / bitRate, peer.wall, peer.wall - 55 * 10 * 1000.0 / bitRate,
                peer.cpu, peer.rssKb / 1024);
    auto verdict = [](bool met) { return met ? "met" : "NOT met"; };
    std::printf("\n%s against mbpoll -1:\n", goalRow);
    std::printf("  wall time %5.2fx (goal <= 1.10x): %s\n", goal.wall / peer.wall,
                verdict(goal.wall <= 1.1 * peer.wall));
    std::printf("  CPU time  %5.2fx (goal <= 2x):    %s\n", goal.cpu / peer.cpu,
                verdict(goal.cpu <= 2 * peer.cpu));
    std::printf("  RSS       %5.1f MB (goal <= 8 MB): %s\n", goal.rssKb / 1024,
                verdict(goal.rssKb <= 8 * 1024));
    return 0;
}
