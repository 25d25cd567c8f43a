#pragma once

#include <sys/resource.h>

#include <csignal>

// Writes beyond `bytes` into any file fail, as on a full disk, until the
// object goes away.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved);
        oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit l = saved;
        l.rlim_cur = bytes;
        ok = setrlimit(RLIMIT_FSIZE, &l) == 0;
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);
    }
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;
    bool ok = false;

  private:
    rlimit saved{};
    void (*oldHandler)(int) = nullptr;
};
