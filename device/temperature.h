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

// A log temperature word taken apart: sign and magnitude, state and unit flags.
struct tLogTemp {
    enum tState : uint8_t { Valid, Open, Short, Starting };
    tState state = Valid;
    int32_t tenths = 0; // signed, in the word's unit
    bool fahrenheit = false;
};
tLogTemp decodeLogTemp(uint16_t word);

// A log temperature word as text: "-12.5 ºF", "Aberto", "Em curto",
// "Inicializando".
QString logTempText(uint16_t word, const QLocale &locale = QLocale());

// A tenths count as the status screen writes it: the shortest decimal form
// in the locale's separator (235 "23,5", 230 "23", -5 "-0,5").
QString tenthsText(int32_t tenths, const QLocale &locale = QLocale());
// "ºC" for a unit flag of 0, "ºF" for any other.
QString unitText(int32_t temperatureType);
