#pragma once

// Every field of tOndrel that a command or a configuration file can touch,
// reachable by the name a test writes for it ("Relay[1].par[16]", "RTC.Year").
// Lets tables name fields as text and lets a test compare all fields at once.

#include "u_ondrel.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace fields {

QStringList names();
qint64 get(tOndrel &dev, const QString &name);
void set(tOndrel &dev, const QString &name, qint64 value);

// "name=value" assignments separated by blanks.
void apply(tOndrel &dev, const QString &assignments);
// The assignments that do not hold, each as "name=actual (want expected)".
QStringList mismatches(tOndrel &dev, const QString &assignments);

// Gives every numeric field a distinct value, different from anything a
// test table puts into the controller, and a model and firmware text.
void scramble(tOndrel &dev);

// The values of the fields names() lists, in that order: a snapshot without
// text, for loops that take many (the fuzzer).
QList<qint64> values(tOndrel &dev);

// All fields with their values, Model and Fimware included; ErrorCom left out.
QStringList snapshot(tOndrel &dev);
// The lines of `after` that differ from `before`.
QStringList changed(const QStringList &before, const QStringList &after);

} // namespace fields
