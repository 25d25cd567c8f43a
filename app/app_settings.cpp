#include "app_settings.h"

#include "ini_file.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace {
const QString SYSTEM = QStringLiteral("SYSTEM");
const QString MODBUS = QStringLiteral("MODBUS");

int32_t Bounded(const tIniFile &ini, const QString &section, const QString &key, int32_t def,
                int32_t lo, int32_t hi) {
    const int32_t v = ini.ReadInteger(section, key, def);
    return v < lo || v > hi ? def : v;
}
} // namespace

tAppSettings tAppSettings::Load(const tIniFile &ini) {
    tAppSettings s;
    s.SaveLog = ini.ReadBool(SYSTEM, QStringLiteral("SAVE_LOG"), s.SaveLog);
    s.ModbusSaveLog = ini.ReadBool(MODBUS, QStringLiteral("SAVE_LOG"), s.ModbusSaveLog);
    s.Style = Bounded(ini, SYSTEM, QStringLiteral("STYLE"), s.Style, 0, 2);
    s.LogMaxRead = Bounded(ini, SYSTEM, QStringLiteral("LOG_MAX_READ"), s.LogMaxRead, 0, 1000);
    s.Port = Bounded(ini, MODBUS, QStringLiteral("PORT"), s.Port, -1, INT32_MAX);
    // Codes outside 1..7 would run at 115200 anyway, but the speed box cannot
    // show them and would push its own bound back into the driver.
    s.BaudRate = Bounded(ini, MODBUS, QStringLiteral("BAUDRATE"), s.BaudRate, 1, 7);
    s.Address = Bounded(ini, MODBUS, QStringLiteral("ADDRESS"), s.Address, 0, 9999);
    s.Timeout = Bounded(ini, MODBUS, QStringLiteral("TIMEOUT"), s.Timeout, 1, 10);
    return s;
}

void tAppSettings::Store(tIniFile &ini) const {
    ini.WriteBool(SYSTEM, QStringLiteral("SAVE_LOG"), SaveLog);
    ini.WriteBool(MODBUS, QStringLiteral("SAVE_LOG"), ModbusSaveLog);
    ini.WriteInteger(SYSTEM, QStringLiteral("STYLE"), Style);
    ini.WriteInteger(SYSTEM, QStringLiteral("LOG_MAX_READ"), LogMaxRead);
    ini.WriteInteger(MODBUS, QStringLiteral("PORT"), Port);
    ini.WriteInteger(MODBUS, QStringLiteral("BAUDRATE"), BaudRate);
    ini.WriteInteger(MODBUS, QStringLiteral("ADDRESS"), Address);
    ini.WriteInteger(MODBUS, QStringLiteral("TIMEOUT"), Timeout);
}

QString AppBaseName() {
    return QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
}
