#include "session_recorder.h"

#include "session.h"

#include <QDateTime>
#include <QFileInfo>
#include <QTimer>

#include <algorithm>
#include <utility>

namespace {
constexpr int64_t liveMs = 3'600'000;
// The watch reads only when nobody has for its period and this much more,
// so it does not double the status page's reads a second apart.
constexpr int32_t watchSlackMs = 250;
} // namespace

tSessionRecorder::tSessionRecorder(tSession &session, QString path, tRecorder::tReport report,
                                   QObject *parent)
    : QObject(parent), FSession(session), FPath(std::move(path)), FReport(std::move(report)),
      FWatch(new QTimer(this)) {
    connect(&session, &tSession::exchanged, this, &tSessionRecorder::Exchanged);
    connect(&session, &tSession::connectionChanged, this, &tSessionRecorder::ConnectionChanged);
    FWatch->setSingleShot(true);
    FWatch->setTimerType(Qt::PreciseTimer);
    connect(FWatch, &QTimer::timeout, this, &tSessionRecorder::Watch);
}

tSessionRecorder::~tSessionRecorder() = default;

void tSessionRecorder::SetInterval(int32_t seconds) {
    FIntervalSec = seconds > 0 ? seconds : tRecorder::defaultIntervalSec;
    if (FWriter)
        FWriter->SetInterval(FIntervalSec);
}

void tSessionRecorder::SetRetention(int32_t days) {
    FKeepDays = std::max(0, days);
    if (FWriter)
        FWriter->SetRetention(FKeepDays);
}

tHistoryWriter &tSessionRecorder::Writer() {
    if (!FWriter) {
        FWriter = std::make_unique<tHistoryWriter>(FPath, FReport);
        FWriter->SetInterval(FIntervalSec);
        FWriter->SetRetention(FKeepDays);
    }
    return *FWriter;
}

size_t tSessionRecorder::FinishWriting() {
    FWatch->stop();
    if (!FWriter || std::exchange(FFinished, true))
        return 0;
    return FWriter->Stop(tHistoryWriter::stopTrying);
}

tHistoryStore &tSessionRecorder::Reader() {
    if (!FReader) {
        Writer(); // which says it when the file cannot be opened
        FReader = std::make_unique<tHistoryStore>();
        // Only the window's own new file is made here; any other is read
        // without a change (it may be someone else's, in their folder).
        const bool made = QFileInfo(FPath).size() > 0;
        FReader->Open(FPath, made ? tHistoryStore::tAccess::Read : tHistoryStore::tAccess::Write);
    }
    return *FReader;
}

void tSessionRecorder::ConnectionChanged() {
    ++FGeneration;
    FLive.clear();
    FLastReadMs = 0;
    FOwnPending = FOwnLast = false;
    const tOndrel &dev = FSession.Ondrel();
    if (!dev.Connected()) {
        FWatch->stop();
        FConnected = FRecorded = {};
        Q_EMIT recordedChanged();
        return;
    }
    FConnected = FRecorded = {0, dev.PortName(), dev.Address(), dev.Model, dev.Fimware};
    Writer().Identify(FConnected, [this, generation = FGeneration](const tHistController &c) {
        if (generation != FGeneration)
            return;
        FRecorded = c;
        Q_EMIT recordedChanged();
    });
    Q_EMIT recordedChanged();
    ArmWatch();
}

void tSessionRecorder::Exchanged(const tExchange &exchange) {
    if (!exchange.reading || !FSession.Connected() || FConnected.port.isEmpty())
        return;
    const tStatusReading &r = *exchange.reading;
    Writer().Observe(r);
    FLastReadMs = r.utcMs;
    FOwnLast = std::exchange(FOwnPending, false);
    ArmWatch();
    // A clock moved back leaves later times in front: trim by age from now.
    while (!FLive.empty() &&
           (FLive.front().utcMs <= r.utcMs - liveMs || FLive.front().utcMs > r.utcMs))
        FLive.pop_front();
    FLive.push_back(r);
    if (FRecorded.id)
        Q_EMIT reading(FRecorded.id, r);
}

void tSessionRecorder::Watch() {
    // Read when nobody else has for a while, so the file gets its readings
    // (and a relay switch is seen) whatever page is shown.
    if (!FSession.Connected())
        return;
    FOwnIssuedMs = QDateTime::currentMSecsSinceEpoch();
    FOwnPending = true;
    FSession.Send(cmdGET_STATUS, tPriority::Background);
    ArmWatch();
}

void tSessionRecorder::ArmWatch() {
    if (!FSession.Connected() || FFinished) {
        FWatch->stop();
        return;
    }
    const int64_t everyMs = int64_t(std::min(FIntervalSec, tRecorder::watchSec)) * 1000;
    const int64_t now = QDateTime::currentMSecsSinceEpoch();
    const int64_t due = FOwnLast || FOwnPending ? FOwnIssuedMs + everyMs
                        : FLastReadMs           ? FLastReadMs + everyMs + watchSlackMs
                                                : now;
    // A clock moved back: from now.
    FWatch->start(int(std::clamp<int64_t>(due - now, 0, everyMs + watchSlackMs)));
}
