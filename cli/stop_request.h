#pragma once

// Ctrl+C (SIGINT) and SIGTERM as a request to stop once the reading in
// progress is written whole; a second one ends the program at once. While
// one of these lives, waits end early when a stop is asked for.

#include <chrono>

class tStopRequest {
  public:
    tStopRequest();
    ~tStopRequest();
    tStopRequest(const tStopRequest &) = delete;
    tStopRequest &operator=(const tStopRequest &) = delete;

    bool requested() const;
    // Sleeps until `deadline`; false when a stop was asked for first.
    bool waitUntil(std::chrono::steady_clock::time_point deadline) const;
};
