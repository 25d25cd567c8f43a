#pragma once

// tarvik-cli's alarms: the limits kept in the history file, the episodes
// recorded there, their acknowledgement, the check a monitoring system runs,
// and the program --ao-alarmar starts at each opening and closing.

#include "alarm_store.h"
#include "sheet.h"

#include <QString>
#include <QStringList>

class tCliRun;
struct tCliArgs;

int AlarmLimitsList(tCliRun &run);
int AlarmLimitsSet(tCliRun &run);
int AlarmLimitsRemove(tCliRun &run);
bool AlarmLimitsSetCheck(const tCliArgs &args, QString &error);
int AlarmEpisodes(tCliRun &run);
QStringList AlarmEpisodesCsvHeader();
std::vector<tSheetCell> AlarmEpisodesSheetKinds();
int AlarmAcknowledge(tCliRun &run);
bool AlarmAcknowledgeCheck(const tCliArgs &args, QString &error);
// One status read judged against the stored limits, as a monitoring plugin:
// one line on standard output, exit 0 OK, 1 WARNING, 2 CRITICAL, 3 UNKNOWN.
int AlarmVerify(tCliRun &run);

// The alarm monitor of a recorder (registrar, publicar) on `store`: episodes
// stored as readings are judged, the user told of each opening and closing
// on standard error, and --ao-alarmar's program started for each.
tAlarmMonitor::tChanged AlarmHook(const tCliArgs &args);
// The environment --ao-alarmar's program gets: TARVIK_ALARME_* of `episode`.
QStringList AlarmEnvironment(const tAlarmEpisode &episode, bool opened);
