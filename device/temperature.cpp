#include "temperature.h"

#include "u_ondrel.h"

#include <cmath>
#include <cstdlib>

// Both conversions run in extended precision so that a count taken to the
// other unit and back lands on the count it started from.
double convCelcius2Fahrenheit(double x) {
    return double((long double)x * 1.8L + 32.0L);
}

double convFahrenheit2Celcius(double x) {
    return double(((long double)x - 32.0L) / 1.8L);
}

void convParRelay(tOndrel &dev, int relay, int index, int direction) {
    int32_t &par = dev.Relay[relay].par[index];
    const double x = double(par) / 10.0;
    const double y = direction == 1 ? convCelcius2Fahrenheit(x) : convFahrenheit2Celcius(x);
    par = int32_t(std::nearbyint(y * 10.0)); // default rounding: halves to even
}

void ChangeTypeTemp(tOndrel &dev, int direction) {
    for (int relay = 0; relay < 4; ++relay)
        for (int index = 1; index <= 7; ++index)
            convParRelay(dev, relay, index, direction);
}

double convCelcius2Ondrel(const tOndrel &dev, double x) {
    return dev.TempUnit() == tempFAHRENHEIT ? convCelcius2Fahrenheit(x) : x;
}

double tenthsToBox(int32_t t) {
    return double(t) / 10.0;
}

int32_t boxToTenths(double v) {
    return int32_t(std::nearbyint(v * 10.0));
}

tLogTemp decodeLogTemp(uint16_t word) {
    tLogTemp t;
    t.fahrenheit = word & 0x1000;
    const bool open = word & 0x4000;
    const bool shorted = word & 0x2000;
    t.state = open && shorted ? tLogTemp::Starting
              : open          ? tLogTemp::Open
              : shorted       ? tLogTemp::Short
                              : tLogTemp::Valid;
    const int32_t magnitude = word & 0x0FFF;
    t.tenths = (word & 0x8000) ? -magnitude : magnitude;
    return t;
}

QString logTempText(uint16_t word, const QLocale &locale) {
    const tLogTemp t = decodeLogTemp(word);
    switch (t.state) {
    case tLogTemp::Starting:
        return QStringLiteral("Inicializando");
    case tLogTemp::Open:
        return QStringLiteral("Aberto");
    case tLogTemp::Short:
        return QStringLiteral("Em curto");
    case tLogTemp::Valid:
        break;
    }
    // The sign stays on a zero magnitude: the word says it.
    const QString sign = (word & 0x8000) ? QStringLiteral("-") : QString();
    QLocale plain = locale;
    plain.setNumberOptions(QLocale::OmitGroupSeparator);
    return sign + plain.toString(std::abs(t.tenths) / 10.0, 'f', 1) + u' ' +
           (t.fahrenheit ? QStringLiteral("ºF") : QStringLiteral("ºC"));
}

QString tenthsText(int32_t tenths, const QLocale &locale) {
    QLocale l = locale;
    l.setNumberOptions(l.numberOptions() | QLocale::OmitGroupSeparator);
    return l.toString(tenths / 10.0, 'g', 15);
}

QString unitText(int32_t temperatureType) {
    return temperatureType == tempCELSIUS ? QStringLiteral("ºC") : QStringLiteral("ºF");
}
