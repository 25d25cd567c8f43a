#pragma once

// tarvik-cli's history commands: the recorder for a service, and the
// readings, report and trail of writes read back from the history file.

#include <QString>
#include <QStringList>

class tCliRun;

int Record(tCliRun &run);
int HistoryExport(tCliRun &run);
int HistoryReport(tCliRun &run);
int HistoryAudit(tCliRun &run);
QStringList HistoryReadingsCsvHeader();
// The history file the window keeps (TARVIK_HISTORICO when set).
QString CliHistoryFile();
