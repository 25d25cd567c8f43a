#pragma once

// The readings of a history range as a spreadsheet reads them, through the
// one CSV writer (common/csv.h). Needs Qt Core only, so the command-line
// tool writes the same file as the window.

#include "history_store.h"
#include "sheet.h"

#include <QString>
#include <QStringList>

QStringList ReadingsCsvHeader();
// Date and time in the reading's own local offset, the UTC instant, each
// sensor's value (or its state in words), the unit, each relay ("Ligado",
// "Desligado", empty when unknown), the exchange's result and round trip,
// and "Relógio": when the computer's clock went back just before the
// reading, the time the reading stored before it carried (`clockStepFromMs`).
QStringList ReadingsCsvFields(const tStatusReading &reading, int64_t clockStepFromMs = 0);
// The mark of a reading taken after the clock went back from `fromMs`.
QString ClockStepText(int64_t fromMs, int32_t offsetSec);

// The same columns as a spreadsheet file's: their cell types, and the
// header with the unit in each sensor's title when every reading of
// `readings` was taken in one unit.
std::vector<tSheetCell> ReadingsSheetKinds();
QStringList ReadingsSheetHeader(const std::vector<tStatusReading> &readings);
// Readings come in the order they were stored, which is the order they were
// taken even when the clock went back.
// Writes every reading of [fromMs, toMs) to `path` as a spreadsheet file,
// whole or not at all. False with the reason in `error`.
bool WriteReadingsSheet(tHistoryStore &store, int64_t controller, int64_t fromMs, int64_t toMs,
                        const QString &path, QString *error);

// The readings of a day that found the sensor open or short, in words
// ("aberto em 1440 leituras"); empty when none did.
QString SensorFailuresText(const tHistDay &day);

// Writes every reading of [fromMs, toMs) to `path`, whole or not at all.
// False with the reason in `error`.
bool WriteReadingsCsv(tHistoryStore &store, int64_t controller, int64_t fromMs, int64_t toMs,
                      const QString &path, QString *error);
