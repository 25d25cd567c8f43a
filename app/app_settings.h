#pragma once

#include "settings.h"

#include <QString>

class tIniFile;

// The settings file as data: each key's section, name, field and the range
// its control accepts. Loading gives a key its default when it is missing,
// not a number or out of range, so nothing downstream sees a value it
// cannot show; storing writes the keys in their fixed order.
tSettings LoadSettings(const tIniFile &ini);
void StoreSettings(const tSettings &s, tIniFile &ini);

// The executable's file name without folder and extension; names the
// settings file and the application event log.
QString AppBaseName();
