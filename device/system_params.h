#pragma once

// The controller's system parameters, System[0..16], and the fields of the
// page that edits them, in the order the page is filled.

#include "param_fields.h"

constexpr int idxTEMP_OFFSET_SENSOR1 = 0;
constexpr int idxTEMP_OFFSET_SENSOR2 = 1;
constexpr int idxTEMP_OFFSET_SENSOR3 = 2;
constexpr int idxTEMP_OFFSET_SENSOR4 = 3;
constexpr int idxPASS_WORDN1 = 4;
constexpr int idxPASS_WORDN2 = 5;
constexpr int idxTST = 6;
constexpr int idxCS24 = 7;
constexpr int idxDTI = 8;
constexpr int idxBEEP = 9;
constexpr int idxALARM = 10;
constexpr int idxDLY_INIT = 11;
constexpr int idxSLA = 12;
constexpr int idxMODBUS_ID = 13;
constexpr int idxMODBUS_BAUDRATE = 14;
constexpr int idxRSV1 = 15;
constexpr int idxRTCC = 16;

// The registers exchanged with the controller: System[0..12].
constexpr int nSYSTEM_REGS = 13;

// System[7] and System[8] are edited on the clock page; System[13..16]
// have no control at all.
tFieldTable SystemFields();
// The clock page's two format lists.
tFieldTable ClockFormatFields();

// The clock calibration as a block of two entries: {CalVal, CalDir}.
constexpr int idxCAL_VAL = 0;
constexpr int idxCAL_DIR = 1;
constexpr int nCAL_ENTRIES = 2;
constexpr int maxCAL_VAL = 131071;
tFieldTable ClockCalibrationFields();
