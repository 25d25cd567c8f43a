// The controller's register map as the driver knows it: how each command
// sets up its transaction and how a successful read lands in the fields.
#include "u_ondrel.h"

#include <iterator>

namespace {

// Words travel as 16 bits; a field wider than that loses its upper bits.
uint16_t low16(int32_t v) {
    return uint16_t(uint32_t(v) & 0xFFFF);
}
int32_t sext(uint16_t w) {
    return int16_t(w);
}
int32_t join32(const uint16_t *w) {
    return int32_t(uint32_t(w[0]) | uint32_t(w[1]) << 16);
}
void split32(int32_t v, uint16_t *w) {
    w[0] = low16(v);
    w[1] = low16(int32_t(uint32_t(v) >> 16));
}

void unpackInfo(tOndrel &d, const uint16_t *w) {
    auto ch = [](uint16_t byte) { return QChar(char16_t(byte & 0xFF)); };
    d.Model = QString() + ch(w[0]) + ch(w[0] >> 8) + ch(w[1]) + ch(w[1] >> 8);
    d.Fimware = QString() + ch(w[2]) + u'.' + ch(w[2] >> 8);
    for (int r = 0; r < 4; ++r)
        d.Relay[r].par[0] = w[3 + r];
}

void unpackStatus(tOndrel &d, const uint16_t *w) {
    for (int r = 0; r < 4; ++r)
        d.Relay[r].sts = (w[r] & 0x4000) ? 1 : 0;
    const int32_t unit = w[20] & 0x0001;
    for (int s = 0; s < 4; ++s) {
        const uint16_t *b = w + 4 + 4 * s;
        tSensor &t = d.Temperature[s];
        t.sts = b[0] & 0x000F;
        t.value = sext(b[1]);
        t.valueMin = sext(b[2]);
        t.valueMax = sext(b[3]);
        t.TemperatureType = unit;
    }
    d.ControllerUnit = unit ? tempFAHRENHEIT : tempCELSIUS;
    d.System[12] = (w[20] >> 1) & 1;
}

void clearLogInfo(tOndrel &d) {
    d.LogCountSlots = -1;
    d.LogLastSlot = -1;
}

void unpackLogInfo(tOndrel &d, const uint16_t *w) {
    d.LogCountSlots = sext(w[0]);
    d.LogLastSlot = sext(w[1]);
}

void unpackLogSlot(tOndrel &d, const uint16_t *w) {
    tSlotLog &l = d.Log;
    l.event = uint8_t(w[0]);
    l.sensor1 = w[1];
    l.sensor2 = w[2];
    l.year = w[3];
    l.month = uint8_t(w[4]);
    l.mday = uint8_t(w[5]);
    l.hour = uint8_t(w[6]);
    l.min = uint8_t(w[7]);
    l.sec = uint8_t(w[8]);
}

// Clock registers in the order the controller keeps them.
constexpr uint16_t tRTC::*rtcDate[] = {&tRTC::Year, &tRTC::Month, &tRTC::Day, &tRTC::Weekday};
constexpr uint16_t tRTC::*rtcTime[] = {&tRTC::Hour, &tRTC::Minute, &tRTC::Second};

template <const auto &Fields> void unpackRtc(tOndrel &d, const uint16_t *w) {
    for (size_t i = 0; i < std::size(Fields); ++i)
        d.RTC.*Fields[i] = w[i];
}

template <const auto &Fields> void packRtc(const tOndrel &d, uint16_t *w) {
    for (size_t i = 0; i < std::size(Fields); ++i)
        w[i] = d.RTC.*Fields[i];
}

void unpackRtcFormat(tOndrel &d, const uint16_t *w) {
    d.System[7] = w[0];
    d.System[8] = w[1];
}

void packRtcFormat(const tOndrel &d, uint16_t *w) {
    w[0] = low16(d.System[7]);
    w[1] = low16(d.System[8]);
}

void unpackRtcCal(tOndrel &d, const uint16_t *w) {
    d.CalVal = join32(w);
    d.CalDir = w[2];
}

void packRtcCal(const tOndrel &d, uint16_t *w) {
    split32(d.CalVal, w);
    w[2] = low16(d.CalDir);
}

// The controller's unit once System[6] was read or written.
void learnUnit(tOndrel &d) {
    d.ControllerUnit = d.System[6] == 1 ? tempFAHRENHEIT : tempCELSIUS;
}

void unpackSystem(tOndrel &d, const uint16_t *w) {
    for (int i = 0; i < 13; ++i)
        d.System[i] = sext(w[i]);
    learnUnit(d);
}

void systemWritten(tOndrel &d, const uint16_t *) {
    learnUnit(d);
}

void packSystem(const tOndrel &d, uint16_t *w) {
    for (int i = 0; i < 13; ++i)
        w[i] = low16(d.System[i]);
}

void unpackOpRelays(tOndrel &d, const uint16_t *w) {
    for (int r = 0; r < 4; ++r)
        d.Relay[r].par[0] = w[r];
}

void packOpRelays(const tOndrel &d, uint16_t *w) {
    for (int r = 0; r < 4; ++r)
        w[r] = low16(d.Relay[r].par[0]);
}

// Relay parameter block: par[0..7] signed, par[8..15] unsigned, par[16..19]
// 32 bits each in two words, low word first.
template <int R> void unpackRelayBlock(tOndrel &d, const uint16_t *w) {
    auto &par = d.Relay[R].par;
    for (int i = 0; i < 8; ++i)
        par[i] = sext(w[i]);
    for (int i = 8; i < 16; ++i)
        par[i] = w[i];
    for (int k = 0; k < 4; ++k)
        par[16 + k] = join32(w + 16 + 2 * k);
}

template <int R> void packRelayBlock(const tOndrel &d, uint16_t *w) {
    const auto &par = d.Relay[R].par;
    for (int i = 0; i < 16; ++i)
        w[i] = low16(par[i]);
    for (int k = 0; k < 4; ++k)
        split32(par[16 + k], w + 16 + 2 * k);
}

uint16_t zeroValue(const tOndrel &) {
    return 0;
}
uint16_t logSlotValue(const tOndrel &d) {
    return low16(d.LogSlotRead);
}

// Bit r energises relay r. Only a relay known to be on sets its bit: a state
// never read (-1) must not switch every output on.
uint16_t relayStateWord(const tOndrel &d) {
    uint16_t v = 0;
    for (int r = 0; r < 4; ++r)
        if (d.Relay[r].sts == 1)
            v |= uint16_t(1u << r);
    return v;
}

struct tCommandRow {
    tCommand cmd;
    tcmd kind;
    int32_t start;
    int32_t count;
    uint16_t (*value)(const tOndrel &) = nullptr;          // writeREG
    void (*pack)(const tOndrel &, uint16_t *) = nullptr;   // writeREGS
    void (*unpack)(tOndrel &, const uint16_t *) = nullptr; // on success
    void (*before)(tOndrel &) = nullptr;                   // field changes made up front
    uint32_t known = 0; // what the copy holds once the command succeeded
};

// One row per command, in tCommand order. A writeREG count only shows in
// the trace.
constexpr tCommandRow commandMap[] = {
    {.cmd = cmdNONE, .kind = readREGS, .start = 0x0000, .count = 7},
    {.cmd = cmdGET_INFO,
     .kind = readREGS,
     .start = 0x0000,
     .count = 7,
     .unpack = unpackInfo,
     .known = knownOPS},
    {.cmd = cmdGET_STATUS,
     .kind = readREGS,
     .start = 0x0200,
     .count = 21,
     .unpack = unpackStatus,
     .known = knownUNIT},
    {.cmd = cmdRST_STAT_TEMP, .kind = writeREG, .start = 0xA001, .count = 1, .value = zeroValue},
    {.cmd = cmdSET_STANDARD, .kind = writeREG, .start = 0xA000, .count = 7, .value = zeroValue},
    {.cmd = cmdGET_LOG_INFO,
     .kind = readREGS,
     .start = 0xB000,
     .count = 2,
     .unpack = unpackLogInfo,
     .before = clearLogInfo},
    {.cmd = cmdSET_LOG_READ, .kind = writeREG, .start = 0xB003, .count = 7, .value = logSlotValue},
    {.cmd = cmdGET_LOG_READ,
     .kind = readREGS,
     .start = 0xB004,
     .count = 9,
     .unpack = unpackLogSlot},
    {.cmd = cmdSET_LOG_CLEAR, .kind = writeREG, .start = 0xB002, .count = 7, .value = zeroValue},
    {.cmd = cmdGET_RTC_DATE,
     .kind = readREGS,
     .start = 0xA010,
     .count = 4,
     .unpack = unpackRtc<rtcDate>,
     .known = knownCLOCK},
    {.cmd = cmdSET_RTC_DATE,
     .kind = writeREGS,
     .start = 0xA010,
     .count = 4,
     .pack = packRtc<rtcDate>,
     .known = knownCLOCK},
    {.cmd = cmdGET_RTC_TIME,
     .kind = readREGS,
     .start = 0xA014,
     .count = 3,
     .unpack = unpackRtc<rtcTime>,
     .known = knownCLOCK},
    {.cmd = cmdSET_RTC_TIME,
     .kind = writeREGS,
     .start = 0xA014,
     .count = 3,
     .pack = packRtc<rtcTime>,
     .known = knownCLOCK},
    {.cmd = cmdGET_RTC_FORMAT,
     .kind = readREGS,
     .start = 0x0027,
     .count = 2,
     .unpack = unpackRtcFormat,
     .known = knownCLOCK | knownFORMAT},
    {.cmd = cmdSET_RTC_FORMAT,
     .kind = writeREGS,
     .start = 0x0027,
     .count = 2,
     .pack = packRtcFormat,
     .known = knownCLOCK | knownFORMAT},
    {.cmd = cmdGET_RTC_CAL,
     .kind = readREGS,
     .start = 0xA017,
     .count = 3,
     .unpack = unpackRtcCal,
     .known = knownCAL},
    {.cmd = cmdSET_RTC_CAL,
     .kind = writeREGS,
     .start = 0xA017,
     .count = 3,
     .pack = packRtcCal,
     .known = knownCAL},
    {.cmd = cmdSET_RTC_CLKOUT, .kind = writeREG, .start = 0xA003, .count = 7, .value = zeroValue},
    {.cmd = cmdGET_PAR_SYSTEM,
     .kind = readREGS,
     .start = 0x0020,
     .count = 13,
     .unpack = unpackSystem,
     .known = knownSYSTEM | knownUNIT},
    {.cmd = cmdSET_PAR_SYSTEM,
     .kind = writeREGS,
     .start = 0x0020,
     .count = 13,
     .pack = packSystem,
     .unpack = systemWritten,
     .known = knownSYSTEM | knownUNIT},
    {.cmd = cmdGET_PAR_opRELAYS,
     .kind = readREGS,
     .start = 0x0003,
     .count = 4,
     .unpack = unpackOpRelays,
     .known = knownOPS},
    {.cmd = cmdSET_PAR_opRELAYS,
     .kind = writeREGS,
     .start = 0x0003,
     .count = 4,
     .pack = packOpRelays,
     .known = knownOPS},
    {.cmd = cmdSET_RELAYS, .kind = writeREG, .start = 0xA002, .count = 7, .value = relayStateWord},
    {.cmd = cmdGET_PAR_RELAY1,
     .kind = readREGS,
     .start = 0x0400,
     .count = 24,
     .unpack = unpackRelayBlock<0>,
     .known = knownRelay(0)},
    {.cmd = cmdSET_PAR_RELAY1,
     .kind = writeREGS,
     .start = 0x0400,
     .count = 24,
     .pack = packRelayBlock<0>,
     .known = knownRelay(0)},
    {.cmd = cmdGET_PAR_RELAY2,
     .kind = readREGS,
     .start = 0x0500,
     .count = 24,
     .unpack = unpackRelayBlock<1>,
     .known = knownRelay(1)},
    {.cmd = cmdSET_PAR_RELAY2,
     .kind = writeREGS,
     .start = 0x0500,
     .count = 24,
     .pack = packRelayBlock<1>,
     .known = knownRelay(1)},
    {.cmd = cmdGET_PAR_RELAY3,
     .kind = readREGS,
     .start = 0x0600,
     .count = 24,
     .unpack = unpackRelayBlock<2>,
     .known = knownRelay(2)},
    {.cmd = cmdSET_PAR_RELAY3,
     .kind = writeREGS,
     .start = 0x0600,
     .count = 24,
     .pack = packRelayBlock<2>,
     .known = knownRelay(2)},
    {.cmd = cmdGET_PAR_RELAY4,
     .kind = readREGS,
     .start = 0x0700,
     .count = 24,
     .unpack = unpackRelayBlock<3>,
     .known = knownRelay(3)},
    {.cmd = cmdSET_PAR_RELAY4,
     .kind = writeREGS,
     .start = 0x0700,
     .count = 24,
     .pack = packRelayBlock<3>,
     .known = knownRelay(3)},
};
static_assert(std::size(commandMap) == size_t(tCommandCount));

constexpr bool rowsInOrder() {
    for (size_t i = 0; i < std::size(commandMap); ++i)
        if (commandMap[i].cmd != tCommand(i))
            return false;
    return true;
}
static_assert(rowsInOrder());

const tCommandRow *rowOf(tCommand cmd) {
    if (cmd < 0 || cmd >= tCommandCount)
        return nullptr;
    return &commandMap[cmd];
}

} // namespace

tCommandShape CommandShape(tCommand cmd) {
    const tCommandRow *row = rowOf(cmd);
    if (!row)
        return {};
    return {.kind = row->kind,
            .start = row->start,
            .count = row->kind == writeREG ? 1 : row->count,
            .known = row->known};
}

tTransaction tOndrel::Prepare(tCommand cmd) {
    tTransaction t;
    const tCommandRow *row = rowOf(cmd);
    if (!row)
        return t; // an unknown command behaves like cmdNONE
    t.kind = row->kind;
    t.start = row->start;
    t.count = row->count;
    if (row->before)
        row->before(*this);
    if (row->value)
        t.value = row->value(*this);
    if (row->pack)
        row->pack(*this, FRegs);
    return t;
}

void tOndrel::Unpack(tCommand cmd) {
    const tCommandRow *row = rowOf(cmd);
    if (!row)
        return;
    if (row->unpack)
        row->unpack(*this, FRegs);
    Known |= row->known;
}
