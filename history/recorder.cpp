#include "recorder.h"

#include "event_log.h"
#include "u_ondrel.h"

#include <QDateTime>

#include <algorithm>
#include <array>
#include <set>

namespace {
constexpr int64_t liveMs = 3'600'000;
// A day of readings a minute for four controllers; older ones give way.
constexpr size_t pendingMax = 4 * 1440;
// How often a refusing file is tried again.
constexpr int64_t retryMs = tRecorder::watchSec * 1000;

// A slot as the file tells one from another: where and what.
using tSlotKey = std::array<int32_t, 10>;
tSlotKey slotKey(const tHistLogSlot &s) {
    return {s.slot, s.event, s.sensor1, s.sensor2, s.year, s.month, s.mday, s.hour, s.min, s.sec};
}

bool Changed(const tStatusReading &a, const tStatusReading &b) {
    // A failed read says nothing new; a read after a failure is news.
    if ((a.result > 0) != (b.result > 0))
        return true;
    return a.result > 0 && (a.relay != b.relay || a.state != b.state || a.unit != b.unit);
}
} // namespace

tRecorder::tRecorder(tHistoryStore &store, tReport report)
    : FStore(store), FReport(std::move(report)), FAlarms(store, [this](const QString &text) {
          // A file that refuses was said once already.
          if (!FFailing)
              FReport(text, true);
      }) {}

void tRecorder::Unanswered(const QString &port, int32_t address, int32_t result, int64_t utcMs) {
    tStatusReading r{.utcMs = utcMs, .port = port, .address = address, .result = result};
    r.offsetSec = QDateTime::fromMSecsSinceEpoch(utcMs).offsetFromUtc();
    FAlarms.Observe({0, port, address, QString(), QString()}, 0, r);
}

void tRecorder::SetAlarmChanged(tAlarmMonitor::tChanged changed) {
    FAlarms.SetChanged(std::move(changed));
}

void tRecorder::SetInterval(int32_t seconds) {
    SetIntervalMs(int64_t(seconds) * 1000);
}

void tRecorder::SetIntervalMs(int64_t ms) {
    FIntervalMs = ms > 0 ? ms : int64_t(defaultIntervalSec) * 1000;
}

tRecorder::tSeen &tRecorder::Seen(const tHistController &where) {
    tSeen &seen = FSeen[{where.port, where.address}];
    if (seen.model != where.model || seen.firmware != where.firmware) {
        // Another controller answers at this address now.
        seen.model = where.model;
        seen.firmware = where.firmware;
        seen.controller = 0;
        seen.lastRecorded = {};
        seen.nextDueMs = 0;
        seen.lastLogMs = 0;
    }
    return seen;
}

void tRecorder::Observe(const tStatusReading &r) {
    const tHistController where{0, r.port, r.address, r.model, r.firmware};
    const int64_t utcMs = r.utcMs;
    tSeen &seen = Seen(where);
    // Reads come about as often as the interval asks, a little early or
    // late: one that comes closer to the due time than the next would is
    // taken, and the due times keep their step, so an interval of 1 s read
    // every second records every second, not every other read.
    const int64_t slack = std::clamp<int64_t>(
        seen.lastReadMs && utcMs > seen.lastReadMs ? (utcMs - seen.lastReadMs) / 2 : 0, 0,
        FIntervalMs / 2);
    seen.lastReadMs = utcMs;
    // A clock moved back leaves later times in front: trim by age from now.
    while (!seen.live.empty() &&
           (seen.live.front().utcMs <= utcMs - liveMs || seen.live.front().utcMs > utcMs))
        seen.live.pop_front();
    seen.live.push_back(r);

    const tStatusReading &last = seen.lastRecorded;
    const bool onTime = seen.nextDueMs && utcMs >= seen.nextDueMs - slack;
    const bool due = !last.utcMs || onTime || utcMs < last.utcMs || // the clock went back
                     Changed(last, r);
    if (due) {
        // On time: the next is due one step on; anything else (a change, a
        // gap, the clock moved) starts the steps again from this reading.
        seen.nextDueMs = onTime && utcMs < seen.nextDueMs + FIntervalMs - slack
                             ? seen.nextDueMs + FIntervalMs
                             : utcMs + FIntervalMs;
        seen.lastRecorded = r;
        FPending.push_back({where, r});
        if (FPending.size() > pendingMax) {
            FPending.pop_front();
            ++FDropped;
        }
        Flush(utcMs);
    }
    FAlarms.Observe(where, 0, r);
}

bool tRecorder::Flush(int64_t utcMs) {
    if (!FFailing && FStore.FileReplaced()) {
        // SQLite would go on writing the deleted file, unseen by anyone.
        FStore.EmptyWriteAheadLog();
        ++FReplaced;
        FFailing = true;
        FLastRetryMs = utcMs - retryMs; // a new file at once
        FReport(QStringLiteral("Gravação do histórico interrompida: o arquivo %1 foi apagado ou "
                               "trocado por outro; o que foi gravado nele não está no arquivo "
                               "novo")
                    .arg(FStore.Path()),
                true);
    }
    if (FFailing) {
        if (utcMs - FLastRetryMs < retryMs && utcMs >= FLastRetryMs)
            return false;
        FLastRetryMs = utcMs;
        // A file made writable again, or a disk with room again, may need
        // a fresh connection to be seen.
        if (!FStore.Open(FStore.Path()) || FStore.ReadOnly())
            return false;
        FStore.FileReplaced(); // takes note of the file opened
    }
    while (!FPending.empty()) {
        tPending &p = FPending.front();
        const int64_t controller = FStore.ControllerId(p.controller);
        if (!controller || !FStore.AddReading(controller, p.reading)) {
            Failed(utcMs);
            return false;
        }
        FPending.pop_front();
    }
    if (FFailing) {
        FFailing = false;
        FReport(QStringLiteral("Gravação do histórico retomada"), false);
    }
    return true;
}

size_t tRecorder::Finish(int64_t utcMs) {
    if (FFailing)
        FLastRetryMs = utcMs - retryMs;
    if (!FPending.empty() || FFailing)
        Flush(utcMs);
    return FPending.size();
}

bool tRecorder::Retry(int64_t utcMs) {
    return FPending.empty() && !FFailing ? true : Flush(utcMs);
}

void tRecorder::Failed(int64_t utcMs) {
    FLastRetryMs = utcMs;
    if (FFailing)
        return;
    FFailing = true;
    FReport(QStringLiteral("Gravação do histórico interrompida: %1").arg(FStore.Message()), true);
}

bool tRecorder::WatchDue(const QString &port, int32_t address, int64_t utcMs) const {
    const auto it = FSeen.find({port, address});
    return it == FSeen.end() || utcMs - it->second.lastReadMs >= watchSec * 1000 ||
           utcMs < it->second.lastReadMs;
}

bool tRecorder::EventLogDue(const QString &port, int32_t address, int64_t utcMs) const {
    const auto it = FSeen.find({port, address});
    return it == FSeen.end() || !it->second.lastLogMs ||
           utcMs - it->second.lastLogMs >= eventLogEveryMs || utcMs < it->second.lastLogMs;
}

int32_t tRecorder::ReadEventLog(tOndrel &dev, int32_t address,
                                const std::function<int32_t(tCommand)> &send, int64_t utcMs) {
    tSeen &seen = Seen({0, dev.PortName(), address, dev.Model, dev.Fimware});
    seen.lastLogMs = utcMs;
    const tHistController key{0, dev.PortName(), address, dev.Model, dev.Fimware};
    const int64_t controller = FStore.ControllerId(key);
    if (!controller) {
        Failed(utcMs);
        return 0;
    }
    // What the file held before this walk decides where it stops: a tap on
    // the same driver stores each slot the moment it is read, so "not new"
    // after the read would stop the walk at its first slot.
    std::set<tSlotKey> held;
    for (const tHistLogSlot &s : FStore.LogSlots(controller))
        held.insert(slotKey(s));
    if (FStore.LastFailed()) {
        Failed(utcMs);
        return 0;
    }
    int32_t r = send(cmdGET_LOG_INFO);
    if (r < 0)
        return r;
    int32_t stored = 0;
    // The whole ring at most, newest first, never a slot twice.
    for (int32_t slot : LogSlotOrder(dev.LogCountSlots, dev.LogLastSlot, dev.LogCountSlots)) {
        dev.LogSlotRead = slot;
        r = send(cmdSET_LOG_READ);
        if (r >= 0)
            r = send(cmdGET_LOG_READ);
        if (r < 0)
            return r;
        if (!LogSlotWritten(dev.Log))
            break;
        const tHistLogSlot read = HistLogSlotOf(controller, slot, dev.Log, utcMs);
        if (held.contains(slotKey(read)))
            break; // everything older is held already
        if (!FStore.AddLogSlot(read)) {
            Failed(utcMs);
            break;
        }
        ++stored;
    }
    return stored;
}

const std::deque<tStatusReading> &tRecorder::Live(const QString &port, int32_t address) const {
    static const std::deque<tStatusReading> none;
    const auto it = FSeen.find({port, address});
    return it == FSeen.end() ? none : it->second.live;
}
