#pragma once

// Readings that wait for the broker, oldest first, each under a sequence
// number that only grows. The publisher takes them in order and lets them go
// once the broker has acknowledged them, so a reading taken while the broker
// is away is published later with its own time, and exactly once unless an
// acknowledgement itself is lost.

#include "status_reading.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <deque>
#include <vector>

struct tPending {
    uint64_t seq = 0;
    tStatusReading reading;
};

// Calls never overlap (the publisher holds its lock around each); append
// comes from the thread that reads the controllers, from and acknowledge
// from the network thread, which calls threadEnds before it stops.
class tReadingBuffer {
  public:
    virtual ~tReadingBuffer() = default;
    virtual void append(const tStatusReading &reading) = 0;
    // Up to `count` readings with a sequence number of `from` or more, in order.
    virtual std::vector<tPending> from(uint64_t from, size_t count) = 0;
    // The broker has every reading up to `seq`; they need not be kept.
    virtual void acknowledge(uint64_t seq) = 0;
    virtual size_t size() const = 0;
    // Of size(), the readings kept for the next run (in a file).
    virtual size_t kept() const { return 0; }
    // Readings given up for room since the last call.
    virtual uint64_t takeLost() = 0;
    // Where the readings wait and how many fit, for the start message.
    virtual QString describe() const = 0;
    // Anything else the user should hear (a file that refused), once.
    virtual QStringList takeNotices() { return {}; }
    // The network thread is about to stop: what it opened must be let go.
    virtual void threadEnds() {}
    // From the thread that appends: a last try to keep what the buffer's
    // file refused; the readings it still does not hold.
    virtual size_t storeWaiting() { return 0; }
};

// In memory, at most `bound` readings; when full the oldest gives way.
class tMemoryBuffer : public tReadingBuffer {
  public:
    explicit tMemoryBuffer(size_t bound);
    void append(const tStatusReading &reading) override;
    std::vector<tPending> from(uint64_t from, size_t count) override;
    void acknowledge(uint64_t seq) override;
    size_t size() const override { return items.size(); }
    uint64_t takeLost() override;
    QString describe() const override;

  private:
    size_t bound;
    uint64_t next = 1;
    uint64_t lost = 0;
    std::deque<tPending> items;
};
