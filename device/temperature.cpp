#include "temperature.h"

#include "u_ondrel.h"

#include <cmath>

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

QString logTempText(uint16_t word, const QLocale &locale) {
    const QString unit = (word & 0x1000) ? QStringLiteral("ºF") : QStringLiteral("ºC");
    const QString sign = (word & 0x8000) ? QStringLiteral("-") : QString();
    const bool open = word & 0x4000;
    const bool shorted = word & 0x2000;
    if (open && shorted)
        return QStringLiteral("Inicializando");
    if (open)
        return QStringLiteral("Aberto");
    if (shorted)
        return QStringLiteral("Em curto");
    QLocale plain = locale;
    plain.setNumberOptions(QLocale::OmitGroupSeparator);
    return sign + plain.toString((word & 0x0FFF) / 10.0, 'f', 1) + u' ' + unit;
}
