#pragma once

// What a history curve draws, gathered once and drawn by the page (on
// screen) and by the report (on paper) alike: for each pixel column, each
// sensor's min and max and how long each relay was on, never the readings
// themselves.

#include "alarm_store.h"
#include "history_store.h"

#include <QString>

#include <array>
#include <cstdint>
#include <vector>

using tSensorLimits = std::array<tHistLimits, 4>;

// One relay within one column: of its readings that knew the relay's state,
// how many found it on.
struct tRelayColumn {
    int64_t fromMs = 0;
    int32_t on = 0, known = 0;
    double Share() const { return known > 0 ? double(on) / known : 0; }
};

// A stretch of one column or more where a sensor left its limits.
struct tCurveShade {
    int64_t fromMs = 0, toMs = 0;
};

struct tCurve {
    int64_t fromMs = 0, toMs = 0;
    int64_t bucketMs = 1; // one pixel column
    int32_t unit = 0;     // tempCELSIUS / tempFAHRENHEIT: every value below is in it
    tSensorLimits limits;
    // Empty buckets are left out; a sensor never read in the range has none.
    std::array<std::vector<tHistBucket>, 4> sensors;
    // Columns with no known reading of the relay are left out.
    std::array<std::vector<tRelayColumn>, 4> relays;
    // Per sensor, the columns whose min or max lies outside its limits,
    // neighbours joined.
    std::array<std::vector<tCurveShade>, 4> shades;
    // The alarm episodes of the controller, within the range (AlarmShades).
    std::vector<tCurveShade> alarms;

    bool HasSensor(int k) const { return !sensors[size_t(k)].empty(); }
    bool HasRelay(int r) const { return !relays[size_t(r)].empty(); }
    bool Empty() const;
    // The lowest and highest value drawn, limits included; false when there is none.
    bool ValueSpan(int32_t *low, int32_t *high) const;
};

// Gathers the curve of [fromMs, toMs) in `columns` columns (at least 1),
// values in `unit`. A failure of the store leaves the curve empty (or
// without relays), LastFailed() set and Message() saying why.
tCurve LoadCurve(tHistoryStore &store, int64_t controller, int64_t fromMs, int64_t toMs,
                 int columns, const tSensorLimits &limits, int32_t unit);

// Adds readings newer than `afterMs` (the newest one the store held when the
// curve was loaded) into its columns: the live view between two recordings.
void AddReadings(tCurve &curve, const std::vector<tStatusReading> &readings, int64_t afterMs);

// A stretch of time a relay spent at one share of on (1: on throughout).
struct tRelaySpan {
    int64_t fromMs = 0, toMs = 0;
    double share = 0;
};
// Relay `r` of `curve` as stretches of time: a column's readings stand until
// the next column with readings, unless the recording stopped in between,
// so sparse readings draw as bars for the time on, not a tick per reading.
// Neighbours of equal share are joined; stretches with the relay off are
// left out.
std::vector<tRelaySpan> RelaySpans(const tCurve &curve, int r);

// Joins the columns of `buckets` outside `limits` into stretches: from the
// first column outside to the next column with readings back inside, unless
// the recording stopped in between.
std::vector<tCurveShade> ShadesOutside(const std::vector<tHistBucket> &buckets,
                                       const tHistLimits &limits, int64_t bucketMs);

// The stretches of `episodes` within [fromMs, toMs); one still open runs
// to `nowMs`.
std::vector<tCurveShade> AlarmShades(const std::vector<tAlarmEpisode> &episodes, int64_t fromMs,
                                     int64_t toMs, int64_t nowMs);

// The alarm limits of `settings` as a curve draws them, in `unit`.
tSensorLimits AlarmSensorLimits(const tAlarmSettings &settings, int32_t unit);
// The alarm limits the file holds for controller `controller`'s place, in
// the unit of its newest reading; none when it holds none (or cannot say).
tSensorLimits StoredAlarmLimits(tHistoryStore &store, int64_t controller);

// Where a line between two neighbouring buckets must break: the readings
// stopped for longer than a recording would leave (no computer attached,
// the controller silent).
bool CurveGap(const tHistBucket &before, const tHistBucket &after, int64_t bucketMs);

// The unit of the newest reading of `controller`; Celsius when none.
int32_t LatestUnit(tHistoryStore &store, int64_t controller);

// How a controller is named in lists and reports: "qx4r 201 em /dev/ttyUSB0 (firmware 1.2)".
QString ControllerText(const tHistController &c);
