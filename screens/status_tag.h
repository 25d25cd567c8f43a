#pragma once

#include <QObject>
#include <QVariant>

// A control's small integer flag, kept as the dynamic property "tag" so that
// tests and other pages can read it.
inline int Tag(const QObject *o) {
    return o->property("tag").toInt();
}

inline void SetTag(QObject *o, int value) {
    o->setProperty("tag", value);
}
