#include "config_sync.h"

#include "relay_operations.h"
#include "relay_params.h"
#include "system_params.h"

#include <iterator>

namespace {

// The blocks a configuration is exchanged in, in the order they are written:
// the unit in the system block first, so that a controller which converts
// its relay parameters when the unit changes has done so before the relay
// blocks arrive in the file's unit.
struct tBlockRow {
    tCommand get;
    tCommand set;
    uint32_t known;
    int relay; // -1: not a relay's block
};

constexpr tBlockRow blockRows[] = {
    {cmdGET_PAR_SYSTEM, cmdSET_PAR_SYSTEM, knownSYSTEM, -1},
    {cmdGET_PAR_opRELAYS, cmdSET_PAR_opRELAYS, knownOPS, -1},
    {cmdGET_PAR_RELAY1, cmdSET_PAR_RELAY1, knownRelay(0), 0},
    {cmdGET_PAR_RELAY2, cmdSET_PAR_RELAY2, knownRelay(1), 1},
    {cmdGET_PAR_RELAY3, cmdSET_PAR_RELAY3, knownRelay(2), 2},
    {cmdGET_PAR_RELAY4, cmdSET_PAR_RELAY4, knownRelay(3), 3},
};

// Blocks of relays the model does not have are neither read nor written.
bool onModel(const tBlockRow &row, const tOndrel &dev) {
    return row.relay < dev.nRelay;
}

tTask<int32_t> send(tOndrel &dev, const tSyncIo &io, tCommand cmd, const QString &step) {
    if (io.progress)
        io.progress(step + ConfigBlockName(cmd));
    return io.send ? io.send(cmd) : Ready(dev.SendCommand(cmd));
}

bool failed(tSyncResult &r, tCommand cmd, int32_t result) {
    if (result >= 0)
        return false;
    r.result = result;
    r.failed = cmd;
    return true;
}

// Words travel as 16 bits, the timer set-points as 32: values equal on the
// wire are the same value, whatever the copy's upper bits.
bool sameOnWire(int32_t a, int32_t b, bool wide) {
    return wide ? a == b : (uint32_t(a) & 0xFFFF) == (uint32_t(b) & 0xFFFF);
}

QString difference(const QString &where, const tParamField *field, const QString &byIndex,
                   int32_t wanted, int32_t found) {
    auto text = [&](int32_t v) { return field ? fieldText(*field, v) : QString::number(v); };
    return QStringLiteral("%1: %2 arquivo %3 ≠ controlador %4")
        .arg(where, field ? FieldCode(*field) : byIndex, text(wanted), text(found));
}

} // namespace

// The code a page shows left of a control; the system page writes a few as
// "TT: Grandeza da Temperatura".
QString FieldCode(const tParamField &f) {
    const QString code = QString::fromUtf8(f.code);
    if (code.isEmpty() && f.kind == tFieldKind::SetPoint)
        return QStringLiteral("Timer %1").arg(f.index - idxTR_BASE + 1);
    return code.section(u':', 0, 0);
}

const tParamField *SystemFieldAt(int index) {
    if (const tParamField *f = fieldOf(SystemFields(), index))
        return f;
    return fieldOf(ClockFormatFields(), index);
}

const tParamField *RelayFieldAt(int32_t op, int index) {
    for (tFieldTable table : RelayFieldTables(op))
        if (const tParamField *f = fieldOf(table, index))
            return f;
    return nullptr;
}

// An operation by its name; a code without one by its number.
QString OperationText(int32_t code) {
    return code >= opNOP && code <= opTIMERIF ? OpRelayName(code)
                                              : QStringLiteral("código %1").arg(code);
}

tConfigValues ConfigOf(const tOndrel &dev) {
    tConfigValues v;
    v.System = dev.System;
    for (size_t r = 0; r < v.par.size(); ++r)
        v.par[r] = dev.Relay[r].par;
    return v;
}

QString ConfigBlockName(tCommand cmd) {
    switch (cmd) {
    case cmdGET_PAR_SYSTEM:
    case cmdSET_PAR_SYSTEM:
        return QStringLiteral("parâmetros de sistema");
    case cmdGET_PAR_opRELAYS:
    case cmdSET_PAR_opRELAYS:
        return QStringLiteral("operações dos relés");
    default:
        break;
    }
    for (const tBlockRow &row : blockRows)
        if (row.relay >= 0 && (cmd == row.get || cmd == row.set))
            return QStringLiteral("parâmetros do relé %1").arg(row.relay + 1);
    return QString();
}

QString ConfigBlockNames(const QList<tCommand> &cmds) {
    QStringList names;
    for (tCommand cmd : cmds)
        names << ConfigBlockName(cmd);
    return names.join(QStringLiteral(", "));
}

bool IsConfigWrite(tCommand cmd) {
    for (const tBlockRow &row : blockRows)
        if (cmd == row.set)
            return true;
    return false;
}

tTask<tSyncResult> ReadConfig(tOndrel &dev, tSyncIo io, bool onlyMissing) {
    tSyncResult r;
    for (const tBlockRow &row : blockRows) {
        if (!onModel(row, dev) || (onlyMissing && dev.IsKnown(row.known)))
            continue;
        tTask<int32_t> reply = send(dev, io, row.get, QStringLiteral("Lendo "));
        if (failed(r, row.get, co_await reply))
            co_return r;
    }
    co_return r;
}

tTask<tSyncResult> WriteConfig(tOndrel &dev, bool verify, tSyncIo io) {
    tTask<tSyncResult> write = WriteConfig(dev, ConfigOf(dev), verify, std::move(io));
    co_return co_await write;
}

tTask<tSyncResult> WriteConfig(tOndrel &dev, tConfigValues wanted, bool verify, tSyncIo io) {
    // The writes send what the copy holds.
    dev.System = wanted.System;
    for (size_t r = 0; r < wanted.par.size(); ++r)
        dev.Relay[r].par = wanted.par[r];
    tSyncResult r;
    for (const tBlockRow &row : blockRows) {
        if (!onModel(row, dev))
            continue;
        tTask<int32_t> reply = send(dev, io, row.set, QStringLiteral("Gravando "));
        if (failed(r, row.set, co_await reply))
            co_return r;
        r.written.append(row.set);
    }
    if (!verify)
        co_return r;
    // Read back only once everything is written: a later block may change an
    // earlier one on the controller (an operation code sits in both).
    for (const tBlockRow &row : blockRows) {
        if (!onModel(row, dev))
            continue;
        tTask<int32_t> reply = send(dev, io, row.get, QStringLiteral("Conferindo "));
        if (failed(r, row.get, co_await reply))
            co_return r;
    }
    r.differences = ConfigDifferences(wanted, ConfigOf(dev), dev.nRelay);
    co_return r;
}

tTask<tSyncResult> CompareConfig(tOndrel &dev, tConfigValues wanted, tSyncIo io) {
    tTask<tSyncResult> read = ReadConfig(dev, std::move(io));
    tSyncResult r = co_await read;
    if (r.result > 0)
        r.differences = ConfigDifferences(wanted, ConfigOf(dev), dev.nRelay);
    co_return r;
}

QStringList ConfigDifferences(const tConfigValues &wanted, const tConfigValues &found, int relays) {
    QStringList out;
    const QString system = QStringLiteral("Sistema");
    for (int i = 0; i < nSYSTEM_REGS; ++i) {
        const int32_t a = wanted.System[size_t(i)], b = found.System[size_t(i)];
        if (!sameOnWire(a, b, false))
            out << difference(system, SystemFieldAt(i), QStringLiteral("System[%1]").arg(i), a, b);
    }
    for (int r = 0; r < relays && r < int(std::size(wanted.par)); ++r) {
        const auto &a = wanted.par[size_t(r)];
        const auto &b = found.par[size_t(r)];
        const QString relay = QStringLiteral("Relé %1").arg(r + 1);
        if (!sameOnWire(a[0], b[0], false))
            out << QStringLiteral("%1: Operação arquivo %2 ≠ controlador %3")
                       .arg(relay, OperationText(a[0]), OperationText(b[0]));
        for (int i = 1; i <= nPAR_RELAY; ++i) {
            if (sameOnWire(a[size_t(i)], b[size_t(i)], i >= idxTR_BASE))
                continue;
            // The wanted operation says what each entry means.
            out << difference(relay, RelayFieldAt(a[0], i), QStringLiteral("par[%1]").arg(i),
                              a[size_t(i)], b[size_t(i)]);
        }
    }
    return out;
}
