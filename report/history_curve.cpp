#include "history_curve.h"

#include "u_ondrel.h"

#include <algorithm>
#include <cmath>

namespace {
// The longest pause between two readings that still draws as one line: a
// few recording intervals.
constexpr int64_t maxReadingGapMs = 5 * 60 * 1000;

bool Outside(int32_t v, const tHistLimits &l) {
    return (l.low && v < *l.low) || (l.high && v > *l.high);
}
} // namespace

bool tCurve::Empty() const {
    return std::all_of(sensors.begin(), sensors.end(), [](const auto &s) { return s.empty(); });
}

bool tCurve::ValueSpan(int32_t *low, int32_t *high) const {
    bool any = false;
    auto take = [&](int32_t v) {
        *low = any ? std::min(*low, v) : v;
        *high = any ? std::max(*high, v) : v;
        any = true;
    };
    for (size_t k = 0; k < 4; ++k) {
        if (sensors[k].empty())
            continue;
        for (const tHistBucket &b : sensors[k]) {
            take(b.min);
            take(b.max);
        }
        if (limits[k].low)
            take(*limits[k].low);
        if (limits[k].high)
            take(*limits[k].high);
    }
    return any;
}

std::vector<tCurveShade> ShadesOutside(const std::vector<tHistBucket> &buckets,
                                       const tHistLimits &limits, int64_t bucketMs) {
    std::vector<tCurveShade> shades;
    bool open = false; // the last shade goes on into the next column with readings
    for (size_t i = 0; i < buckets.size(); ++i) {
        const tHistBucket &b = buckets[i];
        const bool joined = i > 0 && !CurveGap(buckets[i - 1], b, bucketMs);
        if (open && joined)
            shades.back().toMs = b.fromMs;
        open = open && joined;
        if (!Outside(b.min, limits) && !Outside(b.max, limits)) {
            open = false;
            continue;
        }
        if (!open)
            shades.push_back({b.fromMs, b.fromMs});
        shades.back().toMs = b.fromMs + bucketMs;
        open = true;
    }
    return shades;
}

std::vector<tRelaySpan> RelaySpans(const tCurve &curve, int r) {
    std::vector<tRelaySpan> spans;
    const std::vector<tRelayColumn> &columns = curve.relays[size_t(std::clamp(r, 0, 3))];
    const int64_t hold = std::max(2 * curve.bucketMs, maxReadingGapMs);
    for (size_t i = 0; i < columns.size(); ++i) {
        const tRelayColumn &c = columns[i];
        const bool next = i + 1 < columns.size() && columns[i + 1].fromMs - c.fromMs <= hold;
        const int64_t to = next ? columns[i + 1].fromMs : c.fromMs + curve.bucketMs;
        const double share = c.Share();
        if (share <= 0)
            continue;
        if (!spans.empty() && spans.back().toMs == c.fromMs && spans.back().share == share)
            spans.back().toMs = to;
        else
            spans.push_back({c.fromMs, to, share});
    }
    return spans;
}

bool CurveGap(const tHistBucket &before, const tHistBucket &after, int64_t bucketMs) {
    return after.firstMs - before.lastMs > std::max(2 * bucketMs, maxReadingGapMs);
}

tCurve LoadCurve(tHistoryStore &store, int64_t controller, int64_t fromMs, int64_t toMs,
                 int columns, const tSensorLimits &limits, int32_t unit) {
    tCurve curve;
    curve.fromMs = fromMs;
    curve.toMs = std::max(toMs, fromMs + 1);
    curve.unit = unit;
    curve.limits = limits;
    const int64_t span = curve.toMs - curve.fromMs;
    curve.bucketMs = std::max<int64_t>(1, (span + std::max(columns, 1) - 1) / std::max(columns, 1));
    curve.sensors = store.Curve(controller, curve.fromMs, curve.toMs, curve.bucketMs, unit);
    if (store.LastFailed())
        return curve;
    for (size_t k = 0; k < 4; ++k)
        curve.shades[k] = ShadesOutside(curve.sensors[k], limits[k], curve.bucketMs);
    for (const tHistRelayBucket &b :
         store.RelayBuckets(controller, curve.fromMs, curve.toMs, curve.bucketMs)) {
        for (size_t r = 0; r < 4; ++r)
            if (b.known[r] > 0)
                curve.relays[r].push_back({b.fromMs, b.on[r], b.known[r]});
    }
    return curve;
}

namespace {
// A reading's tenths in the curve's unit, rounded as the store rounds.
int32_t InUnit(int32_t tenths, int32_t from, int32_t to) {
    if ((from == tempFAHRENHEIT) == (to == tempFAHRENHEIT))
        return tenths;
    return to == tempFAHRENHEIT ? int32_t(std::lround(tenths * 1.8 + 320))
                                : int32_t(std::lround((tenths - 320) / 1.8));
}

// The column of `ms` in `columns` (kept in time order), added when missing.
template <typename T> T &ColumnAt(std::vector<T> &columns, int64_t fromMs, T blank) {
    auto at = std::lower_bound(columns.begin(), columns.end(), fromMs,
                               [](const T &c, int64_t t) { return c.fromMs < t; });
    if (at == columns.end() || at->fromMs != fromMs)
        at = columns.insert(at, blank);
    return *at;
}
} // namespace

void AddReadings(tCurve &curve, const std::vector<tStatusReading> &readings, int64_t afterMs) {
    for (const tStatusReading &r : readings) {
        if (r.utcMs <= afterMs || r.utcMs < curve.fromMs || r.utcMs >= curve.toMs)
            continue;
        const int64_t column =
            curve.fromMs + (r.utcMs - curve.fromMs) / curve.bucketMs * curve.bucketMs;
        for (size_t k = 0; k < 4; ++k) {
            if (r.state[k] != stsTEMP_OK)
                continue;
            const int32_t v = InUnit(r.value[k], r.unit, curve.unit);
            tHistBucket &b = ColumnAt(
                curve.sensors[k], column,
                tHistBucket{
                    .fromMs = column, .firstMs = r.utcMs, .lastMs = r.utcMs, .min = v, .max = v});
            b.firstMs = std::min(b.firstMs, r.utcMs);
            b.lastMs = std::max(b.lastMs, r.utcMs);
            b.min = std::min(b.min, v);
            b.max = std::max(b.max, v);
            ++b.count;
        }
        if (r.result > 0)
            for (size_t k = 0; k < 4; ++k) {
                if (r.relay[k] < 0)
                    continue;
                tRelayColumn &c = ColumnAt(curve.relays[k], column, tRelayColumn{.fromMs = column});
                c.on += r.relay[k] == 1 ? 1 : 0;
                ++c.known;
            }
    }
    for (size_t k = 0; k < 4; ++k)
        curve.shades[k] = ShadesOutside(curve.sensors[k], curve.limits[k], curve.bucketMs);
}

int32_t LatestUnit(tHistoryStore &store, int64_t controller) {
    const auto span = store.ReadingSpan(controller);
    if (!span)
        return tempCELSIUS;
    const std::vector<tStatusReading> last =
        store.Readings(controller, span->second, span->second + 1);
    return last.empty() ? tempCELSIUS : last.back().unit;
}

QString ControllerText(const tHistController &c) {
    return QStringLiteral("%1 %2 em %3 (firmware %4)")
        .arg(c.model)
        .arg(c.address)
        .arg(c.port, c.firmware);
}

std::vector<tCurveShade> AlarmShades(const std::vector<tAlarmEpisode> &episodes, int64_t fromMs,
                                     int64_t toMs, int64_t nowMs) {
    std::vector<tCurveShade> out;
    for (const tAlarmEpisode &e : episodes) {
        const int64_t from = std::max(fromMs, e.startMs);
        const int64_t to = std::min(toMs, e.endMs.value_or(std::max(nowMs, e.startMs)));
        if (from < to)
            out.push_back({from, to});
    }
    return out;
}

tSensorLimits AlarmSensorLimits(const tAlarmSettings &settings, int32_t unit) {
    tSensorLimits out;
    for (size_t k = 0; k < 4; ++k) {
        const tAlarmLimits &l = settings.sensor[k];
        const auto in = [&](const std::optional<int32_t> &v) {
            return v ? std::optional(ConvertTenths(*v, l.unit, unit)) : std::nullopt;
        };
        out[k].low = in(l.low);
        out[k].high = in(l.high);
    }
    return out;
}

tSensorLimits StoredAlarmLimits(tHistoryStore &store, int64_t controller) {
    for (const tHistController &c : store.Controllers())
        if (c.id == controller) {
            tAlarmStore alarms(store);
            return AlarmSensorLimits(alarms.Settings(c.port, c.address),
                                     LatestUnit(store, controller));
        }
    return {};
}
