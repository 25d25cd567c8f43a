#pragma once

// tarvik-cli's history commands: the recorder for a service, and the
// readings, report and trail of writes read back from the history file.

#include <QStringList>

class tCliRun;

// The history file tarvik-cli records into: TARVIK_HISTORICO, else the
// window's file.
QString CliHistoryFile();

int Record(tCliRun &run);
int HistoryExport(tCliRun &run);
int HistoryReport(tCliRun &run);
int HistoryAudit(tCliRun &run);
QStringList HistoryReadingsCsvHeader();
