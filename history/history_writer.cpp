#include "history_writer.h"

#include <QDateTime>
#include <QThread>

#include <chrono>

struct tHistoryWriter::tState {
    tHistoryStore store;
    std::unique_ptr<tRecorder> recorder;
    // Records the file refused, oldest first.
    std::deque<tWrite> waiting;
    size_t waitingDropped = 0;
    int64_t lastWaitingTryMs = 0;
    std::vector<std::pair<tHistController, std::function<void(const tHistController &)>>> unknown;
    int64_t lastUnknownTryMs = 0;
    // The failure has been said, and not yet its end.
    bool said = false;
    int32_t keepDays = 0;
    int64_t lastRetentionMs = 0;
};

tHistoryWriter::tHistoryWriter(const QString &path, tRecorder::tReport report, QObject *parent)
    : QObject(parent), FPath(path), FReport(std::move(report)) {
    FThread = QThread::create([this] { Run(); });
    FThread->setObjectName(QStringLiteral("history writer"));
    FThread->start();
}

tHistoryWriter::~tHistoryWriter() {
    Stop(stopTrying);
    delete FThread;
}

size_t tHistoryWriter::Stop(std::chrono::milliseconds limit) {
    {
        const std::lock_guard lock(FMutex);
        if (FStopped)
            return FUnsaved;
        FStop = true;
        FStopLimit = limit;
    }
    FWake.notify_all();
    FThread->wait();
    const std::lock_guard lock(FMutex);
    FStopped = true;
    return FUnsaved;
}

void tHistoryWriter::Push(tJob job) {
    {
        const std::lock_guard lock(FMutex);
        FJobs.push_back(std::move(job));
    }
    FWake.notify_all();
}

void tHistoryWriter::SetInterval(int32_t seconds) {
    Push([seconds](tState &s) { s.recorder->SetInterval(seconds); });
}

void tHistoryWriter::SetRetention(int32_t days) {
    Push([days](tState &s) {
        if (days != s.keepDays)
            s.lastRetentionMs = 0; // a new limit applies at once
        s.keepDays = days;
    });
}

void tHistoryWriter::Observe(const tStatusReading &reading) {
    Push([reading](tState &s) { s.recorder->Observe(reading); });
}

void tHistoryWriter::Post(tWrite write) {
    Push([this, write = std::move(write)](tState &s) {
        // Behind records still waiting, to keep the order.
        if (s.waiting.empty() && write(s.store))
            return;
        s.waiting.push_back(write);
        if (s.waiting.size() > waitingMax) {
            s.waiting.pop_front();
            ++s.waitingDropped;
        }
        if (!s.said) {
            s.said = true;
            Say(QStringLiteral("Gravação do histórico interrompida: %1").arg(s.store.Message()),
                true);
        }
    });
}

void tHistoryWriter::Identify(const tHistController &c,
                              std::function<void(const tHistController &)> done) {
    Push([c, done = std::move(done)](tState &s) { s.unknown.emplace_back(c, done); });
}

void tHistoryWriter::WaitIdle() {
    std::unique_lock lock(FMutex);
    FIdle.wait(lock, [this] { return FJobs.empty() && !FRunning; });
}

void tHistoryWriter::Say(const QString &text, bool failure) {
    QMetaObject::invokeMethod(
        this, [this, text, failure] { FReport(text, failure); }, Qt::QueuedConnection);
}

void tHistoryWriter::Run() {
    tState s;
    if (!s.store.Open(FPath))
        Say(s.store.Message(), true);
    // The recorder's own messages, merged with those of the other records:
    // one when the file refuses, one when it takes everything again.
    s.recorder =
        std::make_unique<tRecorder>(s.store, [this, &s](const QString &text, bool failure) {
            if (failure && !s.said) {
                s.said = true;
                Say(text, true);
            } else if (!failure && s.said && s.waiting.empty()) {
                s.said = false;
                Say(text, false);
            }
        });
    std::unique_lock lock(FMutex);
    for (;;) {
        FWake.wait_for(lock, std::chrono::seconds(1), [this] { return FStop || !FJobs.empty(); });
        std::deque<tJob> batch;
        batch.swap(FJobs);
        const bool stop = FStop;
        FRunning = true;
        lock.unlock();
        for (tJob &job : batch)
            job(s);
        Housekeeping(s, QDateTime::currentMSecsSinceEpoch());
        lock.lock();
        FRunning = false;
        if (FJobs.empty())
            FIdle.notify_all();
        if (stop && FJobs.empty())
            break;
    }
    const std::chrono::milliseconds limit = FStopLimit;
    lock.unlock();
    const size_t unsaved = Drain(s, limit);
    lock.lock();
    FUnsaved = unsaved;
}

size_t tHistoryWriter::Drain(tState &s, std::chrono::milliseconds limit) {
    tRecorder &rec = *s.recorder;
    const auto until = std::chrono::steady_clock::now() + limit;
    for (;;) {
        const int64_t nowMs = QDateTime::currentMSecsSinceEpoch();
        const size_t readings = rec.Finish(nowMs);
        if (!rec.Failing())
            TryWaiting(s);
        if ((!readings && s.waiting.empty()) || std::chrono::steady_clock::now() >= until)
            break;
        std::unique_lock lock(FMutex);
        FWake.wait_for(lock, stopRetry);
    }
    const size_t unsaved = rec.Pending() + rec.Dropped() + s.waiting.size() + s.waitingDropped;
    if (unsaved)
        Say(QStringLiteral("%1 registro(s) não gravado(s) no histórico %2%3")
                .arg(unsaved)
                .arg(FPath, s.store.Message().isEmpty() ? QString()
                                                        : QStringLiteral(": ") + s.store.Message()),
            true);
    return unsaved;
}

void tHistoryWriter::TryWaiting(tState &s) {
    // A file writable again may need a fresh connection to be seen.
    if (!s.store.IsOpen() || s.store.LastFailed())
        s.store.Open(s.store.Path());
    while (!s.waiting.empty() && s.waiting.front()(s.store))
        s.waiting.pop_front();
    if (s.waiting.empty() && s.said) {
        s.said = false;
        Say(QStringLiteral("Gravação do histórico retomada"), false);
    }
}

void tHistoryWriter::Housekeeping(tState &s, int64_t nowMs) {
    tRecorder &rec = *s.recorder;
    if (rec.Failing())
        rec.Retry(nowMs); // at most every retryMs, the recorder sees to it
    if (!s.waiting.empty() && !rec.Failing() &&
        (nowMs - s.lastWaitingTryMs >= retryMs || nowMs < s.lastWaitingTryMs)) {
        s.lastWaitingTryMs = nowMs;
        TryWaiting(s);
    }
    const bool identifyDue =
        !s.lastUnknownTryMs || nowMs - s.lastUnknownTryMs >= retryMs || nowMs < s.lastUnknownTryMs;
    for (auto it = s.unknown.begin(); it != s.unknown.end() && identifyDue;) {
        s.lastUnknownTryMs = nowMs;
        tHistController c = it->first;
        c.id = s.store.ControllerId(c);
        if (!c.id)
            break; // the file refuses: later, in order
        s.lastUnknownTryMs = 0;
        QMetaObject::invokeMethod(
            this, [done = it->second, c] { done(c); }, Qt::QueuedConnection);
        it = s.unknown.erase(it);
    }
    if (s.keepDays > 0 && !rec.Failing() &&
        (!s.lastRetentionMs || nowMs - s.lastRetentionMs >= retentionEveryMs ||
         nowMs < s.lastRetentionMs)) {
        s.lastRetentionMs = nowMs;
        int64_t unpublished = 0;
        if (s.store.ApplyRetention(s.keepDays, nowMs, &unpublished) < 0)
            Say(s.store.Message(), true);
        if (unpublished > 0)
            Say(UnpublishedRemovedText(unpublished), true);
    }
}
