#pragma once

// The dictionary of a relay's parameter block, par[0..19]: what each index
// holds for each operation, the code the controller knows it by, the
// control that edits it, its kind and its bounds, as tables of rows in the
// order a page is filled and collected.

#include "param_fields.h"

#include <vector>

constexpr int idxOP = 0;
constexpr int idxTEMP_SP = 1, idxTEMP_SPDL = 1;
constexpr int idxTEMP_LO = 2, idxTEMP_DON = 2;
constexpr int idxTEMP_HI = 3, idxTEMP_DOFF = 3;
constexpr int idxTEMP_TLL = 4, idxTEMP_TL = 4;
constexpr int idxTEMP_TLH = 5, idxTEMP_TH = 5;
constexpr int idxTEMP_DT = 6;
constexpr int idxTEMP_SPST = 7, idxTEMP_DTR = 7;
constexpr int idxTLRS = 8, idxDINI = 8, idxDFON = 8;
constexpr int idxPERS = 9, idxDTYP = 9, idxGFON = 9;
constexpr int idxDLY = 10, idxDFTC = 10;
constexpr int idxIRL = 11;
constexpr int idxSEN1 = 12;
constexpr int idxSEN2 = 13, idxDFTD = 13, idxACTR = 13;
constexpr int idxTIRG = 14, idxTTYPE = 14;
constexpr int idxTIRO = 15, idxDRTI = 15, idxSURL = 15;
constexpr int idxTR_BASE = 16;
constexpr int nPAR_RELAY = 19;

// Fixed bounds, in Celsius where they are temperatures.
constexpr double minTEMP_WORK = -50, maxTEMP_WORK = 110;
constexpr double minDT = 0.1, maxDT = 20;
constexpr double maxDLY = 240, maxTIRO = 240, maxFDLY = 30;
constexpr double minTEMP_TL = 0, maxTEMP_TL = 20;
constexpr double minTEMP_TH = 0, maxTEMP_TH = 110;
constexpr double minTEMP_DTR = 1, maxTEMP_DTR = 50;
constexpr double minTEMP_DON = 0, maxTEMP_DON = 20;
constexpr double minTEMP_DOFF = 0, maxTEMP_DOFF = 20;
constexpr double minTIRG = 0, maxTIRG = 240;
constexpr double minDRTI = 0, maxDRTI = 30;
// The heat exchanger's SP: 0 switches it off in either unit, so the lower
// bound stays 0; the upper one follows the unit (90 °C, 194 °F).
constexpr double minTEMP_HEAT_SP = 0, maxTEMP_HEAT_SP = 90;

// Refrigeration, heating and conditional timer (pnlCold), without the
// "Timer" sub-page; sub-pages 0 "Principal", 1 "Limites", 2 "Tempos".
tFieldTable ColdFields();
// The conditional timer's "Timer" sub-page (3): its four set-points, then
// the kind of thermostat action.
tFieldTable ColdTimerFields();
// Defrost (pnlDefrost): 0 "Principal", 1 "Avançado".
tFieldTable DefrostFields();
// Fan (pnlFan): 0 "Principal", 1 "Avançado".
tFieldTable FanFields();
// Heat exchanger (pnlHeat): 0 "Principal", 1 "Temperaturas".
tFieldTable HeatFields();
// Auxiliary (pnlAux).
tFieldTable AuxFields();
// Timer (pnlTimer): the four set-points, then the inverted relay drive at
// par[11], where every other operation with a relay drive keeps it.
tFieldTable TimerFields();

// The tables an operation's page fills and collects, in order; none for
// codes without parameters.
std::vector<tFieldTable> RelayFieldTables(int32_t op);
