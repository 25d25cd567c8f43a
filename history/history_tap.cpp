#include "history_tap.h"

#include "config_sync.h"
#include "event_log.h"
#include "history_writer.h"
#include "param_fields.h"
#include "relay_params.h"
#include "system_params.h"
#include "temperature.h"

#include <QDateTime>

#ifdef Q_OS_UNIX
#include <pwd.h>
#include <unistd.h>
#endif

#include <array>
#include <iterator>

namespace {

// How a write's registers read as fields.
enum class tLayout : uint8_t {
    None,        // a trigger: the command is the whole of it
    System,      // System[start - base + i], the clock's formats included
    Ops,         // relay i's operation code
    Relay,       // a relay's parameter block
    Date,        // year, month, day, weekday
    Time,        // hour, minute, second
    Calibration, // CalVal in two words, CalDir
    Relays,      // one word, bit r switching relay r
};

struct tAuditRow {
    tCommand cmd;
    const char *text; // what the trail calls it
    tLayout layout;
    int32_t base = 0; // the register of the layout's first entry
    int relay = -1;   // Relay: whose block
};

// Every write a user can cause; selecting a log slot to read is not one.
constexpr tAuditRow auditRows[] = {
    {cmdRST_STAT_TEMP, "Reiniciar estatísticas", tLayout::None},
    {cmdSET_STANDARD, "Padrão de fábrica", tLayout::None},
    {cmdSET_LOG_CLEAR, "Apagar LOG", tLayout::None},
    {cmdSET_RTC_DATE, "Relógio: data", tLayout::Date, 0xA010},
    {cmdSET_RTC_TIME, "Relógio: hora", tLayout::Time, 0xA014},
    {cmdSET_RTC_FORMAT, "Relógio: formato", tLayout::System, 0x0020},
    {cmdSET_RTC_CAL, "Relógio: calibração", tLayout::Calibration, 0xA017},
    {cmdSET_RTC_CLKOUT, "Relógio: saída de calibração", tLayout::None},
    {cmdSET_PAR_SYSTEM, "Parâmetros de sistema", tLayout::System, 0x0020},
    {cmdSET_PAR_opRELAYS, "Operações dos relés", tLayout::Ops, 0x0003},
    {cmdSET_RELAYS, "Saídas dos relés", tLayout::Relays, 0xA002},
    {cmdSET_PAR_RELAY1, "Parâmetros do relé 1", tLayout::Relay, 0x0400, 0},
    {cmdSET_PAR_RELAY2, "Parâmetros do relé 2", tLayout::Relay, 0x0500, 1},
    {cmdSET_PAR_RELAY3, "Parâmetros do relé 3", tLayout::Relay, 0x0600, 2},
    {cmdSET_PAR_RELAY4, "Parâmetros do relé 4", tLayout::Relay, 0x0700, 3},
};

const tAuditRow *auditRow(tCommand cmd) {
    for (const tAuditRow &row : auditRows)
        if (row.cmd == cmd)
            return &row;
    return nullptr;
}

// The relays' state words in the status block; bit 14 is the relay on.
constexpr int32_t regRELAY_STATE = 0x0200;
constexpr uint16_t relayOnBit = 0x4000;

const QString unknown = QStringLiteral("desconhecido");

// What the tap saw before a write, beyond the driver's registers.
struct tSeenBefore {
    std::array<int32_t, 4> relays{-1, -1, -1, -1}; // each relay on (1), off (0), not seen (-1)
    // The unit relay r's block was last seen in (-1: the controller's now):
    // a unit change converts the blocks on the controller, not what was seen.
    std::array<int32_t, 4> relayUnit{-1, -1, -1, -1};
};

// One value of the write: after, and before when seen.
struct tValue {
    std::optional<int32_t> before;
    int32_t after = 0;
};

// Words `at` (and `at + 1` for a 32-bit value, low word first) of the write.
tValue wordsAt(const tWrite &w, size_t at, bool wide, bool isSigned) {
    tValue v;
    if (wide) {
        v.after = int32_t(uint32_t(w.after[at]) | uint32_t(w.after[at + 1]) << 16);
        if (w.before[at] >= 0 && w.before[at + 1] >= 0)
            v.before = int32_t(uint32_t(w.before[at]) | uint32_t(w.before[at + 1]) << 16);
        return v;
    }
    auto word = [isSigned](uint32_t x) { return isSigned ? int32_t(int16_t(x)) : int32_t(x); };
    v.after = word(w.after[at]);
    if (w.before[at] >= 0)
        v.before = word(uint32_t(w.before[at]));
    return v;
}

struct tFieldsOut {
    std::vector<tHistAuditField> &fields;

    // A field sent as it was seen is no change; one never seen may be.
    void add(const QString &code, const tValue &v, const std::function<QString(int32_t)> &text) {
        add(code, v, text, text);
    }
    void add(const QString &code, const tValue &v, const std::function<QString(int32_t)> &oldText,
             const std::function<QString(int32_t)> &newText) {
        if (v.before && *v.before == v.after)
            return;
        fields.push_back({code, v.before ? oldText(*v.before) : unknown, newText(v.after)});
    }
};

QString fieldValueText(const tParamField *f, int32_t v, int32_t unit) {
    if (!f)
        return QString::number(v);
    QString text = fieldText(*f, v);
    if (f->kind == tFieldKind::Tenths)
        text += unitText(unit);
    return text;
}

void systemFields(const tWrite &w, const tAuditRow &row, const tOndrel &dev, tFieldsOut out) {
    // Values are in the unit they were set in: the old ones in the
    // controller's, the new ones in the unit this write sets.
    const int32_t oldUnit = dev.TempUnit();
    int32_t newUnit = oldUnit;
    const int32_t unitAt = row.base + idxTST - w.start;
    if (unitAt >= 0 && unitAt < int32_t(w.after.size()))
        newUnit = w.after[size_t(unitAt)] == 1 ? tempFAHRENHEIT : tempCELSIUS;
    for (size_t i = 0; i < w.after.size(); ++i) {
        const int index = w.start - row.base + int(i);
        const tParamField *f = SystemFieldAt(index);
        const tValue v = wordsAt(w, i, false, true);
        if (!f && !v.before)
            continue; // an entry no page shows, never seen: nothing to say
        const QString code = f ? FieldCode(*f) : QStringLiteral("System[%1]").arg(index);
        out.add(
            code, v, [&](int32_t x) { return fieldValueText(f, x, oldUnit); },
            [&](int32_t x) { return fieldValueText(f, x, newUnit); });
    }
}

void opsFields(const tWrite &w, const tAuditRow &row, const tOndrel &dev, tFieldsOut out) {
    for (size_t i = 0; i < w.after.size(); ++i) {
        const int relay = w.start - row.base + int(i);
        if (relay >= dev.nRelay)
            continue;
        out.add(QStringLiteral("R%1.OP").arg(relay + 1), wordsAt(w, i, false, true), OperationText);
    }
}

// par[0..7] signed, par[8..15] unsigned, par[16..19] 32 bits in two words.
void relayFields(const tWrite &w, const tAuditRow &row, const tOndrel &dev, const tSeenBefore &seen,
                 tFieldsOut out) {
    constexpr size_t blockWords = 24;
    if (w.start != row.base || w.after.size() < blockWords)
        return;
    const QString prefix = QStringLiteral("R%1.").arg(row.relay + 1);
    const int32_t op = wordsAt(w, 0, false, true).after;
    out.add(prefix + QStringLiteral("OP"), wordsAt(w, 0, false, true), OperationText);
    const int32_t unit = dev.TempUnit();
    const int32_t seenUnit = seen.relayUnit[size_t(row.relay)];
    const int32_t oldUnit = seenUnit >= 0 ? seenUnit : unit;
    for (int i = 1; i <= nPAR_RELAY; ++i) {
        const bool wide = i >= 16;
        const size_t at = wide ? size_t(16 + 2 * (i - 16)) : size_t(i);
        const tValue v = wordsAt(w, at, wide, i < 8);
        // The new operation says what each entry means; an entry its page
        // does not show is no setting of it (a unit change converts those
        // too).
        const tParamField *f = RelayFieldAt(op, i);
        if (!f)
            continue;
        out.add(
            prefix + FieldCode(*f), v, [&](int32_t x) { return fieldValueText(f, x, oldUnit); },
            [&](int32_t x) { return fieldValueText(f, x, unit); });
    }
}

// Several words shown as one value ("10/12/2026"), known when all are.
void joinedField(const tWrite &w, const QString &code, size_t count,
                 const std::function<QString(const std::array<int32_t, 3> &)> &text,
                 tFieldsOut out) {
    if (w.after.size() < count)
        return;
    std::array<int32_t, 3> after{}, before{};
    bool known = true, same = true;
    for (size_t i = 0; i < count; ++i) {
        after[i] = w.after[i];
        before[i] = w.before[i];
        known = known && w.before[i] >= 0;
        same = same && w.before[i] == w.after[i];
    }
    if (known && same)
        return;
    out.fields.push_back({code, known ? text(before) : unknown, text(after)});
}

void calibrationFields(const tWrite &w, const tOndrel &, tFieldsOut out) {
    constexpr size_t words = 3;
    if (w.after.size() < words)
        return;
    const tFieldTable table = ClockCalibrationFields();
    const tParamField *val = fieldOf(table, idxCAL_VAL);
    const tParamField *dir = fieldOf(table, idxCAL_DIR);
    out.add(FieldCode(*val), wordsAt(w, 0, true, false),
            [val](int32_t x) { return fieldText(*val, x); });
    out.add(FieldCode(*dir), wordsAt(w, 2, false, false),
            [dir](int32_t x) { return fieldText(*dir, x); });
}

QString onOff(int32_t on) {
    return on ? QStringLiteral("ligado") : QStringLiteral("desligado");
}

// The relays switched, and the command named by them: "Relé 2 ligado".
void relaysFields(const tWrite &w, const tOndrel &dev, const std::array<int32_t, 4> &seen,
                  tHistAudit &a) {
    if (w.after.empty())
        return;
    QStringList switched;
    for (int r = 0; r < dev.nRelay && r < 4; ++r) {
        const tValue v{.before = seen[size_t(r)] >= 0 ? std::optional<int32_t>(seen[size_t(r)])
                                                      : std::nullopt,
                       .after = (w.after[0] >> r) & 1};
        const size_t before = a.fields.size();
        tFieldsOut{a.fields}.add(QStringLiteral("R%1").arg(r + 1), v, onOff);
        if (a.fields.size() > before)
            switched << QStringLiteral("%1 %2").arg(r + 1).arg(onOff(v.after));
    }
    if (switched.size() == 1)
        a.command = QStringLiteral("Relé ") + switched.front();
    else if (switched.size() > 1)
        a.command = QStringLiteral("Relés ") + switched.join(QStringLiteral(", "));
}

QString twoDigits(int32_t v) {
    return QStringLiteral("%1").arg(v, 2, 10, QLatin1Char('0'));
}

std::optional<tHistAudit> auditOf(const tWrite &w, const tOndrel &dev, const tSeenBefore &seen) {
    const tAuditRow *row = auditRow(w.cmd);
    if (!row || w.before.size() != w.after.size())
        return std::nullopt;
    tHistAudit a;
    a.command = QString::fromUtf8(row->text);
    tFieldsOut out{a.fields};
    switch (row->layout) {
    case tLayout::None:
        break;
    case tLayout::System:
        systemFields(w, *row, dev, out);
        break;
    case tLayout::Ops:
        opsFields(w, *row, dev, out);
        break;
    case tLayout::Relay:
        relayFields(w, *row, dev, seen, out);
        break;
    case tLayout::Date:
        joinedField(
            w, QStringLiteral("Data"), 3,
            [](const std::array<int32_t, 3> &d) {
                return QStringLiteral("%1/%2/%3").arg(twoDigits(d[2]), twoDigits(d[1])).arg(d[0]);
            },
            out);
        break;
    case tLayout::Time:
        joinedField(
            w, QStringLiteral("Hora"), 3,
            [](const std::array<int32_t, 3> &t) {
                return QStringLiteral("%1:%2:%3")
                    .arg(twoDigits(t[0]), twoDigits(t[1]), twoDigits(t[2]));
            },
            out);
        break;
    case tLayout::Calibration:
        calibrationFields(w, dev, out);
        break;
    case tLayout::Relays:
        relaysFields(w, dev, seen.relays, a);
        break;
    }
    return a;
}

tSeenBefore seenFromWrite(const tWrite &w) {
    tSeenBefore out;
    if (w.cmd == cmdSET_RELAYS && !w.before.empty() && w.before[0] >= 0)
        for (int r = 0; r < 4; ++r)
            out.relays[size_t(r)] = (w.before[0] >> r) & 1;
    return out;
}

} // namespace

QString OsUserName() {
#ifdef Q_OS_UNIX
    if (const passwd *pw = ::getpwuid(::getuid()); pw && pw->pw_name && *pw->pw_name)
        return QString::fromLocal8Bit(pw->pw_name);
#endif
    for (const char *name : {"USER", "USERNAME", "LOGNAME"})
        if (const QString user = qEnvironmentVariable(name); !user.isEmpty())
            return user;
    return QStringLiteral("desconhecido");
}

std::optional<tHistAudit> AuditOf(const tWrite &w, const tOndrel &dev) {
    return auditOf(w, dev, seenFromWrite(w));
}

tHistoryTap::tHistoryTap(tOndrel &dev, tHistorySink sink)
    : FDev(dev), FSink(std::move(sink)), FUser(OsUserName()) {
    FDev.AddObserver(this);
}

tHistoryTap::~tHistoryTap() {
    FDev.RemoveObserver(this);
}

void tHistoryTap::AboutToWrite(const tWrite &w) {
    FWrite = w;
    if (w.cmd == cmdSET_LOG_READ && !w.after.empty())
        FSelecting = w.after[0];
}

void tHistoryTap::Exchanged(const tExchange &e) {
    // A refusal was never announced nor sent: it pairs with nothing.
    if (e.result == errMODBUS_BUSY)
        return;
    const tHistController controller{0, FDev.PortName(), FDev.Address(), FDev.Model, FDev.Fimware};
    const int64_t now = QDateTime::currentMSecsSinceEpoch();
    switch (e.cmd) {
    case cmdGET_INFO:
        // Another session, perhaps another controller: nothing carried over.
        FSelected = -1;
        FRelays = {-1, -1, -1, -1};
        FRelayUnit = {-1, -1, -1, -1};
        break;
    case cmdGET_STATUS:
        if (e.result >= 0)
            for (int r = 0; r < 4; ++r) {
                const int32_t word = FDev.Seen(regRELAY_STATE + r);
                FRelays[size_t(r)] = word < 0 ? -1 : (word & relayOnBit) ? 1 : 0;
            }
        break;
    case cmdSET_LOG_READ:
        FSelected = e.result >= 0 ? FSelecting : -1;
        break;
    case cmdGET_LOG_READ:
        if (e.result >= 0 && FSelected >= 0 && LogSlotWritten(FDev.Log) && FSink.slot)
            FSink.slot(controller, HistLogSlotOf(0, FSelected, FDev.Log, now));
        break;
    default:
        break;
    }
    const tSeenBefore seen{.relays = FRelays, .relayUnit = FRelayUnit};
    // A relay block read or written holds values in the unit of now.
    if (e.result >= 0)
        for (int r = 0; r < 4; ++r)
            if (CommandShape(e.cmd).known & knownRelay(r))
                FRelayUnit[size_t(r)] = FDev.TempUnit();
    if (!FWrite || FWrite->cmd != e.cmd)
        return;
    const tWrite w = std::move(*FWrite);
    FWrite.reset();
    // Relays as last seen by a status read or a switching, whichever came last.
    if (w.cmd == cmdSET_RELAYS && e.result >= 0 && !w.after.empty())
        for (int r = 0; r < 4; ++r)
            FRelays[size_t(r)] = (w.after[0] >> r) & 1;
    std::optional<tHistAudit> audit = auditOf(w, FDev, seen);
    if (!audit || !FSink.audit)
        return;
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(now);
    audit->utcMs = now;
    audit->offsetSec = local.offsetFromUtc();
    audit->user = FUser;
    audit->result = e.result;
    FSink.audit(controller, *audit);
}

tHistoryFileSink::tHistoryFileSink(std::function<tHistoryStore &()> store, tReport report)
    : FStore(std::move(store)), FReport(std::move(report)) {}

bool tHistoryFileSink::Ready() {
    tHistoryStore &store = FStore();
    if (store.IsOpen() && !store.ReadOnly())
        return true;
    // A file that could not be opened may be openable now (a folder made,
    // a disk mounted); one from a newer version stays read-only.
    if (!store.IsOpen() && !store.Path().isEmpty())
        store.Open(store.Path());
    return store.IsOpen() && !store.ReadOnly();
}

void tHistoryFileSink::Stored(bool ok) {
    if (ok) {
        FFailing = false;
        return;
    }
    if (FFailing)
        return;
    FFailing = true;
    const QString why = FStore().Message();
    FReport(QStringLiteral("Histórico: gravações no Ondrel e LOG lido não estão sendo registrados "
                           "(%1)")
                .arg(why.isEmpty() ? QStringLiteral("arquivo indisponível") : why));
}

tHistorySink tHistoryFileSink::Sink() {
    return {.audit =
                [this](const tHistController &c, const tHistAudit &a) {
                    if (!Ready())
                        return Stored(false);
                    tHistoryStore &store = FStore();
                    tHistAudit stored = a;
                    stored.controller = store.ControllerId(c);
                    Stored(stored.controller && store.AddAudit(stored));
                },
            .slot =
                [this](const tHistController &c, const tHistLogSlot &s) {
                    if (!Ready())
                        return Stored(false);
                    tHistoryStore &store = FStore();
                    tHistLogSlot stored = s;
                    stored.controller = store.ControllerId(c);
                    Stored(stored.controller && store.AddLogSlot(stored));
                }};
}

tHistorySink WriterSink(std::function<tHistoryWriter &()> writer) {
    return {.audit =
                [writer](const tHistController &c, const tHistAudit &a) {
                    writer().Post([c, record = a](tHistoryStore &store) mutable {
                        record.controller = store.ControllerId(c);
                        return record.controller && store.AddAudit(record);
                    });
                },
            .slot =
                [writer](const tHistController &c, const tHistLogSlot &s) {
                    writer().Post([c, record = s](tHistoryStore &store) mutable {
                        record.controller = store.ControllerId(c);
                        return record.controller && store.AddLogSlot(record);
                    });
                }};
}
