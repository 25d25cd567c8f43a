#include "device_fields.h"

#include <functional>
#include <variant>

namespace fields {
namespace {

using Ref = std::variant<int32_t *, uint32_t *, uint16_t *, uint8_t *, bool *>;

struct Field {
    QString name;
    std::function<Ref(tOndrel &)> at;
};

QList<Field> table() {
    QList<Field> t;
    auto add = [&](const QString &name, std::function<Ref(tOndrel &)> at) {
        t.append({name, std::move(at)});
    };
    add("nRelay", [](tOndrel &d) { return Ref(&d.nRelay); });
    add("HaveRTC", [](tOndrel &d) { return Ref(&d.HaveRTC); });
    add("Busy", [](tOndrel &d) { return Ref(&d.Busy); });
    for (int s = 0; s < 4; ++s) {
        const QString p = QString("Temperature[%1].").arg(s);
        add(p + "sts", [s](tOndrel &d) { return Ref(&d.Temperature[s].sts); });
        add(p + "TemperatureType",
            [s](tOndrel &d) { return Ref(&d.Temperature[s].TemperatureType); });
        add(p + "value", [s](tOndrel &d) { return Ref(&d.Temperature[s].value); });
        add(p + "valueMin", [s](tOndrel &d) { return Ref(&d.Temperature[s].valueMin); });
        add(p + "valueMax", [s](tOndrel &d) { return Ref(&d.Temperature[s].valueMax); });
    }
    for (int i = 0; i < 17; ++i)
        add(QString("System[%1]").arg(i), [i](tOndrel &d) { return Ref(&d.System[i]); });
    for (int r = 0; r < 4; ++r) {
        add(QString("Relay[%1].sts").arg(r), [r](tOndrel &d) { return Ref(&d.Relay[r].sts); });
        for (int k = 0; k < 20; ++k)
            add(QString("Relay[%1].par[%2]").arg(r).arg(k),
                [r, k](tOndrel &d) { return Ref(&d.Relay[r].par[k]); });
    }
    add("CalVal", [](tOndrel &d) { return Ref(&d.CalVal); });
    add("CalDir", [](tOndrel &d) { return Ref(&d.CalDir); });
    const std::pair<const char *, uint16_t tRTC::*> rtc[] = {
        {"Year", &tRTC::Year},       {"Month", &tRTC::Month}, {"Day", &tRTC::Day},
        {"Weekday", &tRTC::Weekday}, {"Hour", &tRTC::Hour},   {"Minute", &tRTC::Minute},
        {"Second", &tRTC::Second}};
    for (const auto &[name, member] : rtc)
        add(QString("RTC.") + name, [m = member](tOndrel &d) { return Ref(&(d.RTC.*m)); });
    add("Log.event", [](tOndrel &d) { return Ref(&d.Log.event); });
    add("Log.sensor1", [](tOndrel &d) { return Ref(&d.Log.sensor1); });
    add("Log.sensor2", [](tOndrel &d) { return Ref(&d.Log.sensor2); });
    add("Log.year", [](tOndrel &d) { return Ref(&d.Log.year); });
    const std::pair<const char *, uint8_t tSlotLog::*> log8[] = {{"month", &tSlotLog::month},
                                                                 {"mday", &tSlotLog::mday},
                                                                 {"hour", &tSlotLog::hour},
                                                                 {"min", &tSlotLog::min},
                                                                 {"sec", &tSlotLog::sec}};
    for (const auto &[name, member] : log8)
        add(QString("Log.") + name, [m = member](tOndrel &d) { return Ref(&(d.Log.*m)); });
    add("LogCountSlots", [](tOndrel &d) { return Ref(&d.LogCountSlots); });
    add("Known", [](tOndrel &d) { return Ref(&d.Known); });
    add("LogLastSlot", [](tOndrel &d) { return Ref(&d.LogLastSlot); });
    add("LogSlotRead", [](tOndrel &d) { return Ref(&d.LogSlotRead); });
    return t;
}

const QList<Field> &all() {
    static const QList<Field> t = table();
    return t;
}

const Field &find(const QString &name) {
    for (const Field &f : all())
        if (f.name == name)
            return f;
    qFatal("unknown field %s", qPrintable(name));
}

std::pair<QString, qint64> parse(const QString &assignment) {
    const QStringList parts = assignment.split('=');
    bool ok = parts.size() == 2;
    const qint64 v = ok ? parts[1].toLongLong(&ok, 0) : 0;
    if (!ok)
        qFatal("bad assignment %s", qPrintable(assignment));
    return {parts[0], v};
}

qint64 valueOf(tOndrel &dev, const Field &f) {
    return std::visit([](auto *p) { return qint64(*p); }, f.at(dev));
}

void assign(tOndrel &dev, const Field &f, qint64 value) {
    std::visit([value](auto *p) { *p = std::remove_reference_t<decltype(*p)>(value); }, f.at(dev));
}

} // namespace

QStringList names() {
    QStringList n;
    for (const Field &f : all())
        n << f.name;
    return n;
}

qint64 get(tOndrel &dev, const QString &name) {
    return valueOf(dev, find(name));
}

void set(tOndrel &dev, const QString &name, qint64 value) {
    assign(dev, find(name), value);
}

void apply(tOndrel &dev, const QString &assignments) {
    for (const QString &a : assignments.split(' ', Qt::SkipEmptyParts)) {
        const auto [name, v] = parse(a);
        set(dev, name, v);
    }
}

QStringList mismatches(tOndrel &dev, const QString &assignments) {
    QStringList bad;
    for (const QString &a : assignments.split(' ', Qt::SkipEmptyParts)) {
        const QString name = a.section('=', 0, 0);
        QString got, want;
        if (name == "Model" || name == "Fimware") {
            got = name == "Model" ? dev.Model : dev.Fimware;
            want = a.section('=', 1);
        } else {
            got = QString::number(get(dev, name));
            want = QString::number(parse(a).second);
        }
        if (got != want)
            bad << QString("%1=%2 (want %3)").arg(name, got, want);
    }
    return bad;
}

void scramble(tOndrel &dev) {
    qint64 v = 30011;
    for (const Field &f : all()) {
        if (f.name != "Busy") // a busy driver refuses every command
            assign(dev, f, v);
        v += 7919;
    }
    dev.Model = "zz9z";
    dev.Fimware = "8.8";
}

QList<qint64> values(tOndrel &dev) {
    QList<qint64> v;
    v.reserve(all().size());
    for (const Field &f : all())
        v << valueOf(dev, f);
    return v;
}

QStringList snapshot(tOndrel &dev) {
    QStringList s{"Model=" + dev.Model, "Fimware=" + dev.Fimware};
    for (const Field &f : all())
        s << QString("%1=%2").arg(f.name).arg(valueOf(dev, f));
    return s;
}

QStringList changed(const QStringList &before, const QStringList &after) {
    QStringList diff;
    for (qsizetype i = 0; i < after.size(); ++i)
        if (i >= before.size() || before[i] != after[i])
            diff << after[i];
    return diff;
}

} // namespace fields
