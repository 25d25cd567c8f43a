#pragma once

#include "link_settings.h"

#include <QString>

#include <cstdint>

// The settings kept between runs, as typed values with their defaults. The
// settings file is read into one of these (every value checked), pages take
// theirs from it, and it is written back at exit.
struct tSettings {
    bool SaveLog = false;            // SYSTEM/SAVE_LOG: the application event log
    bool ModbusSaveLog = false;      // MODBUS/SAVE_LOG: command and Modbus traces
    int32_t Style = 1;               // SYSTEM/STYLE: 0..2
    int32_t LogMaxRead = 20;         // SYSTEM/LOG_MAX_READ: 0..1000
    int32_t Port = 0;                // MODBUS/PORT: position in the port list, -1 none
    int32_t BaudRate = defBAUD_CODE; // MODBUS/BAUDRATE: speed code
    int32_t Address = defADDRESS;    // MODBUS/ADDRESS
    int32_t Timeout = defTIMEOUT;    // MODBUS/TIMEOUT: units of 864 ms
    bool FastRead = false;           // MODBUS/FAST_READ: answers end by their expected length
    int32_t RecordInterval = 60;     // HISTORY/RECORD_INTERVAL: seconds between readings recorded
    int32_t HistoryKeepDays = 0;     // HISTORY/KEEP_DAYS: readings kept so long; 0 for ever
    // MODBUS/RECENT: the network addresses last connected to, newest first,
    // separated by blanks; offered in the port list after the system's ports.
    QString RecentPorts;
    // Not stored: a port to select at start whatever MODBUS/PORT says (the
    // command line's); empty: none.
    QString StartPort;
};
