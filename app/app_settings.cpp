#include "app_settings.h"

#include "ini_file.h"
#include "link_settings.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <variant>

namespace {
struct tKey {
    const char *section;
    const char *name;
    std::variant<bool tSettings::*, int32_t tSettings::*, QString tSettings::*> field;
    int32_t lo = 0, hi = 0; // integers only
};

// In the order the file keeps them: SYSTEM before MODBUS.
const tKey keys[] = {
    {.section = "SYSTEM", .name = "SAVE_LOG", .field = &tSettings::SaveLog},
    {.section = "MODBUS", .name = "SAVE_LOG", .field = &tSettings::ModbusSaveLog},
    {.section = "SYSTEM", .name = "STYLE", .field = &tSettings::Style, .lo = 0, .hi = 2},
    {.section = "SYSTEM",
     .name = "LOG_MAX_READ",
     .field = &tSettings::LogMaxRead,
     .lo = 0,
     .hi = 1000},
    {.section = "MODBUS", .name = "PORT", .field = &tSettings::Port, .lo = -1, .hi = INT32_MAX},
    // Codes outside the table would run at the fastest speed anyway, but the speed box
    // cannot show them and would push its own bound back into the driver.
    {.section = "MODBUS",
     .name = "BAUDRATE",
     .field = &tSettings::BaudRate,
     .lo = minBAUD_CODE,
     .hi = maxBAUD_CODE},
    {.section = "MODBUS",
     .name = "ADDRESS",
     .field = &tSettings::Address,
     .lo = minADDRESS,
     .hi = maxADDRESS},
    {.section = "MODBUS",
     .name = "TIMEOUT",
     .field = &tSettings::Timeout,
     .lo = minTIMEOUT,
     .hi = maxTIMEOUT},
    // Added after the first eight; a file without it reads as off.
    {.section = "MODBUS", .name = "FAST_READ", .field = &tSettings::FastRead},
    // The history's, after those; a file without them reads as the defaults.
    {.section = "HISTORY",
     .name = "RECORD_INTERVAL",
     .field = &tSettings::RecordInterval,
     .lo = 1,
     .hi = 86400},
    {.section = "HISTORY",
     .name = "KEEP_DAYS",
     .field = &tSettings::HistoryKeepDays,
     .lo = 0,
     .hi = 36500},
    // Written once there is something in it.
    {.section = "MODBUS", .name = "RECENT", .field = &tSettings::RecentPorts},
};
} // namespace

tSettings LoadSettings(const tIniFile &ini) {
    tSettings s;
    for (const tKey &k : keys) {
        const QString section = QLatin1String(k.section), name = QLatin1String(k.name);
        if (auto flag = std::get_if<bool tSettings::*>(&k.field)) {
            s.*(*flag) = ini.ReadBool(section, name, s.*(*flag));
        } else if (auto text = std::get_if<QString tSettings::*>(&k.field)) {
            s.*(*text) = ini.ReadString(section, name, s.*(*text));
        } else {
            int32_t &value = s.*std::get<int32_t tSettings::*>(k.field);
            const int32_t read = ini.ReadInteger(section, name, value);
            if (read >= k.lo && read <= k.hi)
                value = read;
        }
    }
    return s;
}

void StoreSettings(const tSettings &s, tIniFile &ini) {
    for (const tKey &k : keys) {
        const QString section = QLatin1String(k.section), name = QLatin1String(k.name);
        if (auto flag = std::get_if<bool tSettings::*>(&k.field)) {
            ini.WriteBool(section, name, s.*(*flag));
        } else if (auto text = std::get_if<QString tSettings::*>(&k.field)) {
            // Left out while empty: a file from before it stays as it was.
            if (!(s.*(*text)).isEmpty())
                ini.WriteString(section, name, s.*(*text));
        } else {
            ini.WriteInteger(section, name, s.*std::get<int32_t tSettings::*>(k.field));
        }
    }
}

QString AppBaseName() {
    return QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
}
