#include "stop_request.h"

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t stopAsked = 0;
int wakeFds[2] = {-1, -1};
struct sigaction previous[2];
constexpr int signals[] = {SIGINT, SIGTERM};

void onStop(int sig) {
    if (stopAsked) {
        // Asked twice: the user wants out now.
        ::signal(sig, SIG_DFL);
        ::raise(sig);
        return;
    }
    stopAsked = 1;
    const char c = 0;
    [[maybe_unused]] const auto w = ::write(wakeFds[1], &c, 1);
}

} // namespace

tStopRequest::tStopRequest() {
    stopAsked = 0;
    if (::pipe2(wakeFds, O_CLOEXEC | O_NONBLOCK) != 0)
        wakeFds[0] = wakeFds[1] = -1;
    struct sigaction sa = {};
    sa.sa_handler = onStop;
    sigemptyset(&sa.sa_mask);
    // Reads and writes on the port and the output go on where they were.
    sa.sa_flags = SA_RESTART;
    for (int i = 0; i < 2; ++i)
        ::sigaction(signals[i], &sa, &previous[i]);
}

tStopRequest::~tStopRequest() {
    for (int i = 0; i < 2; ++i)
        ::sigaction(signals[i], &previous[i], nullptr);
    for (int &fd : wakeFds)
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
}

bool tStopRequest::requested() const {
    return stopAsked != 0;
}

bool tStopRequest::waitUntil(std::chrono::steady_clock::time_point deadline) const {
    using namespace std::chrono;
    while (!requested()) {
        const auto left = duration_cast<milliseconds>(deadline - steady_clock::now()).count();
        if (left <= 0)
            return true;
        pollfd p{wakeFds[0], POLLIN, 0};
        ::poll(&p, wakeFds[0] >= 0 ? 1 : 0, int(left < 1000 ? left : 1000));
    }
    return false;
}
