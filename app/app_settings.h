#pragma once

#include <QString>

#include <cstdint>

class tIniFile;

// The eight settings kept between runs. Load gives each key its default when
// it is missing, not a number or out of the range its control accepts, so
// nothing downstream sees a value it cannot show.
struct tAppSettings {
    bool SaveLog = false;       // SYSTEM/SAVE_LOG: the application event log
    bool ModbusSaveLog = false; // MODBUS/SAVE_LOG: command and Modbus traces
    int32_t Style = 1;          // SYSTEM/STYLE: 0..2
    int32_t LogMaxRead = 20;    // SYSTEM/LOG_MAX_READ: 0..1000
    int32_t Port = 0;           // MODBUS/PORT: position in the port list, -1 none
    int32_t BaudRate = 7;       // MODBUS/BAUDRATE: speed code 1..7
    int32_t Address = 201;      // MODBUS/ADDRESS: 0..9999
    int32_t Timeout = 3;        // MODBUS/TIMEOUT: 1..10, units of 864 ms

    static tAppSettings Load(const tIniFile &ini);
    // Writes the eight keys in their fixed order.
    void Store(tIniFile &ini) const;
};

// The executable's file name without folder and extension; names the
// settings file and the application event log.
QString AppBaseName();
