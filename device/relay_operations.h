#pragma once

#include <QList>
#include <QString>

#include <array>
#include <cstdint>

// Relay operation codes, kept in Relay[k].par[0].
constexpr int32_t opNOP = 0;
constexpr int32_t opCOLD = 1;
constexpr int32_t opHOT = 2;
constexpr int32_t opDEFROST = 3;
constexpr int32_t opFAN = 4;
constexpr int32_t opHEATER = 5;
constexpr int32_t opAUX = 6;
constexpr int32_t opTIMER = 7;
constexpr int32_t opTIMERIF = 8;

// Name of each code (UTF-8). Entry 9 is never offered: it stands in where a
// relay has no valid code.
inline constexpr std::array<const char *, 10> opRELAY = {
    "Sem Operação",      "Refrigeração",      "Aquecimento", "Degelo",
    "Ventilador",        "Trocador de Calor", "Auxiliar",    "Timer",
    "Timer Condicional", "---------"};

// Codes offered per group of models, in display order; a row ends at its
// first negative entry.
constexpr int opMatRows = 5;
constexpr int opMatCols = 10;
inline constexpr int32_t opMat[opMatRows][opMatCols] = {
    {0, 1, 2, -1, -1, -1, -1, -1, -1, -1}, {0, 1, 2, 7, 8, -1, -1, -1, -1, -1},
    {0, 1, 2, 3, 4, 5, 6, -1, -1, -1},     {0, 1, 2, 3, 4, 5, 6, 7, 8, -1},
    {0, 1, 2, 3, 4, 5, 6, 7, 8, -1},
};

// The opMat row of a model string (exact match; unknown models get row 4).
int OpMatRow(const QString &model);
// The codes of a row, in display order.
QList<int32_t> OpMatCodes(int row);
// Position of `code` in `row`, or -1 when the row does not offer it.
int GetIdxOpMat(int row, int32_t code);
// Code at combo position `idx` of `row`, or -1 for no valid position.
int32_t OpMatCode(int row, int idx);
// Text for an operation label: the code's name, or the placeholder for a
// code without one (negative or above 9).
QString OpRelayName(int32_t code);
// Operations that at most one relay may run.
bool IsSingleUseOperation(int32_t code);
