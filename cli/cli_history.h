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
// How a recorder (registrar, publicar) asked to stop ends: with success, the
// readings it lost on the way (each said when it happened) counted in a last
// message, so that a `systemctl stop` does not leave the service failed.
int StoppedOnRequest(int64_t lostReadings);
// The history file the window keeps (TARVIK_HISTORICO when set).
QString CliHistoryFile();

// Draws a controller's report over [fromMs, toMs) into the PDF `path`, whole
// or not at all. Only the program that links the drawing sets it; without it
// `--pdf` is refused.
using tPdfWriter = bool (*)(tHistoryStore &store, int64_t controller, int64_t fromMs, int64_t toMs,
                            const QString &path, QString *error);
void SetPdfWriter(tPdfWriter writer);
