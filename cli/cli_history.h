#pragma once

// tarvik-cli's history commands: the recorder for a service, and the
// readings, report and trail of writes read back from the history file.

#include <QString>
#include <QStringList>

#include <cstdint>

class tCliRun;
class tHistoryStore;

int Record(tCliRun &run);
int HistoryExport(tCliRun &run);
int HistoryReport(tCliRun &run);
int HistoryAudit(tCliRun &run);
QStringList HistoryReadingsCsvHeader();
// The history file the window keeps (TARVIK_HISTORICO when set).
QString CliHistoryFile();

// Draws a controller's report over [fromMs, toMs) into the PDF `path`, whole
// or not at all. Only the program that links the drawing sets it; without it
// `--pdf` is refused.
using tPdfWriter = bool (*)(tHistoryStore &store, int64_t controller, int64_t fromMs, int64_t toMs,
                            const QString &path, QString *error);
void SetPdfWriter(tPdfWriter writer);
