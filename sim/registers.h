#pragma once

// Holding-register addresses of the controller.
namespace sim::regs {

constexpr int kModel = 0x0000;      // two words, characters 1..4, low byte first
constexpr int kFirmware = 0x0002;   // major character low byte, minor high byte
constexpr int kOperations = 0x0003; // one operation code per relay
constexpr int kSystem = 0x0020;     // System[0..12]
constexpr int kSystemCount = 13;
constexpr int kUnit = kSystem + 6;       // 1 = Fahrenheit
constexpr int kSlaveMode = kSystem + 12; // 1 = slave
constexpr int kRelayState = 0x0200;      // one word per relay, bit 14 energised
constexpr int kSensor = 0x0204;          // per sensor: state, value, minimum, maximum
constexpr int kFlags = 0x0214;           // bit 0 Fahrenheit, bit 1 slave mode
constexpr int kRelayBlock = 0x0400;      // + 0x100 per relay
constexpr int kRelayBlockStep = 0x100;
constexpr int kRelayBlockCount = 24;
constexpr int kDefaults = 0xA000;
constexpr int kRestartStats = 0xA001;
constexpr int kSetRelays = 0xA002;
constexpr int kClockOutput = 0xA003;
constexpr int kClock = 0xA010; // year, month, day, weekday, hour, minute, second
constexpr int kClockCount = 7;
constexpr int kCalibration = 0xA017; // value low, value high, direction
constexpr int kLogSlots = 0xB000;
constexpr int kLogLast = 0xB001;
constexpr int kLogClear = 0xB002;
constexpr int kLogSelect = 0xB003;
constexpr int kLogSlot = 0xB004; // event, sensor 1, sensor 2, y, m, d, h, min, s
constexpr int kLogSlotCount = 9;
constexpr int kEnd = 0xB00D; // one past the last register

constexpr int kMaxRelays = 4;
constexpr int kSensors = 4;

} // namespace sim::regs
