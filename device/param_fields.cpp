#include "param_fields.h"

#include "temperature.h"
#include "u_ondrel.h"

#include <QLocale>
#include <QStringList>

#include <cmath>

int32_t roundHalfEven(double v) {
    // The default floating-point rounding mode rounds halves to even.
    return int32_t(std::nearbyint(v));
}

double fieldShown(tFieldKind kind, int32_t entry) {
    switch (kind) {
    case tFieldKind::Tenths:
        return tenthsToBox(entry);
    case tFieldKind::Sensor:
        return double(entry) + 1;
    case tFieldKind::TwoWay:
        return entry > 0 ? 1 : 0;
    default:
        return double(entry);
    }
}

int32_t fieldStored(tFieldKind kind, double shown) {
    switch (kind) {
    case tFieldKind::Tenths:
        return boxToTenths(shown);
    case tFieldKind::Sensor:
        return roundHalfEven(shown) - 1;
    case tFieldKind::Switch:
        return shown > 0 ? 1 : 0;
    case tFieldKind::TwoWay:
        return roundHalfEven(shown) & 1;
    default:
        return roundHalfEven(shown);
    }
}

tHoursMinutes splitMinutes(int32_t minutes) {
    return {.hours = double(minutes / 60), .minutes = double(minutes % 60)};
}

int32_t joinMinutes(double hours, double minutes) {
    return roundHalfEven(hours) * 60 + roundHalfEven(minutes);
}

namespace {
constexpr uint32_t timeMask = 0xFFF;

tHoursMinutes timeOf(uint32_t minutes) {
    return {.hours = double(minutes / 60), .minutes = double(minutes % 60)};
}

uint32_t minutesOf(const tHoursMinutes &t) {
    return uint32_t(roundHalfEven(t.hours * 60 + t.minutes)) & timeMask;
}
} // namespace

tSetPoint unpackSetPoint(int32_t word) {
    const uint32_t w = uint32_t(word);
    tSetPoint sp;
    for (int d = 0; d < 7; ++d)
        sp.days[size_t(d)] = (w >> d) & 1;
    sp.enabled = (w >> 7) & 1;
    sp.start = timeOf((w >> 8) & timeMask);
    sp.end = timeOf((w >> 20) & timeMask);
    return sp;
}

int32_t packSetPoint(const tSetPoint &sp) {
    uint32_t w = minutesOf(sp.end) << 20 | minutesOf(sp.start) << 8;
    for (int d = 0; d < 7; ++d)
        if (sp.days[size_t(d)])
            w |= 1u << d;
    if (sp.enabled)
        w |= 0x80;
    return int32_t(w);
}

double boundValue(const tBound &bound, const int32_t *block, const tOndrel &dev) {
    switch (bound.from) {
    case tBound::Fixed:
        return bound.value;
    case tBound::Celsius:
        return convCelcius2Ondrel(dev, bound.value);
    case tBound::Par:
        return tenthsToBox(block[bound.par]);
    case tBound::Relays:
        return dev.nRelay;
    case tBound::None:
        break;
    }
    return 0;
}

const tParamField *fieldOf(tFieldTable table, int index) {
    for (const tParamField &f : table)
        if (f.index == index && f.kind != tFieldKind::SetPoint)
            return &f;
    for (const tParamField &f : table)
        if (f.index == index)
            return &f;
    return nullptr;
}

QString fieldText(const tParamField &field, int32_t entry) {
    const QLocale locale;
    auto clock = [](const tHoursMinutes &t) {
        return QStringLiteral("%1:%2").arg(t.hours).arg(int(t.minutes), 2, 10, QLatin1Char('0'));
    };
    switch (field.kind) {
    case tFieldKind::Tenths:
        return locale.toString(tenthsToBox(entry), 'f', 1);
    case tFieldKind::Switch:
        return entry > 0 ? QStringLiteral("ligado") : QStringLiteral("desligado");
    case tFieldKind::Choice:
    case tFieldKind::TwoWay: {
        const QStringList items = QString::fromUtf8(field.choices).split(u'|');
        const int32_t item = int32_t(fieldShown(field.kind, entry));
        return entry >= 0 && item < items.size() ? items[item] : QString::number(entry);
    }
    case tFieldKind::HoursMinutes:
        return clock(splitMinutes(entry));
    case tFieldKind::SetPoint: {
        const tSetPoint sp = unpackSetPoint(entry);
        static const char *const days[] = {"D", "S", "T", "Q", "Q", "S", "S"};
        QString week;
        for (int d = 0; d < 7; ++d)
            week += sp.days[size_t(d)] ? QLatin1String(days[d]) : QLatin1String("-");
        return QStringLiteral("%1 %2 %3 %4")
            .arg(sp.enabled ? QStringLiteral("ativo") : QStringLiteral("inativo"), clock(sp.start),
                 clock(sp.end), week);
    }
    default:
        return locale.toString(fieldShown(field.kind, entry), 'f', 0);
    }
}
