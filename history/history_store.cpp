#include "history_store.h"

#include "u_ondrel.h"

#include <QAtomicInteger>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <QVariant>

#include <algorithm>
#include <limits>

namespace {

// A reading's columns from `first` on, in the readings table's order: offset,
// unit, state and value of each sensor, the four relays, result, round trip.
void ReadingColumns(const QSqlQuery &q, int first, tHistReading &r) {
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

QSqlDatabase tHistoryStore::Db() const {
    return QSqlDatabase::database(FConnection, false);
}

bool tHistoryStore::IsOpen() const {
    return Db().isOpen();
}

void tHistoryStore::Close() {
    if (!QSqlDatabase::contains(FConnection))
        return;
    {
        QSqlDatabase db = Db();
        db.close();
    }
    QSqlDatabase::removeDatabase(FConnection);
    FDepth = 0;
}

bool tHistoryStore::Fail(const QString &what, const QString &detail) {
    FFailed = true;
    FMessage = detail.isEmpty() ? what : QStringLiteral("%1: %2").arg(what, detail);
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

int64_t tHistoryStore::ControllerId(const tHistController &c) {
    Start();
    QSqlQuery q(Db());
    const auto find = [&] {
        q.prepare(QStringLiteral("SELECT id FROM controller WHERE port = ? AND address = ? AND "
                                 "model = ? AND firmware = ?"));
        q.addBindValue(Text(c.port));
        q.addBindValue(c.address);
        q.addBindValue(Text(c.model));
        q.addBindValue(Text(c.firmware));
        return q.exec() && q.next() ? q.value(0).toLongLong() : int64_t(0);
    };
    if (const int64_t id = find())
        return id;
    if (FReadOnly)
        return Fail(readOnlyText, QString()), 0;
    q.prepare(QStringLiteral("INSERT OR IGNORE INTO controller(port, address, model, firmware) "
                             "VALUES(?, ?, ?, ?)"));
    q.addBindValue(Text(c.port));
    q.addBindValue(c.address);
    q.addBindValue(Text(c.model));
    q.addBindValue(Text(c.firmware));
    if (!q.exec())
        return Fail(QStringLiteral("Falha ao gravar no histórico"), q.lastError()), 0;
    return find();
}

bool tHistoryStore::Begin() {
    Start();
    if (FReadOnly)
        return Fail(readOnlyText, QString());
    QSqlQuery q(Db());
    if (!q.exec(QStringLiteral("BEGIN IMMEDIATE")))
        return Fail(QStringLiteral("Falha ao gravar no histórico"), q.lastError());
    FDepth = 1;
    return true;
}

bool tHistoryStore::Commit() {
    Start();
    QSqlQuery q(Db());
    FDepth = 0;
    if (q.exec(QStringLiteral("COMMIT")))
        return true;
    const QSqlError why = q.lastError();
    q.exec(QStringLiteral("ROLLBACK"));
    return Fail(QStringLiteral("Falha ao gravar no histórico"), why);
}

bool tHistoryStore::AddReading(const tHistReading &r) {
    Start();
    if (FReadOnly)
        return Fail(readOnlyText, QString());
    QSqlQuery q(Db());
    // seq: one above any reading of the same millisecond, in the same
    // statement so two writers cannot pick the same one.
    q.prepare(QStringLiteral(
        "INSERT INTO reading(ctl, t, seq, off, unit, s0, v0, s1, v1, s2, v2, s3, v3, r0, r1, r2, "
        "r3, result, rtt) VALUES(:c, :t, (SELECT count(*) FROM reading WHERE ctl = :c AND t = "
        ":t), :off, :unit, :s0, :v0, :s1, :v1, :s2, :v2, :s3, :v3, :r0, :r1, :r2, :r3, :res, "
        ":rtt)"));
    q.bindValue(QStringLiteral(":c"), qint64(r.controller));
    q.bindValue(QStringLiteral(":t"), qint64(r.utcMs));
    q.bindValue(QStringLiteral(":off"), r.offsetSec);
    q.bindValue(QStringLiteral(":unit"), r.unit);
    for (int k = 0; k < 4; ++k) {
        q.bindValue(QStringLiteral(":s%1").arg(k), r.state[k]);
        q.bindValue(QStringLiteral(":v%1").arg(k),
                    r.state[k] == stsTEMP_OK ? QVariant(r.value[k]) : QVariant());
        q.bindValue(QStringLiteral(":r%1").arg(k), r.relay[k]);
    }
    q.bindValue(QStringLiteral(":res"), r.result);
    q.bindValue(QStringLiteral(":rtt"), r.roundTripMs);
    if (!q.exec())
        return Fail(QStringLiteral("Falha ao gravar no histórico"), q.lastError());
    return true;
}

bool tHistoryStore::AddLogSlot(const tHistLogSlot &s, bool *isNew) {
    Start();
    if (isNew)
        *isNew = false;
    if (FReadOnly)
        return Fail(readOnlyText, QString());
    QSqlQuery q(Db());
    q.prepare(QStringLiteral("INSERT OR IGNORE INTO log_slot(ctl, slot, event, sensor1, sensor2, "
                             "year, month, mday, hour, min, sec, read_t) VALUES(?, ?, ?, ?, ?, ?, "
                             "?, ?, ?, ?, ?, ?)"));
    for (const QVariant &v :
         {QVariant(qint64(s.controller)), QVariant(s.slot), QVariant(s.event), QVariant(s.sensor1),
          QVariant(s.sensor2), QVariant(s.year), QVariant(s.month), QVariant(s.mday),
          QVariant(s.hour), QVariant(s.min), QVariant(s.sec), QVariant(qint64(s.readUtcMs))})
        q.addBindValue(v);
    if (!q.exec())
        return Fail(QStringLiteral("Falha ao gravar no histórico"), q.lastError());
    if (isNew)
        *isNew = q.numRowsAffected() > 0;
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
    return write.Commit();
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
    tHistReading r = e.reading;
    r.controller = ControllerId(e.controller);
    if (!r.controller || !AddReading(r))
        return 0;
    QSqlQuery q(Db());
    q.prepare(QStringLiteral(
        "INSERT INTO publish_queue(target, ctl, t, seq, sensors, relays, lo0, hi0, lo1, hi1, "
        "lo2, hi2, lo3, hi3, op0, op1, op2, op3) VALUES(?, ?, ?, (SELECT max(seq) FROM reading "
        "WHERE ctl = ? AND t = ?), ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    q.addBindValue(qint64(target));
    q.addBindValue(qint64(r.controller));
    q.addBindValue(qint64(r.utcMs));
    q.addBindValue(qint64(r.controller));
    q.addBindValue(qint64(r.utcMs));
    q.addBindValue(e.sensors);
    q.addBindValue(e.relays);
    for (int k = 0; k < 4; ++k) {
        q.addBindValue(e.low[k]);
        q.addBindValue(e.high[k]);
    }
    for (int k = 0; k < 4; ++k)
        q.addBindValue(e.operation[k]);
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
        e.reading.controller = q.value(1).toLongLong();
        e.reading.utcMs = q.value(2).toLongLong();
        e.sensors = q.value(3).toInt();
        e.relays = q.value(4).toInt();
        for (int k = 0; k < 4; ++k) {
            e.low[k] = q.value(5 + 2 * k).toInt();
            e.high[k] = q.value(6 + 2 * k).toInt();
            e.operation[k] = q.value(13 + k).toInt();
        }
        e.controller = {e.reading.controller, q.value(17).toString(), q.value(18).toInt(),
                        q.value(19).toString(), q.value(20).toString()};
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

std::vector<tHistReading> tHistoryStore::Readings(int64_t controller, int64_t fromMs,
                                                  int64_t toMs) {
    Start();
    std::vector<tHistReading> out;
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
        tHistReading r{.controller = controller, .utcMs = q.value(0).toLongLong()};
        ReadingColumns(q, 1, r);
        out.push_back(r);
    }
    if (!Walked(q))
        return {};
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
// One sensor's valid readings of a range in the wanted unit, with the time
// each one stands for.
struct tPoint {
    int64_t t;
    int32_t off;
    int32_t v; // meaningful when valid
    bool valid;
};
} // namespace

static std::vector<tPoint> SensorPoints(QSqlDatabase db, int64_t controller, int sensor,
                                        int64_t fromMs, int64_t toMs, int32_t unit,
                                        QSqlError *error) {
    std::vector<tPoint> out;
    QSqlQuery q(db);
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT t, off, %1 FROM reading WHERE ctl = ? AND t >= ? AND t < ? "
                             "ORDER BY t, seq")
                  .arg(ValueExpr(sensor, unit)));
    q.addBindValue(qint64(controller));
    q.addBindValue(qint64(fromMs));
    q.addBindValue(qint64(toMs));
    if (!q.exec()) {
        *error = q.lastError();
        return out;
    }
    while (q.next())
        out.push_back({q.value(0).toLongLong(), q.value(1).toInt(), q.value(2).toInt(),
                       !q.value(2).isNull()});
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
    const std::vector<tPoint> points =
        SensorPoints(Db(), controller, sensor, fromMs, toMs, unit, &error);
    if (error.isValid())
        return Fail(QStringLiteral("Falha ao ler o histórico"), error), out;
    double sum = 0;
    for (size_t i = 0; i < points.size(); ++i) {
        const tPoint &p = points[i];
        if (!p.valid)
            continue;
        const int64_t localMs = p.t + int64_t(p.off) * 1000;
        const int64_t dayStart = localMs - ((localMs % 86400000) + 86400000) % 86400000;
        if (out.empty() || out.back().dayStartMs != dayStart - int64_t(p.off) * 1000) {
            if (!out.empty())
                out.back().mean = sum / out.back().count;
            sum = 0;
            tHistDay d;
            d.dayStartMs = dayStart - int64_t(p.off) * 1000;
            d.date = QDateTime::fromMSecsSinceEpoch(dayStart, Qt::UTC).date().toString(Qt::ISODate);
            d.min = d.max = p.v;
            out.push_back(d);
        }
        tHistDay &d = out.back();
        d.min = std::min(d.min, p.v);
        d.max = std::max(d.max, p.v);
        sum += p.v;
        ++d.count;
        if (Outside(p.v, limits)) {
            const int64_t next = i + 1 < points.size() ? points[i + 1].t : toMs;
            d.outsideMs += std::clamp<int64_t>(next - p.t, 0, maxGapMs);
        }
    }
    if (!out.empty())
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
