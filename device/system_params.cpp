#include "system_params.h"

namespace {
using K = tFieldKind;

// Where the page shows each field: the sensor offsets, the values switched
// on by a check box, and the lists.
constexpr int offsetsArea = 0;
constexpr int switchedArea = 1;
constexpr int listsArea = 2;

constexpr tParamField offset(int index, const char *code, const char *control, const char *hint) {
    return {.index = index,
            .code = code,
            .control = control,
            .kind = K::Tenths,
            .lo = tBound::fixed(-5),
            .hi = tBound::fixed(5),
            .hint = hint,
            .subPage = offsetsArea};
}

constexpr tParamField switched(int index, const char *code, const char *control, const char *toggle,
                               int max, const char *caption, const char *hint) {
    return {.index = index,
            .code = code,
            .control = control,
            .toggle = toggle,
            .kind = K::Number,
            .lo = tBound::fixed(0),
            .hi = tBound::fixed(max),
            .caption = caption,
            .hint = hint,
            .subPage = switchedArea,
            .decimals = 0};
}

// Each number box comes before its check box, so a fill leaves every paired
// box enabled exactly when its check box is checked.
constexpr tParamField systemFields[] = {
    offset(idxTEMP_OFFSET_SENSOR1, "OFS1", "edtOffSet1",
           "Compensação do Sensor 1. Valor entre -5.0 a 5.0"),
    offset(idxTEMP_OFFSET_SENSOR2, "OFS2", "edtOffSet2",
           "Compensação do Sensor 2. Valor entre -5.0 a 5.0"),
    offset(idxTEMP_OFFSET_SENSOR3, "OFS3", "edtOffSet3",
           "Compensação do Sensor 3. Valor entre -5.0 a 5.0"),
    offset(idxTEMP_OFFSET_SENSOR4, "OFS4", "edtOffSet4",
           "Compensação do Sensor 4. Valor entre -5.0 a 5.0"),
    switched(idxPASS_WORDN1, "PAS1", "edtSetPass1", "cbxSetPass1", 9999, "Senha do Menu Nível 1",
             "Valor entre 1 a 9999"),
    switched(idxPASS_WORDN2, "PAS2", "edtSetPass2", "cbxSetPass2", 9999, "Senha do Menu Nível 2",
             "Valor entre 1 a 9999"),
    {.index = idxTST,
     .code = "TT: Grandeza da Temperatura",
     .control = "popSetTemp",
     .kind = K::TwoWay,
     .choices = "Celsius|Fahrenheit",
     .subPage = listsArea},
    {.index = idxBEEP,
     .code = "BEEP",
     .control = "popSetBeep",
     .kind = K::TwoWay,
     .choices = "Desligado|Ligado",
     .subPage = listsArea},
    switched(idxDLY_INIT, "DLY", "edtSetDelay", "cbxSetDelay", 240, "Tempo de Retardo",
             "Valor entre 1 a 240 Minutos"),
    switched(idxALARM, "AL", "edtAL", "cbxAL", 720, "Duração do Alarme",
             "Valor entre 1 a 720 Minutos"),
    {.index = idxSLA,
     .code = "SLA: Modo de trabalho",
     .control = "popSetModeSlave",
     .kind = K::TwoWay,
     .choices = "Autônomo|Escravo",
     .subPage = listsArea},
};

constexpr tParamField clockFormatFields[] = {
    {.index = idxDTI,
     .code = "Formatação da Data",
     .control = "popSetDTI",
     .kind = K::TwoWay,
     .choices = "Dia/Mês|Mês/Dia"},
    {.index = idxCS24,
     .code = "Formato de Horas",
     .control = "popSetCS24",
     .kind = K::TwoWay,
     .choices = "12 Horas|24 Horas"},
};
// Whole numbers as the controller keeps them: a 17-bit value and a
// direction bit.
constexpr tParamField clockCalibrationFields[] = {
    {.index = idxCAL_VAL,
     .code = "RTC CalVal",
     .control = "edtCALVAL",
     .kind = K::Number,
     .lo = tBound::fixed(0),
     .hi = tBound::fixed(maxCAL_VAL),
     .decimals = 0},
    {.index = idxCAL_DIR,
     .code = "RTC CalDir",
     .control = "edtCALDIR",
     .kind = K::Number,
     .lo = tBound::fixed(0),
     .hi = tBound::fixed(1),
     .decimals = 0},
};
} // namespace

tFieldTable SystemFields() {
    return systemFields;
}

tFieldTable ClockFormatFields() {
    return clockFormatFields;
}

tFieldTable ClockCalibrationFields() {
    return clockCalibrationFields;
}
