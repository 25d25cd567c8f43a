#pragma once

// The history file's writes on a thread of their own, so that whoever
// records (the window's GUI thread) never waits for the file: its fsync, a
// lock another recorder holds, a slow disk. The thread has its own
// connection to the file and a tRecorder deciding what goes in; callers hand
// it readings and other records and return at once.
//
// A file that refuses stops recording with one message, readings and
// records wait in memory (bounded), and a second message says when the file
// takes them again; the thread tries again every few seconds meanwhile.
// Everything handed over goes in once, in the order it was handed over.

#include "history_store.h"
#include "recorder.h"

#include <QObject>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

class QThread;

class tHistoryWriter : public QObject {
    Q_OBJECT
  public:
    // How often a refusing file is tried again when nothing else happens,
    // and how often the retention limit is applied.
    static constexpr int64_t retryMs = tRecorder::watchSec * 1000;
    static constexpr int64_t retentionEveryMs = tRecorder::retentionEveryMs;
    // Records other than readings waiting for a refusing file, at most.
    static constexpr size_t waitingMax = 10'000;
    // How long a writer told to stop keeps trying a refusing file.
    static constexpr std::chrono::milliseconds stopTrying{5000};
    // How often it tries meanwhile.
    static constexpr std::chrono::milliseconds stopRetry{250};

    // Opens `path` on the writer thread. `report` runs on the thread that
    // made the writer, with one line for the status line and memo.
    tHistoryWriter(const QString &path, tRecorder::tReport report, QObject *parent = nullptr);
    // Stop(stopTrying), unless stopped already.
    ~tHistoryWriter() override;

    // Writes what was handed over, trying a refusing file again for up to
    // `limit`, then stops; nothing handed over later is written. Returns
    // the readings and other records the file never got, counting those
    // given up earlier for room; the same count when called again.
    size_t Stop(std::chrono::milliseconds limit);

    QString Path() const { return FPath; }

    // The recorder's interval (below 1: its default).
    void SetInterval(int32_t seconds);
    // Readings older than `days` days are removed now and then; 0 keeps
    // everything.
    void SetRetention(int32_t days);

    // A status read as the driver took it, for the recorder.
    void Observe(const tStatusReading &reading);

    // The seam for other records (audit trail, event log slots): `write`
    // runs on the writer thread with its store, in order with the readings;
    // false means the file refused, and it runs again later, in order, until
    // it succeeds.
    using tWrite = std::function<bool(tHistoryStore &store)>;
    void Post(tWrite write);

    // `done` runs on the caller's thread with the file's entry of `c` once
    // the file has one (at once if the file takes it, else when it does).
    void Identify(const tHistController &c, std::function<void(const tHistController &)> done);

    // Blocks until everything handed over so far has been tried (tests,
    // benchmarks).
    void WaitIdle();

  private:
    struct tState;
    using tJob = std::function<void(tState &)>;
    void Push(tJob job);
    void Run();
    void Housekeeping(tState &state, int64_t nowMs);
    // The records waiting for the file, in order, as far as it takes them.
    void TryWaiting(tState &state);
    // Until everything is in or `limit` has passed; what is not in.
    size_t Drain(tState &state, std::chrono::milliseconds limit);
    // To the caller's thread.
    void Say(const QString &text, bool failure);

    QString FPath;
    tRecorder::tReport FReport;
    QThread *FThread = nullptr;

    std::mutex FMutex;
    std::condition_variable FWake, FIdle;
    std::deque<tJob> FJobs;
    bool FRunning = false; // a batch is being run
    bool FStop = false;
    bool FStopped = false;
    std::chrono::milliseconds FStopLimit = stopTrying;
    size_t FUnsaved = 0; // set by the thread as it ends
};
