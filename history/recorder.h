#pragma once

// Recording a controller into the history file: one sequence for the window
// and the command-line recorder alike. Whoever reads the status (the
// status page every second, the recorder's own watch, tarvik-cli registrar)
// hands each reading to Observe; the recorder keeps the last hour of them
// for the live view and writes one to the file every interval, at once when
// a relay switched or a sensor changed state.
//
// A file that refuses (disk full, read-only, removed) stops recording with
// one message; the readings meanwhile wait in memory (up to a day's worth)
// and go in, oldest first, once the file takes them again, when a second
// message says so. A file deleted or replaced under the recorder is said
// the same way, and recording goes on in a new file of that name. The live
// view is never held up by the file.
//
// Every reading observed, recorded or not, is judged against the alarm
// limits kept in the file (alarm_store.h): episodes open and close here,
// whoever reads the status.

#include "alarm_store.h"
#include "history_store.h"
#include "u_ondrel.h"

#include <QString>

#include <cstdint>
#include <deque>
#include <functional>
#include <map>

class tRecorder {
  public:
    // How often a reading is written when nothing changes.
    static constexpr int32_t defaultIntervalSec = 60;
    // How often the recorder reads the status itself when nobody else does,
    // so a relay switch is seen within seconds, not at the next interval.
    static constexpr int32_t watchSec = 5;
    // How often a retention limit is applied while recording.
    static constexpr int64_t retentionEveryMs = 6 * 3'600'000;
    // How long after the last look the event log is read again.
    static constexpr int64_t eventLogEveryMs = 3'600'000;

    // `report(text, failure)`: one line for the status line and memo, or
    // standard error.
    using tReport = std::function<void(const QString &text, bool failure)>;

    tRecorder(tHistoryStore &store, tReport report);

    void SetInterval(int32_t seconds); // below 1: the default
    void SetIntervalMs(int64_t ms);    // below 1: the default
    int64_t IntervalMs() const { return FIntervalMs; }

    // A status read has ended, as the driver took it; its controller is
    // the reading's port, address, model and firmware.
    void Observe(const tStatusReading &reading);
    // The controller at `address` on `port` could not even be reached (its
    // session did not open): nothing to record, but its silence is judged.
    void Unanswered(const QString &port, int32_t address, int32_t result, int64_t utcMs);

    // Tries a refusing file again (at most every few seconds), as a new
    // reading would; whether the file takes the readings now.
    bool Retry(int64_t utcMs);

    // Whether the controller at `address` on `port` should be read now for
    // the history (nobody has read it for watchSec).
    bool WatchDue(const QString &port, int32_t address, int64_t utcMs) const;
    // Whether its event log should be read now (never read in this run, or
    // an hour ago).
    bool EventLogDue(const QString &port, int32_t address, int64_t utcMs) const;

    // Reads the connected controller's event log, newest first, storing each
    // slot until it meets one the file already holds, a slot never written,
    // or the whole ring; `send` runs one command (the window's wrapper, the
    // CLI's driver). Returns the slots stored, or the failed command's
    // negative result.
    int32_t ReadEventLog(tOndrel &dev, int32_t address,
                         const std::function<int32_t(tCommand)> &send, int64_t utcMs);

    // The live view: every reading observed in the last hour, oldest first.
    const std::deque<tStatusReading> &Live(const QString &port, int32_t address) const;

    bool Failing() const { return FFailing; }
    size_t Pending() const { return FPending.size(); }
    // Readings given up since the start: the oldest waiting ones, for room.
    uint64_t Dropped() const { return FDropped; }
    // How often the file was found deleted or replaced and begun anew.
    int32_t Replaced() const { return FReplaced; }
    // The last try before stopping, whatever the pause between tries says;
    // the readings still not stored (each given up for good).
    size_t Finish(int64_t utcMs);

    // What runs after each alarm opening and closing is stored.
    void SetAlarmChanged(tAlarmMonitor::tChanged changed);
    const tAlarmMonitor &Alarms() const { return FAlarms; }

  private:
    struct tSeen {
        int64_t controller = 0;
        QString model, firmware;
        tStatusReading lastRecorded; // utcMs 0: none yet
        int64_t nextDueMs = 0;       // when the interval asks for the next one
        int64_t lastReadMs = 0;
        int64_t lastLogMs = 0;
        std::deque<tStatusReading> live;
    };
    using tKey = std::pair<QString, int32_t>;

    struct tPending {
        tHistController controller;
        tStatusReading reading;
    };

    tSeen &Seen(const tHistController &where);
    bool Flush(int64_t utcMs);
    void Failed(int64_t utcMs);

    tHistoryStore &FStore;
    tReport FReport;
    int64_t FIntervalMs = defaultIntervalSec * 1000;
    std::map<tKey, tSeen> FSeen;
    std::deque<tPending> FPending;
    bool FFailing = false;
    int64_t FLastRetryMs = 0;
    uint64_t FDropped = 0;
    int32_t FReplaced = 0;
    tAlarmMonitor FAlarms;
};
