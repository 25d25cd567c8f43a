#include "model.h"

#include "defaults.h"
#include "registers.h"
#include "relay_logic.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <modbus/modbus.h>

namespace sim {

namespace {

using namespace regs;

constexpr uint16_t kEnergised = 0x4000;

struct Block {
    int first, last; // inclusive
    bool needsClock;
};

constexpr int relayBase(int r) {
    return kRelayBlock + kRelayBlockStep * r;
}

// A request must fall entirely inside one of these.
constexpr std::array<Block, 10> kBlocks{{
    {kModel, kOperations + kMaxRelays - 1, false},
    {kSystem, kSystem + kSystemCount - 1, false},
    {kRelayState, kFlags, false},
    {relayBase(0), relayBase(0) + kRelayBlockCount - 1, false},
    {relayBase(1), relayBase(1) + kRelayBlockCount - 1, false},
    {relayBase(2), relayBase(2) + kRelayBlockCount - 1, false},
    {relayBase(3), relayBase(3) + kRelayBlockCount - 1, false},
    {kDefaults, kClockOutput, false},
    {kClock, kCalibration + 2, true},
    {kLogSlots, kLogSlot + kLogSlotCount - 1, false},
}};

bool readOnly(int a) {
    return a < kOperations || (a >= kRelayState && a <= kFlags) || a == kLogSlots ||
           a == kLogLast || a >= kLogSlot;
}

// Registers that act when written and take only 0.
bool trigger(int a) {
    return a == kDefaults || a == kRestartStats || a == kClockOutput || a == kLogClear;
}

struct ModelInfo {
    const char *name;
    int relays;
    bool clock;
};

constexpr std::array<ModelInfo, 5> kModels{{
    {"qx4r", 4, true},
    {"qx3r", 3, true},
    {"qx2r", 2, true},
    {"qx2n", 2, false},
    {"qx1r", 1, true},
}};

// Sign and magnitude in tenths, bit 12 Fahrenheit, bits 14/13 open/short
// (both while the sensor starts up).
uint16_t logTemperature(uint16_t state, int tenths, bool fahrenheit) {
    const uint16_t unit = fahrenheit ? 0x1000 : 0;
    switch (state & 0xF) {
    case 0:
        return unit | 0x6000;
    case 2:
        return unit | 0x2000;
    case 3:
        return unit | 0x4000;
    default:
        return uint16_t(unit | (tenths < 0 ? 0x8000 : 0) | std::min(std::abs(tenths), 0xFFF));
    }
}

} // namespace

Model::Model(const Options &options) : m_options(options), m_log(options.logSlots) {
    for (const auto &m : kModels)
        if (options.model == m.name) {
            m_relays = m.relays;
            m_hasClock = m.clock;
        }
    m_mapping = modbus_mapping_new(0, 0, kEnd, 0);
    const std::string &name = options.model;
    auto ch = [&](size_t i) { return i < name.size() ? uint8_t(name[i]) : uint8_t(0); };
    at(kModel) = uint16_t(ch(0) | ch(1) << 8);
    at(kModel + 1) = uint16_t(ch(2) | ch(3) << 8);
    at(kFirmware) = uint16_t(uint8_t(options.firmwareMajor) | uint8_t(options.firmwareMinor) << 8);
    factoryDefaults();
    preload(options.preloadEvents);
}

Model::~Model() {
    modbus_mapping_free(m_mapping);
}

uint16_t &Model::at(int address) {
    return m_mapping->tab_registers[address];
}
uint16_t Model::at(int address) const {
    return m_mapping->tab_registers[address];
}
bool Model::fahrenheit() const {
    return at(kUnit) == 1;
}
bool Model::slaveMode() const {
    return at(kSlaveMode) != 0;
}

double Model::seconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - m_started).count();
}

void Model::factoryDefaults() {
    for (int i = 0; i < kSystemCount; ++i)
        at(kSystem + i) = uint16_t(kDefaultSystem[size_t(i)]);
    for (int r = 0; r < kMaxRelays; ++r) {
        for (int i = 0; i < kRelayBlockCount; ++i)
            at(relayBase(r) + i) =
                r < m_relays ? uint16_t(kDefaultRelays[size_t(r)][size_t(i)]) : 0;
        at(kOperations + r) = at(relayBase(r));
    }
    m_fahrenheit = false;
    runRelays();
}

// Events spaced ten minutes apart up to now, relays taking turns on and off.
void Model::preload(int events) {
    for (int i = 0; i < events; ++i) {
        const int relay = i % m_relays;
        const bool on = (i / m_relays) % 2 == 0;
        ControllerClock then;
        then.setOffset(-600LL * (events - 1 - i));
        const auto t = then.now();
        const auto sensor = [&](int s, int shift) {
            const auto v = temperature(s);
            return logTemperature(m_sensors[s].state, v ? *v + shift : 0, fahrenheit());
        };
        const int op = at(kOperations + relay) & 0xF;
        const int swing = on ? 20 : -10;
        m_log.record(
            {uint16_t((on ? 1 : 0) | relay << 2 | op << 4), sensor(relay % Sensors::kCount, swing),
             sensor((relay + 1) % Sensors::kCount, swing), t[0], t[1], t[2], t[4], t[5], t[6]});
    }
}

int Model::check(uint8_t function, int address, int count,
                 const std::vector<uint16_t> &values) const {
    const int last = address + count - 1;
    const bool inside = std::any_of(kBlocks.begin(), kBlocks.end(), [&](const Block &b) {
        return address >= b.first && last <= b.last && (m_hasClock || !b.needsClock);
    });
    if (!inside)
        return MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS;
    if (function == 3)
        return 0;
    for (int i = 0; i < count; ++i) {
        const int a = address + i;
        const uint16_t v = values[size_t(i)];
        if (readOnly(a))
            return MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS;
        if ((trigger(a) && v != 0) || (a == kLogSelect && v >= m_log.slots()))
            return MODBUS_EXCEPTION_ILLEGAL_DATA_VALUE;
        // Relays obey the master only in slave mode; otherwise the request is
        // one the controller cannot serve in its present state.
        if (a == kSetRelays && !slaveMode())
            return MODBUS_EXCEPTION_ILLEGAL_FUNCTION;
    }
    return 0;
}

std::optional<int> Model::temperature(int sensor) const {
    if (sensor < 0 || sensor >= Sensors::kCount || !m_sensors.valid(sensor))
        return std::nullopt;
    return Sensors::reported(m_sensors[sensor].now);
}

uint16_t Model::logWord(int sensor) const {
    if (sensor < 0 || sensor >= Sensors::kCount)
        return 0;
    const auto t = temperature(sensor);
    return logTemperature(m_sensors[sensor].state, t.value_or(0), fahrenheit());
}

void Model::refresh() {
    for (int s = 0; s < Sensors::kCount; ++s) {
        const auto &x = m_sensors[s];
        const int base = kSensor + 4 * s;
        at(base) = x.state;
        at(base + 1) = uint16_t(Sensors::reported(x.now));
        at(base + 2) = uint16_t(Sensors::reported(x.min));
        at(base + 3) = uint16_t(Sensors::reported(x.max));
    }
    at(kFlags) = uint16_t((fahrenheit() ? 1 : 0) | (slaveMode() ? 2 : 0));
    at(kDefaults) = at(kRestartStats) = at(kClockOutput) = at(kLogClear) = 0;
    at(kSetRelays) = 0;
    for (int r = 0; r < kMaxRelays; ++r)
        at(kSetRelays) |= uint16_t((at(kRelayState + r) & kEnergised) ? 1 << r : 0);
    const auto now = m_clock.now();
    std::copy(now.begin(), now.end(), &at(kClock));
    at(kLogSlots) = uint16_t(m_log.slots());
    at(kLogLast) = uint16_t(m_log.last());
    at(kLogSelect) = uint16_t(m_log.selected());
    for (int i = 0; i < kLogSlotCount; ++i)
        at(kLogSlot + i) = m_log.word(i);
}

void Model::beforeRead() {
    refresh();
}

void Model::afterWrite(int address, int count) {
    const int end = address + count;
    // Clock fields written together are set together.
    const int first = std::max(address, kClock), last = std::min(end, kClock + kClockCount);
    if (first < last)
        m_clock.set(first - kClock, &at(first), last - first);
    for (int a = address; a < end; ++a)
        apply(a);
    followUnit();
    runRelays();
}

void Model::apply(int a) {
    const uint16_t v = at(a);
    if (a >= kOperations && a < kOperations + kMaxRelays)
        at(relayBase(a - kOperations)) = v; // the code shows at both places
    else if (a >= kRelayBlock && (a - kRelayBlock) % kRelayBlockStep == 0 && a <= relayBase(3))
        at(kOperations + (a - kRelayBlock) / kRelayBlockStep) = v;
    else if (a == kDefaults)
        factoryDefaults();
    else if (a == kRestartStats)
        m_sensors.restartStatistics();
    else if (a == kSetRelays)
        for (int r = 0; r < m_relays; ++r)
            switchRelay(r, v >> r & 1);
    else if (a == kLogClear)
        m_log.clear();
    else if (a == kLogSelect)
        m_log.select(v);
    // What follows only setReg reaches: the line refuses these writes.
    else if (a >= kSensor && a < kFlags) {
        const int s = (a - kSensor) / 4;
        const double t = int16_t(v);
        switch ((a - kSensor) % 4) {
        case 0:
            m_sensors.setState(s, v);
            break;
        case 1:
            m_sensors.setValue(s, t, seconds());
            break;
        case 2:
            m_sensors.setMin(s, t);
            break;
        default:
            m_sensors.setMax(s, t);
        }
    } else if (a == kFlags) {
        // A raw override: unit and mode change, nothing held is converted.
        at(kUnit) = v & 1;
        at(kSlaveMode) = v >> 1 & 1;
        m_fahrenheit = fahrenheit();
    } else if (a == kLogSlots)
        m_log.resize(v);
    else if (a == kLogLast)
        m_log.setLast(int16_t(v));
    else if (a >= kLogSlot)
        m_log.setWord(a - kLogSlot, v);
}

// The controller holds its temperatures in its own unit and converts them
// when the unit changes, relay parameters included, as the master does with
// its copy.
void Model::followUnit() {
    if (fahrenheit() == m_fahrenheit)
        return;
    m_fahrenheit = fahrenheit();
    m_sensors.convert(m_fahrenheit);
    for (int r = 0; r < kMaxRelays; ++r)
        for (int i = 1; i <= 7; ++i) {
            const double x = int16_t(at(relayBase(r) + i)) / 10.0;
            const double y = m_fahrenheit ? x * 1.8 + 32 : (x - 32) / 1.8;
            at(relayBase(r) + i) = uint16_t(int16_t(std::nearbyint(y * 10)));
        }
}

void Model::switchRelay(int relay, bool on) {
    uint16_t &word = at(kRelayState + relay);
    if (bool(word & kEnergised) == on)
        return;
    word = on ? word | kEnergised : word & ~kEnergised;
    const int op = at(kOperations + relay) & 0xF;
    const int base = relayBase(relay);
    const int aux = op == 5 ? int16_t(at(base + 13)) : (int16_t(at(base + 12)) + 1) % 4;
    const auto t = m_clock.now();
    m_log.record({uint16_t(on | relay << 2 | op << 4), logWord(int16_t(at(base + 12))),
                  logWord(aux), t[0], t[1], t[2], t[4], t[5], t[6]});
}

// A relay switches when what its operation wants changes, not whenever it
// differs: a state set by hand holds until the conditions move.
void Model::runRelays() {
    if (!m_relayLogic || slaveMode()) {
        m_wanted.fill(std::nullopt); // when the logic takes over, every relay is settled anew
        return;
    }
    RelayView view;
    for (int s = 0; s < Sensors::kCount; ++s)
        view.temperature[size_t(s)] = temperature(s);
    const auto now = m_clock.now();
    view.weekday = now[ControllerClock::Weekday];
    view.minuteOfDay = now[ControllerClock::Hour] * 60 + now[ControllerClock::Minute];
    for (int r = m_relays - 1; r >= 0; --r)
        if (at(kOperations + r) == 1)
            view.firstCooling = r;
    // Relays that follow others are settled once the others are.
    for (bool followers : {false, true})
        for (int r = 0; r < m_relays; ++r) {
            const int base = relayBase(r);
            for (int i = 0; i < 16; ++i)
                view.par[size_t(i)] = i < 8 ? int16_t(at(base + i)) : at(base + i);
            for (int k = 0; k < 4; ++k)
                view.par[size_t(16 + k)] =
                    int32_t(at(base + 16 + 2 * k) | uint32_t(at(base + 17 + 2 * k)) << 16);
            for (int o = 0; o < kMaxRelays; ++o)
                view.others[size_t(o)] = at(kRelayState + o) & kEnergised;
            if (followsOthers(view.par[0]) != followers)
                continue;
            const auto want = relayWants(view);
            if (want && want != m_wanted[size_t(r)])
                switchRelay(r, *want);
            if (want)
                m_wanted[size_t(r)] = want;
        }
}

void Model::tick() {
    const double now = seconds();
    if (now - m_lastTick < 1.0)
        return;
    m_lastTick = now;
    m_sensors.drift(now);
    runRelays();
}

uint16_t Model::reg(int address) {
    if (address < 0 || address >= kEnd)
        return 0;
    refresh();
    return at(address);
}

void Model::setReg(int address, uint16_t value) {
    if (address < 0 || address >= kEnd)
        return;
    refresh();
    at(address) = value;
    afterWrite(address, 1);
}

void Model::setSensor(int sensor, SensorState state, int tenths) {
    if (sensor < 0 || sensor >= Sensors::kCount)
        return;
    m_sensors.setState(sensor, uint16_t(state));
    m_sensors.setValue(sensor, tenths, seconds());
    runRelays();
}

void Model::holdSensor(int sensor, SensorState state, int tenths) {
    if (sensor < 0 || sensor >= Sensors::kCount)
        return;
    m_sensors.hold(sensor);
    setSensor(sensor, state, tenths);
}

void Model::addLogSlot(const LogSlot &s) {
    m_log.record(
        {s.event, s.sensor1, s.sensor2, s.year, s.month, s.day, s.hour, s.minute, s.second});
}

} // namespace sim
