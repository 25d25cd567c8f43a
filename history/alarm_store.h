#pragma once

// Alarm limits and alarm episodes in the history file, beside the readings
// they judge, so the window, tarvik-cli registrar and publicar share them.
//
// Limits: per controller place (port and address, so a firmware update
// keeps them) and sensor 1..4; sensor 0 holds the controller's minutes
// without an answer (its `delayMin`). Every change is a new row, the newest
// wins and a removal is a row too; each change also goes into the audit
// trail of the controller's newest history entry (user, old -> new), so it
// shows in "historico alteracoes". A place with no controller in the
// history takes no limits: there is nothing there to judge yet.
//
// Episodes: one row when an alarm opens (place, sensor, condition, the
// first reading out of range, the limits it broke); its later facts are
// marks appended after it: the extreme reached so far, its end, each
// acknowledgement (who, when, comment). Nothing stored is ever updated.
// An alarm already open for the same place, sensor and condition (another
// program recording the same controller) is joined, not opened twice; an
// end is written once.
//
// The tables are created on first use and stand apart from the readings'
// schema. Times are UTC ms with the local offset beside them; temperatures
// are tenths in the unit each row carries. One tAlarmStore works on one
// open tHistoryStore, on its thread.

#include "alarm_judge.h"
#include "history_store.h"

#include <QString>

#include <functional>
#include <map>
#include <optional>
#include <vector>

struct tAlarmAck {
    int64_t utcMs = 0;
    int32_t offsetSec = 0;
    QString user;
    QString comment;
};

struct tAlarmEpisode {
    int64_t id = 0; // the episode's number
    QString port;
    int32_t address = 0;
    int64_t controller = 0; // the history's entry it was recorded under
    int32_t sensor = 0;     // 1..4; 0 the controller
    tAlarmCondition condition = tAlarmCondition::High;
    int64_t startMs = 0; // the first reading out of range / without an answer
    int32_t offsetSec = 0;
    int64_t openedMs = 0;                // when it was judged open
    std::optional<int64_t> endMs = {};   // none while open
    std::optional<int32_t> extreme = {}; // in `unit`
    int32_t unit = 0;
    std::optional<int32_t> low = {}, high = {}; // the limits it broke
    std::vector<tAlarmAck> acks = {};

    bool IsOpen() const { return !endMs; }
};

// A stored limit row as listed.
struct tAlarmLimitEntry {
    QString port;
    int32_t address = 0;
    int32_t sensor = 0;
    tAlarmLimits limits;
    int64_t utcMs = 0;
    QString user;
};

class tAlarmStore {
  public:
    explicit tAlarmStore(tHistoryStore &store);

    // False, with the store's Message(), when the file refuses.
    bool Ready();

    // --- limits ---
    // What `port`/`address` is judged against (defaults where nothing is set).
    tAlarmSettings Settings(const QString &port, int32_t address);
    // The limits in force; port empty: every place; address < 0: every address.
    std::vector<tAlarmLimitEntry> Limits(const QString &port = {}, int32_t address = -1);
    // Sets (or, with nullopt, removes) a sensor's limits, with its audit
    // row. False with Message() when the file refuses or no controller of
    // the history is at that place.
    bool SetLimits(const QString &port, int32_t address, int32_t sensor,
                   const std::optional<tAlarmLimits> &limits, const QString &user, int64_t utcMs,
                   int32_t offsetSec);

    // --- episodes ---
    // Opens (or joins) the episode of `change` (kind Opened) at `port`/`address`,
    // history controller `controller`; its id, 0 on failure.
    int64_t Open(const QString &port, int32_t address, int64_t controller,
                 const tAlarmChange &change, int32_t offsetSec, const tAlarmLimits &limits);
    bool Extreme(int64_t episode, int64_t utcMs, int32_t value);
    bool End(int64_t episode, int64_t utcMs, std::optional<int32_t> extreme);
    // An acknowledgement, also in the audit trail of the episode's controller.
    bool Acknowledge(int64_t episode, const tAlarmAck &ack);

    // Episodes that overlap [fromMs, toMs), oldest first; port empty /
    // address < 0: every place.
    std::vector<tAlarmEpisode> Episodes(int64_t fromMs, int64_t toMs, const QString &port = {},
                                        int32_t address = -1);
    std::vector<tAlarmEpisode> OpenEpisodes(const QString &port = {}, int32_t address = -1);
    std::optional<tAlarmEpisode> Episode(int64_t id);

    QString Message() const { return FMessage; }
    // Whether the last call failed (an empty answer that did not fail: none).
    bool LastFailed() const { return FFailed; }

  private:
    bool Fail(const QString &why);
    std::vector<tAlarmEpisode> Query(const QString &where, const QVariantList &binds);

    tHistoryStore &FStore;
    bool FReady = false;
    bool FFailed = false;
    QString FMessage;
};

// A limit as the audit trail and the CLI show it ("8,0ºC", "—" for none).
QString AlarmLimitText(const std::optional<int32_t> &tenths, int32_t unit);

// Judging every reading of the controllers one program records, and keeping
// the episodes in the file: a judge per place, limits read again every
// minute (another program may change them), episodes left open in the file
// taken over at the first reading. `changed` runs after each opening and
// closing is stored (the hook of --ao-alarmar, a window's strip).
class tAlarmMonitor {
  public:
    using tChanged = std::function<void(const tAlarmEpisode &episode, bool opened)>;
    using tReport = std::function<void(const QString &text)>;
    tAlarmMonitor(tHistoryStore &store, tReport report, tChanged changed = {});
    void SetChanged(tChanged changed) { FChanged = std::move(changed); }

    // One reading of the controller at `where` (its id the history's, 0 if
    // not known yet).
    void Observe(const tHistController &where, int64_t controller, const tStatusReading &reading);

    // The alarms open now at a place, as judged.
    std::vector<tAlarmActive> Active(const QString &port, int32_t address) const;

    static constexpr int64_t reloadMs = 60'000;

  private:
    struct tPlace {
        tAlarmJudge judge;
        int64_t loadedMs = 0;
        bool resumed = false;
        std::map<std::pair<int32_t, int32_t>, int64_t> episodes; // (sensor, condition) -> id
    };
    tAlarmStore FAlarms;
    tReport FReport;
    tChanged FChanged;
    std::map<std::pair<QString, int32_t>, tPlace> FPlaces;
    bool FFailing = false;
};
