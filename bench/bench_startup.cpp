// The window's start beside a bare Qt main window, in one run: each program
// is started RUNS times, the programs taking turns (the order rotating from
// run to run), and the medians are printed of
//   - shown: from the start of the process (fork) to the line the program
//     prints once its window has been painted for the first time, as this
//     bench sees it;
//   - own: the same as the program measures it from the kernel's record of
//     its start (10 ms steps);
//   - cpu: processor time the program had used at that moment;
//   - rss: its resident memory then (before any connection);
// and, for tarvik, the resident memory after connecting to a simulated
// controller. Goals: shown within 2x the bare window's, resident memory
// within 1.5x.
//
// Tarvik runs as a first start (its settings file beside the executable is
// taken away before each run and put back at the end). The window system is
// the one of the environment: run it under xvfb-run, or with
// QT_QPA_PLATFORM=offscreen.
//
//   bench_startup [RUNS] [TARVIK...]   (15, this build's tarvik)
//
// More than one tarvik compares builds side by side (e.g. a copy of an
// older one).
#include "ondrel_sim.h"
#include "process_figures.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

using tClock = std::chrono::steady_clock;

struct tProgram {
    std::string label;
    std::vector<std::string> argv;
    std::string settings; // the settings file a first start must not find
    std::vector<double> shown, own, cpu, rss, rssConnected;
    int failed = 0;
};

// The number after `key` in `text`, if the line is there.
std::optional<double> Figure(const std::string &text, const std::string &key) {
    const size_t at = text.find(key);
    if (at == std::string::npos)
        return std::nullopt;
    return std::strtod(text.c_str() + at + key.size(), nullptr);
}

constexpr const char *shownKey = "startup to window shown: ";

// One start of `p`: reads its output until it exits (30 s at most), noting
// when the first-paint line came.
bool RunOnce(tProgram &p) {
    if (!p.settings.empty())
        std::filesystem::remove(p.settings);
    int out[2];
    if (::pipe(out) != 0)
        return false;
    std::vector<char *> raw;
    for (std::string &a : p.argv)
        raw.push_back(a.data());
    raw.push_back(nullptr);
    const auto start = tClock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDERR_FILENO);
        ::close(out[0]);
        ::execv(raw[0], raw.data());
        ::_exit(127);
    }
    ::close(out[1]);
    std::string text;
    std::optional<double> shownAt;
    const auto deadline = start + std::chrono::seconds(30);
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - tClock::now());
        if (left.count() <= 0)
            break;
        pollfd fd{out[0], POLLIN, 0};
        if (::poll(&fd, 1, int(left.count())) <= 0)
            break;
        char buf[4096];
        const ssize_t n = ::read(out[0], buf, sizeof buf);
        if (n <= 0)
            break;
        text.append(buf, size_t(n));
        if (!shownAt && text.find(shownKey) != std::string::npos)
            shownAt = std::chrono::duration<double, std::milli>(tClock::now() - start).count();
    }
    ::close(out[0]);
    int status = 0;
    if (::waitpid(pid, &status, WNOHANG) == 0) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
    }
    const auto own = Figure(text, shownKey);
    const auto cpu = Figure(text, "processor time to window shown: ");
    const auto rss = Figure(text, "resident memory before connecting: ");
    if (!shownAt || !own || !rss) {
        ++p.failed;
        return false;
    }
    p.shown.push_back(*shownAt);
    p.own.push_back(*own);
    if (cpu)
        p.cpu.push_back(*cpu);
    p.rss.push_back(*rss);
    if (const auto connected = Figure(text, "resident memory after connecting: "))
        p.rssConnected.push_back(*connected);
    return true;
}

double Median(const std::vector<double> &v) {
    return Percentile(v, 0.5);
}

std::string ReadWhole(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

} // namespace

int main(int argc, char *argv[]) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
    std::vector<std::string> tarviks;
    for (int i = 2; i < argc; ++i)
        tarviks.emplace_back(std::filesystem::absolute(argv[i]).string());
    if (tarviks.empty())
        tarviks.emplace_back(TARVIK_GUI);

    sim::Options options;
    options.model = "qx4r";
    sim::Controller controller(options);
    if (!controller.start()) {
        std::fprintf(stderr, "no simulated controller (pty)\n");
        return 1;
    }
    const std::string port = controller.portName();
    ::setenv("TARVIK_PORTS", port.c_str(), 1);

    std::vector<tProgram> programs;
    programs.push_back({"bare QMainWindow", {BARE_WINDOW}, {}, {}, {}, {}, {}, {}, 0});
    // Settings files put back as they were after the runs.
    std::map<std::string, std::optional<std::string>> keptSettings;
    for (const std::string &t : tarviks) {
        const std::filesystem::path exe(t);
        const std::string ini = (exe.parent_path() / (exe.stem().string() + ".ini")).string();
        if (!keptSettings.count(ini))
            keptSettings[ini] = std::filesystem::exists(ini)
                                    ? std::optional<std::string>(ReadWhole(ini))
                                    : std::nullopt;
        programs.push_back({tarviks.size() == 1 ? "tarvik" : "tarvik " + t,
                            {t, "--measure", "--port", port},
                            ini,
                            {},
                            {},
                            {},
                            {},
                            {},
                            0});
    }

    const char *qpa = std::getenv("QT_QPA_PLATFORM");
    const char *display = std::getenv("DISPLAY");
    std::printf(
        "bench_startup: %d runs each, window system: %s%s%s\n", runs, qpa && *qpa ? qpa : "xcb",
        qpa && *qpa ? "" : " on DISPLAY=", qpa && *qpa ? "" : (display ? display : "(none)"));

    // One start of each first, not counted: the files come into the cache.
    for (tProgram &p : programs) {
        RunOnce(p);
        p.shown.clear(), p.own.clear(), p.cpu.clear(), p.rss.clear(), p.rssConnected.clear();
        p.failed = 0;
    }
    for (int run = 0; run < runs; ++run)
        for (size_t k = 0; k < programs.size(); ++k)
            RunOnce(programs[(k + size_t(run)) % programs.size()]);

    for (const auto &[ini, text] : keptSettings) {
        std::filesystem::remove(ini);
        if (text)
            std::ofstream(ini, std::ios::binary) << *text;
    }

    std::printf("\n%-28s %9s %9s %9s %9s %12s %6s\n", "median of runs", "shown ms", "own ms",
                "cpu ms", "rss MB", "connected MB", "failed");
    for (const tProgram &p : programs) {
        std::printf("%-28s %9.1f %9.0f %9.1f %9.1f ", p.label.c_str(), Median(p.shown),
                    Median(p.own), Median(p.cpu), Median(p.rss));
        if (p.rssConnected.empty())
            std::printf("%12s", "-");
        else
            std::printf("%12.1f", Median(p.rssConnected));
        std::printf(" %6d\n", p.failed);
    }
    const tProgram &bare = programs.front();
    std::printf("\nratios to the bare window (goals: shown <= 2.0x, rss <= 1.5x)\n");
    for (size_t k = 1; k < programs.size(); ++k) {
        const tProgram &p = programs[k];
        const double shown = Median(p.shown) / Median(bare.shown);
        const double rss = Median(p.rss) / Median(bare.rss);
        std::printf("%-28s shown %.2fx %s, cpu %.2fx, rss %.2fx %s\n", p.label.c_str(), shown,
                    shown <= 2.0 ? "(met)" : "(NOT met)", Median(p.cpu) / Median(bare.cpu), rss,
                    rss <= 1.5 ? "(met)" : "(NOT met)");
    }
    return 0;
}
