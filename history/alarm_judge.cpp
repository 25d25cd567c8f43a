#include "alarm_judge.h"

#include "temperature.h"
#include "u_ondrel.h"

#include <QLocale>

#include <cmath>

namespace {
struct tConditionRow {
    tAlarmCondition condition;
    const char *word;
    const char *text;
};
constexpr tConditionRow conditionRows[] = {
    {tAlarmCondition::Low, "minimo", "abaixo do mínimo"},
    {tAlarmCondition::High, "maximo", "acima do máximo"},
    {tAlarmCondition::Short, "curto", "Curto"},
    {tAlarmCondition::Open, "aberto", "Aberto"},
    {tAlarmCondition::NoAnswer, "sem_resposta", "sem resposta"},
};
const tConditionRow &RowOf(tAlarmCondition c) {
    return conditionRows[int(c) - 1];
}

constexpr int64_t minuteMs = 60'000;

std::optional<tAlarmCondition> FaultOf(int32_t state) {
    if (state == stsTEMP_ERRMIN)
        return tAlarmCondition::Short;
    if (state == stsTEMP_ERRMAX)
        return tAlarmCondition::Open;
    return std::nullopt;
}

// Further from the limit: higher for a maximum, lower for a minimum.
int32_t Worse(tAlarmCondition c, int32_t a, int32_t b) {
    return c == tAlarmCondition::High ? std::max(a, b) : std::min(a, b);
}

// A value as performance data writes it: decimal point, one decimal.
QString PerfNumber(int32_t tenths) {
    return QString::number(tenths / 10.0, 'f', 1);
}
// A range in the plugins' syntax, each end moved inwards by `inset`.
QString PerfRange(const tAlarmLimits &l, int32_t inset) {
    return (l.low ? PerfNumber(*l.low + inset) : QStringLiteral("~")) + u':' +
           (l.high ? PerfNumber(*l.high - inset) : QString());
}
} // namespace

QString AlarmConditionWord(tAlarmCondition c) {
    return QLatin1String(RowOf(c).word);
}

std::optional<tAlarmCondition> AlarmConditionOfWord(const QString &word) {
    for (const tConditionRow &row : conditionRows)
        if (word == QLatin1String(row.word))
            return row.condition;
    return std::nullopt;
}

QString AlarmConditionText(tAlarmCondition c) {
    return QString::fromUtf8(RowOf(c).text);
}

tAlarmReading AlarmReadingOf(const tStatusReading &r) {
    tAlarmReading a{.utcMs = r.utcMs,
                    .answered = r.result > 0,
                    .unit = r.unit,
                    .state = r.state,
                    .value = r.value};
    // The history keeps no count of the sensors shown: its model's relays
    // say it, as on the status screen.
    int relays = 0;
    for (int32_t on : r.relay)
        relays += on >= 0;
    a.sensors = r.sensors ? r.sensors : ShownSensors(relays);
    return a;
}

int32_t ConvertTenths(int32_t tenths, int32_t from, int32_t to) {
    if (from == to)
        return tenths;
    return to == tempFAHRENHEIT ? int32_t(std::lround(tenths * 1.8 + 320))
                                : int32_t(std::lround((tenths - 320) / 1.8));
}

void tAlarmJudge::Resume(const tAlarmActive &open) {
    if (open.condition == tAlarmCondition::NoAnswer) {
        FSilence = open;
        FSilentSinceMs = open.startMs;
        return;
    }
    if (open.sensor < 1 || open.sensor > 4)
        return;
    tSensor &s = FSensor[size_t(open.sensor - 1)];
    if (open.condition == tAlarmCondition::Low || open.condition == tAlarmCondition::High)
        s.range = open;
    else
        s.fault = open;
}

std::vector<tAlarmActive> tAlarmJudge::Active() const {
    std::vector<tAlarmActive> out;
    if (FSilence)
        out.push_back(*FSilence);
    for (const tSensor &s : FSensor) {
        if (s.range)
            out.push_back(*s.range);
        if (s.fault)
            out.push_back(*s.fault);
    }
    return out;
}

void tAlarmJudge::Judge(const tAlarmReading &r, std::vector<tAlarmChange> &out) {
    const auto emit = [&](tAlarmChange::tKind kind, const tAlarmActive &a) {
        out.push_back({.kind = kind,
                       .sensor = a.sensor,
                       .condition = a.condition,
                       .startMs = a.startMs,
                       .atMs = r.utcMs,
                       .extreme = a.extreme,
                       .unit = a.unit});
    };
    if (!r.answered) {
        if (!FSilentSinceMs)
            FSilentSinceMs = r.utcMs;
        if (!FSilence && r.utcMs - *FSilentSinceMs >= FSettings.noAnswerMin * minuteMs) {
            FSilence = tAlarmActive{
                .sensor = 0, .condition = tAlarmCondition::NoAnswer, .startMs = *FSilentSinceMs};
            emit(tAlarmChange::Opened, *FSilence);
        }
        return; // nothing is known of the sensors
    }
    FSilentSinceMs.reset();
    if (FSilence) {
        emit(tAlarmChange::Closed, *FSilence);
        FSilence.reset();
    }
    for (int k = 0; k < std::min(r.sensors, 4); ++k) {
        tSensor &s = FSensor[size_t(k)];
        const std::optional<tAlarmCondition> fault = FaultOf(r.state[size_t(k)]);
        if (s.fault && (!fault || *fault != s.fault->condition) &&
            r.state[size_t(k)] != stsTEMP_READING) {
            emit(tAlarmChange::Closed, *s.fault);
            s.fault.reset();
        }
        if (fault && !s.fault) {
            s.fault = tAlarmActive{.sensor = k + 1, .condition = *fault, .startMs = r.utcMs};
            emit(tAlarmChange::Opened, *s.fault);
        }
        if (r.state[size_t(k)] == stsTEMP_OK)
            JudgeValue(k, r, out);
    }
}

void tAlarmJudge::JudgeValue(int k, const tAlarmReading &r, std::vector<tAlarmChange> &out) {
    tSensor &s = FSensor[size_t(k)];
    const tAlarmLimits &l = FSettings.sensor[size_t(k)];
    const int32_t v = ConvertTenths(r.value[size_t(k)], r.unit, l.unit);
    const auto change = [&](tAlarmChange::tKind kind) {
        out.push_back({.kind = kind,
                       .sensor = k + 1,
                       .condition = s.range->condition,
                       .startMs = s.range->startMs,
                       .atMs = r.utcMs,
                       .extreme = s.range->extreme,
                       .unit = s.range->unit});
    };
    if (s.range) {
        // Limits given in another unit since it opened: judge in the new one.
        if (s.range->unit != l.unit && s.range->extreme) {
            s.range->extreme = ConvertTenths(*s.range->extreme, s.range->unit, l.unit);
            s.range->unit = l.unit;
        }
        const bool high = s.range->condition == tAlarmCondition::High;
        const bool back = high ? (!l.high || v <= *l.high - l.hysteresis)
                               : (!l.low || v >= *l.low + l.hysteresis);
        if (back) {
            change(tAlarmChange::Closed);
            s.range.reset();
        } else {
            const int32_t worse =
                s.range->extreme ? Worse(s.range->condition, *s.range->extreme, v) : v;
            if (worse != s.range->extreme) {
                s.range->extreme = worse;
                change(tAlarmChange::Extreme);
            }
            return;
        }
    }
    const std::optional<tAlarmCondition> outside =
        l.high && v > *l.high ? std::optional(tAlarmCondition::High)
        : l.low && v < *l.low ? std::optional(tAlarmCondition::Low)
                              : std::nullopt;
    if (!outside) {
        s.pending.reset();
        return;
    }
    if (s.pending != outside) {
        s.pending = outside;
        s.pendingSinceMs = r.utcMs;
        s.pendingExtreme = v;
    } else {
        s.pendingExtreme = Worse(*outside, s.pendingExtreme, v);
    }
    if (r.utcMs - s.pendingSinceMs < l.delayMin * minuteMs)
        return;
    s.range = tAlarmActive{.sensor = k + 1,
                           .condition = *outside,
                           .startMs = s.pendingSinceMs,
                           .extreme = s.pendingExtreme,
                           .unit = l.unit};
    s.pending.reset();
    change(tAlarmChange::Opened);
}

tAlarmVerdict AlarmVerdict(const tAlarmReading &r, const tAlarmSettings &settings) {
    tAlarmVerdict v;
    QStringList warnings, criticals;
    const QLocale pt(QLocale::Portuguese, QLocale::Brazil);
    for (int k = 0; k < std::min(r.sensors, 4); ++k) {
        const tAlarmLimits &l = settings.sensor[size_t(k)];
        const QString name = QStringLiteral("sensor%1").arg(k + 1);
        if (const std::optional<tAlarmCondition> fault = FaultOf(r.state[size_t(k)])) {
            criticals << QStringLiteral("sensor %1 %2").arg(k + 1).arg(AlarmConditionText(*fault));
            v.performance << name + QStringLiteral("=U");
            continue;
        }
        if (r.state[size_t(k)] != stsTEMP_OK) {
            v.performance << name + QStringLiteral("=U");
            continue;
        }
        const int32_t value = ConvertTenths(r.value[size_t(k)], r.unit, l.unit);
        const QString shown = tenthsText(value, pt) + unitText(l.unit);
        if (l.high && value > *l.high)
            criticals << QStringLiteral("sensor %1 %2 acima do máximo %3")
                             .arg(k + 1)
                             .arg(shown, tenthsText(*l.high, pt));
        else if (l.low && value < *l.low)
            criticals << QStringLiteral("sensor %1 %2 abaixo do mínimo %3")
                             .arg(k + 1)
                             .arg(shown, tenthsText(*l.low, pt));
        else if (l.high && value > *l.high - l.hysteresis)
            warnings << QStringLiteral("sensor %1 %2 perto do máximo %3")
                            .arg(k + 1)
                            .arg(shown, tenthsText(*l.high, pt));
        else if (l.low && value < *l.low + l.hysteresis)
            warnings << QStringLiteral("sensor %1 %2 perto do mínimo %3")
                            .arg(k + 1)
                            .arg(shown, tenthsText(*l.low, pt));
        v.performance << (l.Any() ? QStringLiteral("%1=%2;%3;%4")
                                        .arg(name, PerfNumber(value), PerfRange(l, l.hysteresis),
                                             PerfRange(l, 0))
                                  : QStringLiteral("%1=%2").arg(name, PerfNumber(value)));
    }
    if (!criticals.isEmpty()) {
        v.level = tAlarmLevel::Critical;
        v.reasons = criticals;
    } else if (!warnings.isEmpty()) {
        v.level = tAlarmLevel::Warning;
        v.reasons = warnings;
    }
    return v;
}
