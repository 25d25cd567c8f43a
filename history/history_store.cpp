#include "history_store.h"

#include "u_ondrel.h"

#include <QAtomicInteger>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <QVariant>

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <map>
#include <tuple>
#include <type_traits>

namespace {

// A reading's columns from `first` on, in the readings table's order: offset,
// unit, state and value of each sensor, the four relays, result, round trip.
void ReadingColumns(const QSqlQuery &q, int first, tStatusReading &r) {
    r.offsetSec = q.value(first).toInt();
    r.unit = q.value(first + 1).toInt();
    for (int k = 0; k < 4; ++k) {
        r.state[k] = q.value(first + 2 + 2 * k).toInt();
        r.value[k] = q.value(first + 3 + 2 * k).toInt();
        r.relay[k] = q.value(first + 10 + k).toInt();
    }
    r.result = q.value(first + 14).toInt();
    r.roundTripMs = q.value(first + 15).toInt();
}
QAtomicInteger<quint64> connectionCount;

// Levels of the summary a curve reads instead of the readings once its
// buckets are at least that wide: ten minutes and four hours.
constexpr int64_t summaryLevels[] = {14'400'000, 600'000}; // coarsest first

// The summary: per controller, level and slot of that level, each sensor's
// count, min and max in Celsius tenths and each relay's readings on and
// known, kept by the database itself as readings arrive. A year of readings is then 2190 rows at
// four hours.
QStringList SummarySql() {
    QStringList sensors, inserts, updates;
    for (int k = 0; k < 4; ++k) {
        sensors << QStringLiteral("n%1 INTEGER NOT NULL, lo%1 INTEGER, hi%1 INTEGER, on%1 INTEGER "
                                  "NOT NULL, kn%1 INTEGER NOT NULL")
                       .arg(k);
        const QString v =
            QStringLiteral("(CASE WHEN NEW.s%1 = %2 THEN (CASE NEW.unit WHEN %3 THEN NEW.v%1 "
                           "ELSE CAST(round((NEW.v%1 - 320) / 1.8) AS INTEGER) END) END)")
                .arg(k)
                .arg(stsTEMP_OK)
                .arg(tempCELSIUS);
        inserts << QStringLiteral("NEW.s%1 = %2, %3, %3, NEW.result > 0 AND NEW.r%1 = 1, "
                                  "NEW.result > 0 AND NEW.r%1 >= 0")
                       .arg(k)
                       .arg(stsTEMP_OK)
                       .arg(v);
        updates << QStringLiteral(
                       "n%1 = n%1 + excluded.n%1, lo%1 = coalesce(min(lo%1, excluded.lo%1), lo%1, "
                       "excluded.lo%1), hi%1 = coalesce(max(hi%1, excluded.hi%1), hi%1, "
                       "excluded.hi%1), on%1 = on%1 + excluded.on%1, kn%1 = kn%1 + excluded.kn%1")
                       .arg(k);
    }
    QStringList sql{QStringLiteral("CREATE TABLE summary(ctl INTEGER NOT NULL, lvl INTEGER NOT "
                                   "NULL, b INTEGER NOT NULL, tf INTEGER NOT NULL, tl INTEGER NOT "
                                   "NULL, %1, PRIMARY KEY(ctl, lvl, b)) WITHOUT ROWID")
                        .arg(sensors.join(QStringLiteral(", ")))};
    QString trigger =
        QStringLiteral("CREATE TRIGGER reading_summary AFTER INSERT ON reading BEGIN ");
    for (int64_t lvl : summaryLevels)
        trigger += QStringLiteral("INSERT INTO summary VALUES(NEW.ctl, %1, NEW.t - NEW.t % %1, "
                                  "NEW.t, NEW.t, %2) ON CONFLICT(ctl, lvl, b) DO UPDATE SET tf = "
                                  "min(tf, excluded.tf), tl = max(tl, excluded.tl), %3; ")
                       .arg(lvl)
                       .arg(inserts.join(QStringLiteral(", ")), updates.join(QStringLiteral(", ")));
    sql << trigger + QStringLiteral("END");
    return sql;
}

// Schema steps: entry v brings a file from version v to v + 1. Readings sit
// in a table clustered by controller and time, so a range is one sequential
// walk of the b-tree and the time index costs no second copy; `seq` keeps
// two readings of the same millisecond (a clock moved back) apart.
} // namespace

QStringList tHistoryStore::MigrationSql(int32_t from) {
    switch (from) {
    case 0:
        return QStringList{
                   QStringLiteral(
                       "CREATE TABLE controller(id INTEGER PRIMARY KEY, port TEXT NOT NULL, "
                       "address INTEGER NOT NULL, model TEXT NOT NULL, firmware TEXT NOT NULL, "
                       "UNIQUE(port, address, model, firmware))"),
                   QStringLiteral(
                       "CREATE TABLE reading(ctl INTEGER NOT NULL, t INTEGER NOT NULL, seq "
                       "INTEGER NOT NULL, off INTEGER NOT NULL, unit INTEGER NOT NULL, s0 INTEGER "
                       "NOT NULL, v0 INTEGER, s1 INTEGER NOT NULL, v1 INTEGER, s2 INTEGER NOT "
                       "NULL, v2 INTEGER, s3 INTEGER NOT NULL, v3 INTEGER, r0 INTEGER NOT NULL, r1 "
                       "INTEGER NOT NULL, r2 INTEGER NOT NULL, r3 INTEGER NOT NULL, result "
                       "INTEGER NOT NULL, rtt INTEGER NOT NULL, PRIMARY KEY(ctl, t, seq)) WITHOUT "
                       "ROWID"),
                   QStringLiteral(
                       "CREATE TABLE log_slot(ctl INTEGER NOT NULL, slot INTEGER NOT NULL, event "
                       "INTEGER NOT NULL, sensor1 INTEGER NOT NULL, sensor2 INTEGER NOT NULL, "
                       "year INTEGER NOT NULL, month INTEGER NOT NULL, mday INTEGER NOT NULL, "
                       "hour INTEGER NOT NULL, min INTEGER NOT NULL, sec INTEGER NOT NULL, read_t "
                       "INTEGER NOT NULL, UNIQUE(ctl, slot, event, sensor1, sensor2, year, month, "
                       "mday, hour, min, sec))"),
                   QStringLiteral("CREATE TABLE audit(id INTEGER PRIMARY KEY, ctl INTEGER NOT "
                                  "NULL, t INTEGER NOT NULL, off INTEGER NOT NULL, user TEXT NOT "
                                  "NULL, command TEXT NOT NULL, result INTEGER NOT NULL)"),
                   QStringLiteral("CREATE INDEX audit_t ON audit(t)"),
                   QStringLiteral("CREATE TABLE audit_field(audit INTEGER NOT NULL REFERENCES "
                                  "audit(id), code TEXT NOT NULL, old TEXT NOT NULL, new TEXT NOT "
                                  "NULL)"),
                   QStringLiteral("CREATE INDEX audit_field_audit ON audit_field(audit)"),
               } +
               SummarySql();
    case 1:
        // The publisher's queue: what each broker still has to receive. A
        // target is one broker, topic prefix and controller; its `done` (the
        // last queue entry the broker acknowledged) is the one value ever
        // updated. An entry points at its reading and keeps what the reading
        // table does not (the controller's min and max, the relays'
        // operations, how many of each the model shows), so the message sent
        // later is the one that would have been sent at once. AUTOINCREMENT:
        // an id is never given twice, even after the newest entries went.
        return QStringList{
            QStringLiteral("CREATE TABLE publish_target(id INTEGER PRIMARY KEY, broker TEXT NOT "
                           "NULL, prefix TEXT NOT NULL, port TEXT NOT NULL, address INTEGER NOT "
                           "NULL, done INTEGER NOT NULL, UNIQUE(broker, prefix, port, address))"),
            QStringLiteral("CREATE TABLE publish_queue(id INTEGER PRIMARY KEY AUTOINCREMENT, "
                           "target INTEGER NOT NULL, ctl INTEGER NOT NULL, t INTEGER NOT NULL, "
                           "seq INTEGER NOT NULL, sensors INTEGER NOT NULL, relays INTEGER NOT "
                           "NULL, lo0 INTEGER, hi0 INTEGER, lo1 INTEGER, hi1 INTEGER, lo2 "
                           "INTEGER, hi2 INTEGER, lo3 INTEGER, hi3 INTEGER, op0 INTEGER, op1 "
                           "INTEGER, op2 INTEGER, op3 INTEGER)"),
            QStringLiteral("CREATE INDEX publish_queue_target ON publish_queue(target, id)"),
            QStringLiteral("CREATE INDEX publish_queue_t ON publish_queue(t)"),
        };
    case 2:
        // The chain: one link per record, numbered in the order of storing
        // (kind 1 controller, 2 reading, 3 event log slot, 4 audit; `k` the
        // record's key beside controller and time). A cut records the last
        // hash of links the retention limit removed; `chain_sealed` when the
        // records older than the chain got theirs.
        return QStringList{
            QStringLiteral("CREATE TABLE chain(n INTEGER PRIMARY KEY, kind INTEGER NOT NULL, ctl "
                           "INTEGER NOT NULL, t INTEGER, k INTEGER, h BLOB NOT NULL)"),
            QStringLiteral("CREATE TABLE chain_cut(first INTEGER PRIMARY KEY, last INTEGER NOT "
                           "NULL, h BLOB NOT NULL, cut INTEGER NOT NULL, at INTEGER NOT NULL)"),
            QStringLiteral("CREATE TABLE chain_sealed(upto INTEGER NOT NULL, at INTEGER NOT NULL)"),
        };
    }
    return {};
}

namespace {
// A sensor's value in the wanted unit, NULL unless its state is valid.
QString ValueExpr(int sensor, int32_t unit) {
    const QString s = QStringLiteral("s%1").arg(sensor), v = QStringLiteral("v%1").arg(sensor);
    const QString other = unit == tempFAHRENHEIT ? QStringLiteral("%1 * 1.8 + 320").arg(v)
                                                 : QStringLiteral("(%1 - 320) / 1.8").arg(v);
    return QStringLiteral("(CASE WHEN %1 = %2 THEN (CASE unit WHEN %3 THEN %4 ELSE CAST(round(%5) "
                          "AS INTEGER) END) END)")
        .arg(s)
        .arg(stsTEMP_OK)
        .arg(unit == tempFAHRENHEIT ? tempFAHRENHEIT : tempCELSIUS)
        .arg(v, other);
}

// A null QString binds as SQL NULL; the text columns hold "" instead.
QString Text(const QString &s) {
    return s.isNull() ? QStringLiteral("") : s;
}

bool Outside(int32_t v, const tHistLimits &l) {
    return (l.low && v < *l.low) || (l.high && v > *l.high);
}
} // namespace

tHistLogSlot HistLogSlotOf(int64_t controller, int32_t slot, const tSlotLog &log,
                           int64_t readUtcMs) {
    return {.controller = controller,
            .slot = slot,
            .readUtcMs = readUtcMs,
            .event = log.event,
            .sensor1 = log.sensor1,
            .sensor2 = log.sensor2,
            .year = log.year,
            .month = log.month,
            .mday = log.mday,
            .hour = log.hour,
            .min = log.min,
            .sec = log.sec};
}

tHistoryStore::tHistoryStore()
    : FConnection(
          QStringLiteral("tarvik-historico-%1").arg(connectionCount.fetchAndAddOrdered(1))) {}

tHistoryStore::~tHistoryStore() {
    Close();
}

struct tHistoryStore::tCache {
    std::map<const char *, QSqlQuery> queries;
};

QSqlQuery &tHistoryStore::Prepared(const char *sql) {
    if (!FCache)
        FCache = std::make_unique<tCache>();
    auto it = FCache->queries.find(sql);
    if (it == FCache->queries.end()) {
        it = FCache->queries.emplace(sql, QSqlQuery(Db())).first;
        it->second.prepare(QString::fromUtf8(sql));
    }
    return it->second;
}

QSqlDatabase tHistoryStore::Db() const {
    return QSqlDatabase::database(FConnection, false);
}

bool tHistoryStore::IsOpen() const {
    return Db().isOpen();
}

void tHistoryStore::Close() {
    FCache.reset();
    FHead.reset();
    FDevice = FInode = 0;
    if (!QSqlDatabase::contains(FConnection))
        return;
    {
        QSqlDatabase db = Db();
        db.close();
    }
    QSqlDatabase::removeDatabase(FConnection);
    FDepth = 0;
}

bool tHistoryStore::FileReplaced() {
    if (!IsOpen())
        return false;
    struct stat st = {};
    if (::stat(QFile::encodeName(FPath).constData(), &st) != 0)
        return errno == ENOENT || errno == ENOTDIR;
    if (!FInode) {
        FDevice = uint64_t(st.st_dev);
        FInode = uint64_t(st.st_ino);
        return false;
    }
    return uint64_t(st.st_dev) != FDevice || uint64_t(st.st_ino) != FInode;
}

void tHistoryStore::EmptyWriteAheadLog() {
    if (!IsOpen())
        return;
    QSqlQuery q(Db());
    q.exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
}

bool tHistoryStore::Fail(const QString &what, const QString &detail) {
    FFailed = true;
    // A query's error text is SQLite's words and the driver's joined by a
    // space ("disk I/O error Unable to fetch row"): SQLite's alone read as
    // one sentence, and say all there is.
    static const QRegularExpression driverAside(
        QStringLiteral(" (Unable to [a-z ]+|Error (opening|closing) database|Parameter count "
                       "mismatch|No query)$"));
    QString why = detail.trimmed();
    why.remove(driverAside);
    FMessage = why.isEmpty()    ? what
               : what.isEmpty() ? why
                                : QStringLiteral("%1: %2").arg(what, why);
    return false;
}

namespace {
// SQLite's primary result codes, as the driver reports them.
const QString sqliteCorrupt = QStringLiteral("11"), sqliteCantOpen = QStringLiteral("14"),
              sqliteNotADb = QStringLiteral("26");

QString ErrorText(const QSqlError &e) {
    return e.databaseText().isEmpty() ? e.driverText() : e.databaseText();
}

// What a file is, told before anything in it changes.
enum class tFileKind {
    Empty,   // no table: a new file, or one made empty
    Ours,    // marked as a Tarvik history
    Older,   // a Tarvik history from before the mark
    Foreign, // anything else, not even a database
    Damaged,
};

struct tFileLook {
    tFileKind kind = tFileKind::Foreign;
    int32_t version = 0;
    QSqlError error; // why the look failed, for Foreign and Damaged
};

tFileLook LookAt(QSqlDatabase db) {
    tFileLook look;
    QSqlQuery q(db);
    const auto failed = [&] {
        look.error = q.lastError();
        const QString code = look.error.nativeErrorCode();
        look.kind = code == sqliteCorrupt ? tFileKind::Damaged : tFileKind::Foreign;
        return look;
    };
    if (!q.exec(QStringLiteral("PRAGMA application_id")) || !q.next())
        return failed();
    const int32_t id = q.value(0).toInt();
    if (!q.exec(QStringLiteral("PRAGMA user_version")) || !q.next())
        return failed();
    look.version = q.value(0).toInt();
    QStringList tables;
    if (!q.exec(QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table'")))
        return failed();
    while (q.next())
        tables << q.value(0).toString();
    if (q.lastError().isValid())
        return failed();
    const QStringList ours{QStringLiteral("controller"), QStringLiteral("reading"),
                           QStringLiteral("log_slot"), QStringLiteral("audit"),
                           QStringLiteral("audit_field")};
    if (id == tHistoryStore::applicationId)
        look.kind = tFileKind::Ours;
    else if (id == 0 && look.version == 0 && tables.isEmpty())
        look.kind = tFileKind::Empty;
    else if (id == 0 && look.version > 0 &&
             std::all_of(ours.begin(), ours.end(),
                         [&](const QString &t) { return tables.contains(t); }))
        look.kind = tFileKind::Older;
    else
        look.kind = tFileKind::Foreign;
    return look;
}

QString ForeignText(const QString &path) {
    return QStringLiteral("O arquivo %1 não é um histórico do Tarvik (é de outro programa, ou "
                          "não é um banco de dados): não foi usado nem alterado")
        .arg(path);
}
} // namespace

bool tHistoryStore::Fail(const QString &what, const QSqlError &error) {
    const QString code = error.nativeErrorCode();
    if (code == sqliteCorrupt || code == sqliteNotADb) {
        FDamaged = true;
        return Fail(what, QStringLiteral("arquivo danificado (%1)").arg(ErrorText(error)));
    }
    return Fail(what, ErrorText(error));
}

// One record's writes, all or nothing, under the file's write lock taken at
// the start (a deferred transaction that meets another writer's lock only
// when it first writes fails at once instead of waiting): a transaction of
// its own, or a savepoint inside an open one.
class tHistoryStore::tWrite {
  public:
    explicit tWrite(tHistoryStore &store) : s(store), q(store.Db()) {
        nested = s.FDepth > 0;
        started =
            q.exec(nested ? QStringLiteral("SAVEPOINT record") : QStringLiteral("BEGIN IMMEDIATE"));
        if (started)
            ++s.FDepth;
        else
            s.Fail(QStringLiteral("Falha ao gravar no histórico"), q.lastError());
    }
    ~tWrite() {
        if (started && !done)
            Undo();
    }
    tWrite(const tWrite &) = delete;
    tWrite &operator=(const tWrite &) = delete;

    bool Started() const { return started; }
    bool Commit() {
        if (!started || done)
            return false;
        done = true;
        --s.FDepth;
        if (!nested)
            s.FHead.reset(); // the lock goes: another program may link next
        if (q.exec(nested ? QStringLiteral("RELEASE record") : QStringLiteral("COMMIT")))
            return true;
        const QSqlError e = q.lastError();
        Rollback();
        return s.Fail(QStringLiteral("Falha ao gravar no histórico"), e);
    }

  private:
    void Undo() {
        done = true;
        --s.FDepth;
        s.FHead.reset();
        Rollback();
    }
    void Rollback() {
        if (nested) {
            q.exec(QStringLiteral("ROLLBACK TO record"));
            q.exec(QStringLiteral("RELEASE record"));
        } else {
            q.exec(QStringLiteral("ROLLBACK"));
        }
    }
    tHistoryStore &s;
    QSqlQuery q;
    bool nested = false, started = false, done = false;
};

bool tHistoryStore::Walked(const QSqlQuery &q) {
    // next() says false both at the end and on a damaged page.
    return !q.lastError().isValid() ||
           Fail(QStringLiteral("Falha ao ler o histórico"), q.lastError());
}

bool tHistoryStore::OpenConnection(bool readOnly, bool immutable) {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), FConnection);
    // Another program recording into the same file holds its lock for one
    // short transaction; wait for it rather than fail.
    QString options = QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000");
    if (readOnly)
        options += QStringLiteral(";QSQLITE_OPEN_READONLY");
    if (immutable) {
        // A file in a folder the user cannot write, with no writer at work
        // (no write-ahead log beside it): read as it lies.
        options += QStringLiteral(";QSQLITE_OPEN_URI");
        db.setDatabaseName(QUrl::fromLocalFile(FPath).toString(QUrl::FullyEncoded) +
                           QStringLiteral("?immutable=1"));
    } else {
        db.setDatabaseName(FPath);
    }
    db.setConnectOptions(options);
    return db.open();
}

bool tHistoryStore::Open(const QString &path, tAccess access) {
    Close();
    FPath = path;
    FReadOnly = false;
    FDamaged = false;
    FDepth = 0;
    FMessage.clear();
    const QString failed = QStringLiteral("Não foi possível abrir o histórico %1").arg(path);
    const QFileInfo info(path);
    const bool reading = access == tAccess::Read;
    if (reading && !info.exists())
        return Fail(failed, QStringLiteral("o arquivo não existe"));
    if (info.exists() && !info.isFile())
        return Fail(failed, QStringLiteral("não é um arquivo"));
    if (!info.exists())
        QDir().mkpath(info.absolutePath());

    // A look through a read-only connection first: a file that is not ours
    // is left exactly as it was, not even switched to WAL.
    tFileLook look;
    look.kind = tFileKind::Empty;
    if (info.exists() && info.size() > 0) {
        if (!OpenConnection(true, false))
            return Fail(failed, Db().lastError());
        look = LookAt(Db());
        if (look.kind == tFileKind::Foreign && look.error.nativeErrorCode() == sqliteCantOpen &&
            !QFileInfo::exists(path + QStringLiteral("-wal"))) {
            Close();
            if (!OpenConnection(true, true))
                return Fail(failed, Db().lastError());
            look = LookAt(Db());
        }
        if (look.kind == tFileKind::Damaged)
            return Fail(failed, look.error);
        if (look.kind == tFileKind::Foreign) {
            if (look.error.isValid() && look.error.nativeErrorCode() != sqliteNotADb)
                return Fail(failed, look.error);
            return Fail(ForeignText(path), QString());
        }
    }
    FVersion = look.version;
    if (reading) {
        if (look.kind == tFileKind::Empty)
            return Fail(failed, QStringLiteral("o arquivo está vazio"));
        FReadOnly = true;
        return true;
    }
    if (look.kind == tFileKind::Ours && look.version > schemaVersion) {
        FReadOnly = true;
        FMessage = QStringLiteral("O histórico %1 foi gravado por uma versão mais nova do "
                                  "Tarvik: aberto somente para leitura")
                       .arg(path);
        return true;
    }
    Close();
    if (!OpenConnection(false, false))
        return Fail(failed, Db().lastError());
    QSqlQuery q(Db());
    if (look.kind == tFileKind::Empty || look.kind == tFileKind::Older ||
        look.version < schemaVersion) {
        if (!Migrate()) {
            const QString why = FMessage;
            q.finish();
            Close();
            return Fail(failed, why);
        }
        FVersion = schemaVersion;
    }
    q.exec(QStringLiteral("PRAGMA journal_mode=WAL"));
    // In WAL, NORMAL still survives a killed process (only a power cut may
    // lose the last transactions), without a sync per reading.
    q.exec(QStringLiteral("PRAGMA synchronous=NORMAL"));
    return true;
}

bool tHistoryStore::Migrate() {
    tWrite write(*this);
    if (!write.Started())
        return false;
    // Looked at again under the lock: another program may have just made or
    // migrated it, or written its own tables into the empty file.
    const tFileLook look = LookAt(Db());
    if (look.kind == tFileKind::Damaged)
        return Fail(QString(), look.error);
    if (look.kind == tFileKind::Foreign)
        return Fail(ForeignText(FPath), QString());
    if (look.kind == tFileKind::Ours && look.version >= schemaVersion)
        return write.Commit();
    QSqlQuery q(Db());
    if (!q.exec(QStringLiteral("PRAGMA application_id = %1").arg(applicationId)))
        return Fail(QString(), q.lastError());
    for (int32_t v = look.version; v < schemaVersion; ++v) {
        const QStringList steps = MigrationSql(v);
        if (steps.isEmpty())
            return Fail(QString(), QStringLiteral("no migration from version %1").arg(v));
        for (const QString &sql : steps)
            if (!q.exec(sql))
                return Fail(QString(), q.lastError());
    }
    if (look.version < 3 && look.kind != tFileKind::Empty && !SealOlderRecords())
        return false;
    if (!q.exec(QStringLiteral("PRAGMA user_version = %1").arg(schemaVersion)))
        return Fail(QString(), q.lastError());
    return write.Commit();
}

bool tHistoryStore::CheckStructure() {
    Start();
    QSqlQuery q(Db());
    if (!q.exec(QStringLiteral("PRAGMA quick_check(1)")) || !q.next())
        return Fail(QStringLiteral("Falha ao ler o histórico"), q.lastError());
    const QString result = q.value(0).toString();
    if (result == QStringLiteral("ok"))
        return true;
    FDamaged = true;
    return Fail(QStringLiteral("Falha ao ler o histórico"),
                QStringLiteral("arquivo danificado (%1)").arg(result));
}

namespace {
const QString readOnlyText = QStringLiteral("o histórico está aberto somente para leitura");
}

namespace {
// A log slot from the columns ctl, slot, event, sensor1, sensor2, year,
// month, mday, hour, min, sec, read_t from `first` on.
tHistLogSlot LogSlotOf(const QSqlQuery &q, int first) {
    const auto u = [&](int i) { return q.value(first + i).toUInt(); };
    return {.controller = q.value(first).toLongLong(),
            .slot = q.value(first + 1).toInt(),
            .readUtcMs = q.value(first + 11).toLongLong(),
            .event = uint8_t(u(2)),
            .sensor1 = uint16_t(u(3)),
            .sensor2 = uint16_t(u(4)),
            .year = uint16_t(u(5)),
            .month = uint8_t(u(6)),
            .mday = uint8_t(u(7)),
            .hour = uint8_t(u(8)),
            .min = uint8_t(u(9)),
            .sec = uint8_t(u(10))};
}

// Kinds of records in the chain.
constexpr int32_t chainController = 1, chainReading = 2, chainLogSlot = 3, chainAudit = 4;

// A record's bytes as the chain hashes them: each value tagged, integers
// as 8 bytes little-endian, texts as UTF-8 with their length.
class tChainBytes {
  public:
    explicit tChainBytes(int32_t kind) { FBytes.append(char(kind)); }
    tChainBytes &Int(int64_t v) {
        FBytes.append('i');
        for (int i = 0; i < 8; ++i)
            FBytes.append(char(uint64_t(v) >> (8 * i)));
        return *this;
    }
    tChainBytes &Maybe(const std::optional<int64_t> &v) {
        if (v)
            return Int(*v);
        FBytes.append('n');
        return *this;
    }
    tChainBytes &Text(const QString &s) {
        const QByteArray u = s.toUtf8();
        FBytes.append('t');
        Int(u.size());
        FBytes.append(u);
        return *this;
    }
    const QByteArray &Bytes() const { return FBytes; }

  private:
    QByteArray FBytes;
};

QByteArray ControllerBytes(const tHistController &c) {
    return tChainBytes(chainController)
        .Int(c.id)
        .Text(c.port)
        .Int(c.address)
        .Text(c.model)
        .Text(c.firmware)
        .Bytes();
}

// `values`: each sensor's stored value, none where it was not valid.
QByteArray ReadingBytes(int64_t controller, const tStatusReading &r, int64_t seq,
                        const std::array<std::optional<int64_t>, 4> &values) {
    tChainBytes b(chainReading);
    b.Int(controller).Int(r.utcMs).Int(seq).Int(r.offsetSec).Int(r.unit);
    for (int k = 0; k < 4; ++k)
        b.Int(r.state[k]).Maybe(values[k]);
    for (int k = 0; k < 4; ++k)
        b.Int(r.relay[k]);
    return b.Int(r.result).Int(r.roundTripMs).Bytes();
}

std::array<std::optional<int64_t>, 4> StoredValues(const tStatusReading &r) {
    std::array<std::optional<int64_t>, 4> v;
    for (int k = 0; k < 4; ++k)
        if (r.state[k] == stsTEMP_OK)
            v[k] = r.value[k];
    return v;
}

QByteArray LogSlotBytes(const tHistLogSlot &s, int64_t rowid) {
    return tChainBytes(chainLogSlot)
        .Int(rowid)
        .Int(s.controller)
        .Int(s.slot)
        .Int(s.event)
        .Int(s.sensor1)
        .Int(s.sensor2)
        .Int(s.year)
        .Int(s.month)
        .Int(s.mday)
        .Int(s.hour)
        .Int(s.min)
        .Int(s.sec)
        .Int(s.readUtcMs)
        .Bytes();
}

QByteArray AuditBytes(const tHistAudit &a, int64_t id) {
    tChainBytes b(chainAudit);
    b.Int(id).Int(a.controller).Int(a.utcMs).Int(a.offsetSec).Text(a.user).Text(a.command);
    b.Int(a.result).Int(int64_t(a.fields.size()));
    for (const tHistAuditField &f : a.fields)
        b.Text(f.code).Text(f.oldValue).Text(f.newValue);
    return b.Bytes();
}

QByteArray LinkHash(const QByteArray &before, const QByteArray &bytes) {
    QCryptographicHash h(QCryptographicHash::Sha256);
    h.addData(before);
    h.addData(bytes);
    return h.result();
}

const QByteArray chainStart(32, '\0');
} // namespace

bool tHistoryStore::Link(int32_t kind, int64_t controller, const QVariant &t, const QVariant &key,
                         const QByteArray &bytes) {
    const QString failed = QStringLiteral("Falha ao gravar no histórico");
    if (!FHead) {
        // The newest link, or the last of a run the retention limit removed.
        FHead = tHistChainLink{0, chainStart};
        for (const char *sql : {"SELECT n, h FROM chain ORDER BY n DESC LIMIT 1",
                                "SELECT last, h FROM chain_cut ORDER BY first DESC LIMIT 1"}) {
            QSqlQuery &last = Prepared(sql);
            if (!last.exec()) {
                FHead.reset();
                return Fail(failed, last.lastError());
            }
            if (last.next() && last.value(0).toLongLong() > FHead->n)
                FHead = tHistChainLink{last.value(0).toLongLong(), last.value(1).toByteArray()};
            last.finish();
        }
    }
    const tHistChainLink link{FHead->n + 1, LinkHash(FHead->hash, bytes)};
    QSqlQuery &q = Prepared("INSERT INTO chain(n, kind, ctl, t, k, h) VALUES(?, ?, ?, ?, ?, ?)");
    q.bindValue(0, qint64(link.n));
    q.bindValue(1, kind);
    q.bindValue(2, qint64(controller));
    q.bindValue(3, t);
    q.bindValue(4, key);
    q.bindValue(5, link.hash);
    if (!q.exec()) {
        FHead.reset();
        return Fail(failed, q.lastError());
    }
    FHead = link;
    return true;
}

bool tHistoryStore::SealOlderRecords() {
    QSqlQuery q(Db());
    q.setForwardOnly(true);
    const auto walk = [&](const char *sql, const std::function<bool()> &each) {
        if (!q.exec(QString::fromLatin1(sql)))
            return Fail(QString(), q.lastError());
        while (q.next())
            if (!each())
                return false;
        return Walked(q);
    };
    const bool sealed =
        walk("SELECT id, port, address, model, firmware FROM controller ORDER BY id",
             [&] {
                 const tHistController c{q.value(0).toLongLong(), q.value(1).toString(),
                                         q.value(2).toInt(), q.value(3).toString(),
                                         q.value(4).toString()};
                 return Link(chainController, c.id, QVariant(), QVariant(), ControllerBytes(c));
             }) &&
        walk("SELECT ctl, t, seq, off, unit, s0, v0, s1, v1, s2, v2, s3, v3, r0, r1, r2, r3, "
             "result, rtt FROM reading ORDER BY t, ctl, seq",
             [&] {
                 const int64_t controller = q.value(0).toLongLong();
                 tStatusReading r{.utcMs = q.value(1).toLongLong()};
                 ReadingColumns(q, 3, r);
                 std::array<std::optional<int64_t>, 4> values;
                 for (int k = 0; k < 4; ++k)
                     if (!q.value(6 + 2 * k).isNull())
                         values[k] = q.value(6 + 2 * k).toLongLong();
                 const int64_t seq = q.value(2).toLongLong();
                 return Link(chainReading, controller, qint64(r.utcMs), qint64(seq),
                             ReadingBytes(controller, r, seq, values));
             }) &&
        walk("SELECT rowid, ctl, slot, event, sensor1, sensor2, year, month, mday, hour, min, "
             "sec, read_t FROM log_slot ORDER BY rowid",
             [&] {
                 const tHistLogSlot s = LogSlotOf(q, 1);
                 const int64_t rowid = q.value(0).toLongLong();
                 return Link(chainLogSlot, s.controller, qint64(s.readUtcMs), qint64(rowid),
                             LogSlotBytes(s, rowid));
             });
    if (!sealed)
        return false;
    for (const tHistAuditEntry &e :
         Audits(0, std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max()))
        if (!Link(chainAudit, e.audit.controller, qint64(e.audit.utcMs), qint64(e.id),
                  AuditBytes(e.audit, e.id)))
            return false;
    if (FFailed)
        return false;
    if (!FHead || FHead->n == 0)
        return true;
    q.prepare(QStringLiteral("INSERT INTO chain_sealed(upto, at) VALUES(?, ?)"));
    q.addBindValue(qint64(FHead->n));
    q.addBindValue(QDateTime::currentMSecsSinceEpoch());
    return q.exec() || Fail(QString(), q.lastError());
}

int64_t tHistoryStore::ControllerId(const tHistController &c) {
    Start();
    QSqlQuery &q = Prepared("SELECT id FROM controller WHERE port = ? AND address = ? AND model "
                            "= ? AND firmware = ?");
    const auto find = [&] {
        q.bindValue(0, Text(c.port));
        q.bindValue(1, c.address);
        q.bindValue(2, Text(c.model));
        q.bindValue(3, Text(c.firmware));
        const int64_t id = q.exec() && q.next() ? q.value(0).toLongLong() : int64_t(0);
        q.finish();
        return id;
    };
    if (const int64_t id = find())
        return id;
    if (FReadOnly)
        return Fail(readOnlyText, QString()), 0;
    tWrite write(*this);
    if (!write.Started())
        return 0;
    // Under the lock: another program may have stored it meanwhile.
    if (const int64_t id = find())
        return write.Commit() ? id : 0;
    QSqlQuery insert(Db());
    insert.prepare(QStringLiteral("INSERT INTO controller(port, address, model, firmware) "
                                  "VALUES(?, ?, ?, ?)"));
    insert.addBindValue(Text(c.port));
    insert.addBindValue(c.address);
    insert.addBindValue(Text(c.model));
    insert.addBindValue(Text(c.firmware));
    if (!insert.exec())
        return Fail(QStringLiteral("Falha ao gravar no histórico"), insert.lastError()), 0;
    tHistController stored = c;
    stored.id = insert.lastInsertId().toLongLong();
    stored.port = Text(c.port);
    stored.model = Text(c.model);
    stored.firmware = Text(c.firmware);
    if (!Link(chainController, stored.id, QVariant(), QVariant(), ControllerBytes(stored)) ||
        !write.Commit())
        return 0;
    return stored.id;
}

bool tHistoryStore::Begin() {
    Start();
    if (FReadOnly)
        return Fail(readOnlyText, QString());
    QSqlQuery q(Db());
    if (!q.exec(QStringLiteral("BEGIN IMMEDIATE")))
        return Fail(QStringLiteral("Falha ao gravar no histórico"), q.lastError());
    FDepth = 1;
    FHead.reset();
    return true;
}

bool tHistoryStore::Commit() {
    Start();
    QSqlQuery q(Db());
    FDepth = 0;
    FHead.reset();
    if (q.exec(QStringLiteral("COMMIT")))
        return true;
    const QSqlError why = q.lastError();
    q.exec(QStringLiteral("ROLLBACK"));
    return Fail(QStringLiteral("Falha ao gravar no histórico"), why);
}

bool tHistoryStore::AddReading(int64_t controller, const tStatusReading &r) {
    Start();
    if (FReadOnly)
        return Fail(readOnlyText, QString());
    const QString failed = QStringLiteral("Falha ao gravar no histórico");
    tWrite write(*this);
    if (!write.Started())
        return false;
    // seq: one above any reading of the same millisecond (a clock moved
    // back); the lock is held, so no other writer picks the same one.
    QSqlQuery &count = Prepared("SELECT count(*) FROM reading WHERE ctl = ? AND t = ?");
    count.bindValue(0, qint64(controller));
    count.bindValue(1, qint64(r.utcMs));
    if (!count.exec() || !count.next())
        return Fail(failed, count.lastError());
    const int64_t seq = count.value(0).toLongLong();
    count.finish();
    QSqlQuery &q = Prepared("INSERT INTO reading(ctl, t, seq, off, unit, s0, v0, s1, v1, s2, v2, "
                            "s3, v3, r0, r1, r2, r3, result, rtt) VALUES(?, ?, ?, ?, ?, ?, ?, ?, "
                            "?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    q.bindValue(0, qint64(controller));
    q.bindValue(1, qint64(r.utcMs));
    q.bindValue(2, qint64(seq));
    q.bindValue(3, r.offsetSec);
    q.bindValue(4, r.unit);
    const std::array<std::optional<int64_t>, 4> values = StoredValues(r);
    for (int k = 0; k < 4; ++k) {
        q.bindValue(5 + 2 * k, r.state[k]);
        q.bindValue(6 + 2 * k, values[k] ? QVariant(qint64(*values[k])) : QVariant());
        q.bindValue(13 + k, r.relay[k]);
    }
    q.bindValue(17, r.result);
    q.bindValue(18, r.roundTripMs);
    if (!q.exec())
        return Fail(failed, q.lastError());
    return Link(chainReading, controller, qint64(r.utcMs), qint64(seq),
                ReadingBytes(controller, r, seq, values)) &&
           write.Commit();
}

bool tHistoryStore::AddLogSlot(const tHistLogSlot &s, bool *isNew) {
    Start();
    if (isNew)
        *isNew = false;
    if (FReadOnly)
        return Fail(readOnlyText, QString());
    tWrite write(*this);
    if (!write.Started())
        return false;
    QSqlQuery &q = Prepared("INSERT OR IGNORE INTO log_slot(ctl, slot, event, sensor1, sensor2, "
                            "year, month, mday, hour, min, sec, read_t) VALUES(?, ?, ?, ?, ?, ?, "
                            "?, ?, ?, ?, ?, ?)");
    int i = 0;
    for (const QVariant &v :
         {QVariant(qint64(s.controller)), QVariant(s.slot), QVariant(s.event), QVariant(s.sensor1),
          QVariant(s.sensor2), QVariant(s.year), QVariant(s.month), QVariant(s.mday),
          QVariant(s.hour), QVariant(s.min), QVariant(s.sec), QVariant(qint64(s.readUtcMs))})
        q.bindValue(i++, v);
    if (!q.exec())
        return Fail(QStringLiteral("Falha ao gravar no histórico"), q.lastError());
    const bool stored = q.numRowsAffected() > 0;
    const int64_t rowid = q.lastInsertId().toLongLong();
    if (stored && !Link(chainLogSlot, s.controller, qint64(s.readUtcMs), qint64(rowid),
                        LogSlotBytes(s, rowid)))
        return false;
    if (!write.Commit())
        return false;
    if (isNew)
        *isNew = stored;
    return true;
}

bool tHistoryStore::AddAudit(const tHistAudit &a) {
    Start();
    if (FReadOnly)
        return Fail(readOnlyText, QString());
    tWrite write(*this);
    if (!write.Started())
        return false;
    QSqlQuery q(Db());
    q.prepare(QStringLiteral("INSERT INTO audit(ctl, t, off, user, command, result) VALUES(?, ?, "
                             "?, ?, ?, ?)"));
    q.addBindValue(qint64(a.controller));
    q.addBindValue(qint64(a.utcMs));
    q.addBindValue(a.offsetSec);
    q.addBindValue(Text(a.user));
    q.addBindValue(Text(a.command));
    q.addBindValue(a.result);
    if (!q.exec())
        return Fail(QStringLiteral("Falha ao gravar no histórico"), q.lastError());
    const qint64 id = q.lastInsertId().toLongLong();
    q.prepare(QStringLiteral("INSERT INTO audit_field(audit, code, old, new) VALUES(?, ?, ?, ?)"));
    for (const tHistAuditField &f : a.fields) {
        q.addBindValue(id);
        q.addBindValue(Text(f.code));
        q.addBindValue(Text(f.oldValue));
        q.addBindValue(Text(f.newValue));
        if (!q.exec())
            return Fail(QStringLiteral("Falha ao gravar no histórico"), q.lastError());
    }
    tHistAudit stored = a;
    stored.user = Text(a.user);
    stored.command = Text(a.command);
    for (tHistAuditField &f : stored.fields)
        f = {Text(f.code), Text(f.oldValue), Text(f.newValue)};
    return Link(chainAudit, a.controller, qint64(a.utcMs), id, AuditBytes(stored, id)) &&
           write.Commit();
}

namespace {
QString ClockText(int64_t utcMs) {
    return QDateTime::fromMSecsSinceEpoch(utcMs).toString(QStringLiteral("dd/MM/yyyy HH:mm"));
}
} // namespace

int64_t tHistoryStore::ApplyRetention(int32_t keepDays, int64_t nowUtcMs, int64_t *unpublished) {
    Start();
    if (unpublished)
        *unpublished = 0;
    if (keepDays <= 0)
        return 0;
    if (FReadOnly)
        return Fail(readOnlyText, QString()), -1;
    const QString refused = QStringLiteral("Limite do histórico não aplicado");
    const QString failed = QStringLiteral("Falha ao aplicar o limite do histórico");
    tWrite write(*this);
    if (!write.Started())
        return -1;
    QSqlQuery q(Db());
    // Each controller's newest reading is one step down its primary key.
    if (!q.exec(QStringLiteral("SELECT max((SELECT max(t) FROM reading WHERE ctl = c.id)) FROM "
                               "controller c")) ||
        !q.next())
        return Fail(failed, q.lastError()), -1;
    if (q.value(0).isNull())
        return write.Commit() ? 0 : -1;
    const int64_t newest = q.value(0).toLongLong();
    q.finish();
    const int64_t span = int64_t(keepDays) * 86'400'000;
    // The clock decides nothing on its own: a computer whose clock is wrong
    // would otherwise remove the readings it should keep.
    if (nowUtcMs < newest - clockToleranceMs)
        return Fail(refused, QStringLiteral("o relógio do computador (%1) está atrás da leitura "
                                            "mais nova do histórico (%2)")
                                 .arg(ClockText(nowUtcMs), ClockText(newest))),
               -1;
    if (nowUtcMs - newest > span)
        return Fail(refused, QStringLiteral("o relógio do computador (%1) está muito à frente da "
                                            "leitura mais nova do histórico (%2)")
                                 .arg(ClockText(nowUtcMs), ClockText(newest))),
               -1;
    // Cut at a boundary of the coarsest summary slot, so the summary keeps
    // no slot whose readings are half gone.
    const int64_t slot = summaryLevels[0];
    int64_t cut = std::min(nowUtcMs, newest) - span;
    cut -= ((cut % slot) + slot) % slot;
    // A stretch without readings longer than the kept span right at the cut,
    // with less than the kept span recorded since, is what a clock set far
    // ahead leaves once it has recorded: everything before it would go at
    // once. After a long stop the same waits one span more.
    q.prepare(QStringLiteral("SELECT max((SELECT max(t) FROM reading WHERE ctl = c.id AND t < "
                             ":cut)), min((SELECT min(t) FROM reading WHERE ctl = c.id AND t >= "
                             ":cut)) FROM controller c"));
    q.bindValue(QStringLiteral(":cut"), qint64(cut));
    if (!q.exec() || !q.next())
        return Fail(failed, q.lastError()), -1;
    if (q.value(0).isNull())
        return write.Commit() ? 0 : -1; // nothing older than the cut
    const int64_t lastGone = q.value(0).toLongLong(), firstKept = q.value(1).toLongLong();
    q.finish();
    if (firstKept - lastGone > span && newest - firstKept < span)
        return Fail(refused, QStringLiteral("nenhuma leitura de %1 a %2, mais que os %3 dias "
                                            "mantidos, e menos que isso gravado depois: o relógio "
                                            "do computador foi adiantado?")
                                 .arg(ClockText(lastGone), ClockText(firstKept))
                                 .arg(keepDays)),
               -1;
    // Queue entries go with their readings; those a broker has not
    // acknowledged yet are counted, so the loss is said.
    q.prepare(QStringLiteral("SELECT count(*) FROM publish_queue q JOIN publish_target p ON "
                             "p.id = q.target WHERE q.t < ? AND q.id > p.done"));
    q.addBindValue(qint64(cut));
    if (!q.exec() || !q.next())
        return Fail(failed, q.lastError()), -1;
    const int64_t lost = q.value(0).toLongLong();
    q.finish();
    // The links of the readings that go go with them; each run of them
    // leaves its last hash, so the links after it still check.
    q.prepare(QStringLiteral("SELECT n, h FROM chain WHERE kind = %1 AND t < ? ORDER BY n")
                  .arg(chainReading));
    q.addBindValue(qint64(cut));
    if (!q.exec())
        return Fail(failed, q.lastError()), -1;
    std::vector<std::pair<int64_t, tHistChainLink>> runs; // first, last
    while (q.next()) {
        const tHistChainLink link{q.value(0).toLongLong(), q.value(1).toByteArray()};
        if (runs.empty() || runs.back().second.n + 1 != link.n)
            runs.push_back({link.n, link});
        else
            runs.back().second = link;
    }
    if (!Walked(q))
        return -1;
    for (const auto &[first, last] : runs) {
        q.prepare(QStringLiteral("INSERT INTO chain_cut(first, last, h, cut, at) VALUES(?, ?, ?, "
                                 "?, ?)"));
        q.addBindValue(qint64(first));
        q.addBindValue(qint64(last.n));
        q.addBindValue(last.hash);
        q.addBindValue(qint64(cut));
        q.addBindValue(qint64(nowUtcMs));
        if (!q.exec())
            return Fail(failed, q.lastError()), -1;
        q.prepare(QStringLiteral("DELETE FROM chain WHERE n BETWEEN ? AND ?"));
        q.addBindValue(qint64(first));
        q.addBindValue(qint64(last.n));
        if (!q.exec())
            return Fail(failed, q.lastError()), -1;
    }
    q.prepare(QStringLiteral("DELETE FROM reading WHERE t < ?"));
    q.addBindValue(qint64(cut));
    if (!q.exec())
        return Fail(failed, q.lastError()), -1;
    const int64_t removed = q.numRowsAffected();
    for (const char *sql :
         {"DELETE FROM publish_queue WHERE t < ?", "DELETE FROM summary WHERE b < ?"}) {
        q.prepare(QString::fromLatin1(sql));
        q.addBindValue(qint64(cut));
        if (!q.exec())
            return Fail(failed, q.lastError()), -1;
    }
    if (!write.Commit())
        return -1;
    if (unpublished)
        *unpublished = lost;
    return removed;
}

QString tHistoryStore::Described(int32_t kind, int64_t controller, const QVariant &t,
                                 const QVariant &key) {
    QString where = QStringLiteral("nº %1").arg(controller);
    QSqlQuery &c = Prepared("SELECT port, address FROM controller WHERE id = ?");
    c.bindValue(0, qint64(controller));
    if (c.exec() && c.next())
        where = QStringLiteral("%1 endereço %2").arg(c.value(0).toString()).arg(c.value(1).toInt());
    c.finish();
    const auto at = [&] {
        return QDateTime::fromMSecsSinceEpoch(t.toLongLong())
            .toString(QStringLiteral("dd/MM/yyyy HH:mm:ss"));
    };
    switch (kind) {
    case chainController:
        return QStringLiteral("controlador %1").arg(where);
    case chainReading:
        return QStringLiteral("leitura de %1 de %2").arg(where, at());
    case chainLogSlot:
        return QStringLiteral("slot do LOG de %1 lido em %2").arg(where, at());
    case chainAudit:
        return QStringLiteral("alteração nº %1 enviada a %2 em %3")
            .arg(key.toLongLong())
            .arg(where, at());
    }
    return QStringLiteral("registro de tipo %1").arg(kind);
}

std::optional<tHistChainCheck> tHistoryStore::VerifyChain() {
    Start();
    const QString failed = QStringLiteral("Falha ao ler o histórico");
    if (FVersion < 3)
        return Fail(QStringLiteral("O histórico %1 ainda não tem a cadeia de verificação: ela é "
                                   "feita quando o Tarvik grava nele")
                        .arg(FPath),
                    QString()),
               std::nullopt;
    tHistChainCheck check;
    const auto fault = [&](int64_t n, const QString &text) {
        Q_UNUSED(n);
        if (!check.faults++)
            check.first = text; // the walk meets them in chain order
    };
    QSqlQuery q(Db());
    q.setForwardOnly(true);
    std::map<int64_t, tHistChainLink> cuts; // first -> last link removed
    if (!q.exec(QStringLiteral("SELECT first, last, h FROM chain_cut")))
        return Fail(failed, q.lastError()), std::nullopt;
    while (q.next())
        cuts[q.value(0).toLongLong()] = {q.value(1).toLongLong(), q.value(2).toByteArray()};
    if (!Walked(q))
        return std::nullopt;
    if (q.exec(QStringLiteral("SELECT upto, at FROM chain_sealed")) && q.next()) {
        check.sealedUpTo = q.value(0).toLongLong();
        check.sealedAtMs = q.value(1).toLongLong();
    }
    // The readings come with their links in one walk; the other records,
    // far fewer, are looked up one by one.
    if (!q.exec(QStringLiteral(
            "SELECT c.n, c.kind, c.ctl, c.t, c.k, c.h, r.off, r.unit, r.s0, r.v0, r.s1, r.v1, "
            "r.s2, r.v2, r.s3, r.v3, r.r0, r.r1, r.r2, r.r3, r.result, r.rtt, r.ctl IS NOT NULL "
            "FROM chain c LEFT JOIN reading r ON c.kind = 2 AND r.ctl = c.ctl AND r.t = c.t AND "
            "r.seq = c.k ORDER BY c.n")))
        return Fail(failed, q.lastError()), std::nullopt;
    using tKey = std::tuple<int64_t, int64_t, int64_t>;
    std::vector<tKey> chainedReadings;
    std::array<std::vector<int64_t>, 4> chainedOthers; // by kind - 1
    tHistChainLink prev{0, chainStart};
    while (q.next()) {
        const int64_t n = q.value(0).toLongLong();
        const int32_t kind = q.value(1).toInt();
        const int64_t ctl = q.value(2).toLongLong();
        const QVariant t = q.value(3), key = q.value(4);
        const QByteArray hash = q.value(5).toByteArray();
        ++check.links;
        // Runs the retention limit removed, each with its last hash.
        for (auto cut = cuts.find(prev.n + 1); cut != cuts.end() && prev.n + 1 < n;
             cut = cuts.find(prev.n + 1)) {
            check.retained += cut->second.n - cut->first + 1;
            prev = cut->second;
        }
        bool linkable = true;
        if (n != prev.n + 1) {
            fault(n, QStringLiteral("registro nº %1 a %2 da cadeia removido(s) fora do Tarvik")
                         .arg(prev.n + 1)
                         .arg(n - 1));
            linkable = false;
        }
        std::optional<QByteArray> bytes;
        if (kind == chainReading) {
            if (q.value(22).toBool()) {
                tStatusReading r{.utcMs = t.toLongLong()};
                ReadingColumns(q, 6, r);
                std::array<std::optional<int64_t>, 4> values;
                for (int k = 0; k < 4; ++k)
                    if (!q.value(9 + 2 * k).isNull())
                        values[k] = q.value(9 + 2 * k).toLongLong();
                bytes = ReadingBytes(ctl, r, key.toLongLong(), values);
            }
            chainedReadings.emplace_back(ctl, t.toLongLong(), key.toLongLong());
        } else if (kind == chainController) {
            QSqlQuery &c =
                Prepared("SELECT port, address, model, firmware FROM controller WHERE id = ?");
            c.bindValue(0, qint64(ctl));
            if (c.exec() && c.next())
                bytes = ControllerBytes({ctl, c.value(0).toString(), c.value(1).toInt(),
                                         c.value(2).toString(), c.value(3).toString()});
            c.finish();
            chainedOthers[0].push_back(ctl);
        } else if (kind == chainLogSlot) {
            QSqlQuery &l = Prepared("SELECT ctl, slot, event, sensor1, sensor2, year, month, mday, "
                                    "hour, min, sec, read_t FROM log_slot WHERE rowid = ?");
            l.bindValue(0, key);
            if (l.exec() && l.next())
                bytes = LogSlotBytes(LogSlotOf(l, 0), key.toLongLong());
            l.finish();
            chainedOthers[2].push_back(key.toLongLong());
        } else if (kind == chainAudit) {
            QSqlQuery &a = Prepared("SELECT a.ctl, a.t, a.off, a.user, a.command, a.result, "
                                    "f.code, f.old, f.new FROM audit a LEFT JOIN audit_field f ON "
                                    "f.audit = a.id WHERE a.id = ? ORDER BY f.rowid");
            a.bindValue(0, key);
            if (a.exec() && a.next()) {
                tHistAudit audit{.controller = a.value(0).toLongLong(),
                                 .utcMs = a.value(1).toLongLong(),
                                 .offsetSec = a.value(2).toInt(),
                                 .user = a.value(3).toString(),
                                 .command = a.value(4).toString(),
                                 .result = a.value(5).toInt(),
                                 .fields = {}};
                do {
                    if (!a.value(6).isNull())
                        audit.fields.push_back(
                            {a.value(6).toString(), a.value(7).toString(), a.value(8).toString()});
                } while (a.next());
                bytes = AuditBytes(audit, key.toLongLong());
            }
            a.finish();
            chainedOthers[3].push_back(key.toLongLong());
        }
        if (kind >= chainController && kind <= chainAudit && bytes)
            ++check.records[size_t(kind - 1)];
        if (!bytes)
            fault(n, QStringLiteral("registro nº %1 da cadeia (%2) removido fora do Tarvik")
                         .arg(n)
                         .arg(Described(kind, ctl, t, key)));
        else if (linkable && LinkHash(prev.hash, *bytes) != hash)
            fault(n, QStringLiteral("registro nº %1 da cadeia (%2) alterado fora do Tarvik")
                         .arg(n)
                         .arg(Described(kind, ctl, t, key)));
        prev = {n, hash};
    }
    if (!Walked(q))
        return std::nullopt;
    for (auto cut = cuts.find(prev.n + 1); cut != cuts.end(); cut = cuts.find(prev.n + 1)) {
        check.retained += cut->second.n - cut->first + 1;
        prev = cut->second;
    }
    check.head = prev;

    // Records without a link were put there by something else.
    const auto unlinked = [&](const char *sql, int32_t kind, const auto &chained) {
        if (!q.exec(QString::fromLatin1(sql)))
            return Fail(failed, q.lastError());
        while (q.next()) {
            bool found = false;
            QVariant t, key;
            int64_t ctl = q.value(0).toLongLong();
            if constexpr (std::is_same_v<std::decay_t<decltype(chained)>, std::vector<tKey>>) {
                t = q.value(1);
                key = q.value(2);
                found = std::binary_search(chained.begin(), chained.end(),
                                           tKey{ctl, t.toLongLong(), key.toLongLong()});
            } else {
                key = q.value(2);
                found = std::binary_search(chained.begin(), chained.end(),
                                           kind == chainController ? ctl : key.toLongLong());
                t = q.value(1);
            }
            if (!found)
                fault(0, QStringLiteral("%1 inserido fora do Tarvik (sem lugar na cadeia)")
                             .arg(Described(kind, ctl, t, key)));
        }
        return Walked(q);
    };
    std::sort(chainedReadings.begin(), chainedReadings.end());
    for (std::vector<int64_t> &ids : chainedOthers)
        std::sort(ids.begin(), ids.end());
    if (!q.exec(QStringLiteral("SELECT (SELECT count(*) FROM controller), (SELECT count(*) FROM "
                               "reading), (SELECT count(*) FROM log_slot), (SELECT count(*) FROM "
                               "audit)")) ||
        !q.next())
        return Fail(failed, q.lastError()), std::nullopt;
    const std::array<int64_t, 4> held{q.value(0).toLongLong(), q.value(1).toLongLong(),
                                      q.value(2).toLongLong(), q.value(3).toLongLong()};
    q.finish();
    if ((held[0] > check.records[0] &&
         !unlinked("SELECT id, NULL, NULL FROM controller", chainController, chainedOthers[0])) ||
        (held[1] > check.records[1] &&
         !unlinked("SELECT ctl, t, seq FROM reading", chainReading, chainedReadings)) ||
        (held[2] > check.records[2] &&
         !unlinked("SELECT ctl, read_t, rowid FROM log_slot", chainLogSlot, chainedOthers[2])) ||
        (held[3] > check.records[3] &&
         !unlinked("SELECT ctl, t, id FROM audit", chainAudit, chainedOthers[3])))
        return std::nullopt;
    return check;
}

std::optional<tHistChainLink> tHistoryStore::ChainHead(int64_t controller, int64_t fromMs,
                                                       int64_t toMs) {
    Start();
    if (FVersion < 3)
        return std::nullopt;
    QSqlQuery q(Db());
    q.prepare(QStringLiteral("SELECT n, h FROM chain WHERE ctl = ? AND t >= ? AND t < ? AND kind "
                             "<> 1 ORDER BY n DESC LIMIT 1"));
    q.addBindValue(qint64(controller));
    q.addBindValue(qint64(fromMs));
    q.addBindValue(qint64(toMs));
    if (!q.exec())
        return Fail(QStringLiteral("Falha ao ler o histórico"), q.lastError()), std::nullopt;
    if (!q.next())
        return Walked(q), std::nullopt;
    return tHistChainLink{q.value(0).toLongLong(), q.value(1).toByteArray()};
}

QString UnpublishedRemovedText(int64_t count) {
    return QStringLiteral("o limite do histórico removeu %1 leitura(s) que ainda esperavam para "
                          "ser publicadas no broker")
        .arg(count);
}

int64_t tHistoryStore::PublishTarget(const QString &broker, const QString &prefix,
                                     const QString &port, int32_t address, int64_t *done) {
    Start();
    QSqlQuery q(Db());
    const auto find = [&] {
        q.prepare(QStringLiteral("SELECT id, done FROM publish_target WHERE broker = ? AND prefix "
                                 "= ? AND port = ? AND address = ?"));
        q.addBindValue(Text(broker));
        q.addBindValue(Text(prefix));
        q.addBindValue(Text(port));
        q.addBindValue(address);
        if (!q.exec() || !q.next())
            return int64_t(0);
        if (done)
            *done = q.value(1).toLongLong();
        return int64_t(q.value(0).toLongLong());
    };
    if (const int64_t id = find())
        return id;
    if (FReadOnly)
        return Fail(readOnlyText, QString()), 0;
    q.prepare(QStringLiteral("INSERT OR IGNORE INTO publish_target(broker, prefix, port, address, "
                             "done) VALUES(?, ?, ?, ?, (SELECT coalesce(max(id), 0) FROM "
                             "publish_queue))"));
    q.addBindValue(Text(broker));
    q.addBindValue(Text(prefix));
    q.addBindValue(Text(port));
    q.addBindValue(address);
    if (!q.exec())
        return Fail(QStringLiteral("Falha ao gravar no histórico"), q.lastError()), 0;
    if (const int64_t id = find())
        return id;
    return Fail(QStringLiteral("Falha ao gravar no histórico"), q.lastError()), 0;
}

int64_t tHistoryStore::AddQueued(int64_t target, const tHistQueued &e) {
    Start();
    if (FReadOnly)
        return Fail(readOnlyText, QString()), 0;
    tWrite write(*this);
    if (!write.Started())
        return 0;
    const tStatusReading &r = e.reading;
    const int64_t controller = ControllerId({0, r.port, r.address, r.model, r.firmware});
    if (!controller || !AddReading(controller, r))
        return 0;
    QSqlQuery q(Db());
    q.prepare(QStringLiteral(
        "INSERT INTO publish_queue(target, ctl, t, seq, sensors, relays, lo0, hi0, lo1, hi1, "
        "lo2, hi2, lo3, hi3, op0, op1, op2, op3) VALUES(?, ?, ?, (SELECT max(seq) FROM reading "
        "WHERE ctl = ? AND t = ?), ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    q.addBindValue(qint64(target));
    q.addBindValue(qint64(controller));
    q.addBindValue(qint64(r.utcMs));
    q.addBindValue(qint64(controller));
    q.addBindValue(qint64(r.utcMs));
    q.addBindValue(r.sensors);
    q.addBindValue(r.relays);
    for (size_t k = 0; k < 4; ++k) {
        q.addBindValue(r.min[k]);
        q.addBindValue(r.max[k]);
    }
    for (size_t k = 0; k < 4; ++k)
        q.addBindValue(r.operation[k]);
    if (!q.exec())
        return Fail(QStringLiteral("Falha ao gravar no histórico"), q.lastError()), 0;
    const int64_t id = q.lastInsertId().toLongLong();
    return write.Commit() ? id : 0;
}

std::vector<tHistQueued> tHistoryStore::Queued(int64_t target, int64_t fromId, int64_t beforeId,
                                               int32_t count) {
    Start();
    std::vector<tHistQueued> out;
    QSqlQuery q(Db());
    q.setForwardOnly(true);
    // LEFT JOIN: an entry whose reading the retention limit removed still
    // comes, marked gone, so its loss is counted rather than skipped.
    q.prepare(QStringLiteral(
        "SELECT q.id, q.ctl, q.t, q.sensors, q.relays, q.lo0, q.hi0, q.lo1, q.hi1, q.lo2, q.hi2, "
        "q.lo3, q.hi3, q.op0, q.op1, q.op2, q.op3, c.port, c.address, c.model, c.firmware, "
        "r.t IS NULL, r.off, r.unit, r.s0, r.v0, r.s1, r.v1, r.s2, r.v2, r.s3, r.v3, r.r0, r.r1, "
        "r.r2, r.r3, r.result, r.rtt FROM publish_queue q JOIN controller c ON c.id = q.ctl LEFT "
        "JOIN reading r ON r.ctl = q.ctl AND r.t = q.t AND r.seq = q.seq WHERE q.target = ? AND "
        "q.id >= ? AND q.id < ? ORDER BY q.id LIMIT ?"));
    q.addBindValue(qint64(target));
    q.addBindValue(qint64(fromId));
    q.addBindValue(qint64(beforeId > 0 ? beforeId : std::numeric_limits<int64_t>::max()));
    q.addBindValue(count);
    if (!q.exec())
        return Fail(QStringLiteral("Falha ao ler o histórico"), q.lastError()), out;
    while (q.next()) {
        tHistQueued e;
        e.id = q.value(0).toLongLong();
        tStatusReading &r = e.reading;
        r.utcMs = q.value(2).toLongLong();
        r.sensors = std::clamp(q.value(3).toInt(), 0, 4);
        r.relays = std::clamp(q.value(4).toInt(), 0, 4);
        for (size_t k = 0; k < 4; ++k) {
            r.min[k] = q.value(5 + 2 * int(k)).toInt();
            r.max[k] = q.value(6 + 2 * int(k)).toInt();
            r.operation[k] = q.value(13 + int(k)).toInt();
        }
        r.port = q.value(17).toString();
        r.address = q.value(18).toInt();
        r.model = q.value(19).toString();
        r.firmware = q.value(20).toString();
        e.gone = q.value(21).toBool();
        if (!e.gone) {
            ReadingColumns(q, 22, e.reading);
        }
        out.push_back(e);
    }
    if (!Walked(q))
        return {};
    return out;
}

int64_t tHistoryStore::QueuedCount(int64_t target, int64_t afterId, int64_t upToId, int64_t *last) {
    Start();
    QSqlQuery q(Db());
    q.prepare(QStringLiteral(
        "SELECT count(*), max(id) FROM publish_queue WHERE target = ? AND id > ? AND id <= ?"));
    q.addBindValue(qint64(target));
    q.addBindValue(qint64(afterId));
    q.addBindValue(qint64(upToId));
    if (!q.exec() || !q.next())
        return Fail(QStringLiteral("Falha ao ler o histórico"), q.lastError()), -1;
    if (last)
        *last = q.value(1).isNull() ? afterId : q.value(1).toLongLong();
    return q.value(0).toLongLong();
}

bool tHistoryStore::SetPublished(int64_t target, int64_t id) {
    Start();
    if (FReadOnly)
        return Fail(readOnlyText, QString());
    QSqlQuery q(Db());
    q.prepare(QStringLiteral("UPDATE publish_target SET done = ? WHERE id = ? AND done < ?"));
    q.addBindValue(qint64(id));
    q.addBindValue(qint64(target));
    q.addBindValue(qint64(id));
    if (!q.exec())
        return Fail(QStringLiteral("Falha ao gravar no histórico"), q.lastError());
    return true;
}

std::vector<tHistController> tHistoryStore::Controllers() {
    Start();
    std::vector<tHistController> out;
    QSqlQuery q(Db());
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral(
            "SELECT id, port, address, model, firmware FROM controller ORDER BY id")))
        return Fail(QStringLiteral("Falha ao ler o histórico"), q.lastError()), out;
    while (q.next())
        out.push_back({q.value(0).toLongLong(), q.value(1).toString(), q.value(2).toInt(),
                       q.value(3).toString(), q.value(4).toString()});
    if (!Walked(q))
        return {};
    return out;
}

std::optional<std::pair<int64_t, int64_t>> tHistoryStore::ReadingSpan(int64_t controller) {
    Start();
    QSqlQuery q(Db());
    // Two subqueries: each is one step down the primary key, where min and
    // max together in one query would walk every reading of the controller.
    q.prepare(QStringLiteral("SELECT (SELECT min(t) FROM reading WHERE ctl = :c), (SELECT max(t) "
                             "FROM reading WHERE ctl = :c)"));
    q.bindValue(QStringLiteral(":c"), qint64(controller));
    if (!q.exec() || !q.next() || q.value(0).isNull())
        return std::nullopt;
    return std::pair{int64_t(q.value(0).toLongLong()), int64_t(q.value(1).toLongLong())};
}

namespace {
// A value of the summary (Celsius tenths) in the wanted unit.
QString SummaryExpr(const QString &column, int32_t unit) {
    return unit == tempFAHRENHEIT
               ? QStringLiteral("CAST(round(%1 * 1.8 + 320) AS INTEGER)").arg(column)
               : column;
}

} // namespace

// One bucket of every sensor and relay, as the queries below and the
// summary give them.
struct tHistoryStore::tMerged {
    int64_t index, first, last;
    std::array<int32_t, 4> min, max, count, on, known;
};

std::vector<tHistoryStore::tMerged> tHistoryStore::Merged(int64_t controller, int64_t fromMs,
                                                          int64_t toMs, int64_t bucketMs,
                                                          int32_t unit) {
    std::vector<tMerged> rows;
    if (bucketMs <= 0 || toMs <= fromMs)
        return rows;
    // Whole slots of the coarsest summary level no wider than a bucket come
    // from the summary; the ends of the range, and narrow buckets, from the
    // readings. A slot counts in the bucket its start falls in.
    int64_t level = 0, inFrom = toMs, inTo = toMs;
    for (int64_t lvl : summaryLevels) {
        if (lvl <= bucketMs) {
            level = lvl;
            inFrom = std::min(toMs, (fromMs + lvl - 1) / lvl * lvl);
            inTo = std::max(inFrom, toMs / lvl * lvl);
            break;
        }
    }
    QStringList raw, summary;
    for (int k = 0; k < 4; ++k) {
        const QString x = ValueExpr(k, unit);
        raw << QStringLiteral("min(%1), max(%1), count(%1), sum(result > 0 AND r%2 = 1), "
                              "sum(result > 0 AND r%2 >= 0)")
                   .arg(x)
                   .arg(k);
        summary << QStringLiteral("%1, %2, sum(n%3), sum(on%3), sum(kn%3)")
                       .arg(SummaryExpr(QStringLiteral("min(lo%1)").arg(k), unit),
                            SummaryExpr(QStringLiteral("max(hi%1)").arg(k), unit))
                       .arg(k);
    }
    QSqlQuery q(Db());
    q.setForwardOnly(true);
    const auto run = [&](const QString &sql, int64_t from, int64_t to) {
        if (to <= from)
            return true;
        q.prepare(sql);
        q.bindValue(QStringLiteral(":from"), qint64(fromMs));
        q.bindValue(QStringLiteral(":w"), qint64(bucketMs));
        q.bindValue(QStringLiteral(":c"), qint64(controller));
        q.bindValue(QStringLiteral(":a"), qint64(from));
        q.bindValue(QStringLiteral(":b"), qint64(to));
        q.bindValue(QStringLiteral(":lvl"), qint64(level));
        if (!q.exec())
            return Fail(QStringLiteral("Falha ao ler o histórico"), q.lastError());
        while (q.next()) {
            tMerged r{q.value(0).toLongLong(),
                      q.value(1).toLongLong(),
                      q.value(2).toLongLong(),
                      {},
                      {},
                      {},
                      {},
                      {}};
            for (int k = 0; k < 4; ++k) {
                r.min[k] = q.value(3 + 5 * k).toInt();
                r.max[k] = q.value(4 + 5 * k).toInt();
                r.count[k] = q.value(5 + 5 * k).toInt();
                r.on[k] = q.value(6 + 5 * k).toInt();
                r.known[k] = q.value(7 + 5 * k).toInt();
            }
            rows.push_back(r);
        }
        if (!Walked(q))
            return false;
        return true;
    };
    const QString rawSql = QStringLiteral("SELECT (t - :from) / :w AS i, min(t), max(t), %1 FROM "
                                          "reading WHERE ctl = :c AND t >= :a AND t < :b GROUP BY "
                                          "i ORDER BY i")
                               .arg(raw.join(QStringLiteral(", ")));
    const QString summarySql = QStringLiteral("SELECT (b - :from) / :w AS i, min(tf), max(tl), %1 "
                                              "FROM summary WHERE ctl = :c AND lvl = :lvl AND b "
                                              ">= :a AND b < :b GROUP BY i ORDER BY i")
                                   .arg(summary.join(QStringLiteral(", ")));
    if (!run(rawSql, fromMs, inFrom) || !run(summarySql, inFrom, inTo) ||
        !run(rawSql, std::max(fromMs, inTo), toMs))
        return {};
    std::stable_sort(rows.begin(), rows.end(),
                     [](const tMerged &a, const tMerged &b) { return a.index < b.index; });
    std::vector<tMerged> out;
    for (const tMerged &r : rows) {
        if (out.empty() || out.back().index != r.index) {
            out.push_back(r);
            continue;
        }
        tMerged &m = out.back();
        m.first = std::min(m.first, r.first);
        m.last = std::max(m.last, r.last);
        for (int k = 0; k < 4; ++k) {
            m.on[k] += r.on[k];
            m.known[k] += r.known[k];
            if (!r.count[k])
                continue;
            m.min[k] = m.count[k] ? std::min(m.min[k], r.min[k]) : r.min[k];
            m.max[k] = m.count[k] ? std::max(m.max[k], r.max[k]) : r.max[k];
            m.count[k] += r.count[k];
        }
    }
    return out;
}

std::array<std::vector<tHistBucket>, 4> tHistoryStore::Curve(int64_t controller, int64_t fromMs,
                                                             int64_t toMs, int64_t bucketMs,
                                                             int32_t unit) {
    Start();
    std::array<std::vector<tHistBucket>, 4> out;
    for (const tMerged &m : Merged(controller, fromMs, toMs, bucketMs, unit))
        for (int k = 0; k < 4; ++k)
            if (m.count[k])
                out[k].push_back({.fromMs = fromMs + m.index * bucketMs,
                                  .firstMs = m.first,
                                  .lastMs = m.last,
                                  .min = m.min[k],
                                  .max = m.max[k],
                                  .count = m.count[k]});
    return out;
}

std::vector<tHistRelayBucket> tHistoryStore::RelayBuckets(int64_t controller, int64_t fromMs,
                                                          int64_t toMs, int64_t bucketMs) {
    Start();
    std::vector<tHistRelayBucket> out;
    for (const tMerged &m : Merged(controller, fromMs, toMs, bucketMs, tempCELSIUS))
        if (std::any_of(m.known.begin(), m.known.end(), [](int32_t n) { return n > 0; }))
            out.push_back({.fromMs = fromMs + m.index * bucketMs, .on = m.on, .known = m.known});
    return out;
}

std::vector<tHistBucket> tHistoryStore::Buckets(int64_t controller, int sensor, int64_t fromMs,
                                                int64_t toMs, int64_t bucketMs, int32_t unit) {
    Start();
    if (sensor < 0 || sensor > 3)
        return {};
    return Curve(controller, fromMs, toMs, bucketMs, unit)[sensor];
}

std::vector<tStatusReading> tHistoryStore::Readings(int64_t controller, int64_t fromMs,
                                                    int64_t toMs) {
    Start();
    std::vector<tStatusReading> out;
    QSqlQuery q(Db());
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT t, off, unit, s0, v0, s1, v1, s2, v2, s3, v3, r0, r1, r2, "
                             "r3, result, rtt FROM reading WHERE ctl = ? AND t >= ? AND t < ? "
                             "ORDER BY t, seq"));
    q.addBindValue(qint64(controller));
    q.addBindValue(qint64(fromMs));
    q.addBindValue(qint64(toMs));
    if (!q.exec())
        return Fail(QStringLiteral("Falha ao ler o histórico"), q.lastError()), out;
    while (q.next()) {
        tStatusReading r;
        r.utcMs = q.value(0).toLongLong();
        ReadingColumns(q, 1, r);
        out.push_back(r);
    }
    if (!Walked(q))
        return {};
    return out;
}

namespace {
// A controller's readings as the chain numbered them when stored: the time,
// the reading's key and the link's number, in the order stored.
struct tStoredLink {
    int64_t t = 0, seq = 0, n = 0;
    int64_t stepFromMs = 0; // the time stored before it, when the clock went back between
};
} // namespace

std::vector<tHistClockStep> tHistoryStore::ClockSteps(int64_t controller, int64_t fromMs,
                                                      int64_t toMs) {
    Start();
    std::vector<tHistClockStep> out;
    if (FVersion < 3)
        return out;
    QSqlQuery q(Db());
    q.setForwardOnly(true);
    // Every link of the controller, not only the range's: the reading
    // before a step may lie outside it.
    q.prepare(QStringLiteral("SELECT c.t, r.off FROM chain c JOIN reading r ON r.ctl = c.ctl AND "
                             "r.t = c.t AND r.seq = c.k WHERE c.kind = 2 AND c.ctl = ? ORDER BY "
                             "c.n"));
    q.addBindValue(qint64(controller));
    if (!q.exec())
        return Fail(QStringLiteral("Falha ao ler o histórico"), q.lastError()), out;
    const auto inRange = [&](int64_t t) { return t >= fromMs && t < toMs; };
    std::optional<int64_t> before;
    while (q.next()) {
        const int64_t t = q.value(0).toLongLong();
        if (before && *before - t >= clockStepMinMs && (inRange(t) || inRange(*before)))
            out.push_back({*before, t, q.value(1).toInt()});
        before = t;
    }
    if (!Walked(q))
        return {};
    return out;
}

std::vector<tStatusReading> tHistoryStore::ReadingsAsStored(int64_t controller, int64_t fromMs,
                                                            int64_t toMs,
                                                            std::vector<int64_t> *stepFromMs) {
    std::vector<tStatusReading> readings = Readings(controller, fromMs, toMs);
    if (LastFailed() || FVersion < 3) {
        if (stepFromMs)
            stepFromMs->assign(readings.size(), 0);
        return readings;
    }
    // The order of storing is the chain's: each reading's link number,
    // matched on its time and key. Every link of the controller is walked
    // in that order, since the reading stored before a step back of the
    // clock may lie outside the range.
    QSqlQuery q(Db());
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT t, k, n FROM chain WHERE kind = 2 AND ctl = ? ORDER BY n"));
    q.addBindValue(qint64(controller));
    if (!q.exec())
        return Fail(QStringLiteral("Falha ao ler o histórico"), q.lastError()), readings;
    std::vector<tStoredLink> links;
    std::optional<int64_t> before;
    while (q.next()) {
        const int64_t t = q.value(0).toLongLong();
        if (t >= fromMs && t < toMs)
            links.push_back({t, q.value(1).toLongLong(), q.value(2).toLongLong(),
                             before && *before - t >= clockStepMinMs ? *before : 0});
        before = t;
    }
    if (!Walked(q))
        return {};
    std::sort(links.begin(), links.end(), [](const tStoredLink &a, const tStoredLink &b) {
        return std::tie(a.t, a.seq) < std::tie(b.t, b.seq);
    });
    // Readings come by time and seq; those at one time keep their order, so
    // the k-th reading at a time is the link of the k-th seq there.
    struct tPlace {
        int64_t n; // link number (none: last)
        size_t reading;
        int64_t stepFromMs;
    };
    std::vector<tPlace> order;
    order.reserve(readings.size());
    size_t l = 0;
    for (size_t i = 0; i < readings.size(); ++i) {
        const int64_t t = readings[i].utcMs;
        while (l < links.size() && links[l].t < t)
            ++l;
        if (l < links.size() && links[l].t == t) {
            order.push_back({links[l].n, i, links[l].stepFromMs});
            ++l;
        } else {
            order.push_back({std::numeric_limits<int64_t>::max(), i, 0});
        }
    }
    std::stable_sort(order.begin(), order.end(),
                     [](const tPlace &a, const tPlace &b) { return a.n < b.n; });
    std::vector<tStatusReading> out;
    out.reserve(readings.size());
    if (stepFromMs)
        stepFromMs->clear();
    for (const tPlace &p : order) {
        out.push_back(readings[p.reading]);
        if (stepFromMs)
            stepFromMs->push_back(p.stepFromMs);
    }
    return out;
}

std::vector<tHistRelayChange> tHistoryStore::RelayChanges(int64_t controller, int64_t fromMs,
                                                          int64_t toMs) {
    Start();
    std::vector<tHistRelayChange> out;
    QSqlQuery q(Db());
    q.setForwardOnly(true);
    // Failed readings (-1) say nothing about the relays: skipped.
    q.prepare(QStringLiteral("SELECT t, off, r0, r1, r2, r3 FROM reading WHERE ctl = ? AND t >= ? "
                             "AND t < ? AND result > 0 ORDER BY t, seq"));
    q.addBindValue(qint64(controller));
    q.addBindValue(qint64(fromMs));
    q.addBindValue(qint64(toMs));
    if (!q.exec())
        return Fail(QStringLiteral("Falha ao ler o histórico"), q.lastError()), out;
    std::array<int32_t, 4> last{-1, -1, -1, -1};
    while (q.next()) {
        for (int k = 0; k < 4; ++k) {
            const int32_t on = q.value(2 + k).toInt();
            if (on < 0 || on == last[k])
                continue;
            last[k] = on;
            out.push_back({.utcMs = q.value(0).toLongLong(),
                           .offsetSec = q.value(1).toInt(),
                           .relay = k,
                           .on = on});
        }
    }
    if (!Walked(q))
        return {};
    return out;
}

namespace {
// One sensor's readings of a range in the wanted unit, with the time each
// one stands for.
struct tPoint {
    int64_t t;
    int32_t off;
    int32_t v; // meaningful when valid
    bool valid;
    int32_t state; // stsTEMP_*, -1 for a failed exchange
};
} // namespace

static std::vector<tPoint> SensorPoints(QSqlDatabase db, int64_t controller, int sensor,
                                        int64_t fromMs, int64_t toMs, int32_t unit,
                                        QSqlError *error) {
    std::vector<tPoint> out;
    QSqlQuery q(db);
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT t, off, %1, s%2 FROM reading WHERE ctl = ? AND t >= ? AND "
                             "t < ? ORDER BY t, seq")
                  .arg(ValueExpr(sensor, unit))
                  .arg(sensor));
    q.addBindValue(qint64(controller));
    q.addBindValue(qint64(fromMs));
    q.addBindValue(qint64(toMs));
    if (!q.exec()) {
        *error = q.lastError();
        return out;
    }
    while (q.next())
        out.push_back({q.value(0).toLongLong(), q.value(1).toInt(), q.value(2).toInt(),
                       !q.value(2).isNull(), q.value(3).toInt()});
    // A walk cut short (a damaged page) is a failure, not a shorter range.
    if (q.lastError().isValid()) {
        *error = q.lastError();
        return {};
    }
    return out;
}

std::vector<tHistDay> tHistoryStore::Days(int64_t controller, int sensor, int64_t fromMs,
                                          int64_t toMs, const tHistLimits &limits, int32_t unit,
                                          int64_t maxGapMs) {
    Start();
    std::vector<tHistDay> out;
    if (sensor < 0 || sensor > 3)
        return out;
    QSqlError error;
    // The readings a little past the range too: a reading outside the limits
    // stands until the next one, or the range's end, whichever comes first,
    // and the last one of all stands for nothing beyond itself.
    const std::vector<tPoint> points =
        SensorPoints(Db(), controller, sensor, fromMs, toMs + maxGapMs, unit, &error);
    if (error.isValid())
        return Fail(QStringLiteral("Falha ao ler o histórico"), error), out;
    double sum = 0;
    for (size_t i = 0; i < points.size() && points[i].t < toMs; ++i) {
        const tPoint &p = points[i];
        const bool failed = p.state == stsTEMP_ERRMIN || p.state == stsTEMP_ERRMAX;
        if (!p.valid && !failed)
            continue;
        const int64_t localMs = p.t + int64_t(p.off) * 1000;
        const int64_t dayStart = localMs - ((localMs % 86400000) + 86400000) % 86400000;
        if (out.empty() || out.back().dayStartMs != dayStart - int64_t(p.off) * 1000) {
            if (!out.empty() && out.back().count > 0)
                out.back().mean = sum / out.back().count;
            sum = 0;
            tHistDay d;
            d.dayStartMs = dayStart - int64_t(p.off) * 1000;
            d.date = QDateTime::fromMSecsSinceEpoch(dayStart, Qt::UTC).date().toString(Qt::ISODate);
            out.push_back(d);
        }
        tHistDay &d = out.back();
        if (failed) {
            ++(p.state == stsTEMP_ERRMAX ? d.open : d.shorted);
            continue;
        }
        d.min = d.count ? std::min(d.min, p.v) : p.v;
        d.max = d.count ? std::max(d.max, p.v) : p.v;
        sum += p.v;
        ++d.count;
        if (Outside(p.v, limits)) {
            const int64_t next = i + 1 < points.size() ? std::min(points[i + 1].t, toMs) : p.t;
            d.outsideMs += std::clamp<int64_t>(next - p.t, 0, maxGapMs);
        }
    }
    if (!out.empty() && out.back().count > 0)
        out.back().mean = sum / out.back().count;
    return out;
}

std::vector<tHistExcursion> tHistoryStore::Excursions(int64_t controller, int sensor,
                                                      int64_t fromMs, int64_t toMs,
                                                      const tHistLimits &limits, int32_t unit) {
    Start();
    std::vector<tHistExcursion> out;
    if (sensor < 0 || sensor > 3 || (!limits.low && !limits.high))
        return out;
    QSqlError error;
    const std::vector<tPoint> points =
        SensorPoints(Db(), controller, sensor, fromMs, toMs, unit, &error);
    if (error.isValid())
        return Fail(QStringLiteral("Falha ao ler o histórico"), error), out;
    bool open = false;
    for (const tPoint &p : points) {
        if (!p.valid)
            continue; // a failed reading neither starts nor ends an excursion
        const bool outside = Outside(p.v, limits);
        const bool high = limits.high && p.v > *limits.high;
        if (open && (!outside || high != out.back().high)) {
            out.back().endMs = p.t;
            out.back().ongoing = false;
            open = false;
        }
        if (outside && !open) {
            out.push_back(
                {.startMs = p.t, .endMs = p.t, .ongoing = true, .high = high, .extreme = p.v});
            open = true;
        } else if (outside) {
            tHistExcursion &e = out.back();
            e.endMs = p.t;
            e.extreme = high ? std::max(e.extreme, p.v) : std::min(e.extreme, p.v);
        }
    }
    return out;
}

std::vector<tHistAuditEntry> tHistoryStore::Audits(int64_t controller, int64_t fromMs,
                                                   int64_t toMs) {
    Start();
    std::vector<tHistAuditEntry> out;
    QSqlQuery q(Db());
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT a.id, a.ctl, a.t, a.off, a.user, a.command, a.result, f.code, "
                             "f.old, f.new FROM audit a LEFT JOIN audit_field f ON f.audit = a.id "
                             "WHERE a.t >= :from AND a.t < :to AND (:c = 0 OR a.ctl = :c) ORDER "
                             "BY a.t, a.id, f.rowid"));
    q.bindValue(QStringLiteral(":from"), qint64(fromMs));
    q.bindValue(QStringLiteral(":to"), qint64(toMs));
    q.bindValue(QStringLiteral(":c"), qint64(controller));
    if (!q.exec())
        return Fail(QStringLiteral("Falha ao ler o histórico"), q.lastError()), out;
    while (q.next()) {
        const int64_t id = q.value(0).toLongLong();
        if (out.empty() || out.back().id != id)
            out.push_back({id,
                           {.controller = q.value(1).toLongLong(),
                            .utcMs = q.value(2).toLongLong(),
                            .offsetSec = q.value(3).toInt(),
                            .user = q.value(4).toString(),
                            .command = q.value(5).toString(),
                            .result = q.value(6).toInt(),
                            .fields = {}}});
        if (!q.value(7).isNull())
            out.back().audit.fields.push_back(
                {q.value(7).toString(), q.value(8).toString(), q.value(9).toString()});
    }
    if (!Walked(q))
        return {};
    return out;
}

std::vector<tHistLogSlot> tHistoryStore::LogSlots(int64_t controller) {
    Start();
    std::vector<tHistLogSlot> out;
    QSqlQuery q(Db());
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT slot, read_t, event, sensor1, sensor2, year, month, mday, "
                             "hour, min, sec FROM log_slot WHERE ctl = ? ORDER BY rowid DESC"));
    q.addBindValue(qint64(controller));
    if (!q.exec())
        return Fail(QStringLiteral("Falha ao ler o histórico"), q.lastError()), out;
    while (q.next())
        out.push_back({.controller = controller,
                       .slot = q.value(0).toInt(),
                       .readUtcMs = q.value(1).toLongLong(),
                       .event = uint8_t(q.value(2).toUInt()),
                       .sensor1 = uint16_t(q.value(3).toUInt()),
                       .sensor2 = uint16_t(q.value(4).toUInt()),
                       .year = uint16_t(q.value(5).toUInt()),
                       .month = uint8_t(q.value(6).toUInt()),
                       .mday = uint8_t(q.value(7).toUInt()),
                       .hour = uint8_t(q.value(8).toUInt()),
                       .min = uint8_t(q.value(9).toUInt()),
                       .sec = uint8_t(q.value(10).toUInt())});
    if (!Walked(q))
        return {};
    return out;
}

QString HistoryFilePath(const QString &settingsFile, const QString &dataFolder) {
    const QString name = QStringLiteral("historico.sqlite");
    const QString env = qEnvironmentVariable("TARVIK_HISTORICO");
    if (!env.isEmpty())
        return env;
    if (!dataFolder.isEmpty())
        return QDir(dataFolder).filePath(name);
    return QFileInfo(settingsFile).absoluteDir().filePath(name);
}
