#include "model.h"

#include "registers.h"

#include <array>
#include <modbus/modbus.h>

namespace sim {

namespace {

using namespace regs;

struct Block {
    int first, last; // inclusive
    bool needsClock;
};

// A request must fall entirely inside one of these.
constexpr std::array<Block, 10> kBlocks{{
    {kModel, kOperations + kMaxRelays - 1, false},
    {kSystem, kSystem + kSystemCount - 1, false},
    {kRelayState, kFlags, false},
    {kRelayBlock + 0 * kRelayBlockStep, kRelayBlock + 0 * kRelayBlockStep + kRelayBlockCount - 1,
     false},
    {kRelayBlock + 1 * kRelayBlockStep, kRelayBlock + 1 * kRelayBlockStep + kRelayBlockCount - 1,
     false},
    {kRelayBlock + 2 * kRelayBlockStep, kRelayBlock + 2 * kRelayBlockStep + kRelayBlockCount - 1,
     false},
    {kRelayBlock + 3 * kRelayBlockStep, kRelayBlock + 3 * kRelayBlockStep + kRelayBlockCount - 1,
     false},
    {kDefaults, kClockOutput, false},
    {kClock, kCalibration + 2, true},
    {kLogSlots, kLogSlot + kLogSlotCount - 1, false},
}};

bool readOnly(int a) {
    return a < kOperations || (a >= kRelayState && a <= kFlags) || a == kLogSlots ||
           a == kLogLast || a >= kLogSlot;
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

} // namespace

Model::Model(const Options &options) : m_options(options) {
    for (const auto &m : kModels)
        if (options.model == m.name) {
            m_relays = m.relays;
            m_clock = m.clock;
        }
    m_mapping = modbus_mapping_new(0, 0, kEnd, 0);
    const std::string &name = options.model;
    auto ch = [&](size_t i) { return i < name.size() ? uint8_t(name[i]) : uint8_t(0); };
    at(kModel) = uint16_t(ch(0) | ch(1) << 8);
    at(kModel + 1) = uint16_t(ch(2) | ch(3) << 8);
    at(kFirmware) = uint16_t(uint8_t(options.firmwareMajor) | uint8_t(options.firmwareMinor) << 8);
}

Model::~Model() {
    modbus_mapping_free(m_mapping);
}

uint16_t &Model::at(int address) {
    return m_mapping->tab_registers[address];
}

int Model::check(uint8_t function, int address, int count,
                 const std::vector<uint16_t> &values) const {
    (void)values;
    const int last = address + count - 1;
    const Block *inside = nullptr;
    for (const auto &b : kBlocks)
        if (address >= b.first && last <= b.last)
            inside = &b;
    if (!inside || (inside->needsClock && !m_clock))
        return MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS;
    if (function != 3)
        for (int a = address; a <= last; ++a)
            if (readOnly(a))
                return MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS;
    return 0;
}

void Model::beforeRead(int, int) {}

void Model::afterWrite(int address, int count) {
    for (int a = address; a < address + count; ++a) {
        // The operation code shows at two places; a write to either sets both.
        if (a >= kOperations && a < kOperations + kMaxRelays)
            at(kRelayBlock + kRelayBlockStep * (a - kOperations)) = at(a);
        for (int r = 0; r < kMaxRelays; ++r)
            if (a == kRelayBlock + kRelayBlockStep * r)
                at(kOperations + r) = at(a);
    }
    at(kFlags) = uint16_t((at(kUnit) == 1 ? 1 : 0) | (at(kSlaveMode) != 0 ? 2 : 0));
}

void Model::setSensor(int sensor, SensorState state, int tenths) {
    if (sensor < 0 || sensor >= kSensors)
        return;
    const int base = kSensor + 4 * sensor;
    at(base) = uint16_t(state);
    at(base + 1) = at(base + 2) = at(base + 3) = uint16_t(tenths);
}

uint16_t Model::reg(int address) {
    if (address < 0 || address >= kEnd)
        return 0;
    beforeRead(address, 1);
    return at(address);
}

void Model::setReg(int address, uint16_t value) {
    if (address < 0 || address >= kEnd)
        return;
    at(address) = value;
    afterWrite(address, 1);
}

} // namespace sim
