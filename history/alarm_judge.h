#pragma once

// Judging readings against a controller's alarm limits: a pure object, no
// file, no clock of its own (time is the readings'). One judge per
// controller keeps what each sensor has been doing, so a delay and a
// hysteresis can be honoured across readings; each reading gives the
// changes it causes (an alarm opened, its extreme moved, an alarm closed),
// for whoever stores them (tAlarmMonitor) or shows them.
//
// Conditions: a sensor below its minimum or above its maximum (opens once
// the value has stayed out for the sensor's delay, closes once it is back
// inside by the hysteresis: above min + h, below max - h); a sensor reading
// "Curto" or "Aberto" (opens at once, closes at the next valid value); the
// controller not answering for `noAnswerMin` minutes (closes at the next
// answer). Faults and silence need no limit. Sensors the model does not
// show are never judged.
//
// Temperatures are tenths of a degree. Limits carry their unit; readings in
// the other unit are converted before they are compared.

#include "history_store.h"

#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

enum class tAlarmCondition : int32_t { Low = 1, High = 2, Short = 3, Open = 4, NoAnswer = 5 };

// The word stored and published ("minimo", "maximo", "curto", "aberto",
// "sem_resposta"), and back (nullopt for another word).
QString AlarmConditionWord(tAlarmCondition c);
std::optional<tAlarmCondition> AlarmConditionOfWord(const QString &word);
// In the user's words: "abaixo do mínimo", "acima do máximo", "Curto",
// "Aberto", "sem resposta".
QString AlarmConditionText(tAlarmCondition c);

// One sensor's limits. A limit box left empty is no limit; delay and
// hysteresis apply to both.
struct tAlarmLimits {
    std::optional<int32_t> low = {}, high = {}; // tenths, in `unit`
    int32_t delayMin = 0;                       // minutes out of range before the alarm opens
    int32_t hysteresis = 5;                     // tenths, in `unit`
    int32_t unit = 0;                           // tempCELSIUS / tempFAHRENHEIT

    bool Any() const { return low || high; }
    friend bool operator==(const tAlarmLimits &, const tAlarmLimits &) = default;
};

// Everything a controller is judged against.
struct tAlarmSettings {
    std::array<tAlarmLimits, 4> sensor{};
    int32_t noAnswerMin = 5; // minutes without an answer before the alarm opens
};
inline constexpr int32_t defaultNoAnswerMin = 5;

// What the judge needs of a reading.
struct tAlarmReading {
    int64_t utcMs = 0;
    bool answered = false;
    int32_t unit = 0;
    int32_t sensors = 4; // how many the model shows
    std::array<int32_t, 4> state{-1, -1, -1, -1};
    std::array<int32_t, 4> value{};
};
// A history reading, with the sensors its model shows (taken from the
// relays it has, as the status screen does).
tAlarmReading AlarmReadingOf(const tStatusReading &r);

// A value converted from one unit to another, in tenths.
int32_t ConvertTenths(int32_t tenths, int32_t from, int32_t to);

struct tAlarmChange {
    enum tKind { Opened, Extreme, Closed } kind = Opened;
    int32_t sensor = 0; // 1..4; 0 the controller (no answer)
    tAlarmCondition condition = tAlarmCondition::High;
    int64_t startMs = 0; // the first reading out of range, or without an answer
    int64_t atMs = 0;    // the reading that caused the change
    std::optional<int32_t> extreme =
        {}; // the furthest value from the limit so far, in the limits' unit
    int32_t unit = 0;
};

// An alarm open now, as the judge holds it.
struct tAlarmActive {
    int32_t sensor = 0;
    tAlarmCondition condition = tAlarmCondition::High;
    int64_t startMs = 0;
    std::optional<int32_t> extreme = {};
    int32_t unit = 0;
};

class tAlarmJudge {
  public:
    explicit tAlarmJudge(const tAlarmSettings &settings = {}) : FSettings(settings) {}

    // New limits apply from the next reading; an open alarm whose limit is
    // gone closes then.
    void SetSettings(const tAlarmSettings &settings) { FSettings = settings; }
    const tAlarmSettings &Settings() const { return FSettings; }

    // Judges one reading, appending the changes it causes to `out`.
    void Judge(const tAlarmReading &r, std::vector<tAlarmChange> &out);

    // Takes over an alarm left open (by an earlier run, another program),
    // so the next readings close it.
    void Resume(const tAlarmActive &open);

    std::vector<tAlarmActive> Active() const;

  private:
    struct tSensor {
        // Out of range, not open yet: since when, which side, how far.
        std::optional<tAlarmCondition> pending;
        int64_t pendingSinceMs = 0;
        int32_t pendingExtreme = 0;
        std::optional<tAlarmActive> range; // Low / High open
        std::optional<tAlarmActive> fault; // Short / Open open
    };
    void JudgeValue(int k, const tAlarmReading &r, std::vector<tAlarmChange> &out);

    tAlarmSettings FSettings;
    std::array<tSensor, 4> FSensor{};
    std::optional<int64_t> FSilentSinceMs;
    std::optional<tAlarmActive> FSilence;
};

// One status read as a monitoring plugin reports it.
enum class tAlarmLevel { Ok = 0, Warning = 1, Critical = 2 };
struct tAlarmVerdict {
    tAlarmLevel level = tAlarmLevel::Ok;
    QStringList reasons; // the worst level's, one per sensor, in Portuguese
    // Per shown sensor "sensorN=VALUE;WARN;CRIT" with a decimal point and
    // ranges in the plugins' syntax ("2.5:7.5", "~:8"); "U" for a fault.
    QStringList performance;
};
// Out of a limit or a sensor fault: critical; inside a limit by less than
// the hysteresis: warning. No delay: one reading is all there is.
tAlarmVerdict AlarmVerdict(const tAlarmReading &r, const tAlarmSettings &settings);
