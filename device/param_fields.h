#pragma once

// Parameter fields as data: where a value sits in a block (System[] or a
// relay's par[]), the short code the controller knows it by, how it is shown
// and edited, and its bounds. Screens build their controls from these rows
// and programs without a window name and compare fields by them; the
// arithmetic of each kind lives here so both agree to the last tenth.

#include <QString>

#include <array>
#include <cstdint>
#include <span>

class tOndrel;

enum class tFieldKind : uint8_t {
    Tenths,       // a temperature or difference: count / 10, one decimal
    Sensor,       // a sensor number kept from 0, shown from 1
    Number,       // a whole number typed as a decimal and rounded
    Whole,        // a whole number in a spin box
    Switch,       // on when the value is above 0
    Choice,       // the index of an item of a list
    TwoWay,       // a list of two items: item 1 when the value is above 0
    HoursMinutes, // minutes edited as hours and minutes
    SetPoint,     // a packed timer set-point word
};

// One bound of a box. Celsius constants follow the controller's unit; a
// bound taken from the block is that entry as a tenths count.
struct tBound {
    enum tFrom : uint8_t { None, Fixed, Celsius, Par, Relays };
    tFrom from = None;
    double value = 0; // Fixed, Celsius
    int par = 0;      // Par: the block entry whose count / 10 is the bound

    static constexpr tBound fixed(double v) { return {.from = Fixed, .value = v}; }
    static constexpr tBound celsius(double v) { return {.from = Celsius, .value = v}; }
    static constexpr tBound entry(int index) { return {.from = Par, .par = index}; }
    static constexpr tBound relays() { return {.from = Relays}; }
};

struct tParamField {
    int index = 0;            // entry of the block
    const char *code = "";    // shown left of the control ("SP", "OFS1")
    const char *control = ""; // object name; HoursMinutes: the hours box;
                              // SetPoint: the row's name part ("TiSet1")
    const char *minutes = ""; // HoursMinutes: the minutes box
    const char *toggle = "";  // a check box that switches the value on (0 when off)
    tFieldKind kind = tFieldKind::Number;
    tBound lo = {}, hi = {};  // HoursMinutes: bounds of the hours box
    const char *caption = ""; // beside the control, or the check box's text
    const char *hint = "";    // tooltip
    const char *choices = ""; // Choice: items separated by '|'
    int subPage = 0;          // index of the sub-page that holds the control
    int decimals = 1;         // Number, Tenths, HoursMinutes: decimals shown
};

using tFieldTable = std::span<const tParamField>;

// Rounding of what a box holds: to the nearest integer, halves to even.
int32_t roundHalfEven(double v);

// Value a one-value box shows for a block entry, and the entry a box value
// stores, by kind (Tenths, Sensor, Number, Whole, Switch, Choice).
double fieldShown(tFieldKind kind, int32_t entry);
int32_t fieldStored(tFieldKind kind, double shown);

// Minutes as hours and minutes, and back: round(hours) x 60 + round(minutes).
struct tHoursMinutes {
    double hours = 0;
    double minutes = 0;
};
tHoursMinutes splitMinutes(int32_t minutes);
int32_t joinMinutes(double hours, double minutes);

// A timer set-point word: bit 0..6 Sunday..Saturday, bit 7 enabled, bits
// 8..19 the switch-on time and bits 20..31 the second time, in minutes.
struct tSetPoint {
    bool enabled = false;
    std::array<bool, 7> days{};
    tHoursMinutes start = {}, end = {};
};
tSetPoint unpackSetPoint(int32_t word);
// Each time is rounded once over hours x 60 + minutes; shifts are unsigned.
int32_t packSetPoint(const tSetPoint &sp);

// The value of a bound for a block being shown on a device.
double boundValue(const tBound &bound, const int32_t *block, const tOndrel &dev);

// The row of `table` for block entry `index`; nullptr when none edits it.
const tParamField *fieldOf(tFieldTable table, int index);
// A block entry as the page shows it, for messages: "5,5", "1:30", "Sim".
QString fieldText(const tParamField &field, int32_t entry);
