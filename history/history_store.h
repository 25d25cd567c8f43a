#pragma once

// The history file: every reading of every controller Tarvik watched, the
// controllers' own event log slots, and the trail of every write sent to a
// controller, in one SQLite file shared by the window and the command-line
// recorder (several processes may write it at once).
//
// Records are appended, never edited; only ApplyRetention removes readings,
// and only when the user set a retention limit. The one value updated is a
// publisher's mark of what its broker has acknowledged (SetPublished).
//
// The file is marked as Tarvik's (SQLite's application id); a file of
// another program is refused before anything in it changes. Every write
// takes the file's write lock when it starts, so a lock another program
// holds for less than the busy time-out is waited out, never a failure.
//
// Times: UTC milliseconds since 1970 (`utcMs`) everywhere, the local offset
// from UTC in seconds kept beside each record for display (`offsetSec`).
// Ranges are half-open: [fromMs, toMs).
// Temperatures: tenths of a degree, as the controller counts them. Queries
// that compare or combine values take the unit wanted (tempCELSIUS or
// tempFAHRENHEIT) and convert readings taken in the other unit, so a range
// where someone switched the controller's unit still draws one curve.
//
// One tHistoryStore is one connection; use it from the thread that opened it.

#include "status_reading.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

struct tSlotLog;

// A controller as the history knows it: where it was reached and what it
// said it was. A controller reached on another port (an adapter plugged into
// another socket) or with another firmware is another entry.
struct tHistController {
    int64_t id = 0; // 0 until stored
    QString port;   // "/dev/ttyUSB0"
    int32_t address = 0;
    QString model;    // "qx4r"
    QString firmware; // "1.2"
};

// One write sent to a controller and each field it changed.
struct tHistAuditField {
    QString code; // the field's code ("SP", "OFS1", "R2.OP"); see device/param_fields
    QString oldValue;
    QString newValue;
};
struct tHistAudit {
    int64_t controller = 0;
    int64_t utcMs = 0;
    int32_t offsetSec = 0;
    QString user;    // operating-system user
    QString command; // what was sent ("Parâmetros de sistema", "Relé 2 ligado")
    int32_t result = 0;
    std::vector<tHistAuditField> fields;
};

// One event log slot as read from a controller.
struct tHistLogSlot {
    int64_t controller = 0;
    int32_t slot = 0;      // index in the controller's ring
    int64_t readUtcMs = 0; // when Tarvik read it
    uint8_t event = 0;
    uint16_t sensor1 = 0, sensor2 = 0;
    uint16_t year = 0;
    uint8_t month = 0, mday = 0, hour = 0, min = 0, sec = 0;
};
tHistLogSlot HistLogSlotOf(int64_t controller, int32_t slot, const tSlotLog &log,
                           int64_t readUtcMs);

// Min and max of one sensor within one bucket of a range.
struct tHistBucket {
    int64_t fromMs = 0;              // the bucket's start
    int64_t firstMs = 0, lastMs = 0; // the first and last reading in it
    int32_t min = 0, max = 0;
    int32_t count = 0; // valid readings in it
};

// How many readings of a bucket found each relay on, and how many said
// anything about it (a failed reading or a relay the model lacks does not).
struct tHistRelayBucket {
    int64_t fromMs = 0;
    std::array<int32_t, 4> on{}, known{};
};

// A relay switching, found between two consecutive readings (the first
// reading of a range gives each relay's state at its start).
struct tHistRelayChange {
    int64_t utcMs = 0;
    int32_t offsetSec = 0;
    int32_t relay = 0; // 0..3
    int32_t on = 0;    // the new state
};

// Limits a sensor should stay within, in tenths of the unit queried; either
// may be absent.
struct tHistLimits {
    std::optional<int32_t> low, high;
};

// One local day of one sensor.
struct tHistDay {
    int64_t dayStartMs = 0; // local midnight, as UTC ms
    QString date;           // "2026-12-10", the local day
    int32_t min = 0, max = 0;
    double mean = 0;
    int32_t count = 0;     // valid readings (min, max and mean are of these)
    int64_t outsideMs = 0; // time spent outside the limits
    // Readings that found the sensor open or short: a day with nothing else
    // has no valid readings (count 0) and still a row.
    int32_t open = 0, shorted = 0;
};

// A stretch of readings outside the limits.
struct tHistExcursion {
    int64_t startMs = 0; // the first reading outside
    int64_t endMs =
        0; // the first reading back inside (or the last one outside, if the range ends first)
    bool ongoing = false; // the range ended while outside
    bool high = false;    // above the high limit (else below the low one)
    int32_t extreme = 0;  // the furthest value from the limit
};

// A reading waiting in the publisher's queue for one broker, as it was
// taken: its controller by the reading's port, address, model and firmware;
// beyond the reading table the queue keeps the sensors and relays shown,
// each sensor's min and max and each relay's operation.
struct tHistQueued {
    int64_t id = 0; // the queue entry's, only ever growing
    tStatusReading reading;
    bool gone = false; // the reading was removed by the retention limit before it was sent
};

struct tHistAuditEntry {
    int64_t id = 0;
    tHistAudit audit;
};

// A link of the file's chain: every record (controller, reading, event log
// slot, audit with its fields) gets one when it is stored, numbered in the
// order of storing, holding SHA-256 of the link before it and of the
// record. A record changed, removed or added by anything but Tarvik breaks
// the chain there.
struct tHistChainLink {
    int64_t n = 0;
    QByteArray hash; // 32 bytes
};

// A step back of the computer's clock among one controller's readings: a
// reading stored after another that carries a later time.
struct tHistClockStep {
    int64_t beforeMs = 0;  // the time of the reading stored just before
    int64_t afterMs = 0;   // the time of the first reading stored after it
    int32_t offsetSec = 0; // the offset from UTC of the reading after
};
// Smaller steps are the clock's usual corrections, not worth a mark.
constexpr int64_t clockStepMinMs = 2000;

// What a walk of the chain found.
struct tHistChainCheck {
    int64_t links = 0;                // walked
    std::array<int64_t, 4> records{}; // controllers, readings, log slots, audits in it
    int64_t faults = 0;               // records edited, removed or inserted
    QString first;                    // the first of them (in chain order), in words
    tHistChainLink head;              // the last link
    int64_t retained = 0;             // links the retention limit removed, each cut recorded
    int64_t sealedUpTo = 0;           // links given to records older than the chain
    int64_t sealedAtMs = 0;           // when they were given
    bool Whole() const { return faults == 0; }
};

class QSqlDatabase;
class QSqlError;
class QSqlQuery;
class QVariant;

class tHistoryStore {
  public:
    // The schema this build writes. A file with a higher version opens
    // read-only; a lower one is migrated forward on opening.
    static constexpr int32_t schemaVersion = 3;
    // SQLite's application id of a Tarvik history ("TVRK").
    static constexpr int32_t applicationId = 0x5456524B;
    // What each schema step runs: from `from` to from + 1 (empty past the
    // last). Tests build a file of an older version from it.
    static QStringList MigrationSql(int32_t from);

    // Reading commands open the file read-only: it must exist, nothing is
    // created or changed, and a folder the user cannot write is no obstacle.
    enum class tAccess { Write, Read };

    tHistoryStore();
    ~tHistoryStore();
    tHistoryStore(const tHistoryStore &) = delete;
    tHistoryStore &operator=(const tHistoryStore &) = delete;

    // Opens (for writing: creating it and its folder when missing) the
    // history file. False when it cannot be opened at all or is not a Tarvik
    // history (left as it is); a file from a newer Tarvik opens read-only
    // and says so in Message().
    bool Open(const QString &path, tAccess access = tAccess::Write);
    void Close();
    bool IsOpen() const;
    bool ReadOnly() const { return FReadOnly; }
    QString Path() const { return FPath; }
    // The last failure, or the read-only notice, in the user's words.
    QString Message() const { return FMessage; }
    // Whether the last call (query or write) failed; an empty answer of a
    // query that did not fail means there is nothing in the range.
    bool LastFailed() const { return FFailed; }
    // Whether Path() names another file than the one this connection
    // writes (deleted, moved away or replaced since it was first asked):
    // the writes would go where nobody will ever read them.
    bool FileReplaced();
    // Moves what the write-ahead log holds into this connection's file and
    // empties the log. Before letting go of a replaced file: SQLite keeps
    // the log of a moved file at its old name, where the file now there
    // would take it for its own.
    void EmptyWriteAheadLog();
    // The Qt SQL connection's name, for tables kept beside this store's
    // (alarm_store.h), on this store's thread.
    QString ConnectionName() const { return FConnection; }
    // Whether any call since opening met a damaged file (its message then
    // says "arquivo danificado"): what is read from it may be incomplete,
    // and nothing more should be written into it.
    bool Damaged() const { return FDamaged; }
    // SQLite's own check of the whole file's structure; false (Damaged())
    // when it finds a fault.
    bool CheckStructure();

    // --- writing (false, with Message(), when the file refuses) ---

    // Groups the writes between them into one transaction (an event log walk,
    // a generated year); without them each write is its own. A write that
    // fails inside the group leaves nothing of itself, the others stay.
    bool Begin();
    bool Commit();

    // The stored entry of this controller, created on first sight; 0 on failure.
    int64_t ControllerId(const tHistController &c);
    // A status reading of controller `controller` (its id), failed or not: a
    // failed one keeps why, so a gap in a curve says why it is there.
    bool AddReading(int64_t controller, const tStatusReading &r);
    // Stores a slot once: `isNew` tells whether it was not held yet (a slot
    // read twice, or read by two programs, is stored once).
    bool AddLogSlot(const tHistLogSlot &s, bool *isNew = nullptr);
    bool AddAudit(const tHistAudit &a);
    // Removes readings older than `keepDays` days before `nowUtcMs` (cut at
    // a four-hour boundary); the only removal there is. keepDays <= 0 keeps
    // everything. Never removes a reading within `keepDays` of the newest
    // one, and removes nothing (-1, with the reason) while the clock looks
    // wrong: behind the newest reading, ahead of it by more than the kept
    // span, or past a stretch without readings longer than the kept span
    // followed by less than the kept span of readings (a clock set ahead,
    // then recording). Returns the number removed, -1 on failure or refusal.
    // `unpublished`, when given, receives how many of the removed readings
    // a publisher had not yet delivered to its broker.
    int64_t ApplyRetention(int32_t keepDays, int64_t nowUtcMs, int64_t *unpublished = nullptr);
    // How far behind the newest reading the clock may be for the retention
    // limit to apply (ahead, it may be by less than the kept span).
    static constexpr int64_t clockToleranceMs = 60'000;

    // --- the publisher's queue ---

    // The target a publisher sends `port`/`address` to (broker, topic
    // prefix), created on first use; `done` receives the last queue entry
    // the broker acknowledged (on creation: the newest entry there is, so a
    // new target starts with what comes next). 0 on failure.
    int64_t PublishTarget(const QString &broker, const QString &prefix, const QString &port,
                          int32_t address, int64_t *done);
    // Appends the reading of `entry` (as AddReading, under its controller)
    // and its queue entry for `target` in one transaction; the entry's id,
    // 0 on failure.
    int64_t AddQueued(int64_t target, const tHistQueued &entry);
    // Up to `count` entries of `target` with an id from `fromId` up to, not
    // including, `beforeId` (0: no end), oldest first.
    std::vector<tHistQueued> Queued(int64_t target, int64_t fromId, int64_t beforeId,
                                    int32_t count);
    // How many entries of `target` have an id in (afterId, upToId]; -1 on
    // failure. `last`, when given, receives the highest of them (afterId if none).
    int64_t QueuedCount(int64_t target, int64_t afterId, int64_t upToId, int64_t *last = nullptr);
    // The broker has every entry of `target` up to `id`; never moves back.
    bool SetPublished(int64_t target, int64_t id);

    // --- the chain ---

    // Walks the whole chain; nullopt (with Message()) when the file cannot
    // be read.
    std::optional<tHistChainCheck> VerifyChain();
    // The newest link among a controller's records in [fromMs, toMs): printed
    // on a report, it lets the file be checked against the paper later.
    std::optional<tHistChainLink> ChainHead(int64_t controller, int64_t fromMs, int64_t toMs);

    // --- queries ---

    std::vector<tHistController> Controllers();
    // The earliest and latest reading of a controller; nullopt when none.
    std::optional<std::pair<int64_t, int64_t>> ReadingSpan(int64_t controller);
    // Min and max of each sensor per bucket of `bucketMs` over the range,
    // buckets aligned to fromMs; buckets without a valid reading of a sensor
    // are left out of its list. Made for a curve: ask for one bucket per
    // pixel column. The thinning runs in the database; buckets of ten minutes
    // or wider read a summary the database keeps as readings arrive (its
    // slots of 10 min or 4 h count in the bucket their start falls in, and
    // Fahrenheit values taken from it may differ from the readings by 0.1).
    std::array<std::vector<tHistBucket>, 4> Curve(int64_t controller, int64_t fromMs, int64_t toMs,
                                                  int64_t bucketMs, int32_t unit = 0);
    // One sensor (0..3) of Curve.
    std::vector<tHistBucket> Buckets(int64_t controller, int sensor, int64_t fromMs, int64_t toMs,
                                     int64_t bucketMs, int32_t unit = 0);
    // Each relay's share of time on per bucket (buckets where no relay is
    // known left out), from the same summary as Curve: made for the bands
    // under a curve.
    std::vector<tHistRelayBucket> RelayBuckets(int64_t controller, int64_t fromMs, int64_t toMs,
                                               int64_t bucketMs);
    // Every reading in the range, oldest first (for CSV and JSON export), as
    // the file keeps it: time, unit, the four sensors' states and values,
    // the relays, result and round trip (no controller, min, max nor
    // operations). Values stay in the unit they were read in.
    std::vector<tStatusReading> Readings(int64_t controller, int64_t fromMs, int64_t toMs);
    // The same readings in the order they were stored, which is the order
    // they were taken even when the clock went back meanwhile; `stepFromMs`,
    // when given, gets one entry per reading: the time of the reading stored
    // before it when the clock went back between the two, else 0. A file
    // older than the chain keeps the order of time.
    std::vector<tStatusReading> ReadingsAsStored(int64_t controller, int64_t fromMs, int64_t toMs,
                                                 std::vector<int64_t> *stepFromMs = nullptr);
    // The clock's steps back among a controller's readings whose either side
    // falls in the range, in the order stored.
    std::vector<tHistClockStep> ClockSteps(int64_t controller, int64_t fromMs, int64_t toMs);
    // Relay switchings in the range, oldest first, each relay's state at the
    // first reading of the range included as a change.
    std::vector<tHistRelayChange> RelayChanges(int64_t controller, int64_t fromMs, int64_t toMs);
    // Per local day: min, mean, max and the time outside the limits. A
    // reading stands for the time until the next one, at most `maxGapMs`
    // (a gap longer than that counts as unknown, not as outside).
    std::vector<tHistDay> Days(int64_t controller, int sensor, int64_t fromMs, int64_t toMs,
                               const tHistLimits &limits, int32_t unit = 0,
                               int64_t maxGapMs = 5 * 60 * 1000);
    std::vector<tHistExcursion> Excursions(int64_t controller, int sensor, int64_t fromMs,
                                           int64_t toMs, const tHistLimits &limits,
                                           int32_t unit = 0);
    // Audit records in the range, oldest first; controller 0: all controllers.
    std::vector<tHistAuditEntry> Audits(int64_t controller, int64_t fromMs, int64_t toMs);
    // Event log slots held for a controller, newest read first.
    std::vector<tHistLogSlot> LogSlots(int64_t controller);

  private:
    class tWrite;
    friend class tWrite;
    struct tCache;
    // A prepared statement kept for the connection's life.
    QSqlQuery &Prepared(const char *sql);
    // Appends the link of a record (its kind, controller, time and key, and
    // its bytes) inside the record's own write.
    bool Link(int32_t kind, int64_t controller, const QVariant &t, const QVariant &key,
              const QByteArray &bytes);
    // Gives links to the records of a file from before the chain.
    bool SealOlderRecords();
    QString Described(int32_t kind, int64_t controller, const QVariant &t, const QVariant &key);
    bool OpenConnection(bool readOnly, bool immutable);
    struct tMerged;
    std::vector<tMerged> Merged(int64_t controller, int64_t fromMs, int64_t toMs, int64_t bucketMs,
                                int32_t unit);
    void Start() { FFailed = false; }
    bool Fail(const QString &what, const QString &detail);
    bool Fail(const QString &what, const QSqlError &error);
    bool Migrate();
    // After a query's rows: whether they all came (else the failure is kept).
    bool Walked(const QSqlQuery &q);
    QSqlDatabase Db() const;

    QString FConnection;
    QString FPath;
    // The file as the system knows it (device, inode), taken at the first
    // FileReplaced after opening; 0: not yet.
    uint64_t FDevice = 0, FInode = 0;
    QString FMessage;
    bool FReadOnly = false;
    bool FFailed = false;
    bool FDamaged = false;
    int32_t FDepth = 0; // open transaction and savepoints
    int32_t FVersion = 0;
    // The last link while this connection holds the write lock.
    std::optional<tHistChainLink> FHead;
    std::unique_ptr<tCache> FCache;
};

// What the user is told when the retention limit removed `count` readings a
// publisher had not yet delivered to its broker.
QString UnpublishedRemovedText(int64_t count);

// The history file's path: TARVIK_HISTORICO when set; else
// historico.sqlite in `dataFolder` (an installed copy's
// ~/.local/share/tarvik), or, for a portable copy (no data folder), beside
// the settings file.
QString HistoryFilePath(const QString &settingsFile, const QString &dataFolder);
