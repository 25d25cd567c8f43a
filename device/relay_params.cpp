#include "relay_params.h"

#include "relay_operations.h"

namespace {
using K = tFieldKind;
using B = tBound;

constexpr const char *irlCaption = "Acionamento invertido do rele";

constexpr tParamField coldFields[] = {
    {.index = idxSEN1,
     .code = "SE",
     .control = "spiColdSE",
     .kind = K::Sensor,
     .lo = B::fixed(1),
     .hi = B::relays(),
     .caption = "Sensor para o controle do modo de operação"},
    {.index = idxTEMP_SP,
     .code = "SP",
     .control = "edtColdSP",
     .kind = K::Tenths,
     .lo = B::entry(idxTEMP_LO),
     .hi = B::entry(idxTEMP_HI),
     .caption = "Ajuste da temperatura de trabalho. Os limites estão nos registradores LO e HI "},
    {.index = idxTEMP_DT,
     .code = "DT",
     .control = "edtColdDT",
     .kind = K::Tenths,
     .lo = B::celsius(minDT),
     .hi = B::celsius(maxDT),
     .caption = "Temperatura diferencial para acionamento ou desligamento do rele: Valores entre "
                "0.1º a 20º"},
    {.index = idxIRL,
     .code = "IRL",
     .control = "cbxColdIRL",
     .kind = K::Switch,
     .caption = irlCaption},
    {.index = idxTEMP_LO,
     .code = "LO",
     .control = "edtColdLO",
     .kind = K::Tenths,
     .lo = B::entry(idxTEMP_TLL),
     .hi = B::entry(idxTEMP_HI),
     .caption = "Limite mínimo para ajustes do set point. Os limites estão nos registradores TLL "
                "e HI ",
     .subPage = 1},
    {.index = idxTEMP_HI,
     .code = "HI",
     .control = "edtColdHI",
     .kind = K::Tenths,
     .lo = B::entry(idxTEMP_LO),
     .hi = B::entry(idxTEMP_TLH),
     .caption = "Limite máximo para ajuste do set point. Valores entre LO o TLH",
     .subPage = 1},
    {.index = idxTEMP_TLL,
     .code = "TLL",
     .control = "edtColdTLL",
     .kind = K::Tenths,
     .lo = B::celsius(minTEMP_WORK),
     .hi = B::entry(idxTEMP_TLH),
     .caption = "Temperatura mínimo de trabalho. Valores entre -50ºC/-58ºF a TLH",
     .subPage = 1},
    {.index = idxTEMP_TLH,
     .code = "TLH",
     .control = "edtColdTLH",
     .kind = K::Tenths,
     .lo = B::entry(idxTEMP_TLL),
     .hi = B::celsius(maxTEMP_WORK),
     .caption = "Temperatura mínimo de trabalho. Valores entre TLL a 110ºC/230ºF",
     .subPage = 1},
    {.index = idxTLRS,
     .code = "TLRS",
     .control = "popColdTLRS",
     .kind = K::Choice,
     .caption = "Orienta ao sistema como agir caso as temperaturas passar dos limites de trabalho",
     .choices = "Desligar|Ligadar|Operação Normal",
     .subPage = 1},
    {.index = idxPERS,
     .code = "PERS",
     .control = "popColdPERS",
     .kind = K::Choice,
     .caption = "O que o sistema deve fazer quando há erro de leitura de sensor",
     .choices = "Desligar|Ligadar",
     .subPage = 1},
    {.index = idxDLY,
     .code = "DLY",
     .control = "edtColdDLY",
     .kind = K::Number,
     .lo = B::fixed(0),
     .hi = B::fixed(maxDLY),
     .caption = "Tempo de retardo em minutos. Valores em minutos entre 0 a 240 (4 horas), o valor "
                "0 sinaliza que não vai haver o tempo de retardo",
     .subPage = 2},
    {.index = idxTIRO,
     .code = "TIRO",
     .control = "edtColdTIRO",
     .kind = K::Number,
     .lo = B::fixed(0),
     .hi = B::fixed(maxTIRO),
     .caption = "Tempo em segundos em que o compressor permanecerá ligado.  Valores em minutos "
                "entre 0 a 240 (4 minutos), o valor 0 sinaliza que não vai haver esse tempo de "
                "permanência do compressor ligado.",
     .subPage = 2},
};

constexpr tParamField setPoint(int row, const char *name, int subPage) {
    return {.index = idxTR_BASE + row, .control = name, .kind = K::SetPoint, .subPage = subPage};
}

constexpr tParamField coldTimerFields[] = {
    setPoint(0, "TifSet1", 3),
    setPoint(1, "TifSet2", 3),
    setPoint(2, "TifSet3", 3),
    setPoint(3, "TifSet4", 3),
    {.index = idxTTYPE,
     .code = "TTYPE",
     .control = "popTTYPE",
     .kind = K::Choice,
     .caption = "Tipo de ação do termostato",
     .choices = "Aquecimento|Refrigeração",
     .subPage = 3},
};

constexpr tParamField defrostFields[] = {
    {.index = idxSEN1,
     .code = "SE",
     .control = "spiDefrostSE",
     .kind = K::Sensor,
     .lo = B::fixed(1),
     .hi = B::relays(),
     .caption = "Qual sensor que esta operação vai usar para leitura da temperatura do "
                "evaporador"},
    {.index = idxTEMP_SP,
     .code = "SP",
     .control = "edtDefrostSP",
     .kind = K::Tenths,
     .lo = B::entry(idxTEMP_LO),
     .hi = B::entry(idxTEMP_HI),
     .caption = "Ajuste da temperatura para fim do degelo Os limites estão nos registradores LO e "
                "HI "},
    {.index = idxDFTC,
     .code = "DFTC",
     .control = "edtDefrostHourDFTC",
     .minutes = "edtDefrostMinDFTC",
     .kind = K::HoursMinutes,
     .lo = B::fixed(1),
     .hi = B::fixed(24),
     .caption = "[HH:MM]: Tempos em tempos para dar início ao degelo"},
    {.index = idxDFTD,
     .code = "DFTD",
     .control = "edtDefrostHourDFTD",
     .minutes = "edtDefrostMinDFTD",
     .kind = K::HoursMinutes,
     .lo = B::fixed(0),
     .hi = B::fixed(23),
     .caption = "[HH:MM]: Duração máximo do tempo para degelo caso não foi interrompido pela "
                "temperatura do evaporador "},
    {.index = idxIRL,
     .code = "IRL",
     .control = "cbxDefrostIRL",
     .kind = K::Switch,
     .caption = irlCaption},
    {.index = idxDTYP,
     .code = "DTYP",
     .control = "popDefrostDTYP",
     .kind = K::Choice,
     .caption = "Sinaliza o tipo de degelo",
     .choices = "Elétrico|Gás",
     .subPage = 1},
    {.index = idxDINI,
     .code = "DINI",
     .control = "cbxDefrostDINI",
     .kind = K::Switch,
     .caption = "Fazer degelo logo que o Ondrel for ligado",
     .subPage = 1},
    {.index = idxTIRG,
     .code = "TIRG",
     .control = "edtDefrostTIRG",
     .kind = K::Number,
     .lo = B::fixed(minTIRG),
     .hi = B::fixed(maxTIRG),
     .caption = "Tempo em segundos para retorno do gás para a garrafa de líquido antes de iniciar "
                "o degelo. Valores entre 0 a 240 segundos. Valor 0 desliga esse processo",
     .subPage = 1},
    {.index = idxDRTI,
     .code = "DRTI",
     .control = "edtDefrostDRTI",
     .kind = K::Number,
     .lo = B::fixed(minDRTI),
     .hi = B::fixed(maxDRTI),
     .caption = "Tempo em minutos para o gotejamento da agua resultante do degelo. Valor entre 0 "
                "a 30 minutos. Valor 0 sinaliza para não fazer esse processo",
     .subPage = 1},
};

constexpr tParamField fanFields[] = {
    {.index = idxSEN1,
     .code = "SE",
     .control = "spiFanSE",
     .kind = K::Sensor,
     .lo = B::fixed(1),
     .hi = B::relays(),
     .caption = "Sensor para o controle do modo de operação"},
    {.index = idxTEMP_SPST,
     .code = "SPST",
     .control = "edtFanSPST",
     .kind = K::Tenths,
     .lo = B::entry(idxTEMP_LO),
     .hi = B::entry(idxTEMP_HI),
     .caption = "Ajusta a temperatura alta do evaporador para parada do ventilador. "},
    {.index = idxTEMP_SPDL,
     .code = "SPDL",
     .control = "edtFanSPDL",
     .kind = K::Tenths,
     .lo = B::entry(idxTEMP_LO),
     .hi = B::entry(idxTEMP_HI),
     .caption = "Ajusta a temperatura do evaporador para que o ventilador volte a ligar durante a "
                "refrigeração. "},
    {.index = idxIRL,
     .code = "IRL",
     .control = "cbxFanIRL",
     .kind = K::Switch,
     .caption = irlCaption},
    {.index = idxDLY,
     .code = "DLY",
     .control = "edtFanDLY",
     .kind = K::Number,
     .lo = B::fixed(0),
     .hi = B::fixed(maxFDLY),
     .caption = "Tempo máximo em minutos para que o ventilador volte a ligar após o início da "
                "refrigeração. Valor em minuto entre 0 a 30, o valor 0 o ligamento do ventilador "
                "será só por temperatura",
     .subPage = 1},
    {.index = idxACTR,
     .code = "ACTR",
     .control = "cbxFanACTR",
     .kind = K::Switch,
     .caption = "Ligar ou desligar o ventilador junto com o compressor durante a refrigeração. Se "
                "deixar desabilitado o ventilador permanecerá ligado",
     .subPage = 1},
    {.index = idxDFON,
     .code = "DFON",
     .control = "cbxFanDFON",
     .kind = K::Switch,
     .caption = "Ligar o ventilador durante o degelo",
     .subPage = 1},
    {.index = idxGFON,
     .code = "GFON",
     .control = "cbxFanGFON",
     .kind = K::Switch,
     .caption = "Ligar o ventilador durante o recolhimento do gás",
     .subPage = 1},
};

constexpr tParamField heatFields[] = {
    {.index = idxSEN1,
     .code = "SE1",
     .control = "spiHeatSE1",
     .kind = K::Sensor,
     .lo = B::fixed(1),
     .hi = B::relays(),
     .caption = "Sensor usado no painel solar"},
    {.index = idxSEN2,
     .code = "SE2",
     .control = "spiHeatSE2",
     .kind = K::Sensor,
     .lo = B::fixed(1),
     .hi = B::relays(),
     .caption = "Sensor usado no tanque da água"},
    {.index = idxTEMP_TL,
     .code = "TL",
     .control = "edtHeatTL",
     .kind = K::Tenths,
     .lo = B::celsius(minTEMP_TL),
     .hi = B::celsius(maxTEMP_TL),
     .caption = "Temperatura mínima no painel solar para que a bomba ligue para circular a água "
                "quente do tanque para o painel. Valor entre 0°C/32°F a 20°C/°68F"},
    {.index = idxTEMP_TH,
     .code = "TH",
     .control = "edtHeatTH",
     .kind = K::Tenths,
     .lo = B::celsius(minTEMP_TH),
     .hi = B::celsius(maxTEMP_TH),
     .caption = "Temperatura máxima no tanque para que a bomba fique desligada. Valor entre "
                "0°C/32°C a 110°C/230°F"},
    {.index = idxIRL,
     .code = "IRL",
     .control = "cbxHeatIRL",
     .kind = K::Switch,
     .caption = irlCaption},
    {.index = idxTEMP_SP,
     .code = "SP",
     .control = "edtHeatSP",
     .kind = K::Tenths,
     .lo = B::fixed(minTEMP_HEAT_SP),
     .hi = B::celsius(maxTEMP_HEAT_SP),
     .caption = "Ajuste da temperatura de trabalho e age em cima do sensor de temperatura do "
                "reservatório de água. Valor entre 0.1°C/32,2°F a 90°C/°194F, a opção padrão é "
                "desligada = 0",
     .subPage = 1},
    {.index = idxTEMP_DT,
     .code = "DT",
     .control = "edtHeatDT",
     .kind = K::Tenths,
     .lo = B::celsius(minDT),
     .hi = B::celsius(maxDT),
     .caption = "Temperatura diferencial para o SP quando usado: Valor entre 0°C/F a 20.0°C/F. "
                "Valor padrão 2",
     .subPage = 1},
    {.index = idxTEMP_DTR,
     .code = "DTR",
     .control = "edtHeatDTR",
     .kind = K::Tenths,
     .lo = B::celsius(minTEMP_DTR),
     .hi = B::celsius(maxTEMP_DTR),
     .caption = "Temperatura mínima no coletor para que o diferencial apontado pelos "
                "registradores DON e DOFF entre em ação. Valor entre 1°C/33.8°F a 50°C/122°F",
     .subPage = 1},
    {.index = idxTEMP_DON,
     .code = "DON",
     .control = "edtHeatDON",
     .kind = K::Tenths,
     .lo = B::celsius(minTEMP_DON),
     .hi = B::celsius(maxTEMP_DON),
     .caption = "Temperatura diferencial entre painel e tanque para que a bomba ligue. Valor "
                "entre 0°C/32°F a 20°C/68°F",
     .subPage = 1},
    {.index = idxTEMP_DOFF,
     .code = "DOFF",
     .control = "edtHeatDOFF",
     .kind = K::Tenths,
     .lo = B::celsius(minTEMP_DOFF),
     .hi = B::celsius(maxTEMP_DOFF),
     .caption = "Temperatura diferencial entre painel e tanque para que a bomba desligue. Valor "
                "entre 0°C/32°F a 20°C/68°F",
     .subPage = 1},
};

constexpr tParamField auxFields[] = {
    {.index = idxSURL,
     .code = "SURL",
     .control = "spiAuxSURL",
     .kind = K::Whole,
     .lo = B::fixed(1),
     .hi = B::relays(),
     .caption = "Qual o rele que será dado o apoio. Valores de 1 a quantidade de reles no modelo "
                "do Ondrel"},
    {.index = idxIRL,
     .code = "IRL",
     .control = "cbxAuxIRL",
     .kind = K::Switch,
     .caption = irlCaption},
};

constexpr tParamField timerFields[] = {
    setPoint(0, "TiSet1", 0),
    setPoint(1, "TiSet2", 0),
    setPoint(2, "TiSet3", 0),
    setPoint(3, "TiSet4", 0),
    {.index = idxIRL,
     .code = "IRL",
     .control = "cbxTiIRL",
     .kind = K::Switch,
     .caption = irlCaption},
};
} // namespace

tFieldTable ColdFields() {
    return coldFields;
}
tFieldTable ColdTimerFields() {
    return coldTimerFields;
}
tFieldTable DefrostFields() {
    return defrostFields;
}
tFieldTable FanFields() {
    return fanFields;
}
tFieldTable HeatFields() {
    return heatFields;
}
tFieldTable AuxFields() {
    return auxFields;
}
tFieldTable TimerFields() {
    return timerFields;
}

std::vector<tFieldTable> RelayFieldTables(int32_t op) {
    switch (op) {
    case opCOLD:
    case opHOT:
        return {coldFields};
    case opTIMERIF:
        return {coldFields, coldTimerFields};
    case opDEFROST:
        return {defrostFields};
    case opFAN:
        return {fanFields};
    case opHEATER:
        return {heatFields};
    case opAUX:
        return {auxFields};
    case opTIMER:
        return {timerFields};
    default:
        return {};
    }
}
