#pragma once

#include <QLocale>
#include <QString>

#include <cstdint>

class tOndrel;

// Temperatures travel as signed tenths of a degree in the controller's unit.
double convCelcius2Fahrenheit(double x);
double convFahrenheit2Celcius(double x);

// Converts Relay[relay].par[index] in place; direction 1 is to Fahrenheit,
// anything else to Celsius.
void convParRelay(tOndrel &dev, int relay, int index, int direction);
// Converts par[1..7] of all four relays to the new unit (System[6] value).
void ChangeTypeTemp(tOndrel &dev, int direction);
// A fixed Celsius bound in the controller's current unit.
double convCelcius2Ondrel(const tOndrel &dev, double x);

// Tenths count <-> value of a one-decimal number box.
double tenthsToBox(int32_t t);
int32_t boxToTenths(double v);

// A log temperature word (sign and magnitude, state and unit flags) as text:
// "-12.5 ºF", "Aberto", "Em curto", "Inicializando".
QString logTempText(uint16_t word, const QLocale &locale = QLocale());
