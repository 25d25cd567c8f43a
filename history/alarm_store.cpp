#include "alarm_store.h"

#include "temperature.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace {

// Marks appended after an episode's row.
enum tMark : int32_t { markEXTREME = 1, markEND = 2, markACK = 3 };

const QStringList schema{
    QStringLiteral("CREATE TABLE IF NOT EXISTS alarm_limit(id INTEGER PRIMARY KEY AUTOINCREMENT, "
                   "port TEXT NOT NULL, address INTEGER NOT NULL, sensor INTEGER NOT NULL, t "
                   "INTEGER NOT NULL, off INTEGER NOT NULL, removed INTEGER NOT NULL, lo "
                   "INTEGER, hi INTEGER, delay_min INTEGER NOT NULL, hyst INTEGER NOT NULL, unit "
                   "INTEGER NOT NULL, user TEXT NOT NULL)"),
    QStringLiteral("CREATE INDEX IF NOT EXISTS alarm_limit_place ON alarm_limit(port, address, "
                   "sensor, id)"),
    QStringLiteral("CREATE TABLE IF NOT EXISTS alarm_episode(id INTEGER PRIMARY KEY "
                   "AUTOINCREMENT, port TEXT NOT NULL, address INTEGER NOT NULL, ctl INTEGER NOT "
                   "NULL, sensor INTEGER NOT NULL, condition TEXT NOT NULL, start_t INTEGER NOT "
                   "NULL, off INTEGER NOT NULL, opened_t INTEGER NOT NULL, value INTEGER, unit "
                   "INTEGER NOT NULL, lo INTEGER, hi INTEGER)"),
    QStringLiteral("CREATE INDEX IF NOT EXISTS alarm_episode_start ON alarm_episode(start_t)"),
    QStringLiteral("CREATE TABLE IF NOT EXISTS alarm_mark(id INTEGER PRIMARY KEY AUTOINCREMENT, "
                   "episode INTEGER NOT NULL REFERENCES alarm_episode(id), kind INTEGER NOT "
                   "NULL, t INTEGER NOT NULL, off INTEGER NOT NULL, value INTEGER, user TEXT NOT "
                   "NULL, comment TEXT NOT NULL)"),
    QStringLiteral("CREATE INDEX IF NOT EXISTS alarm_mark_episode ON alarm_mark(episode, kind)"),
};

QVariant Optional(const std::optional<int32_t> &v) {
    return v ? QVariant(*v) : QVariant(QMetaType(QMetaType::Int));
}
std::optional<int32_t> OptionalOf(const QVariant &v) {
    return v.isNull() ? std::nullopt : std::optional(v.toInt());
}
QString Text(const QString &s) {
    return s.isNull() ? QStringLiteral("") : s;
}

// The episode's columns, its end and its extreme (the furthest of its own
// value and every mark's, whoever wrote them).
const QString episodeSelect = QStringLiteral(
    "SELECT * FROM (SELECT e.id, e.port, e.address, e.sensor, e.condition, e.start_t, e.off, "
    "e.opened_t, e.unit, e.lo, e.hi, (SELECT min(t) FROM alarm_mark WHERE episode = e.id AND "
    "kind = 2) AS end_t, CASE e.condition WHEN 'minimo' THEN (SELECT min(coalesce(min(value), "
    "e.value), e.value) FROM alarm_mark WHERE episode = e.id AND kind IN (1, 2)) ELSE (SELECT "
    "max(coalesce(max(value), e.value), e.value) FROM alarm_mark WHERE episode = e.id AND kind "
    "IN (1, 2)) END AS extreme, e.ctl FROM alarm_episode e) ");
} // namespace

QString AlarmLimitText(const std::optional<int32_t> &tenths, int32_t unit) {
    return tenths ? tenthsText(*tenths) + unitText(unit) : QStringLiteral("—");
}

tAlarmStore::tAlarmStore(tHistoryStore &store) : FStore(store) {}

bool tAlarmStore::Fail(const QString &why) {
    FFailed = true;
    FMessage = QStringLiteral("Falha nos alarmes do histórico: %1").arg(why);
    return false;
}

bool tAlarmStore::Ready() {
    FFailed = false;
    if (FReady)
        return true;
    if (!FStore.IsOpen())
        return Fail(QStringLiteral("o histórico não está aberto"));
    QSqlQuery q(QSqlDatabase::database(FStore.ConnectionName(), false));
    if (FStore.ReadOnly()) {
        // A newer file: read what is there, write nothing.
        FReady = q.exec(QStringLiteral("SELECT 1 FROM alarm_episode LIMIT 1"));
        return FReady || Fail(q.lastError().text());
    }
    for (const QString &sql : schema)
        if (!q.exec(sql))
            return Fail(q.lastError().text());
    FReady = true;
    return true;
}

tAlarmSettings tAlarmStore::Settings(const QString &port, int32_t address) {
    tAlarmSettings s;
    for (const tAlarmLimitEntry &e : Limits(port, address)) {
        if (e.sensor == 0)
            s.noAnswerMin = e.limits.delayMin;
        else if (e.sensor >= 1 && e.sensor <= 4)
            s.sensor[size_t(e.sensor - 1)] = e.limits;
    }
    return s;
}

std::vector<tAlarmLimitEntry> tAlarmStore::Limits(const QString &port, int32_t address) {
    std::vector<tAlarmLimitEntry> out;
    if (!Ready())
        return out;
    QSqlQuery q(QSqlDatabase::database(FStore.ConnectionName(), false));
    q.prepare(QStringLiteral(
        "SELECT port, address, sensor, lo, hi, delay_min, hyst, unit, t, user FROM alarm_limit "
        "WHERE id IN (SELECT max(id) FROM alarm_limit GROUP BY port, address, sensor) AND "
        "removed = 0 AND (:p = '' OR port = :p) AND (:a < 0 OR address = :a) ORDER BY port, "
        "address, sensor"));
    q.bindValue(QStringLiteral(":p"), Text(port));
    q.bindValue(QStringLiteral(":a"), address);
    if (!q.exec()) {
        Fail(q.lastError().text());
        return out;
    }
    while (q.next())
        out.push_back({.port = q.value(0).toString(),
                       .address = q.value(1).toInt(),
                       .sensor = q.value(2).toInt(),
                       .limits = {.low = OptionalOf(q.value(3)),
                                  .high = OptionalOf(q.value(4)),
                                  .delayMin = q.value(5).toInt(),
                                  .hysteresis = q.value(6).toInt(),
                                  .unit = q.value(7).toInt()},
                       .utcMs = q.value(8).toLongLong(),
                       .user = q.value(9).toString()});
    return out;
}

bool tAlarmStore::SetLimits(const QString &port, int32_t address, int32_t sensor,
                            const std::optional<tAlarmLimits> &limits, const QString &user,
                            int64_t utcMs, int32_t offsetSec) {
    if (!Ready())
        return false;
    if (FStore.ReadOnly())
        return Fail(QStringLiteral("o histórico está aberto somente para leitura"));
    QSqlQuery q(QSqlDatabase::database(FStore.ConnectionName(), false));
    q.prepare(QStringLiteral(
        "SELECT id FROM controller WHERE port = ? AND address = ? ORDER BY id DESC LIMIT 1"));
    q.addBindValue(Text(port));
    q.addBindValue(address);
    if (!q.exec())
        return Fail(q.lastError().text());
    if (!q.next())
        return Fail(QStringLiteral("nenhum controlador do histórico em %1 endereço %2")
                        .arg(port)
                        .arg(address));
    const int64_t controller = q.value(0).toLongLong();
    q.finish();

    // The audit row names what changed, in the words the pages use.
    std::optional<tAlarmLimits> before;
    for (const tAlarmLimitEntry &e : Limits(port, address))
        if (e.sensor == sensor)
            before = e.limits;
    const QString n = sensor ? QString::number(sensor) : QString();
    tHistAudit audit{.controller = controller,
                     .utcMs = utcMs,
                     .offsetSec = offsetSec,
                     .user = user,
                     .command = sensor
                                    ? QStringLiteral("Limites de alarme do sensor %1").arg(sensor)
                                    : QStringLiteral("Limite de alarme sem resposta"),
                     .fields = {}};
    const auto field = [&](const QString &code, const QString &was, const QString &now) {
        if (was != now)
            audit.fields.push_back({code, was, now});
    };
    const auto minutes = [](const std::optional<tAlarmLimits> &l, int32_t fallback) {
        return QStringLiteral("%1 min").arg(l ? l->delayMin : fallback);
    };
    if (sensor == 0) {
        field(QStringLiteral("SEMRESP"), minutes(before, defaultNoAnswerMin),
              minutes(limits, defaultNoAnswerMin));
    } else {
        const int32_t unitBefore = before ? before->unit : 0, unitNow = limits ? limits->unit : 0;
        field(QStringLiteral("MIN") + n,
              AlarmLimitText(before ? before->low : std::nullopt, unitBefore),
              AlarmLimitText(limits ? limits->low : std::nullopt, unitNow));
        field(QStringLiteral("MAX") + n,
              AlarmLimitText(before ? before->high : std::nullopt, unitBefore),
              AlarmLimitText(limits ? limits->high : std::nullopt, unitNow));
        field(QStringLiteral("ATRASO") + n, minutes(before, 0), minutes(limits, 0));
        const tAlarmLimits none;
        field(QStringLiteral("HIST") + n,
              tenthsText((before ? *before : none).hysteresis) +
                  unitText(before ? before->unit : unitNow),
              tenthsText((limits ? *limits : none).hysteresis) + unitText(unitNow));
    }
    if (audit.fields.empty())
        return true; // nothing changes
    if (!FStore.AddAudit(audit))
        return Fail(FStore.Message());
    const tAlarmLimits l = limits.value_or(tAlarmLimits{});
    q.prepare(QStringLiteral(
        "INSERT INTO alarm_limit(port, address, sensor, t, off, removed, lo, hi, delay_min, hyst, "
        "unit, user) VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    for (const QVariant &v :
         {QVariant(Text(port)), QVariant(address), QVariant(sensor), QVariant(qint64(utcMs)),
          QVariant(offsetSec), QVariant(limits ? 0 : 1), Optional(l.low), Optional(l.high),
          QVariant(l.delayMin), QVariant(l.hysteresis), QVariant(l.unit), QVariant(Text(user))})
        q.addBindValue(v);
    return q.exec() || Fail(q.lastError().text());
}

int64_t tAlarmStore::Open(const QString &port, int32_t address, int64_t controller,
                          const tAlarmChange &c, int32_t offsetSec, const tAlarmLimits &limits) {
    if (!Ready())
        return 0;
    QSqlQuery q(QSqlDatabase::database(FStore.ConnectionName(), false));
    // Under the file's write lock: two programs recording one controller
    // open one episode between them.
    if (!q.exec(QStringLiteral("BEGIN IMMEDIATE")))
        return Fail(q.lastError().text()), 0;
    const auto failed = [&] {
        Fail(q.lastError().text());
        q.exec(QStringLiteral("ROLLBACK"));
        return int64_t(0);
    };
    q.prepare(QStringLiteral(
        "SELECT id FROM alarm_episode e WHERE port = ? AND address = ? AND sensor = ? AND "
        "condition = ? AND NOT EXISTS(SELECT 1 FROM alarm_mark WHERE episode = e.id AND kind = "
        "2) ORDER BY id DESC LIMIT 1"));
    q.addBindValue(Text(port));
    q.addBindValue(address);
    q.addBindValue(c.sensor);
    q.addBindValue(AlarmConditionWord(c.condition));
    if (!q.exec())
        return failed();
    int64_t id = q.next() ? q.value(0).toLongLong() : 0;
    q.finish();
    if (!id) {
        const bool range =
            c.condition == tAlarmCondition::Low || c.condition == tAlarmCondition::High;
        q.prepare(QStringLiteral(
            "INSERT INTO alarm_episode(port, address, ctl, sensor, condition, start_t, off, "
            "opened_t, value, unit, lo, hi) VALUES(?, ?, coalesce(nullif(?, 0), (SELECT max(id) "
            "FROM controller WHERE port = ? AND address = ?), 0), ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
        for (const QVariant &v :
             {QVariant(Text(port)), QVariant(address), QVariant(qint64(controller)),
              QVariant(Text(port)), QVariant(address), QVariant(c.sensor),
              QVariant(AlarmConditionWord(c.condition)), QVariant(qint64(c.startMs)),
              QVariant(offsetSec), QVariant(qint64(c.atMs)), Optional(c.extreme), QVariant(c.unit),
              Optional(range ? limits.low : std::nullopt),
              Optional(range ? limits.high : std::nullopt)})
            q.addBindValue(v);
        if (!q.exec())
            return failed();
        id = q.lastInsertId().toLongLong();
    }
    if (!q.exec(QStringLiteral("COMMIT")))
        return failed();
    return id;
}

namespace {
bool AddMark(QSqlQuery &q, int64_t episode, tMark kind, int64_t utcMs, std::optional<int32_t> value,
             const tAlarmAck &ack = {}) {
    // An end is written once, whoever judged it first.
    q.prepare(QStringLiteral(
        "INSERT INTO alarm_mark(episode, kind, t, off, value, user, comment) SELECT ?, ?, ?, ?, "
        "?, ?, ? WHERE ? <> 2 OR NOT EXISTS(SELECT 1 FROM alarm_mark WHERE episode = ? AND kind "
        "= 2)"));
    for (const QVariant &v :
         {QVariant(qint64(episode)), QVariant(int32_t(kind)), QVariant(qint64(utcMs)),
          QVariant(ack.offsetSec), Optional(value), QVariant(Text(ack.user)),
          QVariant(Text(ack.comment)), QVariant(int32_t(kind)), QVariant(qint64(episode))})
        q.addBindValue(v);
    return q.exec();
}
} // namespace

bool tAlarmStore::Extreme(int64_t episode, int64_t utcMs, int32_t value) {
    if (!Ready() || FStore.ReadOnly())
        return false;
    QSqlQuery q(QSqlDatabase::database(FStore.ConnectionName(), false));
    return AddMark(q, episode, markEXTREME, utcMs, value) || Fail(q.lastError().text());
}

bool tAlarmStore::End(int64_t episode, int64_t utcMs, std::optional<int32_t> extreme) {
    if (!Ready() || FStore.ReadOnly())
        return false;
    QSqlQuery q(QSqlDatabase::database(FStore.ConnectionName(), false));
    return AddMark(q, episode, markEND, utcMs, extreme) || Fail(q.lastError().text());
}

bool tAlarmStore::Acknowledge(int64_t episode, const tAlarmAck &ack) {
    if (!Ready())
        return false;
    if (FStore.ReadOnly())
        return Fail(QStringLiteral("o histórico está aberto somente para leitura"));
    const std::optional<tAlarmEpisode> e = Episode(episode);
    if (!e)
        return Fail(QStringLiteral("não há alarme número %1").arg(episode));
    if (e->controller &&
        !FStore.AddAudit({.controller = e->controller,
                          .utcMs = ack.utcMs,
                          .offsetSec = ack.offsetSec,
                          .user = ack.user,
                          .command = QStringLiteral("Alarme %1 reconhecido").arg(episode),
                          .fields = {{QStringLiteral("COMENTARIO"), QString(), ack.comment}}}))
        return Fail(FStore.Message());
    QSqlQuery q(QSqlDatabase::database(FStore.ConnectionName(), false));
    return AddMark(q, episode, markACK, ack.utcMs, std::nullopt, ack) || Fail(q.lastError().text());
}

std::vector<tAlarmEpisode> tAlarmStore::Query(const QString &where, const QVariantList &binds) {
    std::vector<tAlarmEpisode> out;
    if (!Ready())
        return out;
    QSqlQuery q(QSqlDatabase::database(FStore.ConnectionName(), false));
    q.prepare(episodeSelect + where + QStringLiteral(" ORDER BY start_t, id"));
    for (const QVariant &v : binds)
        q.addBindValue(v);
    if (!q.exec()) {
        Fail(q.lastError().text());
        return out;
    }
    while (q.next()) {
        tAlarmEpisode e{
            .id = q.value(0).toLongLong(),
            .port = q.value(1).toString(),
            .address = q.value(2).toInt(),
            .sensor = q.value(3).toInt(),
            .condition =
                AlarmConditionOfWord(q.value(4).toString()).value_or(tAlarmCondition::High),
            .startMs = q.value(5).toLongLong(),
            .offsetSec = q.value(6).toInt(),
            .openedMs = q.value(7).toLongLong(),
            .unit = q.value(8).toInt(),
            .low = OptionalOf(q.value(9)),
            .high = OptionalOf(q.value(10))};
        if (!q.value(11).isNull())
            e.endMs = q.value(11).toLongLong();
        e.extreme = OptionalOf(q.value(12));
        e.controller = q.value(13).toLongLong();
        out.push_back(std::move(e));
    }
    q.prepare(QStringLiteral("SELECT t, off, user, comment FROM alarm_mark WHERE episode = ? AND "
                             "kind = 3 ORDER BY id"));
    for (tAlarmEpisode &e : out) {
        q.addBindValue(qint64(e.id));
        if (!q.exec()) {
            Fail(q.lastError().text());
            return {};
        }
        while (q.next())
            e.acks.push_back({q.value(0).toLongLong(), q.value(1).toInt(), q.value(2).toString(),
                              q.value(3).toString()});
    }
    return out;
}

std::vector<tAlarmEpisode> tAlarmStore::Episodes(int64_t fromMs, int64_t toMs, const QString &port,
                                                 int32_t address) {
    return Query(QStringLiteral("WHERE start_t < ? AND (end_t IS NULL OR end_t >= ?) AND (? = '' "
                                "OR port = ?) AND (? < 0 OR address = ?)"),
                 {qint64(toMs), qint64(fromMs), Text(port), Text(port), address, address});
}

std::vector<tAlarmEpisode> tAlarmStore::OpenEpisodes(const QString &port, int32_t address) {
    return Query(QStringLiteral("WHERE end_t IS NULL AND (? = '' OR port = ?) AND (? < 0 OR "
                                "address = ?)"),
                 {Text(port), Text(port), address, address});
}

std::optional<tAlarmEpisode> tAlarmStore::Episode(int64_t id) {
    std::vector<tAlarmEpisode> one = Query(QStringLiteral("WHERE id = ?"), {qint64(id)});
    if (one.empty())
        return std::nullopt;
    return one.front();
}

tAlarmMonitor::tAlarmMonitor(tHistoryStore &store, tReport report, tChanged changed)
    : FAlarms(store), FReport(std::move(report)), FChanged(std::move(changed)) {}

std::vector<tAlarmActive> tAlarmMonitor::Active(const QString &port, int32_t address) const {
    const auto it = FPlaces.find({port, address});
    return it == FPlaces.end() ? std::vector<tAlarmActive>{} : it->second.judge.Active();
}

void tAlarmMonitor::Observe(const tHistController &where, int64_t controller,
                            const tStatusReading &reading) {
    tPlace &place = FPlaces[{where.port, where.address}];
    const int64_t now = reading.utcMs;
    bool ok = true;
    if (!place.loadedMs || now - place.loadedMs >= reloadMs || now < place.loadedMs) {
        const tAlarmSettings settings = FAlarms.Settings(where.port, where.address);
        ok = !FAlarms.LastFailed();
        if (ok) // else the limits known before go on
            place.judge.SetSettings(settings);
        place.loadedMs = now;
    }
    if (!place.resumed && FAlarms.Ready()) {
        for (const tAlarmEpisode &e : FAlarms.OpenEpisodes(where.port, where.address)) {
            place.judge.Resume({e.sensor, e.condition, e.startMs, e.extreme, e.unit});
            place.episodes[{e.sensor, int32_t(e.condition)}] = e.id;
        }
        place.resumed = true;
    }
    std::vector<tAlarmChange> changes;
    place.judge.Judge(AlarmReadingOf(reading), changes);
    for (const tAlarmChange &c : changes) {
        const std::pair<int32_t, int32_t> key{c.sensor, int32_t(c.condition)};
        const tAlarmLimits limits =
            c.sensor >= 1 ? place.judge.Settings().sensor[size_t(c.sensor - 1)] : tAlarmLimits{};
        int64_t &id = place.episodes[key];
        switch (c.kind) {
        case tAlarmChange::Opened:
            id = FAlarms.Open(where.port, where.address, controller, c, reading.offsetSec, limits);
            ok = ok && id;
            break;
        case tAlarmChange::Extreme:
            ok = ok && (!id || FAlarms.Extreme(id, c.atMs, *c.extreme));
            break;
        case tAlarmChange::Closed:
            ok = ok && (!id || FAlarms.End(id, c.atMs, c.extreme));
            break;
        }
        if (c.kind != tAlarmChange::Extreme && FChanged) {
            const bool range =
                c.condition == tAlarmCondition::Low || c.condition == tAlarmCondition::High;
            tAlarmEpisode e{.id = id,
                            .port = where.port,
                            .address = where.address,
                            .sensor = c.sensor,
                            .condition = c.condition,
                            .startMs = c.startMs,
                            .offsetSec = reading.offsetSec,
                            .openedMs = c.atMs,
                            .extreme = c.extreme,
                            .unit = c.unit,
                            .low = range ? limits.low : std::nullopt,
                            .high = range ? limits.high : std::nullopt};
            if (c.kind == tAlarmChange::Closed)
                e.endMs = c.atMs;
            FChanged(e, c.kind == tAlarmChange::Opened);
        }
        if (c.kind == tAlarmChange::Closed)
            place.episodes.erase(key);
    }
    if (!ok && !FFailing)
        FReport(FAlarms.Message());
    FFailing = !ok;
}
