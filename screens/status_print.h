#pragma once

#include "u_ondrel.h"

#include <QLocale>
#include <QString>

#include <cstdint>

class QLabel;
class TColorButton;
class ScreenHost;

constexpr uint32_t clRELAY_ON = 0xFF00FF00;
constexpr uint32_t clRELAY_OFF = 0xFF000000;

// Shows sensor `k` of a reading: value (or its state), minimum and maximum.
void PrintTemp(QLabel *value, QLabel *min, QLabel *max, const tStatusReading &r, int k);
// Shows one relay's state (1 on) in words and as colour; the label's tag
// remembers the state shown, and an unchanged state is not drawn again.
void printRelay(QLabel *state, TColorButton *lamp, int32_t on);
// Shows the name of an operation code.
void PrintOpRelay(QLabel *label, int32_t code);
// True in slave mode; otherwise warns and returns false.
bool checkModeSlave(ScreenHost &host);
